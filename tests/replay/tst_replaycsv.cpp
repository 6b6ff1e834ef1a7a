#include "recordformat.h"
#include "replaycsv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// One recorded frame: milliseconds after the start and the samples delivered.
struct Frame
{
    uint after;
    QList<Axit_t> samples;
};
struct Recording
{
    uint start = 0;
    QList<Frame> frames;
};

// The rows as the record window writes them, with the line end wanted.
QByteArray rows(const Recording &r, const QByteArray &eol = "\n")
{
    QByteArray out;
    for (const Frame &f : r.frames) {
        QByteArray row = recordRow((r.start + f.after) % MsPerDay, r.start, f.samples);
        row.chop(1);
        out += row + eol;
    }
    return out;
}

QList<Axit_t> triples(int count, int base)
{
    QList<Axit_t> list;
    for (int i = 0; i < count; ++i)
        list.append(Axit_t{int16_t(base + i), int16_t(-3 * (base + i)), int16_t(base * i)});
    return list;
}

const uint NineOhFive = timeOfDayMs(9, 5, 7, 42);

// The same file as a spreadsheet's "save as CSV" may leave it, without changing a value.
QByteArray saved(const QByteArray &file, const QString &how)
{
    QList<QByteArray> lines = file.split('\n');
    const bool endsWithLineFeed = lines.last().isEmpty();
    if (endsWithLineFeed)
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (how.contains("no last comma"))
            while (line.endsWith(','))
                line.chop(1);
        if (how.contains("quoted")) {
            QList<QByteArray> fields = line.split(',');
            for (QByteArray &f : fields)
                if (!f.isEmpty())
                    f = '"' + f + '"';
            line = fields.join(',');
        }
        if (how.contains("CR LF"))
            line += '\r';
    }
    QByteArray out = lines.join('\n') + (endsWithLineFeed ? "\n" : "");
    if (how.contains("BOM"))
        out.prepend("\xEF\xBB\xBF");
    if (how.contains("empty lines"))
        out += how.contains("CR LF") ? "\r\n\r\n" : "\n\n,,,\n";
    if (how.contains("zeros"))
        out += QByteArray(3000, '\0');
    return out;
}

// The same file fed one byte at a time: the result must not depend on how reads split it.
ReplayLoad parseBytewise(const QByteArray &bytes)
{
    ReplayParser parser;
    for (char c : bytes)
        parser.feed(&c, 1);
    return parser.finish();
}

void compareLoads(const ReplayLoad &a, const ReplayLoad &b)
{
    QCOMPARE(a.status, b.status);
    QCOMPARE(a.line, b.line);
    QCOMPARE(a.fault, b.fault);
    QCOMPARE(a.droppedLastLine, b.droppedLastLine);
    QCOMPARE(bool(a.table), bool(b.table));
    if (a.table)
        QCOMPARE(a.table->rowCount(), b.table->rowCount());
}

} // namespace

Q_DECLARE_METATYPE(Recording)

class TestReplayCsv : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatTheRecordWindowWrites_data();
    void readsWhatTheRecordWindowWrites();
    void reportsTheFirstBadLine_data();
    void reportsTheFirstBadLine();
    void reportsFilesWithoutRowsAndUnreadableFiles_data();
    void reportsFilesWithoutRowsAndUnreadableFiles();
};

