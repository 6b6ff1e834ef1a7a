// A recording that survives the tool: the journal left by a killed tool, and its recovery at the
// next start. The kill hits a real process: this binary run again with --tool, which builds the
// main window and records from the simulated card through the user interface.
#include "fakelink.h"
#include "linkthread.h"
#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "myserialport.h"
#include "ptycardserver.h"
#include "recordingsession.h"
#include "recordjournal.h"
#include "recordwindow.h"
#include "scriptedcard.h"
#include "simloopbacklink.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A number of this process from /proc/self: "io" "rchar:" is the bytes read from files so far,
// "status" "VmRSS:" the resident memory in KiB.
qint64 procFigure(const char *file, const QByteArray &key)
{
    QFile f(QStringLiteral("/proc/self/") + QLatin1String(file));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// The child: the tool on the card's port, recording, until it is killed.
int runTool()
{
    MainWindow w;
    w.show();
    w.findChild<QComboBox *>("SerialPortSelect")->setCurrentIndex(0); // the extra port comes first
    QTest::mouseClick(w.findChild<QPushButton *>("btnSerialOpen"), Qt::LeftButton);
    if (!QTest::qWaitFor([&w] { return w.deviceLink()->isPortOpen(); }, 30000))
        return 10;
    QTest::mouseClick(w.findChild<QPushButton *>("pushRecord"), Qt::LeftButton);
    RecordWindow *record = w.recordingWindow();
    QTest::mouseClick(record->findChild<QPushButton *>("btnRecordStart"), Qt::LeftButton);
    // The journal is made with the first row.
    if (!QTest::qWaitFor([record] { return record->recordingState() == 1 && !record->journalPath().isEmpty(); }, 30000))
        return 11;
    std::printf("recording %lld %s\n", qlonglong(QCoreApplication::applicationPid()), qPrintable(record->journalPath()));
    std::fflush(stdout);
    return QApplication::exec();
}

// The child of the long recording: a million rows from the simulated card, streaming as fast as
// the record window takes its frames, then an export; it waits to be killed.
int runFlood(qint64 rows, const QString &exportPath)
{
    LinkThread<SimLoopbackLink> card(21);
    SimLoopbackLink *link = card.link;
    link->card().setSensorCount(4);
    link->card().setStreamLogEnabled(false); // the card's memory is not the tool's
    link->card().receive(cardFrame(0x83, QByteArray(1, 4)), 0); // 200 Hz
    link->card().takeOutput();
    link->setManualClock(true);
    link->setOpen(true);
    card.start();
    RecordWindow record;
    record.setLink(link);
    record.setJournalFolder(defaultJournalFolder());
    record.findChild<QPushButton *>("btnRecordStart")->click();
    if (!QTest::qWaitFor([&record] { return record.recordingState() == 1; }, 30000))
        return 11;
    RecordingSession *session = record.session();
    auto stream = [&](qint64 target) {
        while (session->rowCount() < target) {
            const qint64 before = session->rowCount();
            link->step(5000); // a thousand frames, taken before the next are sent
            if (!QTest::qWaitFor([&] { return session->rowCount() >= before + 1000; }, 60000))
                return false;
        }
        return true;
    };
    if (!stream(20000))
        return 12;
    const qint64 residentBefore = procFigure("status", "VmRSS:");
    const qint64 rowsBefore = session->rowCount();
    if (!stream(rows))
        return 13;
    const qint64 grown = procFigure("status", "VmRSS:") - residentBefore;
    const qint64 recorded = session->rowCount() - rowsBefore;
    record.findChild<QPushButton *>("btnRecordStop")->click();
    if (!QTest::qWaitFor([&record] { return record.recordingState() == 0; }, 30000))
        return 14;
    const double rowBytes = double(session->exportBytes()) / session->rowCount();
    record.saveFileDialog = [exportPath](QWidget *, const QString &, const QString &, const QString &) { return exportPath; };
    ModalDialogHelper dialogs;
    record.findChild<QPushButton *>("btnRecordExport")->click();
    if (!dialogs.waitForCount(1, 60000) || dialogs.records().first().text != "文件导出成功")
        return 15;
    // The export is the journal's rows under the header, byte for byte.
    QFile journal(record.journalPath()), exported(exportPath);
    if (!journal.open(QIODevice::ReadOnly) || !exported.open(QIODevice::ReadOnly))
        return 16;
    journal.readLine();
    exported.readLine();
    const bool identical = journal.readAll() == exported.readAll();
    std::printf("flooded %lld %s %lld %lld %.1f %d\n", qlonglong(QCoreApplication::applicationPid()),
                qPrintable(record.journalPath()), qlonglong(session->rowCount()), qlonglong(grown * 1024 / std::max<qint64>(1, recorded)),
                rowBytes, identical ? 1 : 0);
    std::fflush(stdout);
    return QApplication::exec();
}

void exportTo(ModalDialogHelper &dialogs, RecordWindow *record, const QString &file)
{
    record->saveFileDialog = [file](QWidget *, const QString &, const QString &, const QString &) { return file; };
    QCOMPARE(dialogs.clickFor(record->findChild<QPushButton *>("btnRecordExport")).text, QString("文件导出成功"));
}

const DialogRecord RecoveryQuestion{"question", "提示", "发现未导出的记录，是否恢复?"};

} // namespace

