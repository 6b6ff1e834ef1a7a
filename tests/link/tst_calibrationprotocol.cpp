#include "debugcapture.h"
#include "fakelink.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

// Answers every request with a status reply of the same code.
void answerStatus(FakeLink &link, uint8_t status)
{
    link.onSend = [status](FakeLink *l, const QByteArray &frame) {
        const uint8_t cmd = uint8_t(frame.at(2));
        QTimer::singleShot(2, l, [l, cmd, status] { l->feed(cardFrame(cmd, QByteArray(1, char(status)))); });
    };
}

} // namespace

class TestCalibrationProtocol : public QObject
{
    Q_OBJECT

private slots:
    void checkingAveragesSourceFrames();
    void averagesTruncateTowardZero();
    void demarcationSumsExactlyTheRequestedFrames();
    void demarcationStartClearsTableButNotTheBaselineCount();
    void demarcateStopRestoresPreviousDataType();
    void baselineAnswerLengths_data();
    void baselineAnswerLengths();
    void baselineWriteEncodesRecords();
    void baselineWriteRefusesEmptyOrOversizedLists();
    void removeCommandsEncodePressures();
    void removeRefusesMoreThanFiftyFivePressures();
    void singlePointCommands();
    void decodesDemarcationInfo();
    void decodesSinglePointAnswerIgnoringTrailingBytes();
};

void TestCalibrationProtocol::checkingAveragesSourceFrames()
{
    FakeLink link;
    DebugCapture capture;
    link.setChecking(true);
    QCOMPARE(link.sentFrames(), QList<QByteArray>{hex("A50382012B")});
    for (int x = 100; x < 110; ++x)
        link.feed(sampleFrame(0x01, {{int16_t(x), int16_t(-x), 7}, {1, 2, 3}}));
    link.feed(sampleFrame(0x00, {{5000, 5000, 5000}})); // demarcated frames are not summed
    link.feed(sampleFrame(0x01, {}));                        // a source frame without sensors counts
    link.setChecking(false);
    QCOMPARE(link.sentFrames().last(), cardFrame(0x82, hex("00")));
    QCOMPARE(link.checkData()[0].x, 95); // 1045 / 11
    QCOMPARE(link.checkData()[0].y, -95);
    QCOMPARE(link.checkData()[0].z, 6);
    QCOMPARE(link.checkData()[1].z, 2);
    QCOMPARE(capture.withPrefix("checkCnt="), QStringList{"checkCnt=11"});

    // A new acquisition starts from zero; with nothing summed the zeros stay.
    link.setChecking(true);
    link.setChecking(false);
    QCOMPARE(link.checkData()[0].x, 0);
}

void TestCalibrationProtocol::averagesTruncateTowardZero()
{
    FakeLink link;
    link.setChecking(true);
    link.feed(sampleFrame(0x01, {{-3, 3, 0}}));
    link.feed(sampleFrame(0x01, {{-4, 4, 1}}));
    link.setChecking(false);
    QCOMPARE(link.checkData()[0].x, -3);
    QCOMPARE(link.checkData()[0].y, 3);
    QCOMPARE(link.checkData()[0].z, 0);
}

void TestCalibrationProtocol::demarcationSumsExactlyTheRequestedFrames()
{
    FakeLink link;
    answerStatus(link, 0);
    link.demarcateStart(20);
    QCOMPARE(link.sentFrames(), QList<QByteArray>{hex("A50382012B")});
    QCOMPARE(link.demarcateRemain(), 20u);
    for (int i = 0; i < 25; ++i)
        link.feed(sampleFrame(0x01, {{10, -2, int16_t(i)}}));
    QCOMPARE(link.demarcateRemain(), 0u);
    QCOMPARE(link.checkData()[0].x, 200);
    QCOMPARE(link.checkData()[0].y, -40);
    QCOMPARE(link.checkData()[0].z, 190); // 0 + 1 + ... + 19
}

void TestCalibrationProtocol::demarcationStartClearsTableButNotTheBaselineCount()
{
    // Both acquisitions share the table; a demarcation start clears it but leaves the count of
    // a baseline acquisition running meanwhile.
    FakeLink link;
    answerStatus(link, 0);
    DebugCapture capture;
    link.setChecking(true);
    link.feed(sampleFrame(0x01, {{50, 50, 50}}));
    link.feed(sampleFrame(0x01, {{50, 50, 50}}));
    link.demarcateStart(20);
    QCOMPARE(link.checkData()[0].x, 0);
    link.feed(sampleFrame(0x01, {{30, 0, 0}}));
    link.demarcateStop();
    link.setChecking(false);
    QCOMPARE(capture.withPrefix("checkCnt="), QStringList{"checkCnt=3"});
    QCOMPARE(link.checkData()[0].x, 10);
}

