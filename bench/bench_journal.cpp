// Cost of the recording journal on the GUI thread at 200 Hz with 16 sensors, journal off against
// on in one run: two record windows record the same frames, one without and one with a journal.
// Prints the time per row through setItemData (best of 5 tight loops each), the GUI thread's CPU
// per second spent in each window's row path at the real pace, and the journal writer thread's CPU.
// Run by hand: bench_journal [seconds at the real pace, default 20]
#include "fakelink.h"
#include "recordwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// CPU of the thread with this name so far, in ms (from /proc, 10 ms steps).
double namedThreadCpuMs(const QByteArray &name)
{
    const QStringList tasks = QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tasks) {
        QFile comm("/proc/self/task/" + tid + "/comm");
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name)
            continue;
        QFile stat("/proc/self/task/" + tid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray s = stat.readAll();
        const QList<QByteArray> f = s.mid(s.lastIndexOf(')') + 2).split(' ');
        return (f.value(11).toDouble() + f.value(12).toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    }
    return -1;
}

QList<Axit_t> frame(int i)
{
    QList<Axit_t> samples;
    for (int s = 0; s < 16; ++s)
        samples.append(Axit_t{qint16(i % 2000 - 1000), qint16(-s * 37), qint16((i * 7 + s) % 30000)});
    return samples;
}

bool start(RecordWindow &w)
{
    w.findChild<QPushButton *>("btnRecordStart")->click();
    return QTest::qWaitFor([&w] { return w.recordingState() == 1; }, 5000);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 20;
    constexpr int TightRows = 40000;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    QThread thread;
    auto *link = new FakeLink;
    link->setOpen(true);
    link->onSend = [](FakeLink *l, const QByteArray &f) { l->feed(cardFrame(uint8_t(f.at(2)), QByteArray(1, '\0'))); };
    link->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, link, &QObject::deleteLater);
    thread.start();

    RecordWindow off;
    off.setLink(link);
    RecordWindow on;
    on.setLink(link);
    on.setJournalFolder(dir.filePath("journals"));
    // One start reaches both windows: the answer goes to every window on the link.
    if (!start(on) || off.recordingState() != 1 || on.journalPath().isEmpty()) {
        std::fprintf(stderr, "recording did not start\n");
        return 1;
    }
    const uint t0 = uint(QTime::currentTime().msecsSinceStartOfDay());
    QList<QList<Axit_t>> frames;
    for (int i = 0; i < 200; ++i)
        frames.append(frame(i));

    uint stamp = t0;
    double bestOff = 1e18, bestOn = 1e18;
    for (int round = 0; round < 5; ++round) {
        for (RecordWindow *w : {&off, &on}) {
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < TightRows; ++i)
                w->session()->setItemData(frames[i % 200], 16, stamp + uint(i) * 5);
            double &best = w == &off ? bestOff : bestOn;
            best = std::min(best, double(clock.nsecsElapsed()) / TightRows);
        }
        stamp += TightRows * 5;
        QTest::qWait(300); // the writer catches up between rounds
    }

    int i = 0;
    qint64 offNs = 0, onNs = 0;
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pace, &QTimer::timeout, &app, [&] {
        const uint ts = stamp + uint(i) * 5;
        // Every other frame the other window goes first, so neither always meets a cold cache.
        RecordWindow *first = i % 2 ? &on : &off;
        RecordWindow *second = i % 2 ? &off : &on;
        const qint64 a = threadCpuNs();
        first->session()->setItemData(frames[i % 200], 16, ts);
        const qint64 b = threadCpuNs();
        second->session()->setItemData(frames[i % 200], 16, ts);
        const qint64 c = threadCpuNs();
        (first == &off ? offNs : onNs) += b - a;
        (second == &off ? offNs : onNs) += c - b;
        ++i;
    });
    const double writer0 = namedThreadCpuMs("journal writer");
    QElapsedTimer clock;
    clock.start();
    pace.start(5);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    pace.stop();
    const double elapsed = clock.elapsed() / 1000.0;
    const double writerMsPerS = (namedThreadCpuMs("journal writer") - writer0) / elapsed;

    std::printf("16 sensors; best of 5 loops of %d rows each, then %d s at 200 Hz (%d rows)\n", TightRows, seconds, i);
    std::printf("row path, journal off: %.0f ns per row; %.3f ms GUI-thread CPU per s\n", bestOff, offNs / 1e6 / elapsed);
    std::printf("row path, journal on:  %.0f ns per row; %.3f ms GUI-thread CPU per s\n", bestOn, onNs / 1e6 / elapsed);
    std::printf("journal on the GUI thread: %+.0f ns per row, %+.3f ms CPU per s; writer thread %.2f ms CPU per s\n",
                bestOn - bestOff, (onNs - offNs) / 1e6 / elapsed, writerMsPerS);
    on.findChild<QPushButton *>("btnRecordStop")->click();
    if (!QTest::qWaitFor([&on] { return on.recordingState() == 0; }, 5000))
        std::fprintf(stderr, "the card did not answer the stop\n");
    thread.quit();
    thread.wait();
    return 0;
}
