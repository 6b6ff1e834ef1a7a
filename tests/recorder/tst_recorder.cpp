// tactilon-record, the real program, against the simulated card on a pseudo-terminal.
#include "ptycardserver.h"
#include "recordformat.h"
#include "scriptedcard.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint timeOfDayNow()
{
    return uint(QTime::currentTime().msecsSinceStartOfDay());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Field 1 of the file's last complete row; -1 without one.
qint64 lastRowMs(const QString &path)
{
    const QByteArray all = readFile(path);
    const qsizetype end = all.lastIndexOf('\n');
    const qsizetype begin = all.lastIndexOf('\n', end - 1) + 1;
    if (end < 0 || begin == 0)
        return -1;
    return all.mid(begin, end - begin).split(',').value(0).toLongLong();
}

// One run of the recorder on the card; the card serves on this thread while the test waits.
struct RecorderRun
{
    explicit RecorderRun(int sensors = 16)
    {
        server.card().setSensorCount(sensors);
        if (!server.start())
            qFatal("no pseudo-terminal");
        output = dir.filePath("out.csv");
    }
    void start(const QStringList &args)
    {
        startedAt = timeOfDayNow();
        // The card's answer to a stop after Ctrl-C is not raced against a busy machine here.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TACTILON_RECORD_STOP_WAIT_MS", QString::number(stopWaitMs));
        process.setProcessEnvironment(env);
        process.start(TACTILON_RECORD, args);
        process.waitForStarted();
    }
    QStringList standard(const QStringList &more = {}) const
    {
        return QStringList{"--port", server.slavePath(), "--output", output} + more;
    }
    bool finish(int timeoutMs = 30000)
    {
        const bool done = QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; }, timeoutMs);
        finishedAt = timeOfDayNow();
        err = process.readAllStandardError();
        return done;
    }
    // The time-stamped frames the card sent, and the clock value it was synchronised to.
    QList<SimStreamRecord> stamped()
    {
        QList<SimStreamRecord> out;
        for (const SimStreamRecord &r : server.card().streamLog())
            if (r.type == 2)
                out.append(r);
        return out;
    }
    QList<SimCommand> commands(quint8 cmd)
    {
        QList<SimCommand> out;
        for (const SimCommand &c : server.card().commandLog())
            if (c.cmd == cmd)
                out.append(c);
        return out;
    }
    // The first count rows the card's frames make, written independently of the recorder's
    // formatter. A repeated sync may reach the card a few ms later than the time it carries and
    // set its clock back a little: a frame stamped below the last row would make time go back, so
    // it is no row.
    QByteArray expectedRows(uint startTime, qsizetype count)
    {
        QByteArray rows;
        qsizetype made = 0;
        uint last = 0;
        for (const SimStreamRecord &r : stamped()) {
            if (made == count)
                break;
            const uint field1 = (r.timeStamp % 86400000u + 86400000u - startTime) % 86400000u;
            if (field1 < last)
                continue;
            QList<Sample> samples;
            for (const SimSample &s : r.samples)
                samples.append({s.x, s.y, s.z});
            rows += expectedRow(field1, r.timeStamp, samples);
            last = field1;
            ++made;
        }
        return rows;
    }

    PtyCardServer server{5};
    int stopWaitMs = 10000;
    QTemporaryDir dir;
    QString output;
    QProcess process;
    QByteArray err;
    uint startedAt = 0;
    uint finishedAt = 0;
};

uint payloadTime(const QByteArray &p)
{
    return p.size() == 4 ? uint(quint8(p[0])) << 24 | uint(quint8(p[1])) << 16 | uint(quint8(p[2])) << 8 | uint(quint8(p[3]))
                         : 0;
}

} // namespace

