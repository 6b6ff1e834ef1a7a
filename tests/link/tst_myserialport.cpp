#include "debugcapture.h"
#include "fakelink.h"
#include "linkthread.h"
#include "myserialport.h"
#include "ptypair.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <termios.h>

namespace {

struct LinkOnThread : LinkThread<MySerialport>
{
    LinkOnThread() { start(); }
    void open(const QString &port, int baud)
    {
        QMetaObject::invokeMethod(link, "openPort", Q_ARG(QString, port), Q_ARG(int, baud));
    }
};

speed_t baudConstant(int baud)
{
    switch (baud) {
    case 115200: return B115200;
    case 460800: return B460800;
    default: return B921600;
    }
}

} // namespace

class TestMySerialport : public QObject
{
    Q_OBJECT

private slots:
    void opensAtEachBaudRateAndReadsFrequency_data();
    void opensAtEachBaudRateAndReadsFrequency();
    void bytesFromBeforeTheOpenAreDropped();
    void secondOpenClosesWithoutFrequencyRequest();
    void closeWhenClosedStillFlushes();
    void failedOpenReportsAndTimesOutOnce();
    void cardHangUpIsReportedAsPortLoss();
    void readOfMoreThanSixtyFourKiBReachesTheCodecWhole();
    void vanishedDeviceIsReportedOnce();
};

void TestMySerialport::opensAtEachBaudRateAndReadsFrequency_data()
{
    QTest::addColumn<int>("baud");
    QTest::newRow("115200") << 115200;
    QTest::newRow("460800") << 460800;
    QTest::newRow("921600") << 921600;
}

void TestMySerialport::opensAtEachBaudRateAndReadsFrequency()
{
    QFETCH(int, baud);
    PtyPair pty;
    QVERIFY(pty.isValid());
    LinkOnThread l;
    QSignalSpy flush(l.link, &MySerialport::flushMainwindowsSerialView);
    QSignalSpy fre(l.link, &SlaveProtocol::sampleFreResult);
    DebugCapture debug;
    l.open(pty.slavePath(), baud);
    QTRY_COMPARE(flush.count(), 1);
    QVERIFY(l.link->isPortOpen());
    QCOMPARE(debug.withPrefix("port :"), QStringList{"port : " + pty.slavePath()});

    QCOMPARE(pty.read(4), hex("A502842B"));
    termios t{};
    QCOMPARE(::tcgetattr(pty.masterFd(), &t), 0);
    QCOMPARE(cfgetospeed(&t), baudConstant(baud));
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));

    QVERIFY(pty.write(hex("A50384032F")));
    QTRY_COMPARE(fre.count(), 1);
    QCOMPARE(fre.first(), (QList<QVariant>{0, 0, 3}));
    QCOMPARE(l.link->freIndex(), 3);

    // Bytes from the card reach the codec through the port.
    QSignalSpy samples(l.link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    QVERIFY(pty.write(hex("A5080000 10FFF00100AD")));
    QTRY_COMPARE(samples.count(), 1);
}