void TestReplayCsv::readsWhatTheRecordWindowWrites_data()
{
    QTest::addColumn<int>("sensors");
    QTest::addColumn<Recording>("recording");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("keptRows"); // the first rows of the recording that must be read
    QTest::addColumn<bool>("dropped");

    const QList<Axit_t> extremes{{-32768, 32767, 0}, {-1, 1, -32767}};
    Recording full{NineOhFive, {{0, triples(16, 100)}, {5, triples(14, -7) + extremes}, {5, triples(16, 0)},
                                {1234567, triples(16, 32000 - 15)}}};
    const QByteArray header16 = recordHeader(16);
    QTest::newRow("16 sensors, LF") << 16 << full << header16 + rows(full) << 4 << false;
    QTest::newRow("16 sensors, CR LF")
        << 16 << full << header16.chopped(1) + "\r\n" + rows(full, "\r\n") << 4 << false;

    Recording fewer{NineOhFive, {{0, triples(3, 1)}, {10, triples(1, 2)}, {20, {}}, {30, triples(2, 3)}}};
    QTest::newRow("fewer triples than the header") << 3 << fewer << recordHeader(3) + rows(fewer) << 4 << false;
    // Files the tool itself writes: a count that fell before an export named by another card,
    // a journal whose count rose, a recording longer than a day.
    Recording fell{NineOhFive, {{0, triples(3, 1)}, {10, triples(3, 2)}, {20, triples(2, 3)}}};
    QTest::newRow("more triples than the header names") << 3 << fell << recordHeader(2) + rows(fell) << 3 << false;
    Recording rose{NineOhFive, {{0, triples(1, 1)}, {10, triples(4, 2)}, {20, triples(2, 3)}}};
    QTest::newRow("a journal whose count rose") << 4 << rose << recordHeader(1) + rows(rose) << 3 << false;
    Recording days{NineOhFive, {{0, triples(1, 1)}, {43200000, triples(1, 2)}, {86399999, triples(1, 3)},
                                {86400005, triples(1, 4)}, {129600000, triples(1, 5)}, {172799000, triples(1, 6)},
                                {172800001, triples(1, 7)}}};
    QTest::newRow("two days: field 1 wraps and counts on") << 1 << days << recordHeader(1) + rows(days) << 7 << false;

    Recording midnight{timeOfDayMs(23, 59, 59, 900), {{0, triples(1, 5)}, {99, triples(1, 6)}, {200, triples(1, 7)}}};
    QTest::newRow("across midnight") << 1 << midnight << recordHeader(1) + rows(midnight) << 3 << false;

    Recording pair{NineOhFive, {{0, triples(2, 9)}, {5, triples(2, 10)}, {10, triples(2, 11)}}};
    const QByteArray pairFile = recordHeader(2) + rows(pair); // last row 10,9:5:7:52,11,-33,0,12,-36,11,
    const QByteArray firstTwo = recordHeader(2) + rows(Recording{pair.start, pair.frames.mid(0, 2)});
    QTest::newRow("last line cut in field 2") << 2 << pair << firstTwo + "10,9:5" << 2 << true;
    QTest::newRow("last line cut in a value") << 2 << pair << pairFile.chopped(3) << 2 << true;
    QTest::newRow("last line cut after a triple, fewer than the header")
        << 2 << pair << firstTwo + "10,9:5:7:52,11,-33,0," << 2 << true;
    QTest::newRow("last line complete but for its line feed") << 2 << pair << pairFile.chopped(1) << 3 << false;
    QTest::newRow("last line cut between CR and LF")
        << 2 << pair << (recordHeader(2) + rows(pair, "\r\n")).chopped(1) << 3 << false;
    QTest::newRow("last line without its last comma or line feed") << 2 << pair << pairFile.chopped(2) << 2 << true;
    QTest::newRow("a tail of zeros after a cut line") << 2 << pair << pairFile.chopped(5) + QByteArray(1 << 16, '\0') << 2
                                                      << true;
    QTest::newRow("a tail of zeros after a whole line") << 2 << pair << pairFile + QByteArray(5000, '\0') << 3 << false;

    // What a spreadsheet's "save as CSV" does to a file, without changing a value.
    const QByteArray sixteen = header16 + rows(full);
    for (const QString &how : {QString("BOM"), QString("no last comma"), QString("quoted"), QString("empty lines"),
                               QString("BOM, CR LF, no last comma, quoted, empty lines, zeros")})
        QTest::newRow(qPrintable("saved by a spreadsheet: " + how)) << 16 << full << saved(sixteen, how) << 4 << false;
}

