#include "fakelink.h"
#include "simcard.h"

#include <QTest>
#include <cmath>

namespace {

struct Frame
{
    int cmd;
    QByteArray payload;
};

int i16(const QByteArray &b, int at)
{
    return qint16(quint16(quint8(b[at]) << 8 | quint8(b[at + 1])));
}

// Splits clean card output into frames, stopping at the first bytes that are not a valid frame.
QList<Frame> framesOf(const QByteArray &out)
{
    QList<Frame> frames;
    for (int at = 0; at + 4 <= out.size();) {
        const int len = quint8(out[at + 1]);
        const Frame f{quint8(out[at + 2]), out.mid(at + 3, len - 2)};
        if (cardFrame(quint8(f.cmd), f.payload) != out.mid(at, len + 2))
            break;
        frames.append(f);
        at += len + 2;
    }
    return frames;
}

// The card on a stepped clock.
struct Bench
{
    explicit Bench(bool streaming = false, quint32 seed = 1) : card(seed) { card.setStreaming(streaming); }
    QList<Frame> send(int cmd, const QByteArray &payload = {})
    {
        card.receive(cardFrame(quint8(cmd), payload), now);
        return framesOf(card.takeOutput());
    }
    int status(int cmd, const QByteArray &payload)
    {
        const QByteArray reply = send(cmd, payload).value(0).payload;
        return reply.size() == 1 ? quint8(reply[0]) : -1;
    }
    QList<Frame> run(qint64 ms, qint64 step = 7)
    {
        QByteArray out;
        for (const qint64 end = now + ms; now < end; out += card.takeOutput())
            card.advance(now = qMin(end, now + step));
        return framesOf(out);
    }
    static int samples(const QList<Frame> &frames)
    {
        return int(std::count_if(frames.begin(), frames.end(), [](const Frame &f) { return f.cmd <= 2; }));
    }
    SimCard card;
    qint64 now = 0;
};

// The graph window's conversion of demarcated values to force, written out here on its own.
std::array<double, 3> converted(double x, double y, double z)
{
    static const double c[3][9] = {
        {0.072602592668408, 0.00397963108280683, -0.00252111322215545, 6.97107980683785e-06,
         5.45536619825583e-06, -3.96515150461183e-07, 8.96776937872258e-07, -8.32133230714163e-07, 1.18143847642907e-08},
        {0.0347065054157915, 0.0265543932983968, -0.00297659067505035, 2.72191095265331e-06,
         5.52610787466307e-06, -1.45492421725733e-06, 6.47732693768636e-07, 5.32481534176213e-06, -2.13028130182367e-06},
        {-0.0377554755112593, 0.174309392730712, 0.0520346851805642, 1.06496189045393e-05,
         -1.69911521444058e-06, 1.86701158564698e-05, 1.24118280172224e-05, 5.40814299256013e-06, 8.38545467874155e-06}};
    std::array<double, 3> out{};
    for (int k = 0; k < 3; ++k)
        out[k] = c[k][0] * x + c[k][1] * y + c[k][2] * z + x * c[k][3] * y + x * c[k][4] * z + y * c[k][5] * z
                 + x * c[k][6] * x + y * c[k][7] * y + z * c[k][8] * z;
    return out;
}

} // namespace

class TestSimCard : public QObject
{
    Q_OBJECT

private slots:
    void answersCommands_data();
    void answersCommands();
    void baselineAndArrayPointsRoundTrip();
    void singlePointsKeepOrderReplaceAndFill();
    void frequencyIndexSetsFrameRate_data();
    void frequencyIndexSetsFrameRate();
    void timeStampsFollowSyncedClock_data();
    void timeStampsFollowSyncedClock();
    void findsCommandsInGarbledInput();
    void faultOptions();
    void corruptionHitsAboutTheAskedShare_data();
    void corruptionHitsAboutTheAskedShare();
    void logMarksExactlyTheCorruptedFrames();
    void pressesReachFullScaleAndLightTouchesStayInside_data();
    void pressesReachFullScaleAndLightTouchesStayInside();
    void withoutPressesSourceDataSitsOnBaseline();
};