void TestMySerialport::bytesFromBeforeTheOpenAreDropped()
{
    PtyPair pty;
    QVERIFY(pty.write(hex("A5080000 10FFF00100AD"))); // the card talked before anyone listened
    LinkOnThread l;
    QSignalSpy samples(l.link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    l.open(pty.slavePath(), 921600);
    QCOMPARE(pty.read(4), hex("A502842B"));
    QVERIFY(pty.write(hex("A50384032F") + hex("A5080000 10FFF00100AD")));
    QTRY_COMPARE(l.link->freIndex(), 3);
    QTRY_COMPARE(samples.count(), 1);
    QTest::qWait(100);
    QCOMPARE(samples.count(), 1);
}

void TestMySerialport::secondOpenClosesWithoutFrequencyRequest()
{
    PtyPair pty;
    LinkOnThread l;
    QSignalSpy flush(l.link, &MySerialport::flushMainwindowsSerialView);
    l.open(pty.slavePath(), 921600);
    QCOMPARE(pty.read(4), hex("A502842B"));
    QVERIFY(pty.write(hex("A50384032F")));
    QTRY_COMPARE(l.link->freIndex(), 3);

    l.open(pty.slavePath(), 921600);
    QTRY_COMPARE(flush.count(), 2);
    QVERIFY(!l.link->isPortOpen());
    QCOMPARE(l.link->freIndex(), -1);
    QTest::qWait(200);
    QCOMPARE(flush.count(), 2);
    QCOMPARE(pty.read(0, 100), QByteArray());
}

void TestMySerialport::closeWhenClosedStillFlushes()
{
    LinkOnThread l;
    QSignalSpy flush(l.link, &MySerialport::flushMainwindowsSerialView);
    QMetaObject::invokeMethod(l.link, "closePort");
    QTRY_COMPARE(flush.count(), 1);
    QVERIFY(!l.link->isPortOpen());
}

void TestMySerialport::failedOpenReportsAndTimesOutOnce()
{
    LinkOnThread l;
    QSignalSpy flush(l.link, &MySerialport::flushMainwindowsSerialView);
    QSignalSpy failed(l.link, &MySerialport::portOpenFailed);
    QSignalSpy fre(l.link, &SlaveProtocol::sampleFreResult);
    QElapsedTimer timer;
    timer.start();
    l.open("/dev/tactilon-no-such-port", 115200);
    QTRY_COMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(0).toString(), QString("/dev/tactilon-no-such-port"));
    QTRY_COMPARE(flush.count(), 1);
    QVERIFY(!l.link->isPortOpen());
    QTRY_COMPARE_WITH_TIMEOUT(fre.count(), 1, 6000);
    QVERIFY2(timer.elapsed() >= 2900, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(fre.first(), (QList<QVariant>{0, -1, -1}));
    QTest::qWait(300);
    QCOMPARE(fre.count(), 1);
    QCOMPARE(flush.count(), 1);
}

void TestMySerialport::cardHangUpIsReportedAsPortLoss()
{
    PtyPair pty;
    LinkOnThread l;
    QSignalSpy lost(l.link, &MySerialport::portLost);
    QSignalSpy flush(l.link, &MySerialport::flushMainwindowsSerialView);
    l.open(pty.slavePath(), 921600);
    QCOMPARE(pty.read(4), hex("A502842B"));
    QVERIFY(pty.write(hex("A50384032F")));
    QTRY_COMPARE(l.link->freIndex(), 3);

    pty.closeMaster();
    QTRY_COMPARE(lost.count(), 1);
    QTest::qWait(200);
    QCOMPARE(lost.count(), 1); // reported once, not per error the dead handle raises
    QVERIFY(l.link->isPortOpen()); // until the main window's close arrives
    QMetaObject::invokeMethod(l.link, "closePort");
    QTRY_COMPARE(flush.count(), 2);
    QVERIFY(!l.link->isPortOpen());
}

void TestMySerialport::readOfMoreThanSixtyFourKiBReachesTheCodecWhole()
{
    PtyPair pty;
    LinkOnThread l;
    l.open(pty.slavePath(), 921600);
    QCOMPARE(pty.read(4), hex("A502842B"));
    QVERIFY(pty.write(hex("A50384032F")));
    QTRY_COMPARE(l.link->freIndex(), 3);

    // The port keeps reading into its own buffer while nobody takes the bytes; then the
    // handler gets them in one read larger than a codec chunk.
    auto *port = l.link->findChild<QSerialPort *>();
    QVERIFY(port);
    QMetaObject::invokeMethod(l.link, [&] { QObject::disconnect(port, &QSerialPort::readyRead, l.link, nullptr); },
                              Qt::BlockingQueuedConnection);
    QByteArray stream;
    for (int i = 0; i < 2000; ++i) {
        QByteArray payload;
        for (int s = 0; s < 16; ++s)
            payload += be16(i) + be16(s) + be16(-i);
        stream += cardFrame(0x00, payload); // 100 bytes a frame
    }
    QSignalSpy samples(l.link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    QVERIFY(pty.write(stream));
    qint64 buffered = 0;
    QTRY_VERIFY_WITH_TIMEOUT((QMetaObject::invokeMethod(
                                  l.link, [&] { buffered = port->bytesAvailable(); }, Qt::BlockingQueuedConnection),
                              buffered == stream.size()),
                             10000);
    QMetaObject::invokeMethod(l.link, "SerialHandleReadyRead", Qt::BlockingQueuedConnection);
    QTRY_COMPARE(samples.count(), 2000);
    QCOMPARE(samples.last().at(0).value<QList<Axit_t>>().first().x, int16_t(1999));
}

void TestMySerialport::vanishedDeviceIsReportedOnce()
{
    // A pulled USB adapter is reported by the port as a resource error.
    PtyPair pty;
    LinkOnThread l;
    QSignalSpy lost(l.link, &MySerialport::portLost);
    l.open(pty.slavePath(), 921600);
    QCOMPARE(pty.read(4), hex("A502842B"));
    auto *port = l.link->findChild<QSerialPort *>();
    QMetaObject::invokeMethod(port, [port] {
        emit port->errorOccurred(QSerialPort::ResourceError);
        emit port->errorOccurred(QSerialPort::ResourceError);
    });
    QTRY_COMPARE(lost.count(), 1);
    QTest::qWait(100);
    QCOMPARE(lost.count(), 1);
    QVERIFY(l.link->isPortOpen()); // until the main window's close arrives
}

QTEST_GUILESS_MAIN(TestMySerialport)
#include "tst_myserialport.moc"
