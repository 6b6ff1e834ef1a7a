#include "debugcapture.h"
#include "fakelink.h"
#include "referenceparser.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <cstring>

namespace {

// The frames a list of AxitReceive emissions carried, re-encoded as (n, x, y, z...) words.
QList<QList<int>> receivedSamples(const QSignalSpy &spy)
{
    QList<QList<int>> out;
    for (const QList<QVariant> &args : spy) {
        QList<int> row{int(args.at(1).toUInt())};
        for (const Axit_t &a : args.at(0).value<QList<Axit_t>>())
            row << a.x << a.y << a.z;
        out.append(row);
    }
    return out;
}

} // namespace

class TestSlaveCodec : public QObject
{
    Q_OBJECT

private slots:
    void encodesFrames_data();
    void encodesFrames();
    void tracesEveryByteWithTrailingSpace();
    void decodesWorkedSampleFrame();
    void deliversFrameSplitAtEveryByte();
    void dropsGarbageAndFalseHeaders_data();
    void dropsGarbageAndFalseHeaders();
    void keepsTrailingHeaderPending();
    void commandOnlyFrameGivesEmptySample();
    void dropsIncompleteFrameAfterTimeout();
    void oversizedSampleFrameStillSetsDataType();
    void decodesTimeStamp();
    void matchesReferenceParserOnRandomStreams();
    void manyFramesInOneChunkAreAllDelivered();
    void handlerSpinningAnEventLoopSeesEachFrameOnceInOrder();
};

void TestSlaveCodec::encodesFrames_data()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("read sample frequency") << 0x84 << QByteArray() << hex("A502842B");
    QTest::newRow("set data type 1") << 0x82 << hex("01") << hex("A50382012B");
    QTest::newRow("read baseline") << 0x81 << QByteArray() << hex("A5028128");
    QTest::newRow("set frequency index 2") << 0x83 << hex("02") << hex("A50383022D");
    QTest::newRow("checksum wraps") << 0xFF << hex("FFFFFF") << hex("A505FFFFFFFFA6");
}

void TestSlaveCodec::encodesFrames()
{
    QFETCH(int, cmd);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);
    FakeLink link;
    const int written = link.tx_frame_send(uint8_t(cmd), reinterpret_cast<const uint8_t *>(payload.constData()),
                                           int(payload.size()));
    QCOMPARE(written, frame.size());
    QCOMPARE(link.sentFrames(), QList<QByteArray>{frame});
}

void TestSlaveCodec::tracesEveryByteWithTrailingSpace()
{
    FakeLink link;
    DebugCapture capture;
    const uint8_t one = 1;
    link.tx_frame_send(0x82, &one, 1);
    QCOMPARE(capture.withPrefix("tx data"), QStringList{"tx data : A5 03 82 01 2B "});

    link.writeResult = -1; // no port: the write result is passed on unchanged
    QCOMPARE(link.tx_frame_send(0x84, nullptr, 0), -1);
}

void TestSlaveCodec::decodesWorkedSampleFrame()
{
    FakeLink link;
    QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    link.feed(hex("A5080000 10FFF00100AD"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(receivedSamples(spy).first(), (QList<int>{1, 16, -16, 256}));
    QCOMPARE(link.axitNum(), 1);
    QCOMPARE(int(link.recvInfoType()), 0);
}

void TestSlaveCodec::deliversFrameSplitAtEveryByte()
{
    const QByteArray frame = sampleFrame(0x00, {{1, 2, 3}, {-4, 5, -6}});
    for (int cut = 1; cut < frame.size(); ++cut) {
        FakeLink link;
        QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
        link.feed(frame.left(cut));
        QCOMPARE(spy.count(), 0);
        QVERIFY2(link.rxPending() > 0, qPrintable(QString("cut %1").arg(cut)));
        link.feed(frame.mid(cut));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(receivedSamples(spy).first(), (QList<int>{2, 1, 2, 3, -4, 5, -6}));
        QCOMPARE(link.rxPending(), uint16_t(0));
    }
}

void TestSlaveCodec::dropsGarbageAndFalseHeaders_data()
{
    const QByteArray a = sampleFrame(0x00, {{10, 20, 30}});
    const QByteArray b = sampleFrame(0x00, {{-1, -2, -3}});
    QByteArray badSum = a;
    badSum[badSum.size() - 1] = char(badSum.back() + 1);
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("frames");
    // What the link counts: frames refused (one per run of lost bytes), bytes thrown away.
    QTest::addColumn<int>("dropped");
    QTest::addColumn<int>("discarded");
    QTest::newRow("garbage between frames") << hex("0102") + a + hex("55AA00") + b + hex("77") << 2 << 0 << 6;
    QTest::newRow("length 0 and 1 headers") << hex("A500A501") + a << 1 << 1 << 4;
    QTest::newRow("wrong checksum then good frame") << badSum + b << 1 << 1 << int(badSum.size());
    QTest::newRow("two bad frames apart") << badSum + a + badSum + b << 2 << 2 << int(2 * badSum.size());
    // A false header whose length swallows a real frame: the frame is found by re-searching.
    QTest::newRow("real frame inside rejected bytes") << hex("A50C") + a + hex("00000000") << 1 << 1 << 6;
    QTest::newRow("no header at all") << hex("0011223344") << 0 << 0 << 5;
}

void TestSlaveCodec::dropsGarbageAndFalseHeaders()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, frames);
    QFETCH(int, dropped);
    QFETCH(int, discarded);
    FakeLink link;
    QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    link.feed(stream);
    QCOMPARE(spy.count(), frames);
    QCOMPARE(link.rxPending(), uint16_t(0));
    QCOMPARE(link.rxBuffered(), size_t(0));
    const LinkHealth health = link.health();
    QCOMPARE(health.framesDecoded, quint64(frames));
    QCOMPARE(health.framesDropped, quint64(dropped));
    QCOMPARE(health.bytesDiscarded, quint64(discarded));
}

