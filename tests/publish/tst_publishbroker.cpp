#include "curvemath.h"
#include "linkthread.h"
#include "mosquittobroker.h"
#include "mqttpublisher.h"
#include "simloopbacklink.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <cstdio>

namespace {

constexpr int LongWaitMs = 20000;

MqttSettings settingsFor(quint16 port, const QString &prefix = "tactilon")
{
    MqttSettings s;
    s.host = "127.0.0.1";
    s.port = port;
    s.topicPrefix = prefix;
    return s;
}

QJsonObject json(const MqttMessage &m)
{
    return QJsonDocument::fromJson(m.payload).object();
}

MqttMessage last(const MqttSubscriber &s, const QByteArray &topic = {})
{
    const QList<MqttMessage> m = s.messages(topic);
    return m.isEmpty() ? MqttMessage{} : m.constLast();
}

QJsonArray triples(const QList<SimSample> &samples, bool force)
{
    QJsonArray a;
    for (const SimSample &s : samples) {
        const Axit_t raw{s.x, s.y, s.z};
        const Axit_t v = force ? curveSample(raw, 0).value : raw;
        a << v.x << v.y << v.z;
    }
    return a;
}

// The simulated card with 16 sensors on a link thread of its own, streaming at 200 Hz into the
// publisher.
class CardStream
{
public:
    explicit CardStream(MqttPublisher &publisher)
    {
        link->card().setSensorCount(16);
        link->setOpen(true);
        publisher.attach(link);
        publisher.linkOpened();
        thread.start();
        SimLoopbackLink *l = link;
        QMetaObject::invokeMethod(l, [l] { l->setSampleFre(4, 3000); });
    }

    // Stops the card and returns every frame it sent; the link delivers them all.
    QList<SimStreamRecord> finish()
    {
        QList<SimStreamRecord> log;
        link->withCard([&log](SimCard &card) {
            card.setStreaming(false);
            log = card.streamLog();
        });
        return log;
    }

    LinkThread<SimLoopbackLink> thread{3};
    SimLoopbackLink *const link = thread.link;
};

} // namespace

class TestPublishBroker : public QObject
{
    Q_OBJECT

private slots:
    void publishesEveryFrameTheCardSent();
    void statusIsRetainedAndStopLeavesOffline();
    void framesCountedThroughAnOutage_data();
    void framesCountedThroughAnOutage();
    void stalledBrokerCostsFramesNotMemory();
};