class TestRecordRecovery : public QObject
{
    Q_OBJECT

private slots:
    void killedToolLeavesAJournalThatRecoveryExports();
    void millionRowsInFlatMemoryAndBackAfterAKill();
    void recoveryTakesTheNewestUpToItsLastRowOrKeepsAll_data();
    void recoveryTakesTheNewestUpToItsLastRowOrKeepsAll();
};

void TestRecordRecovery::killedToolLeavesAJournalThatRecoveryExports()
{
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const QString folder = defaultJournalFolder();
    QVERIFY(folder.startsWith(data.path()));

    PtyCardServer server(3);
    server.card().setSensorCount(16);
    server.card().receive(cardFrame(0x83, QByteArray(1, 4)), 0); // 200 Hz
    server.card().takeOutput();
    QVERIFY(server.start());

    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TACTILON_EXTRA_PORTS", server.slavePath());
    env.insert("XDG_DATA_HOME", data.path());
    env.insert("QT_LOGGING_RULES", "*.debug=false");
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // TACTILON_TOOL_WRAPPER runs the tool under another program for a figure by hand, e.g. strace
    // with a slow fsync: "strace -f -o /dev/null -e inject=fsync:delay_enter=3000000".
    QStringList command = qEnvironmentVariable("TACTILON_TOOL_WRAPPER").split(' ', Qt::SkipEmptyParts);
    command << QCoreApplication::applicationFilePath() << "--tool";
    tool.start(command.takeFirst(), command);
    QVERIFY(QTest::qWaitFor([&tool] { return tool.canReadLine() || tool.state() == QProcess::NotRunning; }, 60000));
    const QByteArray line = tool.readLine().trimmed();
    QVERIFY2(line.startsWith("recording "), line.constData());
    const qint64 pid = line.split(' ').value(1).toLongLong(); // the tool's, under a wrapper too
    const QString journal = QString::fromLocal8Bit(line.mid(line.indexOf(' ', 10) + 1));
    QVERIFY(journal.startsWith(folder));

    // Two seconds of rows on disk, then the hard kill.
    QVERIFY(QTest::qWaitFor([&journal] { return readFile(journal).count('\n') > 400; }, 60000));
    // Anywhere in the writer's cycle, not just after it wrote (the loss printed below is a figure).
    QTest::qWait(int(QRandomGenerator::global()->bounded(250)));
    const qint64 killedAt = server.nowMs();
    ::kill(pid_t(pid), SIGKILL);
    QVERIFY(QTest::qWaitFor([&tool] { return tool.state() == QProcess::NotRunning; }, 30000));
    QCOMPARE(tool.exitStatus(), QProcess::CrashExit);
    QCOMPARE(journalFiles(folder), QStringList{journal}); // a crash leaves it

    QList<SimStreamRecord> frames;
    for (const SimStreamRecord &r : server.card().streamLog())
        if (r.type == 2)
            frames.append(r);
    qsizetype sentSecondBefore = 0, sentAtKill = 0;
    for (const SimStreamRecord &r : frames) {
        sentSecondBefore += r.atMs <= killedAt - 1000;
        sentAtKill += r.atMs <= killedAt;
    }
    uint startTime = 0;
    for (const SimCommand &c : server.card().commandLog())
        if (c.cmd == 0x8D)
            startTime = ScriptedCard::payloadTime(QByteArray(3, 0) + c.payload);

    // The tool starts again: it asks, and Yes brings the recording back into the record window.
    MainWindow w;
    w.show();
    ModalDialogHelper dialogs;
    dialogs.answerNext(QMessageBox::Yes);
    w.offerRecovery();
    QCOMPARE(dialogs.records(), QList<DialogRecord>{RecoveryQuestion});
    RecordWindow *record = w.recordingWindow();
    QVERIFY(record->isVisible());
    QCOMPARE(record->recordingState(), 0);
    QVERIFY(record->findChild<QPushButton *>("btnRecordStart")->isEnabled());
    QVERIFY(record->findChild<QPushButton *>("btnRecordExport")->isEnabled());

    const QByteArray rows = record->session()->rows();
    const qsizetype recovered = rows.count('\n');
    qInfo("frames sent before the kill %lld, recovered %lld, lost %lld",
          qlonglong(sentAtKill), qlonglong(recovered), qlonglong(sentAtKill - recovered));
    QVERIFY2(recovered >= sentSecondBefore, qPrintable(QString("%1 of %2").arg(recovered).arg(sentSecondBefore)));
    // In order, none twice, each as the card sent it.
    QByteArray expected;
    for (qsizetype i = 0; i < recovered && i < frames.size(); ++i) {
        QList<Sample> samples;
        for (const SimSample &s : frames[i].samples)
            samples.append({s.x, s.y, s.z});
        expected += expectedRow(msSinceStart(frames[i].timeStamp, startTime), frames[i].timeStamp, samples);
    }
    QCOMPARE(rows, expected);

    const QString exported = data.filePath("exported.csv");
    exportTo(dialogs, record, exported);
    QCOMPARE(readFile(exported), recordHeader(16) + expected);

    w.offerRecovery(); // once per start
    QCOMPARE(dialogs.count(), 2);
    // A normal close after the export leaves no journal.
    QVERIFY(w.close());
    QCOMPARE(dialogs.count(), 2);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
}