void TestSimCard::answersCommands_data()
{
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("reply"); // payload of the answer with the same code; empty: none
    auto row = [](const char *name, int cmd, const char *payload, const char *reply) {
        QTest::newRow(name) << cmd << QByteArray::fromHex(payload) << QByteArray::fromHex(reply);
    };
    row("read frequency", 0x84, "", "02");
    row("data type 2", 0x82, "02", "00");
    row("data type 3", 0x82, "03", "01");
    row("frequency 4", 0x83, "04", "00");
    row("frequency 5", 0x83, "05", "01");
    row("clock sync", 0x8D, "00000102", "00");
    row("clock sync too short", 0x8D, "000102", "01");
    row("baseline of a sensor the card lacks", 0x80, "060064ff9c012c", "01");
    row("baseline record cut short", 0x80, "000064ff9c01", "01");
    row("remove array point of axis 3", 0x86, "0307d0", "01");
    row("single write of a sensor the card lacks", 0x89, "0106000a00010002fffd", "01");
    row("single remove all", 0x8B, "0205", "00");
    row("single read of an empty list", 0x8C, "0205", "0205");
    row("unknown command", 0x85, "", "");
}

void TestSimCard::answersCommands()
{
    QFETCH(int, cmd);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, reply);
    Bench b;
    b.card.receive(cardFrame(quint8(cmd), payload), 0);
    QCOMPARE(b.card.takeOutput(), reply.isEmpty() ? QByteArray() : cardFrame(quint8(cmd), reply));
}

void TestSimCard::baselineAndArrayPointsRoundTrip()
{
    Bench b;
    const QByteArray before = b.send(0x81)[0].payload;
    QCOMPARE(before.size(), 6 * SimCard::DefaultSensors);
    for (int i = 0; i < SimCard::DefaultSensors; ++i) {
        const SimSample s = b.card.baseline(i);
        QCOMPARE(i16(before, 6 * i + 4), int(s.z));
        QVERIFY(qAbs(s.x) <= 300 && qAbs(s.y) <= 300 && s.z >= 1000 && s.z <= 2000);
    }
    QCOMPARE(b.status(0x80, QByteArray::fromHex("000064ff9c012c" "05fff6000a7fff")), 0);
    QCOMPARE(b.status(0x80, QByteArray::fromHex("0100010001000109000100010001")), 1); // one bad record: none written
    const QByteArray after = b.send(0x81)[0].payload;
    QCOMPARE(after, QByteArray::fromHex("0064ff9c012c") + before.mid(6, 24) + QByteArray::fromHex("fff6000a7fff"));

    QVERIFY(b.card.setSensorCount(16) && !b.card.setSensorCount(17) && !b.card.setSensorCount(0));
    QCOMPARE(b.send(0x81)[0].payload.size(), 96);
    QList<Frame> points = b.send(0x88, QByteArray(1, 2));
    QCOMPARE(points.size(), 3);
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(points[k].payload.size(), 3 + 2 * 16);
        QCOMPARE(points[k].payload[0], char(2));
        QCOMPARE(i16(points[k].payload, 1), 1000 * (k + 1));
        QVERIFY(k == 0 || i16(points[k].payload, 3) > i16(points[k - 1].payload, 3));
    }
    QCOMPARE(b.status(0x86, QByteArray::fromHex("0207d00bb8")), 0);
    QCOMPARE(b.send(0x88, QByteArray(1, 2)).size(), 1);
    QCOMPARE(b.send(0x88, QByteArray(1, 0)).size(), 3);
    QCOMPARE(b.status(0x87, {}), 0);
    // An empty axis answers once, without values, so the reader knows it is empty.
    QCOMPARE(b.send(0x88, QByteArray(1, 0))[0].payload, QByteArray::fromHex("000000"));
    QVERIFY(b.send(0x88, QByteArray(1, 3)).isEmpty());
}