void TestPublishBroker::publishesEveryFrameTheCardSent()
{
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub;
    QVERIFY(sub.subscribe(broker.port(), "lab/array/#"));
    MqttPublisher publisher;
    QVERIFY(publisher.start(settingsFor(broker.port(), "lab/array/")));
    QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected(), LongWaitMs);

    // Demarcated, then source, then time-stamped frames.
    const qint64 startMs = QDateTime::currentMSecsSinceEpoch();
    CardStream stream(publisher);
    const QByteArray frames = "lab/array/frames";
    QVERIFY(sub.waitForCount(300, frames, LongWaitMs));
    SimLoopbackLink *link = stream.link;
    QSignalSpy typeSet(link, &SlaveProtocol::DataTypeSetResult);
    QMetaObject::invokeMethod(link, "setInfoType", Q_ARG(uchar, 1), Q_ARG(int, 0));
    QTRY_COMPARE_WITH_TIMEOUT(typeSet.count(), 1, LongWaitMs);
    QVERIFY(sub.waitForCount(sub.count(frames) + 200, frames, LongWaitMs));
    QSignalSpy synced(link, &SlaveProtocol::timeStampSyncResult);
    QMetaObject::invokeMethod(link, [link] { link->timeStampSync(86400000u * 2 + 3600000u); });
    QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 1, LongWaitMs);
    QVERIFY(sub.waitForCount(sub.count(frames) + 300, frames, LongWaitMs));

    const QList<SimStreamRecord> sent = stream.finish();
    QTRY_COMPARE_WITH_TIMEOUT(publisher.published(), quint64(sent.size()), LongWaitMs);
    QVERIFY(sub.waitForCount(int(sent.size()), frames, LongWaitMs));
    const qint64 endMs = QDateTime::currentMSecsSinceEpoch();
    const QList<MqttMessage> got = sub.messages(frames);
    QCOMPARE(got.size(), sent.size());
    QCOMPARE(publisher.dropped(), quint64(0));

    QSet<int> types;
    for (int i = 0; i < sent.size(); ++i) {
        const SimStreamRecord &r = sent[i];
        const QJsonObject o = json(got[i]);
        QCOMPARE(o["seq"].toInteger(), qint64(i + 1));
        QVERIFY(!got[i].retained);
        QCOMPARE(o["type"].toInt(), int(r.type));
        types.insert(r.type);
        QCOMPARE(o["card_ms"].toInteger(-1), r.type == 2 ? qint64(r.timeStamp % 86400000u) : -1);
        QCOMPARE(o["n"].toInt(), 16);
        QCOMPARE(o["raw"].toArray(), triples(r.samples, false));
        QCOMPARE(o["force"].toArray(), r.type == 1 ? QJsonArray() : triples(r.samples, true));
        QVERIFY(o["host_ms"].toInteger() >= startMs && o["host_ms"].toInteger() <= endMs);
    }
    QCOMPARE(types, (QSet<int>{0, 1, 2}));

    // The link said 200 frames a second; once the stream stopped, none.
    double peak = 0;
    for (const MqttMessage &m : sub.messages("lab/array/status"))
        peak = qMax(peak, json(m)["rate_hz"].toDouble());
    QVERIFY2(peak > 100 && peak < 400, qPrintable(QString::number(peak)));
    QTRY_VERIFY_WITH_TIMEOUT(json(last(sub, "lab/array/status"))["rate_hz"] == 0.0, LongWaitMs);

    publisher.linkOpened();
    publisher.publishFrame({Axit_t{}}, 1, 0);
    QVERIFY(sub.waitForCount(got.size() + 1, frames));
    QCOMPARE(json(last(sub, frames))["seq"], 1);
}

void TestPublishBroker::statusIsRetainedAndStopLeavesOffline()
{
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber early;
    QVERIFY(early.subscribe(broker.port(), "tactilon/status"));
    MqttPublisher publisher;
    QSignalSpy connection(&publisher, &MqttPublisher::connectedChanged);
    // Every status seen here is one that a change sent.
    MqttSettings settings = settingsFor(broker.port());
    settings.statusIntervalMs = 3600000;
    QVERIFY(publisher.start(settings));
    QTRY_COMPARE_WITH_TIMEOUT(connection.count(), 1, LongWaitMs);
    QCOMPARE(connection.first().first(), true);

    for (int i = 0; i < 3; ++i)
        publisher.publishFrame(QList<Axit_t>(16, Axit_t{100, 200, 300}), 16, 2, 1000u * uint(i));
    publisher.setPort("/dev/ttyUSB0");
    publisher.linkOpened();
    publisher.setRecording(true);
    publisher.setExtraCounts({{"frames_decoded", 42}, {"checksum_errors", 1}});
    const QByteArray head = R"({"online":true,"port":"/dev/ttyUSB0","link":"open","type":2,"rate_hz":)";
    const QByteArray tail = R"(,"recording":true,"published":3,"dropped":0,"frames_decoded":42,"checksum_errors":1})";
    QTRY_VERIFY_WITH_TIMEOUT(last(early).payload.endsWith(tail), LongWaitMs);

    MqttSubscriber late;
    QVERIFY(late.subscribe(broker.port(), "tactilon/status"));
    QVERIFY(late.waitForCount(1));
    QVERIFY(last(late).retained);
    QVERIFY2(last(late).payload.startsWith(head) && last(late).payload.endsWith(tail), last(late).payload.constData());

    publisher.setLinkState(MqttLinkState::Lost);
    QTRY_VERIFY_WITH_TIMEOUT(json(last(early))["link"] == "lost", LongWaitMs);
    publisher.setExtraCount("outages", 1);
    QTRY_VERIFY_WITH_TIMEOUT(last(early).payload.endsWith(R"("checksum_errors":1,"outages":1})"), LongWaitMs);

    publisher.stop();
    QCOMPARE(connection.count(), 2);
    QCOMPARE(connection.last().first(), false);
    MqttSubscriber after;
    QVERIFY(after.subscribe(broker.port(), "tactilon/status"));
    QVERIFY(after.waitForCount(1));
    QCOMPARE(last(after).payload, QByteArray(R"({"online":false})"));
    QVERIFY(last(after).retained);
}