class TestRecorder : public QObject
{
    Q_OBJECT

private slots:
    void recordsEveryFrameAndStopsTheCard_data();
    void recordsEveryFrameAndStopsTheCard();
    void cardThatDoesNotCooperateGivesExit1_data();
    void cardThatDoesNotCooperateGivesExit1();
    void signalsEndItAtAnyPoint_data();
    void signalsEndItAtAnyPoint();
    void lostCardIsAwaitedWithReconnect_data();
    void lostCardIsAwaitedWithReconnect();
    void lostPortOrFullDiskGivesExit3_data();
    void lostPortOrFullDiskGivesExit3();
    void commandLineIsChecked_data();
    void commandLineIsChecked();
};

void TestRecorder::recordsEveryFrameAndStopsTheCard_data()
{
    QTest::addColumn<int>("signal"); // 0: --seconds 3
    QTest::addColumn<int>("replyDelayMs");
    QTest::newRow("three seconds at 200 Hz") << 0 << 0;
    QTest::newRow("SIGINT after one second") << int(SIGINT) << 0;
    QTest::newRow("SIGTERM after one second") << int(SIGTERM) << 0;
    // The sync is sent again after a second; the card has set its clock by the first meanwhile,
    // and the repeat must not set it back: field 1 never goes back.
    QTest::newRow("card answering 1.5 s late") << 0 << 1500;
}

void TestRecorder::recordsEveryFrameAndStopsTheCard()
{
    QFETCH(int, signal);
    QFETCH(int, replyDelayMs);
    RecorderRun run;
    run.server.card().setReplyDelayMs(replyDelayMs);
    run.start(run.standard(signal == 0 ? QStringList{"--frequency", "200", "--seconds", "3"}
                                       : QStringList{"--baud", "921600"}));
    if (signal != 0) {
        QVERIFY(QTest::qWaitFor([&run] { return lastRowMs(run.output) >= 1000; }, 30000));
        ::kill(pid_t(run.process.processId()), signal);
    }
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.process.exitCode() == 0, run.err.constData());
    QVERIFY2(run.err.contains("rows in"), run.err.constData()); // the summary line

    // The card was synchronised to the PC's time of day, once unless it answered late, and told
    // to stop at the end. A repeat carries the time it was sent at.
    const QList<SimCommand> syncs = run.commands(0x8D);
    QCOMPARE(syncs.size() > 1, replyDelayMs > 1000);
    const uint startTime = payloadTime(syncs.first().payload);
    for (int i = 1; i < syncs.size(); ++i)
        QVERIFY(msSinceStart(payloadTime(syncs[i].payload), startTime) >= uint(1000 * i));
    if (run.finishedAt >= run.startedAt) // not across midnight
        QVERIFY(startTime >= run.startedAt && startTime <= run.finishedAt);
    QCOMPARE(run.server.card().commandLog().last().cmd, quint8(0x82));
    QCOMPARE(run.server.card().commandLog().last().payload, QByteArray(1, '\0'));
    if (signal == 0)
        QCOMPARE(run.server.card().freIndex(), 4);

    // Every time-stamped frame the card sent is one row, in order, time stamps and values as sent.
    const QList<SimStreamRecord> frames = run.stamped();
    QVERIFY(frames.size() >= 40); // a second at the card's 50 Hz, or three at 200 Hz
    const QByteArray file = readFile(run.output);
    QCOMPARE(file, recordHeader(16) + run.expectedRows(startTime, frames.size()));
    if (signal == 0)
        QVERIFY(frames.last().timeStamp - frames.first().timeStamp >= 2900);
}

void TestRecorder::cardThatDoesNotCooperateGivesExit1_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("refused");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("reason");
    QTest::newRow("silent card") << true << 0 << QStringList{} << "the card did not answer the clock synchronisation (0x8D)";
    QTest::newRow("silent card, frequency") << true << 0 << QStringList{"--frequency", "100"}
                                            << "the card did not answer the sample frequency request (0x83, 100 Hz)";
    QTest::newRow("clock sync refused") << false << 0x8D << QStringList{"--frequency", "100"}
                                        << "the card refused the clock synchronisation (0x8D, status 1)";
    QTest::newRow("frequency refused") << false << 0x83 << QStringList{"--frequency", "100"}
                                       << "the card refused the sample frequency 100 Hz (0x83, status 1)";
}

