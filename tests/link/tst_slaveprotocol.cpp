#include "debugcapture.h"
#include "fakelink.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

// Answers every frame with the given bytes a few milliseconds later, as a card would.
void answerWith(FakeLink &link, const QByteArray &reply, int delayMs = 3)
{
    link.onSend = [reply, delayMs](FakeLink *l, const QByteArray &) {
        QTimer::singleShot(delayMs, l, [l, reply] { l->feed(reply); });
    };
}

} // namespace

class TestSlaveProtocol : public QObject
{
    Q_OBJECT

private slots:
    void replyInFirstSliceEndsWaitWithOneFrame();
    void noAnswerSendsThreeTimesAndGivesMinusOne_data();
    void noAnswerSendsThreeTimesAndGivesMinusOne();
    void refusalIsReturnedAtOnce();
    void statusTwoFiftyFiveIsAnAnswer();
    void refusedFrequencyStillSetsIndex();
    void readsSampleFrequency();
    void frequencyAnswerWithoutIndexIsIgnored();
    void frequencyReadReportsTheAnswerEvenIfThePortClosesMeanwhile();
    void replyToAnotherCommandDoesNotEndWait();
    void statusReplyWithoutPayloadIsIgnored();
    void dataTypeSetEchoesRequester();
    void timeStampSyncSendsBigEndianTime();
    void ignoresUnknownCodes();
    void emptySampleFrameGivesEmptyList();
    void signalsSlotsAndTypesAreDeclaredInInterfaceOrder();
};

void TestSlaveProtocol::replyInFirstSliceEndsWaitWithOneFrame()
{
    FakeLink link;
    answerWith(link, hex("A50383002B"));
    QSignalSpy spy(&link, &SlaveProtocol::sampleFreResult);
    link.setSampleFre(2, 3000);
    QCOMPARE(link.sentFrames(), QList<QByteArray>{hex("A50383022D")});
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first(), (QList<QVariant>{1, 0, 0}));
}

void TestSlaveProtocol::noAnswerSendsThreeTimesAndGivesMinusOne_data()
{
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("minimumMs");
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("90 ms: 30 ms per attempt") << 90 << 90 << false;
    QTest::newRow("below 30 ms: one slice per attempt") << 5 << 30 << false;
    // A program told to stop gives up after one slice, not three seconds later.
    QTest::newRow("requests cancelled: sent once") << 3000 << 0 << true;
}

void TestSlaveProtocol::noAnswerSendsThreeTimesAndGivesMinusOne()
{
    QFETCH(int, timeoutMs);
    QFETCH(int, minimumMs);
    QFETCH(bool, cancelled);
    FakeLink link;
    link.setRequestsCancelled(cancelled);
    QSignalSpy spy(&link, &SlaveProtocol::sampleFreResult);
    QElapsedTimer timer;
    timer.start();
    link.readCurrentSampleFre(timeoutMs);
    QVERIFY(timer.elapsed() >= minimumMs - 5);
    QCOMPARE(link.sentCount(), cancelled ? 1 : 3);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().at(0).toInt(), 0);
    QCOMPARE(spy.first().at(1).toInt(), -1);
    QCOMPARE(spy.first().at(2).toInt(), -1);
}

void TestSlaveProtocol::refusalIsReturnedAtOnce()
{
    FakeLink link;
    answerWith(link, cardFrame(0x82, hex("01")));
    QSignalSpy spy(&link, &SlaveProtocol::DataTypeSetResult);
    link.setInfoType(1, 1);
    QCOMPARE(link.sentCount(), 1);
    QCOMPARE(spy.first(), (QList<QVariant>{1, 1}));
}

void TestSlaveProtocol::statusTwoFiftyFiveIsAnAnswer()
{
    // 255 is a status the card may send, not the marker of a wait still running.
    FakeLink link;
    link.setReplyTimeout(3000);
    answerWith(link, cardFrame(0x83, hex("FF")));
    QSignalSpy spy(&link, &SlaveProtocol::sampleFreResult);
    link.setSampleFre(1, 3000);
    QCOMPARE(link.sentCount(), 1);
    QCOMPARE(spy.first(), (QList<QVariant>{1, 255, 0}));
}

