#include "fakelink.h"
#include "linkthread.h"
#include "myserialport.h"
#include "ptycardserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The link on its own thread, as the tool runs it. Its results reach the test thread queued and
// are logged as short lines there, so nothing races with the link thread.
struct LinkOnThread : LinkThread<MySerialport>
{
    LinkOnThread()
    {
        auto on = [this](auto signal, auto f) { QObject::connect(link, signal, &ctx, f); };
        on(&SlaveProtocol::sampleFreResult, [this](int o, int r, int p) { log << QString("fre %1 %2 %3").arg(o).arg(r).arg(p); });
        on(&SlaveProtocol::DataTypeSetResult, [this](int r, int id) { log << QString("type %1 %2").arg(r).arg(id); });
        on(&SlaveProtocol::timeStampSyncResult, [this](int r) { log << QString("sync %1").arg(r); });
        on(&SlaveProtocol::calibrationDataWriteResult, [this](int r) { log << QString("write %1").arg(r); });
        on(&SlaveProtocol::slaveCheckRec, [this](bool ok) { log << QString("check %1").arg(ok); });
        on(&SlaveProtocol::demarcateOperationResult, [this](int o, int r, int) { log << QString("op %1 %2").arg(o, 0, 16).arg(r); });
        on(&SlaveProtocol::demarcateSingleReadInfo, [this](int, int, const QList<singleDemarcateInfoUnit_t> &list) {
            QString line = "single";
            for (const auto &u : list)
                line += QString(" %1").arg(u.pressure);
            log << line;
        });
        on(&SlaveProtocol::demarcateInfo, [this](int t, short p, const QList<short> &v) { log << QString("point %1 %2 %3").arg(t).arg(p).arg(v.size()); });
        on(&MySerialport::portLost, [this] { log << "lost"; });
        on(qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive), [this](const QList<Axit_t> &, uint n) { frames.append(int(n)); });
        on(qOverload<QList<Axit_t> &, uint, uint>(&SlaveProtocol::AxitReceive), [this](const QList<Axit_t> &, uint, uint t) { stamps.append(t); });
        start();
    }
    template <typename F>
    void call(F f)
    {
        QMetaObject::invokeMethod(link, f, Qt::QueuedConnection);
    }
    void open(const QString &port)
    {
        call([l = link, port] { l->openPort(port, 921600); });
    }

    QObject ctx;
    QStringList log;
    QList<int> frames;
    QList<uint> stamps;
};

} // namespace

class TestPtyCardServer : public QObject
{
    Q_OBJECT

private slots:
    void linkReadsFrequencyAndReceivesFrames();
    void linkCommandsRoundTrip();
    void vanishedDeviceIsLostAndReopensThroughTheLink();
    void vanishesAndComesBackOnItsOwn();
    void programServesUntilTerminated();
    void programRejectsBadOptions();
};

void TestPtyCardServer::linkReadsFrequencyAndReceivesFrames()
{
    PtyCardServer server;
    QVERIFY(server.start());
    LinkOnThread l;
    l.open(server.slavePath());
    QTRY_COMPARE(l.log, QStringList{"fre 0 0 2"});
    QTRY_VERIFY(l.frames.size() >= 10);
    QCOMPARE(l.frames.last(), int(SimCard::DefaultSensors));
}

void TestPtyCardServer::linkCommandsRoundTrip()
{
    PtyCardServer server;
    server.card().setSensorCount(4);
    QVERIFY(server.start());
    LinkOnThread l;
    MySerialport *link = l.link;
    l.open(server.slavePath());
    // Commands queued while the link still waits for the frequency answer would run inside
    // that wait and report first; the tool only sends them once the port is up.
    QTRY_COMPARE(l.log, QStringList{"fre 0 0 2"});
    l.call([link] {
        link->setSampleFre(4, 3000);
        link->setInfoType(2, 7);
        link->timeStampSync(5000000);
    });
    QTRY_COMPARE(l.log, (QStringList{"fre 0 0 2", "fre 1 0 0", "type 0 7", "sync 0"}));
    QCOMPARE(server.card().freIndex(), 4);
    l.stamps.clear();
    QTRY_VERIFY(l.stamps.size() >= 3);
    QVERIFY(l.stamps.last() >= 5000000u && l.stamps.last() < 5001000u);

    l.log.clear();
    l.call([link] {
        QList<AxitSingle_t> records{{0, 100, -100, 300}, {3, 1, 2, 3}};
        link->checkDataWrite(records);
        link->readCheckData();
    });
    QTRY_COMPARE(l.log, (QStringList{"write 0", "check 1"}));
    QCOMPARE(link->axitNum(), 4);
    QCOMPARE(link->checkData()[0].y, -100);
    QCOMPARE(link->checkData()[3].z, 3);

    l.log.clear();
    l.call([link] {
        link->demarcateSingleWrite(1, 2, 30, 1, 2, 3);
        link->demarcateSingleWrite(1, 2, 10, 4, 5, 6);
        link->demarcateSingleRead(1, 2);
        link->readDemarcateInfo(2);
    });
    QTRY_COMPARE(l.log, (QStringList{"op 89 0", "op 89 0", "single 10 30", "point 2 1000 4", "point 2 2000 4", "point 2 3000 4"}));
}