void TestSlaveCodec::keepsTrailingHeaderPending()
{
    FakeLink link;
    QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    const QByteArray frame = sampleFrame(0x00, {{7, 8, 9}});
    link.feed(hex("0102") + frame.left(1));
    QCOMPARE(link.rxPending(), uint16_t(1));
    link.feed(frame.mid(1));
    QCOMPARE(spy.count(), 1);
}

void TestSlaveCodec::commandOnlyFrameGivesEmptySample()
{
    FakeLink link;
    QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    link.feed(cardFrame(0x01));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(receivedSamples(spy).first(), QList<int>{0});
    QCOMPARE(int(link.recvInfoType()), 1);
}

void TestSlaveCodec::dropsIncompleteFrameAfterTimeout()
{
    FakeLink link;
    QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    const QByteArray frame = sampleFrame(0x00, {{1, 1, 1}});

    link.feed(frame.left(4));
    QTest::qWait(300);
    link.feed(frame.mid(4)); // a 300 ms gap is tolerated
    QCOMPARE(spy.count(), 1);

    // Every chunk restarts the time-out: the fragment is dropped 500 ms after the last one.
    QElapsedTimer sinceLast;
    link.feed(frame.left(4));
    QTest::qWait(300);
    link.feed(frame.mid(4, 2));
    sinceLast.start();
    QTRY_COMPARE_WITH_TIMEOUT(link.rxPending(), uint16_t(0), 5000);
    QVERIFY2(sinceLast.elapsed() >= 450, qPrintable(QString::number(sinceLast.elapsed())));
    QCOMPARE(link.rxBuffered(), size_t(0));
    QCOMPARE(link.rxPending(), uint16_t(0));
    link.feed(frame.mid(4) + frame); // the stale tail is garbage now; the next frame parses
    QCOMPARE(spy.count(), 2);
}

void TestSlaveCodec::oversizedSampleFrameStillSetsDataType()
{
    FakeLink link;
    QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    link.feed(sampleFrame(0x00, QList<Axit_t>(2)));
    link.feed(sampleFrame(0x01, QList<Axit_t>(17)));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(int(link.recvInfoType()), 1);
    QCOMPARE(link.axitNum(), 2);
    link.feed(sampleFrame(0x01, QList<Axit_t>(16)));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(link.axitNum(), 16);
}

void TestSlaveCodec::decodesTimeStamp()
{
    FakeLink link;
    QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint, uint)));
    link.feed(hex("A50C02000001020001000200 03BC"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().at(2).toUInt(), 258u);
    const auto samples = spy.first().at(0).value<QList<Axit_t>>();
    QCOMPARE(samples.size(), 1);
    QCOMPARE(samples.first().z, int16_t(3));
    QCOMPARE(int(link.recvInfoType()), 2);

    // Fewer than four payload bytes hold no time stamp: nothing is reported, the type is noted.
    link.feed(cardFrame(0x00));
    QCOMPARE(int(link.recvInfoType()), 0);
    link.feed(cardFrame(0x02, hex("0001")));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(int(link.recvInfoType()), 2);

    // A sample cut short after the stamp is not decoded: 4 + 6 + 5 bytes hold one sensor.
    link.feed(cardFrame(0x02, hex("00000001 000100020003 0004000500")));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.last().at(0).value<QList<Axit_t>>().size(), 1);
    QCOMPARE(spy.last().at(1).toUInt(), 1u);

    // At 200 Hz a stamp more than 7.5 ms after the last one means frames went missing; midnight
    // and a clock set back are no gap.
    FakeLink counting;
    counting.feed(cardFrame(0x84, hex("04")));
    for (uint stamp : {1000u, 1005u, 1012u, 1030u, 1035u, 86399995u, 0u, 5u, 40u, 30u, 35u})
        counting.feed(cardFrame(0x02, be32(stamp)));
    QCOMPARE(counting.health().gaps, 3u);                 // 1012 to 1030, 1035 to the evening, 5 to 40
    QCOMPARE(counting.health().missingMs, quint64(13 + (86399995 - 1035 - 5) + 30));
}