void TestRecordRecovery::millionRowsInFlatMemoryAndBackAfterAKill()
{
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const QString exported = data.filePath("exported.csv");
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", data.path());
    env.insert("QT_LOGGING_RULES", "*.debug=false");
    // In a sanitizer build freed memory waits in a quarantine, which would count as growth.
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":quarantine_size_mb=0");
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QCoreApplication::applicationFilePath(), {"--flood", "1000000", exported});
    QVERIFY(QTest::qWaitFor([&tool] { return tool.canReadLine() || tool.state() == QProcess::NotRunning; }, 400000));
    const QList<QByteArray> report = tool.readLine().trimmed().split(' ');
    QVERIFY2(report.size() == 7 && report[0] == "flooded", qPrintable(QString("child exit %1").arg(tool.exitCode())));
    const QString journal = QString::fromLocal8Bit(report[2]);
    const qint64 rows = report[3].toLongLong(), grownPerRow = report[4].toLongLong();
    const double rowBytes = report[5].toDouble();
    qInfo("%lld rows of %.1f bytes; the tool grew by %lld bytes per row recorded", rows, rowBytes, grownPerRow);
    QCOMPARE(rows, 1000000);
    // Less than a tenth of what the rows would take in memory.
    QVERIFY2(grownPerRow < rowBytes / 10, qPrintable(QString::number(grownPerRow)));
    QCOMPARE(report[6], QByteArray("1")); // the export was the journal's rows, byte for byte

    ::kill(pid_t(report[1].toLongLong()), SIGKILL);
    QVERIFY(QTest::qWaitFor([&tool] { return tool.state() == QProcess::NotRunning; }, 30000));
    MainWindow w;
    w.show();
    ModalDialogHelper dialogs;
    dialogs.answerNext(QMessageBox::Yes);
    w.offerRecovery();
    QCOMPARE(dialogs.records(), QList<DialogRecord>{RecoveryQuestion});
    QCOMPARE(w.recordingWindow()->journalPath(), journal);
    const QString again = data.filePath("again.csv");
    exportTo(dialogs, w.recordingWindow(), again);
    QFile first(exported), second(again);
    QVERIFY(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly));
    QCOMPARE(first.size(), second.size());
    QVERIFY(first.readAll() == second.readAll());
}