void TestPublishBroker::framesCountedThroughAnOutage_data()
{
    QTest::addColumn<bool>("upAtStart");
    QTest::newRow("broker stopped for 2 s mid-stream") << true;
    QTest::newRow("no broker at start") << false;
}

void TestPublishBroker::framesCountedThroughAnOutage()
{
    QFETCH(bool, upAtStart);
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub; // subscribes again by itself when the broker is back
    QVERIFY(sub.subscribe(broker.port(), "tactilon/frames"));
    if (!upAtStart)
        broker.stop();
    MqttPublisher publisher;
    QVERIFY(publisher.start(settingsFor(broker.port())));
    if (upAtStart)
        QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected(), LongWaitMs);
    CardStream stream(publisher);
    if (upAtStart) {
        QVERIFY(sub.waitForCount(200, {}, LongWaitMs));
        broker.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!publisher.isConnected(), LongWaitMs);
    }
    QTest::qWait(2000);
    QVERIFY(!publisher.isConnected());
    QVERIFY(publisher.dropped() > 0);
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected(), LongWaitMs);
    QVERIFY(sub.waitForCount(sub.count() + 200, {}, LongWaitMs));

    const QList<SimStreamRecord> sent = stream.finish();
    QTRY_COMPARE_WITH_TIMEOUT(publisher.published() + publisher.dropped(), quint64(sent.size()), LongWaitMs);
    QVERIFY(publisher.dropped() > 0);

    // What arrived is in order, each frame once and as the card sent it.
    qint64 previous = 0;
    for (const MqttMessage &m : sub.messages()) {
        const QJsonObject o = json(m);
        const qint64 seq = o["seq"].toInteger();
        QVERIFY2(seq > previous && seq <= sent.size(), qPrintable(QString("%1 after %2").arg(seq).arg(previous)));
        previous = seq;
        QCOMPARE(o["raw"].toArray(), triples(sent[seq - 1].samples, false));
    }
}

void TestPublishBroker::stalledBrokerCostsFramesNotMemory()
{
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttPublisher publisher;
    MqttSettings settings = settingsFor(broker.port());
    settings.maxQueued = 100;
    QVERIFY(publisher.start(settings));
    QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected(), LongWaitMs);

    // Far more than the socket buffers of both ends hold, so libmosquitto has to keep the rest.
    broker.pause();
    const QList<Axit_t> samples(16, Axit_t{-30000, 20000, -12345});
    const int frames = 40000;
    int maxQueued = 0;
    for (int i = 0; i < frames; ++i) {
        publisher.publishFrame(samples, 16, 0);
        maxQueued = qMax(maxQueued, publisher.queued());
    }
    QCOMPARE(publisher.published() + publisher.dropped(), quint64(frames));
    QVERIFY(publisher.dropped() > 0);
    QVERIFY2(maxQueued <= settings.maxQueued, qPrintable(QString::number(maxQueued)));

    // The messages libmosquitto held go with the connection; the next one starts with none waiting.
    broker.stop();
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected(), LongWaitMs);
    // (In a slow build a frame may still meet the new connection's own start-up: another follows.)
    const quint64 published = publisher.published();
    QTRY_VERIFY_WITH_TIMEOUT((publisher.publishFrame(samples, 16, 0), publisher.published() > published), LongWaitMs);

    // The goodbye cannot get through a stalled broker; stop() gives up waiting instead of hanging.
    broker.pause();
    for (int i = 0; i < frames; ++i)
        publisher.publishFrame(samples, 16, 0);
    QElapsedTimer clock;
    clock.start();
    publisher.stop();
    // A hang bound only: stop() waits MqttPublisher::StopWaitMs at most.
    QVERIFY2(clock.elapsed() < 5 * MqttPublisher::StopWaitMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!publisher.isConnected());
    broker.resume();
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TestPublishBroker test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_publishbroker.moc"