void TestSlaveCodec::matchesReferenceParserOnRandomStreams()
{
    QRandomGenerator rng(20261208);
    for (int round = 0; round < 200; ++round) {
        QByteArray stream;
        while (stream.size() < 4000) {
            const int kind = rng.bounded(10);
            if (kind < 6) {
                QList<Axit_t> s(rng.bounded(17));
                for (Axit_t &a : s)
                    a = Axit_t{int16_t(rng.bounded(65536)), int16_t(rng.bounded(65536)), int16_t(rng.bounded(65536))};
                QByteArray f = sampleFrame(uint8_t(rng.bounded(3) == 0 ? 1 : 0), s);
                if (rng.bounded(8) == 0)
                    f[rng.bounded(f.size())] = char(rng.bounded(256)); // corrupt one byte
                stream += f;
            } else if (kind < 9) {
                QByteArray g(rng.bounded(12), Qt::Uninitialized);
                for (char &c : g)
                    c = char(rng.bounded(3) == 0 ? 0xA5 : rng.bounded(256));
                stream += g;
            } else {
                stream += hex("A5");
            }
        }

        FakeLink link;
        QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
        ReferenceParser reference;
        QList<QList<int>> expected;
        int pos = 0;
        while (pos < stream.size()) {
            const int n = std::min<int>(int(stream.size()) - pos, 1 + rng.bounded(round % 2 ? 40 : 600));
            const QByteArray chunk = stream.mid(pos, n);
            pos += n;
            for (const QByteArray &f : reference.input(chunk)) {
                const int cmd = uint8_t(f[0]);
                const int count = (f.size() - 1) / 6;
                if ((cmd == 0 || cmd == 1) && count <= 16) {
                    QList<int> row{count};
                    for (int i = 0; i < count * 3; ++i)
                        row << int16_t(uint8_t(f[1 + 2 * i]) << 8 | uint8_t(f[2 + 2 * i]));
                    expected.append(row);
                }
            }
            link.feed(chunk);
        }
        QCOMPARE(receivedSamples(spy), expected);
    }
}

void TestSlaveCodec::manyFramesInOneChunkAreAllDelivered()
{
    QByteArray stream;
    for (int i = 0; i < 600; ++i)
        stream += sampleFrame(0x00, QList<Axit_t>(16, Axit_t{int16_t(i), 0, 0}));
    FakeLink link;
    QSignalSpy spy(&link, SIGNAL(AxitReceive(QList<Axit_t>&, uint)));
    link.feed(stream.left(65535));
    link.feed(stream.mid(65535));
    QCOMPARE(spy.count(), 600);
    QCOMPARE(spy.last().at(0).value<QList<Axit_t>>().first().x, int16_t(599));
}

void TestSlaveCodec::handlerSpinningAnEventLoopSeesEachFrameOnceInOrder()
{
    // A handler on the link thread that waits as the request waits do: the next chunk arrives
    // inside its local loop and is parsed in a nested pass.
    FakeLink link;
    QList<int> seen;
    connect(&link, qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive), this,
            [&](QList<Axit_t> &axit, uint) {
                seen.append(axit.value(0).x);
                if (seen.size() != 1)
                    return;
                QTimer::singleShot(0, &link, [&] { link.feed(sampleFrame(0x00, {{3, 0, 0}}) + hex("A508")); });
                QEventLoop loop;
                QTimer::singleShot(20, &loop, &QEventLoop::quit);
                loop.exec();
            });
    link.feed(sampleFrame(0x00, {{1, 0, 0}}) + sampleFrame(0x00, {{2, 0, 0}}));
    QCOMPARE(seen, (QList<int>{1, 2, 3}));
    // The header the nested chunk left behind is still waiting for its frame.
    QCOMPARE(link.rxPending(), uint16_t(2));
    link.feed(sampleFrame(0x00, {{4, 0, 0}}).mid(2));
    QCOMPARE(seen, (QList<int>{1, 2, 3, 4}));
}

QTEST_GUILESS_MAIN(TestSlaveCodec)
#include "tst_slavecodec.moc"