void TestSimCard::singlePointsKeepOrderReplaceAndFill()
{
    Bench b;
    auto write = [&b](int pressure, int x) {
        return b.status(0x89, QByteArray::fromHex("0103") + be16(pressure) + be16(x) + be16(-x) + be16(2 * x));
    };
    for (int pressure : {30, 10, 20, 20})
        QCOMPARE(write(pressure, pressure == 20 ? 99 : pressure), 0);
    QCOMPARE(b.send(0x8C, QByteArray::fromHex("0103"))[0].payload,
             QByteArray::fromHex("0103" "000a000afff60014" "00140063ff9d00c6" "001e001effe2003c"));
    QVERIFY(b.card.singlePoints(1, 4).isEmpty() && b.card.singlePoints(0, 3).isEmpty());

    QCOMPARE(b.status(0x8A, QByteArray::fromHex("0103000a0063")), 0);
    QCOMPARE(b.card.singlePoints(1, 3).size(), 2);
    QCOMPARE(b.card.singlePoints(1, 3)[0].pressure, qint16(20));

    for (int pressure = 100; b.card.singlePoints(1, 3).size() < SimCard::SinglePointCapacity; ++pressure)
        QCOMPARE(write(pressure, 1), 0);
    QCOMPARE(write(5, 1), 2);
    QCOMPARE(write(30, 7), 0); // replacing still works when full
    QCOMPARE(b.status(0x8B, QByteArray::fromHex("0103")), 0);
    QVERIFY(b.card.singlePoints(1, 3).isEmpty());
}

void TestSimCard::frequencyIndexSetsFrameRate_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("hz");
    const int hz[] = {10, 20, 50, 100, 200};
    for (int i = 0; i < 5; ++i)
        QTest::addRow("index %d", i) << i << hz[i];
}

void TestSimCard::frequencyIndexSetsFrameRate()
{
    QFETCH(int, index);
    QFETCH(int, hz);
    Bench b(true);
    b.run(300);
    QCOMPARE(b.status(0x83, QByteArray(1, char(index))), 0);
    b.card.clearStreamLog();
    QCOMPARE(Bench::samples(b.run(2000, 13)), 2 * hz);
    QCOMPARE(b.card.streamLog().last().atMs - b.card.streamLog().first().atMs, qint64(2000 - 1000 / hz));
    // A long pause of the caller does not turn into a burst.
    b.now += 60000;
    QVERIFY(Bench::samples(b.run(1)) <= hz + 1);
}

void TestSimCard::timeStampsFollowSyncedClock_data()
{
    QTest::addColumn<quint32>("synced");
    QTest::newRow("morning") << quint32(9 * 3600000);
    QTest::newRow("past midnight it keeps counting") << quint32(86399990);
    QTest::newRow("wraps at 2^32") << quint32(0xFFFFFFF0);
}

void TestSimCard::timeStampsFollowSyncedClock()
{
    QFETCH(quint32, synced);
    Bench b(true);
    b.send(0x83, QByteArray(1, 4));
    b.send(0x82, QByteArray(1, 2));
    b.run(1234);
    QCOMPARE(b.card.clockMs(b.now), quint32(1234));
    b.send(0x82, QByteArray(1, 0));
    b.send(0x8D, be32(synced));
    QCOMPARE(b.card.dataType(), 2); // a synchronised clock starts the stamped stream
    b.card.clearStreamLog();
    const QList<Frame> frames = b.run(100, 3);
    QCOMPARE(frames.size(), 20);
    for (int i = 0; i < frames.size(); ++i) {
        const SimStreamRecord &rec = b.card.streamLog()[i];
        QCOMPARE(frames[i].cmd, 2);
        QCOMPARE(frames[i].payload.left(4), be32(synced + quint32(rec.atMs - 1234)));
        QCOMPARE(be32(rec.timeStamp), frames[i].payload.left(4));
        QCOMPARE(i16(frames[i].payload, 4 + 6 * 5 + 4), int(rec.samples[5].z));
    }
}