void TestCalibrationProtocol::demarcateStopRestoresPreviousDataType()
{
    for (uint8_t type : {uint8_t(0), uint8_t(2)}) {
        FakeLink link;
        answerStatus(link, 0);
        link.feed(type == 2 ? cardFrame(0x02, be32(1)) : cardFrame(0x00));
        link.demarcateStart(20);
        link.feed(sampleFrame(0x01, {{1, 1, 1}}));
        link.clearSent();
        link.demarcateStop();
        QCOMPARE(link.demarcateRemain(), 0u);
        QCOMPARE(link.sentFrames(), QList<QByteArray>{cardFrame(0x82, QByteArray(1, char(type)))});
    }
}

void TestCalibrationProtocol::baselineAnswerLengths_data()
{
    QTest::addColumn<int>("payloadBytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("sensors");
    QTest::newRow("empty") << 0 << true << 0;
    QTest::newRow("two sensors") << 12 << true << 2;
    QTest::newRow("sixteen sensors") << 96 << true << 16;
    QTest::newRow("13 bytes") << 13 << false << 3;
    QTest::newRow("seventeen sensors") << 102 << false << 3;
}

void TestCalibrationProtocol::baselineAnswerLengths()
{
    QFETCH(int, payloadBytes);
    QFETCH(bool, ok);
    QFETCH(int, sensors);
    FakeLink link;
    link.feed(cardFrame(0x81, be16(11) + be16(-12) + be16(13) + QByteArray(12, 0)));
    QCOMPARE(link.axitNum(), 3);

    QSignalSpy spy(&link, &SlaveProtocol::slaveCheckRec);
    DebugCapture capture;
    QByteArray payload;
    for (int i = 0; i < payloadBytes; ++i)
        payload.append(char(i % 2 ? 0x02 : 0x00)); // every value 2 (0x0002)
    link.feed(cardFrame(0x81, payload));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().at(0).toBool(), ok);
    QCOMPARE(link.axitNum(), sensors);
    QCOMPARE(capture.contains("decodeSlaveBase len error"), !ok);
    // A refused answer leaves the stored table alone; entries beyond n keep their values.
    QCOMPARE(link.checkData()[0].x, (ok && payloadBytes > 0) ? 2 : 11);
    QCOMPARE(link.checkData()[0].y, (ok && payloadBytes > 0) ? 2 : -12);
}

void TestCalibrationProtocol::baselineWriteEncodesRecords()
{
    FakeLink link;
    link.onSend = [](FakeLink *l, const QByteArray &) {
        QTimer::singleShot(2, l, [l] { l->feed(hex("A503800028")); });
    };
    QSignalSpy spy(&link, &SlaveProtocol::calibrationDataWriteResult);
    QList<AxitSingle_t> records{{0, 100, -100, 300}};
    link.checkDataWrite(records);
    QCOMPARE(link.sentFrames(), QList<QByteArray>{hex("A509800000 64FF9C012C5A")});
    QCOMPARE(spy.first().at(0).toInt(), 0);

    link.clearSent();
    QList<AxitSingle_t> two{{0x0103, 1, 2, 3}, {7, -1, -2, -3}};
    link.checkDataWrite(two);
    QCOMPARE(link.sentFrames().first().mid(3, 14), hex("03000100020003") + hex("07FFFFFFFEFFFD"));
}

void TestCalibrationProtocol::baselineWriteRefusesEmptyOrOversizedLists()
{
    FakeLink link;
    QSignalSpy spy(&link, &SlaveProtocol::calibrationDataWriteResult);
    QList<AxitSingle_t> none;
    link.checkDataWrite(none);
    QList<AxitSingle_t> tooMany(17);
    link.checkDataWrite(tooMany);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toInt(), -1);
    QCOMPARE(spy.at(1).at(0).toInt(), -1);
    QCOMPARE(link.sentCount(), 0);
}

void TestCalibrationProtocol::removeCommandsEncodePressures()
{
    FakeLink link;
    answerStatus(link, 0);
    QSignalSpy removed(&link, &SlaveProtocol::demarcateRemoveResult);
    QSignalSpy all(&link, &SlaveProtocol::demarcateOperationResult);
    QList<short> pressures{1000, -2};
    link.demarcateRemove(1, pressures);
    QCOMPARE(link.sentFrames().last(), cardFrame(0x86, hex("01") + be16(1000) + be16(-2)));
    QCOMPARE(removed.first().at(0).toInt(), 0);
    QCOMPARE(removed.first().at(1).toInt(), 1);
    QCOMPARE(removed.first().at(2).value<QList<short>>(), pressures);

    answerStatus(link, 1);
    link.demarcateRemoveAll();
    QCOMPARE(link.sentFrames().last(), hex("A502872E"));
    QCOMPARE(all.first(), (QList<QVariant>{0x87, 1, 0}));
}