void TestReplayCsv::readsWhatTheRecordWindowWrites()
{
    QFETCH(int, sensors);
    QFETCH(Recording, recording);
    QFETCH(QByteArray, file);
    QFETCH(int, keptRows);
    QFETCH(bool, dropped);

    const ReplayLoad load = parseReplayCsv(file);
    QCOMPARE(load.status, ReplayStatus::Ok);
    QCOMPARE(load.droppedLastLine, dropped);
    QVERIFY(replayErrorText(load).isEmpty());
    const ReplayTable &table = *load.table;
    QCOMPARE(table.sensorCount(), sensors);
    QCOMPARE(table.rowCount(), qsizetype(keptRows));
    QList<Axit_t> frame;
    for (int i = 0; i < keptRows; ++i) {
        const Frame &f = recording.frames[i];
        QCOMPARE(table.msAt(i), f.after);
        QCOMPARE(table.timeOfDayAt(i), (recording.start + f.after) % MsPerDay);
        table.frameAt(i, frame);
        QCOMPARE(frame.size(), f.samples.size());
        for (int s = 0; s < frame.size(); ++s)
            QVERIFY(frame[s].x == f.samples[s].x && frame[s].y == f.samples[s].y && frame[s].z == f.samples[s].z);
    }
    compareLoads(parseBytewise(file), load);
}

void TestReplayCsv::reportsTheFirstBadLine_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("line");
    QTest::addColumn<ReplayFault>("fault");
    QTest::addColumn<int>("field"); // of a NotANumber fault

    Recording two{NineOhFive, {{0, triples(2, 1)}, {5, triples(2, 2)}}};
    const QByteArray head = recordHeader(2);
    const QByteArray good = head + rows(two);
    // A third row "10,9:5:7:52," followed by the given triples.
    auto third = [&](const QByteArray &triplesText) { return good + "10,9:5:7:52," + triplesText + "\n"; };

    QTest::newRow("another program's header") << "time,x,y,z\n" + rows(two) << 1 << ReplayFault::Header << 0;
    QTest::newRow("header for 17 sensors") << recordHeader(17) + rows(two) << 1 << ReplayFault::Header << 0;
    QTest::newRow("header with upper-case Y") << QByteArray(head).replace("y1", "Y1") + rows(two) << 1
                                              << ReplayFault::Header << 0;
    QTest::newRow("header naming no sensor") << recordHeader(0) + rows(two) << 1 << ReplayFault::NoSensors << 0;
    QTest::newRow("empty line before the header") << "\n" + good << 1 << ReplayFault::Header << 0;
    QTest::newRow("letter in a value") << third("1,a,3,4,5,6,") << 4 << ReplayFault::NotANumber << 4;
    QTest::newRow("NUL byte with more after it") << third(QByteArray("1,2,3,4,\0,6,", 12)) << 4 << ReplayFault::StrayBytes << 0;
    QTest::newRow("invalid UTF-8") << third("1,2,\xFF\xFE,4,5,6,") << 4 << ReplayFault::NotANumber << 5;
    QTest::newRow("32768") << third("1,2,32768,4,5,6,") << 4 << ReplayFault::OutOfRange << 0;
    QTest::newRow("-32769") << third("-32769,2,3,4,5,6,") << 4 << ReplayFault::OutOfRange << 0;
    QTest::newRow("a huge number") << third("1,2,3,4,5,99999999999999999999999,") << 4 << ReplayFault::OutOfRange << 0;
    QTest::newRow("leading zero") << third("1,2,007,4,5,6,") << 4 << ReplayFault::NotANumber << 5;
    QTest::newRow("minus zero") << third("1,-0,3,4,5,6,") << 4 << ReplayFault::NotANumber << 4;
    QTest::newRow("plus sign") << third("1,+2,3,4,5,6,") << 4 << ReplayFault::NotANumber << 4;
    QTest::newRow("a quote inside a field") << third("1,2,\"3,4,5,6,") << 4 << ReplayFault::NotANumber << 5;
    QTest::newRow("seventeen sensors") << third(QByteArray("1,2,3,").repeated(17)) << 4 << ReplayFault::TooManyTriples << 0;
    QTest::newRow("incomplete triple") << third("1,2,3,4,5,") << 4 << ReplayFault::IncompleteTriple << 0;
    QTest::newRow("stray CR") << third("1,2,3,\r4,5,6,") << 4 << ReplayFault::NotANumber << 6;
    QTest::newRow("empty line between rows") << head + "\n" + rows(two) << 2 << ReplayFault::EmptyLine << 0;
    QTest::newRow("field 1 going backwards") << good + "4,9:5:7:46,1,2,3,\n" << 4 << ReplayFault::Backwards << 0;
    QTest::newRow("field 1 of a day") << good + "86400000,9:5:7:42,\n" << 4 << ReplayFault::FieldOneRange << 0;
    QTest::newRow("hour 24") << good + "10,24:5:7:52,\n" << 4 << ReplayFault::TimeRange << 0;
    QTest::newRow("minute 60") << good + "10,9:60:7:52,\n" << 4 << ReplayFault::TimeRange << 0;
    QTest::newRow("field 2 padded as the clock shows it") << good + "10,09:05:07:052,\n" << 4
                                                          << ReplayFault::NotATime << 0;
    QTest::newRow("field 2 disagreeing with field 1") << good + "10,9:5:7:53,\n" << 4 << ReplayFault::TimeOfDay << 0;
    QTest::newRow("a line longer than any row")
        << good + QByteArray(64 * 1024, '7') + "\n" << 4 << ReplayFault::TooLong << 0;
    QTest::newRow("a long last line without line feed") << good + QByteArray(64 * 1024, '7') << 4
                                                        << ReplayFault::TooLong << 0;
    QTest::newRow("binary last line without line feed") << good + "\x01\x02\x03" << 4 << ReplayFault::NotANumber << 1;
    QTest::newRow("cut-short last line that no row begins with") << good + "10,99" << 4 << ReplayFault::TimeRange << 0;
    QTest::newRow("bad row before a cut-short last line") << third("x") + "15,9:5" << 4 << ReplayFault::NotANumber << 3;
}