void TestRecordRecovery::recoveryTakesTheNewestUpToItsLastRowOrKeepsAll_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void TestRecordRecovery::recoveryTakesTheNewestUpToItsLastRowOrKeepsAll()
{
    QFETCH(bool, yes);
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const QString folder = defaultJournalFolder();

    const uint start = 36000000; // 10:00:00.000
    QByteArray olderRows, newerRows;
    for (int i = 0; i < 3; ++i)
        olderRows += recordRow(start + 10 * uint(i), start, {{1, 1, 1}});
    // Long, and with a third sensor in its last rows: the header names the first row's two.
    for (int i = 0; i < 300000; ++i)
        newerRows += recordRow(start + 10 * uint(i), start, {{short(i), -2, 3}, {4, short(-i), 6}});
    newerRows += recordRow(start + 1000000, start, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    const QString older = folder + "/2026-01-01_10-00-00-000.csv";
    const QString newer = folder + "/2026-01-02_10-00-00-000.csv";
    const QByteArray olderBytes = recordHeader(1) + olderRows;
    // The crash cut the last row short.
    const QByteArray newerBytes = recordHeader(2) + newerRows + "50,10:0:0:50,7,-2";
    writeFile(older, olderBytes);
    writeFile(newer, newerBytes);
    // Killed within its first row: nothing to recover, and nothing to delete either.
    const QString newest = folder + "/2026-01-03_10-00-00-000.csv";
    const QByteArray newestBytes = recordHeader(2) + "0,10:0";
    writeFile(newest, newestBytes);

    MainWindow w;
    w.show();
    ModalDialogHelper dialogs;
    dialogs.answerNext(yes ? QMessageBox::Yes : QMessageBox::No);
    // Recovery looks at the journal's header and last rows only: a day-long journal comes back
    // as fast, and with as little memory, as a short one.
    const qint64 readBefore = procFigure("io", "rchar:");
    w.offerRecovery();
    const qint64 readForRecovery = procFigure("io", "rchar:") - readBefore;
    qInfo("recovery read %lld bytes of a journal of %lld", qlonglong(readForRecovery), qlonglong(newerBytes.size()));
    QVERIFY2(readForRecovery < newerBytes.size() / 10, qPrintable(QString::number(readForRecovery)));
    QCOMPARE(dialogs.records(), QList<DialogRecord>{RecoveryQuestion});
    RecordWindow *record = w.recordingWindow();
    if (yes) {
        QCOMPARE(record->session()->rows(), newerRows);
        QVERIFY(record->hasUnexportedRecording());
        const QString exported = data.filePath("exported.csv");
        exportTo(dialogs, record, exported);
        // The header names the most sensors any row holds, whatever the journal's header said.
        QCOMPARE(readFile(exported), recordHeader(3) + newerRows);
    } else {
        QVERIFY(record->session()->rowCount() == 0);
        QVERIFY(record->isHidden());
    }
    QCOMPARE(readFile(older), olderBytes);
    QCOMPARE(readFile(newer), newerBytes);
    QCOMPARE(readFile(newest), newestBytes);

    QVERIFY(w.close());
    // The recovered and exported one is done with; the rest stay where they are.
    const QStringList left = yes ? QStringList{older} : QStringList{newer, older};
    QCOMPARE(journalFiles(folder), left);
    QVERIFY(QFile::exists(newest));
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("tactilon");
    if (argc > 1 && qstrcmp(argv[1], "--tool") == 0)
        return runTool();
    if (argc > 3 && qstrcmp(argv[1], "--flood") == 0)
        return runFlood(QByteArray(argv[2]).toLongLong(), QString::fromLocal8Bit(argv[3]));
    TestRecordRecovery test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recordrecovery.moc"
