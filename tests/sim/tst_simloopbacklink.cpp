#include "fakelink.h"
#include "linkthread.h"
#include "simloopbacklink.h"

#include <QTest>
#include <QThread>

class TestSimLoopbackLink : public QObject
{
    Q_OBJECT

private slots:
    void streamsAndAnswersOnItsThread();
    void manualClockStepsTheStream();
    void linkCountsWhatTheCardCorrupted();
};

void TestSimLoopbackLink::streamsAndAnswersOnItsThread()
{
    LinkThread<SimLoopbackLink> thread(5);
    SimLoopbackLink *link = thread.link;
    link->card().setSensorCount(3);
    link->setOpen(true);
    QObject ctx;
    QList<int> frames, fre, types;
    connect(link, qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive), &ctx,
            [&](const QList<Axit_t> &list, uint num) { frames.append(int(list.size() == int(num) ? num : 99)); });
    connect(link, &SlaveProtocol::sampleFreResult, &ctx, [&](int, int res, int index) { fre << res << index; });
    connect(link, &SlaveProtocol::DataTypeSetResult, &ctx, [&](int res, int id) { types << res << id; });
    thread.start();

    QTRY_VERIFY(frames.size() >= 5);
    QCOMPARE(frames.last(), 3);
    QMetaObject::invokeMethod(link, [link] { link->readCurrentSampleFre(3000); });
    QTRY_COMPARE(fre, (QList<int>{0, SimCard::DefaultFreIndex}));
    link->withCard([](SimCard &card) { card.setRefusedCodes({0x82}); });
    QMetaObject::invokeMethod(link, "setInfoType", Q_ARG(uchar, 1), Q_ARG(int, 4));
    QTRY_COMPARE(types, (QList<int>{1, 4}));

    // Closed: nothing from the card gets through.
    QMetaObject::invokeMethod(link, [link] { link->setOpen(false); }, Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
    const int seen = int(frames.size());
    QTest::qWait(100);
    QCOMPARE(frames.size(), seen);
}

void TestSimLoopbackLink::manualClockStepsTheStream()
{
    SimLoopbackLink link;
    link.setManualClock(true);
    link.setOpen(true);
    int frames = 0;
    connect(&link, qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive), [&frames] { ++frames; });
    link.step(1000);
    QVERIFY(frames >= 50 && frames <= 51);
    frames = 0;
    QTest::qWait(50); // the real-time ticks must not move the card's clock
    link.step(2000);
    QCOMPARE(frames, 100);
}

void TestSimLoopbackLink::linkCountsWhatTheCardCorrupted()
{
    SimLoopbackLink link(11);
    link.setManualClock(true);
    link.setOpen(true);
    link.card().setSensorCount(16);
    link.card().setCorruptEveryNth(37);
    link.readCurrentSampleFre(300); // the link learns the card's 50 Hz
    link.card().receive(cardFrame(0x8D, be32(1000)), link.nowMs()); // time-stamped from here
    link.card().takeOutput();
    link.card().clearStreamLog();
    link.resetHealth();
    link.step(60000);

    qint64 corrupted = 0, bytes = 0;
    for (const SimStreamRecord &r : link.card().streamLog())
        if (r.corrupted) {
            ++corrupted;
            bytes += 4 + 4 + 6 * r.samples.size(); // header, length, code and checksum; stamp; samples
        }
    const LinkHealth health = link.health();
    QVERIFY(corrupted >= 75);
    QCOMPARE(qint64(health.framesDropped), corrupted);
    QCOMPARE(qint64(health.bytesDiscarded), bytes);
    QCOMPARE(qint64(health.gaps), corrupted);
    QCOMPARE(qint64(health.missingMs), corrupted * 20);
    QCOMPARE(qint64(health.framesDecoded), link.card().streamLog().size() - corrupted);
}

QTEST_GUILESS_MAIN(TestSimLoopbackLink)
#include "tst_simloopbacklink.moc"