void TestReplayCsv::reportsTheFirstBadLine()
{
    QFETCH(QByteArray, file);
    QFETCH(int, line);
    QFETCH(ReplayFault, fault);
    QFETCH(int, field);
    const ReplayLoad load = parseReplayCsv(file);
    QCOMPARE(load.status, ReplayStatus::BadLine);
    QCOMPARE(load.line, qsizetype(line));
    QCOMPARE(load.fault, fault);
    if (fault == ReplayFault::NotANumber)
        QCOMPARE(replayErrorReason(load), QString("第%1个字段不是整数").arg(field));
    QVERIFY(!replayErrorReason(load).isEmpty());
    QVERIFY(!load.table);
    QCOMPARE(replayErrorText(load), QString("文件格式错误：第%1行").arg(line));
    compareLoads(parseBytewise(file), load);
}

void TestReplayCsv::reportsFilesWithoutRowsAndUnreadableFiles_data()
{
    QTest::addColumn<QByteArray>("file"); // written to disk unless "<missing>" or "<folder>"
    QTest::addColumn<ReplayStatus>("status");
    QTest::addColumn<QString>("message");
    const QByteArray head = recordHeader(2);
    QTest::newRow("header only") << head << ReplayStatus::NoRows << "文件中没有记录";
    QTest::newRow("header and a cut-short row") << head + "0,9:5:7:42,1," << ReplayStatus::NoRows << "文件中没有记录";
    QTest::newRow("header and empty lines") << head + "\n\n" << ReplayStatus::NoRows << "文件中没有记录";
    // Not even a whole header: no recording, not an empty one.
    QTest::newRow("header for no sensor only") << recordHeader(0) << ReplayStatus::BadLine << "文件格式错误：第1行";
    QTest::newRow("empty file") << QByteArray() << ReplayStatus::BadLine << "文件格式错误：第1行";
    QTest::newRow("header cut short") << head.left(30) << ReplayStatus::BadLine << "文件格式错误：第1行";
    QTest::newRow("zeros only") << QByteArray(100, '\0') << ReplayStatus::BadLine << "文件格式错误：第1行";
    QTest::newRow("missing file") << QByteArray("<missing>") << ReplayStatus::CannotRead << "文件无法读取";
    QTest::newRow("a folder") << QByteArray("<folder>") << ReplayStatus::CannotRead << "文件无法读取";
}

void TestReplayCsv::reportsFilesWithoutRowsAndUnreadableFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(ReplayStatus, status);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QString path = dir.filePath("rec.csv");
    if (file == "<folder>")
        QVERIFY(QDir(dir.path()).mkdir("rec.csv"));
    else if (file != "<missing>") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
    }
    const ReplayLoad load = readReplayFile(path);
    QCOMPARE(load.status, status);
    QVERIFY(!load.table);
    QCOMPARE(replayErrorText(load), message);
}

QTEST_GUILESS_MAIN(TestReplayCsv)
#include "tst_replaycsv.moc"