void TestRecorder::cardThatDoesNotCooperateGivesExit1()
{
    QFETCH(bool, silent);
    QFETCH(int, refused);
    QFETCH(QStringList, args);
    QFETCH(QString, reason);
    RecorderRun run(4);
    run.server.card().setSilent(silent);
    if (refused)
        run.server.card().setRefusedCodes({quint8(refused)});
    run.start(run.standard(args + QStringList{"--seconds", "2"}));
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), 1);
    QVERIFY2(run.err.contains(reason.toUtf8()), run.err.constData());
    QVERIFY(!QFile::exists(run.output)); // nothing recorded, nothing left behind
}

void TestRecorder::signalsEndItAtAnyPoint_data()
{
    QTest::addColumn<QString>("when");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");
    QTest::newRow("waiting for the sync answer") << "sync" << 0 << "interrupted before the recording started";
    QTest::newRow("recording, the stop answered late") << "late stop" << 1 << "the card did not answer the stop";
    QTest::newRow("a second signal while waiting for the stop") << "second" << 1 << "the card did not answer the stop";
    QTest::newRow("FIFO without a reader") << "fifo" << 3 << "took only 0 of";
    QTest::newRow("pipe reader goes away") << "broken pipe" << 3 << "failed: Broken pipe";
}

void TestRecorder::signalsEndItAtAnyPoint()
{
    QFETCH(QString, when);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    RecorderRun run;
    SimCard &card = run.server.card();
    auto received = [&card](quint8 cmd) {
        return std::count_if(card.commandLog().begin(), card.commandLog().end(),
                             [cmd](const SimCommand &c) { return c.cmd == cmd; });
    };
    if (when == "sync")
        card.setReplyDelayMs(5000);
    if (when == "late stop")
        run.stopWaitMs = 150; // as a user has it
    const bool pipe = when == "fifo" || when == "broken pipe";
    if (pipe) {
        run.output = run.dir.filePath("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(run.output).constData(), 0600), 0);
    }
    int reader = -1;
    run.start(run.standard());
    if (when == "sync") {
        QVERIFY(QTest::qWaitFor([&] { return received(0x8D) > 0; }, 30000));
    } else {
        QVERIFY(QTest::qWaitFor([&run] { return run.stamped().size() >= 30; }, 30000));
        if (when == "broken pipe") {
            reader = ::open(QFile::encodeName(run.output).constData(), O_RDONLY | O_NONBLOCK);
            QVERIFY(reader >= 0);
            QByteArray got;
            QVERIFY(QTest::qWaitFor([&] {
                char buf[4096];
                const ssize_t n = ::read(reader, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, n);
                return got.count('\n') >= 3;
            }, 30000));
            ::close(reader); // the next rows find nobody to read them
        }
        // The card now takes its time over every answer.
        if (when == "late stop" || when == "second")
            card.setReplyDelayMs(1500);
    }
    if (when != "broken pipe")
        ::kill(pid_t(run.process.processId()), SIGINT);
    if (when == "second") {
        QVERIFY(QTest::qWaitFor([&] { return received(0x82) > 0; }, 30000));
        ::kill(pid_t(run.process.processId()), SIGINT);
    }
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.process.exitCode() == exitCode, run.err.constData());
    QVERIFY2(run.err.contains(reason.toUtf8()), run.err.constData());
    QVERIFY2(run.err.contains("rows in") || run.err.contains("no rows recorded"), run.err.constData());
    if (when == "sync") // the wait was cut short, not sat out with the request sent again
        QCOMPARE(received(0x8D), 1);
    // The card is always told to stop, whether or not its answer is awaited.
    QTRY_VERIFY(!card.commandLog().isEmpty() && card.commandLog().last().cmd == 0x82);
    QCOMPARE(card.commandLog().last().payload, QByteArray(1, '\0'));
}

