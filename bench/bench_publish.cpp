// What publishing the live stream costs: 200 Hz x 16 sensors from the simulated card on a link
// thread, published to Debian's mosquitto on loopback and read back by a subscriber in this
// process. Prints the cost of one frame payload (by hand and through QJsonDocument), the
// latency from decode to arrival (median, 99th percentile), and the process's CPU with the
// publisher stopped and then started, in one run; the subscriber's own thread is left out.
// Run by hand: bench_publish [seconds per phase, default 20]
#include "curvemath.h"
#include "linkthread.h"
#include "mosquittobroker.h"
#include "mqttpublisher.h"
#include "simloopbacklink.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

qint64 realtimeUs()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

double processCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

QSet<QString> threadIds()
{
    const QStringList tasks = QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return QSet<QString>(tasks.cbegin(), tasks.cend());
}

// CPU of one thread (or, with "self", of another process) so far, in ms, from /proc (10 ms steps).
double statCpuMs(const QString &statPath)
{
    QFile stat(statPath);
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray s = stat.readAll();
    const QList<QByteArray> f = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return (f.value(11).toDouble() + f.value(12).toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

double threadsCpuMs(const QSet<QString> &tids)
{
    double sum = 0;
    for (const QString &tid : tids)
        sum += statCpuMs("/proc/self/task/" + tid + "/stat");
    return sum;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray qjsonPayload(const MqttFrame &f, const QList<Axit_t> &samples)
{
    QJsonArray raw, force;
    for (const Axit_t &a : samples) {
        const Axit_t v = curveSample(a, 0).value;
        raw << a.x << a.y << a.z;
        force << v.x << v.y << v.z;
    }
    QJsonObject o{{"seq", qint64(f.seq)}, {"host_ms", f.hostMs}, {"type", f.type}, {"n", int(samples.size())},
                  {"raw", raw}, {"force", force}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

double microsPerPayload(const std::function<QByteArray(quint64)> &make)
{
    const int n = 20000;
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer t;
        t.start();
        qsizetype bytes = 0;
        for (int i = 0; i < n; ++i)
            bytes += make(quint64(i)).size();
        best = std::min(best, double(t.nsecsElapsed()) / 1000.0 / n);
        if (bytes == 0)
            std::printf("?");
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 20;

    QList<Axit_t> samples;
    for (int s = 0; s < 16; ++s)
        samples.append(Axit_t{qint16(s * 1500 - 9000), qint16(-s * 700), qint16(s * 2000)});
    const double byHand = microsPerPayload([&](quint64 i) { return mqttFramePayload({i, 1767225600000, 0, 0}, samples, 16); });
    const double viaQJson = microsPerPayload([&](quint64 i) { return qjsonPayload({i, 1767225600000, 0, 0}, samples); });
    std::printf("frame payload, 16 sensors with force: by hand %.2f us, QJsonDocument compact %.2f us "
                "(and its keys come out sorted, not in the order required)\n",
                byHand, viaQJson);

    MosquittoBroker broker;
    if (!broker.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(broker.errorString()));
        return 1;
    }
    QSet<QString> before = threadIds();
    MqttSubscriber subscriber;
    if (!subscriber.subscribe(broker.port(), "bench/frames")) {
        std::fprintf(stderr, "the subscriber could not subscribe\n");
        return 1;
    }
    const QSet<QString> subscriberThreads = threadIds() - before;

    // Decode times to the microsecond, in the order the link delivered the frames; connected
    // before the publisher, so it runs first on every frame.
    std::vector<qint64> decodedUs;
    decodedUs.reserve(size_t(seconds) * 2 * 220 + 2000);
    LinkThread<SimLoopbackLink> thread(9);
    SimLoopbackLink *link = thread.link;
    link->card().setSensorCount(16);
    link->card().setStreamLogEnabled(false);
    link->setOpen(true);
    auto stamp = [&decodedUs] { decodedUs.push_back(realtimeUs()); };
    QObject::connect(link, qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive), link, stamp,
                     Qt::DirectConnection);
    MqttPublisher publisher;
    publisher.attach(link);
    publisher.linkOpened();
    before = threadIds();
    thread.start();
    QSet<QString> linkThreads = threadIds() - before;
    QMetaObject::invokeMethod(link, [link] { link->setSampleFre(4, 3000); });
    runFor(2000);

    const QString brokerStat = QString("/proc/%1/stat").arg(broker.processId());
    double cpu0 = processCpuMs(), link0 = threadsCpuMs(linkThreads), sub0 = threadsCpuMs(subscriberThreads),
           brk0 = statCpuMs(brokerStat);
    runFor(seconds * 1000);
    const double offCpu = processCpuMs() - cpu0, offLink = threadsCpuMs(linkThreads) - link0,
                 offSub = threadsCpuMs(subscriberThreads) - sub0, offBroker = statCpuMs(brokerStat) - brk0;

    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port();
    settings.topicPrefix = "bench";
    before = threadIds();
    publisher.start(settings);
    QEventLoop wait;
    QObject::connect(&publisher, &MqttPublisher::connectedChanged, &wait, &QEventLoop::quit);
    QTimer::singleShot(10000, &wait, &QEventLoop::quit);
    if (!publisher.isConnected())
        wait.exec();
    if (!publisher.isConnected()) {
        std::fprintf(stderr, "the publisher did not connect\n");
        return 1;
    }
    const QSet<QString> publisherThreads = threadIds() - before;
    runFor(1000);
    const int skip = subscriber.count();
    const quint64 published0 = publisher.published(), dropped0 = publisher.dropped();
    cpu0 = processCpuMs();
    link0 = threadsCpuMs(linkThreads);
    sub0 = threadsCpuMs(subscriberThreads);
    brk0 = statCpuMs(brokerStat);
    const double pub0 = threadsCpuMs(publisherThreads);
    runFor(seconds * 1000);
    const double onCpu = processCpuMs() - cpu0, onLink = threadsCpuMs(linkThreads) - link0,
                 onSub = threadsCpuMs(subscriberThreads) - sub0, onBroker = statCpuMs(brokerStat) - brk0,
                 onPub = threadsCpuMs(publisherThreads) - pub0;
    const quint64 published = publisher.published() - published0, dropped = publisher.dropped() - dropped0;
    publisher.stop();
    thread.link->withCard([](SimCard &card) { card.setStreaming(false); });
    runFor(500);

    std::vector<double> fromHostMs, fromDecode;
    const QList<MqttMessage> got = subscriber.messages("bench/frames");
    for (qsizetype i = skip; i < got.size(); ++i) {
        const QJsonObject o = QJsonDocument::fromJson(got[i].payload).object();
        const qint64 seq = o["seq"].toInteger();
        fromHostMs.push_back((got[i].arrivedUs - o["host_ms"].toInteger() * 1000) / 1000.0);
        if (seq >= 1 && size_t(seq) <= decodedUs.size())
            fromDecode.push_back((got[i].arrivedUs - decodedUs[size_t(seq - 1)]) / 1000.0);
    }
    auto percentile = [](std::vector<double> v, double p) {
        if (v.empty())
            return 0.0;
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
    };
    const double perSecond = 1000.0 * seconds; // ms of CPU per phase at 100 % of one core
    std::printf("latency over %zu frames: decode (host_ms) to arrival median %.2f ms, p99 %.2f ms; "
                "decode (us clock) to arrival median %.3f ms, p99 %.3f ms\n",
                fromDecode.size(), percentile(fromHostMs, 0.5), percentile(fromHostMs, 0.99),
                percentile(fromDecode, 0.5), percentile(fromDecode, 0.99));
    std::printf("while measured: published %llu, dropped %llu\n", (unsigned long long)published,
                (unsigned long long)dropped);
    std::printf("CPU, %% of one core, %d s each: process without the subscriber: off %.2f, on %.2f, "
                "added %.2f\n",
                seconds, 100.0 * (offCpu - offSub) / perSecond, 100.0 * (onCpu - onSub) / perSecond,
                100.0 * ((onCpu - onSub) - (offCpu - offSub)) / perSecond);
    std::printf("  link thread off %.2f, on %.2f; publisher's threads (libmosquitto, control) %.2f; "
                "subscriber thread %.2f; broker process off %.2f, on %.2f\n",
                100.0 * offLink / perSecond, 100.0 * onLink / perSecond, 100.0 * onPub / perSecond,
                100.0 * onSub / perSecond, 100.0 * offBroker / perSecond, 100.0 * onBroker / perSecond);
    return 0;
}