void TestSlaveProtocol::refusedFrequencyStillSetsIndex()
{
    FakeLink link;
    answerWith(link, cardFrame(0x83, hex("01")));
    QSignalSpy spy(&link, &SlaveProtocol::sampleFreResult);
    link.setSampleFre(4, 300);
    QCOMPARE(spy.first(), (QList<QVariant>{1, 1, 0}));
    QCOMPARE(link.freIndex(), 4);
}

void TestSlaveProtocol::readsSampleFrequency()
{
    FakeLink link;
    answerWith(link, hex("A50384032F"));
    QSignalSpy spy(&link, &SlaveProtocol::sampleFreResult);
    link.readCurrentSampleFre(3000);
    QCOMPARE(link.sentFrames(), QList<QByteArray>{hex("A502842B")});
    QCOMPARE(spy.first(), (QList<QVariant>{0, 0, 3}));
    QCOMPARE(link.freIndex(), 3);
}

void TestSlaveProtocol::frequencyAnswerWithoutIndexIsIgnored()
{
    FakeLink link;
    link.feed(hex("A50384032F"));
    QCOMPARE(link.freIndex(), 3);
    answerWith(link, cardFrame(0x84));
    QSignalSpy spy(&link, &SlaveProtocol::sampleFreResult);
    link.readCurrentSampleFre(60);
    QCOMPARE(link.sentCount(), 3);
    QCOMPARE(spy.first(), (QList<QVariant>{0, -1, 3}));
    QCOMPARE(link.freIndex(), 3);
}

void TestSlaveProtocol::frequencyReadReportsTheAnswerEvenIfThePortClosesMeanwhile()
{
    FakeLink link;
    link.onSend = [](FakeLink *l, const QByteArray &) {
        QTimer::singleShot(2, l, [l] {
            l->feed(hex("A50384032F"));
            l->forgetFrequency(); // the port lost and closed within the same slice
        });
    };
    QSignalSpy spy(&link, &SlaveProtocol::sampleFreResult);
    link.readCurrentSampleFre(3000);
    QCOMPARE(spy.first(), (QList<QVariant>{0, 0, 3}));
    QCOMPARE(link.freIndex(), -1);
}

void TestSlaveProtocol::replyToAnotherCommandDoesNotEndWait()
{
    // A late status for the frequency must not pass as the data type's success.
    FakeLink link;
    link.setReplyTimeout(90);
    answerWith(link, cardFrame(0x83, hex("00")));
    QSignalSpy spy(&link, &SlaveProtocol::DataTypeSetResult);
    link.setInfoType(0, 1);
    QCOMPARE(link.sentCount(), 3);
    QCOMPARE(spy.first(), (QList<QVariant>{-1, 1}));

    link.clearSent();
    answerWith(link, cardFrame(0x83, hex("00")) + cardFrame(0x82, hex("00")));
    link.setInfoType(0, 1);
    QCOMPARE(link.sentCount(), 1);
    QCOMPARE(spy.last(), (QList<QVariant>{0, 1}));
}

void TestSlaveProtocol::statusReplyWithoutPayloadIsIgnored()
{
    FakeLink link;
    link.setReplyTimeout(60);
    answerWith(link, cardFrame(0x8D));
    QSignalSpy spy(&link, &SlaveProtocol::timeStampSyncResult);
    link.timeStampSync(1);
    QCOMPARE(spy.first().at(0).toInt(), -1);
}

void TestSlaveProtocol::dataTypeSetEchoesRequester()
{
    FakeLink link;
    answerWith(link, cardFrame(0x82, hex("00")));
    QSignalSpy spy(&link, &SlaveProtocol::DataTypeSetResult);
    DebugCapture capture;
    link.setInfoType(2, 0);
    QCOMPARE(link.sentFrames(), QList<QByteArray>{cardFrame(0x82, hex("02"))});
    QCOMPARE(spy.first(), (QList<QVariant>{0, 0}));
    QVERIFY(capture.contains("data type set 2"));
    QCOMPARE(int(link.recvInfoType()), 0); // changes only with the first frame of the new type
}