void TestSimCard::findsCommandsInGarbledInput()
{
    Bench b;
    const QByteArray good = cardFrame(0x84);
    QByteArray bad = cardFrame(0x83, QByteArray(1, 1));
    bad[4] = char(bad[4] + 1);
    for (char c : QByteArray::fromHex("0011a500a501") + bad + good + QByteArray::fromHex("ff"))
        b.card.receive(QByteArray(1, c), b.now += 1);
    QCOMPARE(b.card.takeOutput(), cardFrame(0x84, QByteArray(1, 2)));

    // A false header announcing a long frame holds a real one back only until it goes stale.
    b.card.receive(QByteArray::fromHex("a540") + good, b.now += 1);
    QCOMPARE(b.run(400).size(), 0);
    QCOMPARE(b.run(200).size(), 1);
}

void TestSimCard::faultOptions()
{
    Bench b;
    b.card.setRefusedCodes({0x83, 0x81, 0x84});
    QCOMPARE(b.status(0x83, QByteArray(1, 4)), 1);
    QCOMPARE(b.card.freIndex(), 2);
    QCOMPARE(b.send(0x81)[0].payload, QByteArray(1, 1));
    QVERIFY(b.send(0x84).isEmpty()); // a lone 01 would read as index 1
    QCOMPARE(b.status(0x82, QByteArray(1, 1)), 0);

    b.card.setStreaming(true);
    b.card.setSilent(true);
    QVERIFY(b.send(0x82, QByteArray(1, 0)).isEmpty());
    QCOMPARE(b.card.dataType(), 1);
    QList<Frame> frames = b.run(1000);
    QCOMPARE(Bench::samples(frames), 50);
    QCOMPARE(frames.last().cmd, 1);

    b.card.setSilent(false);
    b.card.setStreaming(false);
    b.card.setReplyDelayMs(1500);
    b.card.receive(cardFrame(0x82, QByteArray(1, 0)), b.now);
    QCOMPARE(b.run(1499).size(), 0);
    b.card.setStreaming(true);
    frames = b.run(1000, 1);
    QCOMPARE(frames[0].cmd, 0x82);
    QCOMPARE(Bench::samples(frames), 50); // no burst for the time the stream was off
}

void TestSimCard::corruptionHitsAboutTheAskedShare_data()
{
    QTest::addColumn<double>("fraction");
    QTest::newRow("0.001") << 0.001;
    QTest::newRow("0.01") << 0.01;
    QTest::newRow("0.2") << 0.2;
}

void TestSimCard::corruptionHitsAboutTheAskedShare()
{
    QFETCH(double, fraction);
    SimCard clean(7), noisy(7);
    noisy.setCorruption(fraction);
    QByteArray a, b;
    for (qint64 t = 0; t <= 60000; t += 10) {
        for (SimCard *card : {&clean, &noisy}) {
            if (t % 1000 == 0)
                card->receive(cardFrame(0x84), t);
            card->advance(t);
        }
        a += clean.takeOutput();
        b += noisy.takeOutput();
    }
    QCOMPARE(b.size(), a.size());
    int differing = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        differing += a[i] != b[i];
    const double share = double(differing) / double(a.size());
    QVERIFY2(share > fraction * 0.75 && share < fraction * 1.25, qPrintable(QString::number(share)));
}

void TestSimCard::logMarksExactlyTheCorruptedFrames()
{
    SimCard clean(3), noisy(3);
    noisy.setCorruption(0.002);
    for (SimCard *card : {&clean, &noisy}) {
        card->setStreamLogEnabled(true);
        card->receive(cardFrame(0x83, QByteArray(1, 4)), 0);
    }
    QByteArray a, b;
    for (qint64 t = 0; t <= 30000; t += 10) {
        clean.advance(t);
        noisy.advance(t);
        a += clean.takeOutput();
        b += noisy.takeOutput();
    }
    // Walk the clean line frame by frame; the noisy line has the same frames at the same places.
    int sample = 0, marked = 0;
    for (qsizetype at = 0; at < a.size(); at += quint8(a[at + 1]) + 2) {
        const int length = quint8(a[at + 1]) + 2;
        if (quint8(a[at + 2]) > 2)
            continue;
        const bool differs = a.mid(at, length) != b.mid(at, length);
        QCOMPARE(noisy.streamLog().at(sample).corrupted, differs);
        QVERIFY(!clean.streamLog().at(sample).corrupted);
        marked += differs;
        ++sample;
    }
    QCOMPARE(sample, int(noisy.streamLog().size()));
    QVERIFY(marked > 10);
}