void TestCalibrationProtocol::removeRefusesMoreThanFiftyFivePressures()
{
    FakeLink link;
    QSignalSpy removed(&link, &SlaveProtocol::demarcateRemoveResult);
    QSignalSpy single(&link, &SlaveProtocol::demarcateSingleRemoveResult);
    QList<short> pressures(56, 5);
    link.demarcateRemove(0, pressures);
    link.demarcateSingleRemove(0, 3, pressures);
    QCOMPARE(link.sentCount(), 0);
    QCOMPARE(removed.first().at(0).toInt(), -1);
    QCOMPARE(single.first().at(0).toInt(), -1);
}

void TestCalibrationProtocol::singlePointCommands()
{
    FakeLink link;
    answerStatus(link, 2);
    QSignalSpy ops(&link, &SlaveProtocol::demarcateOperationResult);
    QSignalSpy removed(&link, &SlaveProtocol::demarcateSingleRemoveResult);
    DebugCapture capture;

    link.demarcateSingleWrite(1, 2, 250, 12, -3, 250);
    QCOMPARE(link.sentFrames().last(),
             cardFrame(0x89, hex("0102") + be16(250) + be16(12) + be16(-3) + be16(250)));
    QCOMPARE(ops.last(), (QList<QVariant>{0x89, 2, 0}));
    QVERIFY(capture.contains("single write return:2"));

    QList<short> pressures{30, 10};
    link.demarcateSingleRemove(2, 15, pressures);
    QCOMPARE(link.sentFrames().last(), cardFrame(0x8A, hex("020F") + be16(30) + be16(10)));
    QCOMPARE(removed.first().at(0).toInt(), 2);
    QCOMPARE(removed.first().at(2).toInt(), 15);
    QVERIFY(capture.contains("single remove: 1 10"));

    link.demarcateSingleRemoveAll(0, 4);
    QCOMPARE(link.sentFrames().last(), cardFrame(0x8B, hex("0004")));
    QCOMPARE(ops.last(), (QList<QVariant>{0x8B, 2, 0}));

    // Reads only send; the answers come as their own frames.
    link.onSend = nullptr;
    link.clearSent();
    link.demarcateSingleRead(1, 5);
    link.readDemarcateInfo(2);
    QCOMPARE(link.readCheckData(), 4);
    QCOMPARE(link.sentFrames(),
             (QList<QByteArray>{cardFrame(0x8C, hex("0105")), cardFrame(0x88, hex("02")), hex("A5028128")}));
}

void TestCalibrationProtocol::decodesDemarcationInfo()
{
    FakeLink link;
    QSignalSpy spy(&link, &SlaveProtocol::demarcateInfo);
    link.feed(cardFrame(0x88, hex("01") + be16(2000) + be16(5) + be16(-6) + hex("07")));
    link.feed(cardFrame(0x88, hex("02") + be16(-1)));
    link.feed(cardFrame(0x88, hex("0203"))); // no complete pressure: no point
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toInt(), 1);
    QCOMPARE(spy.at(0).at(1).value<short>(), short(2000));
    QCOMPARE(spy.at(0).at(2).value<QList<short>>(), (QList<short>{5, -6}));
    QCOMPARE(spy.at(1).at(1).value<short>(), short(-1));
    QVERIFY(spy.at(1).at(2).value<QList<short>>().isEmpty());
}

void TestCalibrationProtocol::decodesSinglePointAnswerIgnoringTrailingBytes()
{
    FakeLink link;
    QSignalSpy spy(&link, &SlaveProtocol::demarcateSingleReadInfo);
    DebugCapture capture;
    link.feed(cardFrame(0x8C, hex("0103") + be16(100) + be16(12) + be16(-3) + be16(250) + be16(200)
                                  + be16(1) + be16(2) + be16(3) + hex("AABBCC")));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().at(0).toInt(), 1);
    QCOMPARE(spy.first().at(1).toInt(), 3);
    const auto list = spy.first().at(2).value<QList<singleDemarcateInfoUnit_t>>();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0].pressure, int16_t(100));
    QCOMPARE(list[0].y, int16_t(-3));
    QCOMPARE(list[1].z, int16_t(3));
    QCOMPARE(capture.withPrefix("single read:").size(), 2);
}

QTEST_GUILESS_MAIN(TestCalibrationProtocol)
#include "tst_calibrationprotocol.moc"