void TestPtyCardServer::vanishedDeviceIsLostAndReopensThroughTheLink()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("card");
    PtyCardServer server;
    QVERIFY(server.setLinkPath(path));
    QVERIFY(server.start());
    QCOMPARE(QFileInfo(path).symLinkTarget(), server.slavePath());
    LinkOnThread l;
    l.open(path);
    QTRY_COMPARE(l.log, QStringList{"fre 0 0 2"});

    server.vanish();
    QTRY_COMPARE(l.log.last(), QString("lost"));
    QVERIFY(!QFileInfo(path).isSymLink());
    QVERIFY(server.reappear());
    QCOMPARE(QFileInfo(path).symLinkTarget(), server.slavePath());

    l.frames.clear();
    l.call([link = l.link] { link->closePort(); });
    l.open(path);
    QTRY_COMPARE(l.log, (QStringList{"fre 0 0 2", "lost", "fre 0 0 2"}));
    QTRY_VERIFY(l.frames.size() >= 3);
}

void TestPtyCardServer::vanishesAndComesBackOnItsOwn()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("card");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep") == 4);
    file.close();
    PtyCardServer server;
    QVERIFY(!server.setLinkPath(path)); // never replaces a real file
    QCOMPARE(QFileInfo(path).size(), 4);

    QVERIFY(server.setLinkPath(dir.filePath("card2")));
    server.setVanishAfterMs(50);
    server.setComeBackAfterMs(50);
    QSignalSpy vanished(&server, &PtyCardServer::vanished);
    QSignalSpy back(&server, &PtyCardServer::reappeared);
    QVERIFY(server.start());
    QVERIFY(back.wait());
    QCOMPARE(vanished.count(), 1);
    QCOMPARE(QFileInfo(dir.filePath("card2")).symLinkTarget(), back.first().at(0).toString());
}

void TestPtyCardServer::programServesUntilTerminated()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("card");
    QProcess sim;
    sim.start(TACTILON_SIM_PATH, {"--link", path, "--sensors", "16", "--refuse", "0x83", "--no-stream"});
    QTRY_VERIFY(sim.canReadLine());
    const QString slave = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QTRY_VERIFY(sim.canReadLine());
    QCOMPARE(QString::fromLocal8Bit(sim.readLine()).trimmed(), path);
    QCOMPARE(QFileInfo(path).symLinkTarget(), slave);

    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    const QByteArray request = cardFrame(0x83, QByteArray(1, 1)) + cardFrame(0x81);
    QCOMPARE(::write(fd, request.constData(), size_t(request.size())), ssize_t(request.size()));
    QByteArray in;
    char buf[512];
    for (QDeadlineTimer deadline(3000); in.size() < 105 && !deadline.hasExpired(); QTest::qWait(5)) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            in.append(buf, int(n));
    }
    ::close(fd);
    QCOMPARE(in.size(), 5 + 100);
    QCOMPARE(in.left(5), cardFrame(0x83, QByteArray(1, 1)));

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(path).isSymLink());
}

void TestPtyCardServer::programRejectsBadOptions()
{
    QProcess sim;
    for (const QStringList &args : {QStringList{"--sensors", "17"}, QStringList{"--refuse", "0x100"},
                                    QStringList{"--corrupt", "2"}, QStringList{"stray"}}) {
        sim.start(TACTILON_SIM_PATH, args);
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY(sim.readAllStandardOutput().isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestPtyCardServer)
#include "tst_ptycardserver.moc"