void TestSlaveProtocol::timeStampSyncSendsBigEndianTime()
{
    FakeLink link;
    answerWith(link, cardFrame(0x8D, hex("00")));
    QSignalSpy spy(&link, &SlaveProtocol::timeStampSyncResult);
    link.timeStampSync(86399999u);
    QCOMPARE(link.sentFrames(), QList<QByteArray>{cardFrame(0x8D, be32(86399999u))});
    QCOMPARE(spy.first().at(0).toInt(), 0);

    // Unanswered: a card that took the first request late must not have its clock set back by a
    // repeat, so each repeat carries the time it is sent at, counted on from the first.
    FakeLink silent;
    silent.setReplyTimeout(300);
    silent.timeStampSync(86399950u);
    const QList<QByteArray> sent = silent.sentFrames();
    QCOMPARE(sent.size(), 3);
    QList<uint> times;
    for (const QByteArray &f : sent)
        times << (uint(uint8_t(f[3])) << 24 | uint(uint8_t(f[4])) << 16 | uint(uint8_t(f[5])) << 8 | uint(uint8_t(f[6])));
    QCOMPARE(times[0], 86399950u);
    QVERIFY2(times[1] >= 50 && times[1] < 60000, qPrintable(QString::number(times[1]))); // past midnight
    QVERIFY2(times[2] >= times[1] + 100 && times[2] < 60000, qPrintable(QString::number(times[2])));
}

void TestSlaveProtocol::ignoresUnknownCodes()
{
    FakeLink link;
    link.setReplyTimeout(60);
    answerWith(link, cardFrame(0x85, hex("00")) + cardFrame(0x03, hex("000000000000")));
    QSignalSpy samples(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    QSignalSpy spy(&link, &SlaveProtocol::timeStampSyncResult);
    link.timeStampSync(5);
    QCOMPARE(spy.first().at(0).toInt(), -1);
    QCOMPARE(samples.count(), 0);
}

void TestSlaveProtocol::emptySampleFrameGivesEmptyList()
{
    FakeLink link;
    QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    link.feed(cardFrame(0x00, hex("0102030405060708"))); // bytes beyond 6n are ignored
    link.feed(cardFrame(0x00));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(1).toUInt(), 1u);
    QCOMPARE(spy.at(1).at(1).toUInt(), 0u);
    QVERIFY(spy.at(1).at(0).value<QList<Axit_t>>().isEmpty());
    QCOMPARE(link.axitNum(), 0);
}

void TestSlaveProtocol::signalsSlotsAndTypesAreDeclaredInInterfaceOrder()
{
    // Windows reach the link by signature text and by name; its interface is the list below.
    const QStringList expected{
        "slaveCheckRec(bool)", "AxitReceive(QList<Axit_t>&,uint)", "AxitReceive(QList<Axit_t>&,uint,uint)",
        "sampleFreResult(int,int,int)", "demarcateOperationResult(int,int,int)",
        "demarcateInfo(int,short,QList<short>&)", "demarcateRemoveResult(int,int,QList<short>&)",
        "demarcateSingleRemoveResult(int,int,int,QList<short>&)",
        "demarcateSingleReadInfo(int,int,QList<singleDemarcateInfoUnit_t>&)", "calibrationDataWriteResult(int)",
        "timeStampSyncResult(int)", "DataTypeSetResult(int,int)", "readCheckData()", "setChecking(bool)",
        "demarcateStop()", "demarcateStart(uint)", "checkDataWrite(QList<AxitSingle_t>&)", "demarcateRemoveAll()",
        "demarcateRemove(int,QList<short>&)", "demarcateSingleRemove(int,int,QList<short>&)",
        "demarcateSingleRemoveAll(int,int)", "demarcateSingleWrite(int,int,short,short,short,short)",
        "demarcateSingleRead(int,int)", "timeStampSync(uint)", "setInfoType(uchar,int)", "readDemarcateInfo(int)"};
    const QMetaObject &meta = SlaveProtocol::staticMetaObject;
    QStringList declared;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        declared << QString::fromLatin1(meta.method(i).methodSignature());
    QCOMPARE(declared, expected);
    QCOMPARE(meta.method(meta.indexOfSlot("readCheckData()")).typeName(), "int");

    registerLinkMetaTypes();
    for (const char *name : {"QList<Axit_t>", "QList<AxitSingle_t>", "QList<singleDemarcateInfoUnit_t>",
                             "QList<short>", "QList<Axit_t>&", "QList<short>&"})
        QVERIFY2(QMetaType::fromName(name).isValid(), name);
    QCOMPARE(QMetaType::fromName("QList<Axit_t>"), QMetaType::fromType<QList<Axit_t>>());
    QCOMPARE(QMetaType::fromName("QList<short>"), QMetaType::fromType<QList<short>>());
}

QTEST_GUILESS_MAIN(TestSlaveProtocol)
#include "tst_slaveprotocol.moc"