void TestRecorder::lostCardIsAwaitedWithReconnect_data()
{
    QTest::addColumn<bool>("comesBack");
    QTest::newRow("another card on the path 2 s later") << true;
    QTest::newRow("nothing comes back in time") << false;
}

void TestRecorder::lostCardIsAwaitedWithReconnect()
{
    QFETCH(bool, comesBack);
    RecorderRun run;
    const QString path = run.dir.filePath("card");
    QVERIFY(run.server.setLinkPath(path));
    run.start({"--port", path, "--output", run.output, "--frequency", "200", "--reconnect", comesBack ? "10" : "1"});
    QVERIFY(QTest::qWaitFor([&run] { return run.stamped().size() >= 200; }, 30000));
    const qint64 lostAt = run.server.nowMs();
    run.server.vanish();
    QList<SimStreamRecord> before;
    for (const SimStreamRecord &r : run.stamped())
        if (r.atMs <= lostAt)
            before.append(r);
    if (!comesBack) {
        QVERIFY(run.finish());
        QCOMPARE(run.process.exitCode(), 3);
        QVERIFY2(run.err.contains("waiting for " + path.toUtf8()), run.err.constData());
        QVERIFY2(run.err.contains("did not come back within 1 s"), run.err.constData());
        return;
    }
    QTest::qWait(2000);
    // A card with its defaults: 50 Hz, and no clock set.
    PtyCardServer second(8);
    second.card().setSensorCount(16);
    QVERIFY(second.setLinkPath(path));
    QVERIFY(second.start());
    auto stamped = [&second] {
        QList<SimStreamRecord> out;
        for (const SimStreamRecord &r : second.card().streamLog())
            if (r.type == 2)
                out.append(r);
        return out;
    };
    QVERIFY(QTest::qWaitFor([&] { return stamped().size() >= 200; }, 30000));
    QCOMPARE(second.card().freIndex(), 4);
    ::kill(pid_t(run.process.processId()), SIGINT);
    QVERIFY(run.finish());
    QVERIFY2(run.process.exitCode() == 0, run.err.constData());
    QVERIFY2(run.err.contains("waiting for " + path.toUtf8()), run.err.constData());
    QVERIFY2(run.err.contains("1 outages"), run.err.constData());

    // The same file: the first card's rows, then every stamped frame of the second, as sent.
    const uint startTime = payloadTime(run.commands(0x8D).first().payload);
    QList<QByteArray> lines = readFile(run.output).split('\n');
    QCOMPARE(lines.takeFirst(), recordHeader(16).chopped(1));
    lines.removeLast();
    const QList<SimStreamRecord> after = stamped();
    const qsizetype firstPart = lines.size() - after.size();
    QVERIFY(firstPart >= before.size() - 20 && firstPart <= before.size());
    QByteArray expected = run.expectedRows(startTime, firstPart);
    for (const SimStreamRecord &r : after) {
        QList<Sample> samples;
        for (const SimSample &s : r.samples)
            samples.append({s.x, s.y, s.z});
        expected += expectedRow(msSinceStart(r.timeStamp, startTime), r.timeStamp, samples);
    }
    QCOMPARE(lines.join('\n') + '\n', expected);
    QVERIFY(msSinceStart(after.first().timeStamp, startTime) - msSinceStart(before[firstPart - 1].timeStamp, startTime) >= 2000);
}

void TestRecorder::lostPortOrFullDiskGivesExit3_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("card vanishes") << "vanish" << "lost the port";
    QTest::newRow("no such port") << "no port" << "cannot open the port /nonexistent/tty";
    QTest::newRow("full disk") << "full" << "writing /dev/full failed";
}