void TestSimCard::pressesReachFullScaleAndLightTouchesStayInside_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("demarcated") << 0;
    QTest::newRow("source") << 1;
}

// The plane view's colour saturates at m = |v| / 1.732 >= 1 and the vector view's arrow at
// 5 |Z| >= 5, with v the converted force / 1000 or the source value / 10000.
void TestSimCard::pressesReachFullScaleAndLightTouchesStayInside()
{
    QFETCH(int, type);
    Bench b(true, 3);
    b.card.setSensorCount(16);
    b.send(0x82, QByteArray(1, char(type)));
    b.run(240000, 50);

    QList<std::pair<double, double>> presses; // per press: largest m, largest share of both full scales
    bool inPress = false;
    double restMax = 0;
    for (const SimStreamRecord &rec : b.card.streamLog()) {
        double m = 0, full = 0;
        bool active = false;
        for (int i = 0; i < rec.samples.size(); ++i) {
            const SimSample &s = rec.samples[i];
            QVERIFY(qAbs(s.x) < 32000 && qAbs(s.y) < 32000 && qAbs(s.z) < 32000);
            const auto v = type == 0 ? converted(s.x, s.y, s.z) : std::array<double, 3>{s.x / 10.0, s.y / 10.0, s.z / 10.0};
            QVERIFY(qAbs(v[0]) < 32767 && qAbs(v[1]) < 32767 && qAbs(v[2]) < 32767);
            active = active || s.z - (type == 0 ? 0 : b.card.baseline(i).z) > 100;
            const double mi = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) / 1000 / 1.732;
            m = qMax(m, mi);
            full = qMax(full, qMin(mi, qAbs(v[2]) / 1000));
        }
        if (active && !inPress)
            presses.append({0, 0});
        if (active)
            presses.last() = {qMax(presses.last().first, m), qMax(presses.last().second, full)};
        else
            restMax = qMax(restMax, m);
        inPress = active;
    }
    QVERIFY2(presses.size() > 40, qPrintable(QString::number(presses.size())));
    const auto firm = std::count_if(presses.begin(), presses.end(), [](auto p) { return p.second >= 1; });
    const auto light = std::count_if(presses.begin(), presses.end(), [](auto p) { return p.first < 0.4; });
    QVERIFY2(firm >= presses.size() / 4 && light >= presses.size() / 4,
             qPrintable(QString("%1 firm, %2 light").arg(firm).arg(light)));
    QVERIFY2(restMax < 0.1, qPrintable(QString::number(restMax))); // the idle colour at rest
}

void TestSimCard::withoutPressesSourceDataSitsOnBaseline()
{
    Bench b(true);
    b.card.setPressing(false);
    b.send(0x83, QByteArray(1, 3));
    b.send(0x82, QByteArray(1, 1));
    b.card.clearStreamLog();
    b.run(5000);
    const auto &log = b.card.streamLog();
    QCOMPARE(log.size(), 500);
    for (int i = 0; i < SimCard::DefaultSensors; ++i) {
        double sum = 0;
        for (const SimStreamRecord &rec : log) {
            QVERIFY(qAbs(rec.samples[i].z - b.card.baseline(i).z) <= 4);
            sum += rec.samples[i].x;
        }
        QVERIFY(qAbs(sum / double(log.size()) - b.card.baseline(i).x) < 1.0);
    }
}

QTEST_GUILESS_MAIN(TestSimCard)
#include "tst_simcard.moc"