void TestRecorder::lostPortOrFullDiskGivesExit3()
{
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    RecorderRun run;
    // Nothing that fails before the first row may touch a file the user already had.
    const QByteArray precious("precious\n");
    if (fault == "no port") {
        QFile f(run.output);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(precious) == precious.size());
    }
    if (fault == "no port")
        run.start({"--port", "/nonexistent/tty", "--output", run.output});
    else if (fault == "full")
        run.start({"--port", run.server.slavePath(), "--output", "/dev/full"});
    else
        run.start(run.standard({"--frequency", "200"}));
    if (fault == "vanish") {
        QVERIFY(QTest::qWaitFor([&run] { return lastRowMs(run.output) >= 500; }, 30000));
        run.server.vanish();
    }
    QVERIFY(run.finish());
    QCOMPARE(run.process.exitCode(), 3);
    QVERIFY2(run.err.contains(reason.toUtf8()), run.err.constData());
    if (fault == "no port") {
        QCOMPARE(readFile(run.output), precious);
        QVERIFY2(!run.err.contains("device not open"), run.err.constData()); // no request to a port that is not there
    }
    if (fault == "full") // only rows that reached the file count
        QVERIFY2(run.err.contains("0 rows in"), run.err.constData());
    if (fault != "vanish")
        return;
    // The rows so far stay, whole: exactly the card's first frames.
    const QByteArray file = readFile(run.output);
    const QByteArray header = recordHeader(16);
    QVERIFY(file.startsWith(header));
    const qsizetype rows = file.count('\n') - 1;
    QVERIFY(rows >= 100);
    QCOMPARE(file, header + run.expectedRows(payloadTime(run.commands(0x8D).first().payload), rows));
}

void TestRecorder::commandLineIsChecked_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("text"); // on standard error, or for --help on standard output
    const QString usage = "usage: tactilon-record --port PATH";
    QTest::newRow("nothing") << QStringList{} << 2 << usage;
    QTest::newRow("no output") << QStringList{"--port", "/dev/null"} << 2 << "--output is required";
    QTest::newRow("no port") << QStringList{"--output", "x.csv"} << 2 << "--port is required";
    QTest::newRow("baud") << QStringList{"--port", "p", "--output", "x.csv", "--baud", "9600"} << 2 << "invalid --baud \"9600\"";
    QTest::newRow("frequency") << QStringList{"--port", "p", "--output", "x.csv", "--frequency", "30"} << 2
                               << "invalid --frequency \"30\"";
    QTest::newRow("seconds zero") << QStringList{"--port", "p", "--output", "x.csv", "--seconds", "0"} << 2
                                  << "invalid --seconds \"0\"";
    QTest::newRow("seconds text") << QStringList{"--port", "p", "--output", "x.csv", "--seconds", "3s"} << 2
                                  << "invalid --seconds \"3s\"";
    QTest::newRow("unknown option") << QStringList{"--port", "p", "--output", "x.csv", "--fast"} << 2 << "Unknown option 'fast'";
    QTest::newRow("stray argument") << QStringList{"--port", "p", "--output", "x.csv", "more"} << 2
                                    << "unexpected argument \"more\"";
    QTest::newRow("output not creatable") << QStringList{"--port", "p", "--output", "/nonexistent/x.csv"} << 2
                                          << "cannot create the output file /nonexistent/x.csv";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--frequency <HZ>";
}

void TestRecorder::commandLineIsChecked()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, text);
    QTemporaryDir dir;
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(TACTILON_RECORD, args);
    QVERIFY(p.waitForFinished(30000)); // nothing here reaches a card
    QCOMPARE(p.exitCode(), exitCode);
    const QByteArray shown = exitCode == 0 ? p.readAllStandardOutput() : p.readAllStandardError();
    QVERIFY2(shown.contains(text.toUtf8()), shown.constData());
    if (exitCode == 2 && !text.startsWith("cannot"))
        QVERIFY2(shown.contains("usage: tactilon-record"), shown.constData());
    if (exitCode == 0)
        for (const char *option : {"--port", "--baud", "--seconds", "--output", "--progress", "--help"})
            QVERIFY2(shown.contains(option), option);
    QVERIFY(QDir(dir.path()).isEmpty());
}

QTEST_MAIN(TestRecorder)
#include "tst_recorder.moc"
