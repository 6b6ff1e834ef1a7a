// Cost of the recording journal on the GUI thread at 200 Hz with 16 sensors, journal off and on in
// one run: time per row through the record window's setItemData (a tight loop of rows), and the GUI
// thread's and the whole process's CPU while frames come at the real pace for some seconds.
// Run by hand: bench_journal [seconds per pace run, default 20] [rows per tight loop, default 200000]
#include "fakelink.h"
#include "recordwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace {

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double processCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

QList<Axit_t> frame(int i)
{
    QList<Axit_t> samples;
    for (int s = 0; s < 16; ++s)
        samples.append(Axit_t{qint16(i % 2000 - 1000), qint16(-s * 37), qint16((i * 7 + s) % 30000)});
    return samples;
}

struct Result
{
    double nsPerRow = 0;
    double guiCpuPerSecond = 0;     // ms of GUI-thread CPU per second of recording
    double processCpuPerSecond = 0; // ms of process CPU per second
};

Result measure(FakeLink *link, const QString &journalFolder, int seconds, int rows)
{
    Result r;
    RecordWindow window;
    window.setLink(link);
    if (!journalFolder.isEmpty())
        window.setJournalFolder(journalFolder);
    window.findChild<QPushButton *>("btnRecordStart")->click();
    if (!QTest::qWaitFor([&window] { return window.recordingState() == 1; }, 5000)) {
        std::fprintf(stderr, "recording did not start\n");
        std::exit(1);
    }
    const uint start = uint(QTime::currentTime().msecsSinceStartOfDay());
    QList<QList<Axit_t>> frames;
    for (int i = 0; i < 200; ++i)
        frames.append(frame(i));

    // Tight loop: the row path alone.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < rows; ++i)
        window.setItemData(frames[i % 200], 16, start + uint(i) * 5);
    r.nsPerRow = double(clock.nsecsElapsed()) / rows;
    QTest::qWait(300); // let the writer catch up before the paced run

    // The real pace: one frame every 5 ms, as the link delivers them.
    int i = 0;
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pace, &QTimer::timeout, &window, [&] {
        window.setItemData(frames[i % 200], 16, start + uint(rows + i) * 5);
        ++i;
    });
    const double gui0 = threadCpuMs(), proc0 = processCpuMs();
    clock.restart();
    pace.start(5);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    pace.stop();
    const double elapsed = clock.elapsed() / 1000.0;
    r.guiCpuPerSecond = (threadCpuMs() - gui0) / elapsed;
    r.processCpuPerSecond = (processCpuMs() - proc0) / elapsed;
    window.findChild<QPushButton *>("btnRecordStop")->click();
    // Its answer must not reach the next window.
    QTest::qWaitFor([&window] { return window.recordingState() == 0; }, 5000);
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 20;
    const int rows = argc > 2 ? atoi(argv[2]) : 200000;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    QThread thread;
    auto *link = new FakeLink;
    link->setOpen(true);
    link->onSend = [](FakeLink *l, const QByteArray &f) {
        l->feed(cardFrame(uint8_t(f.at(2)), QByteArray(1, '\0')));
    };
    link->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, link, &QObject::deleteLater);
    thread.start();

    const Result off = measure(link, QString(), seconds, rows);
    const Result on = measure(link, dir.filePath("journals"), seconds, rows);
    std::printf("16 sensors; tight loop of %d rows, then %d s at 200 Hz\n", rows, seconds);
    std::printf("journal off: %.0f ns per row; GUI thread %.2f ms CPU per s; process %.2f ms CPU per s\n",
                off.nsPerRow, off.guiCpuPerSecond, off.processCpuPerSecond);
    std::printf("journal on:  %.0f ns per row; GUI thread %.2f ms CPU per s; process %.2f ms CPU per s\n",
                on.nsPerRow, on.guiCpuPerSecond, on.processCpuPerSecond);
    std::printf("journal cost: %+.0f ns per row on the GUI thread; %+.2f ms CPU per s on the GUI thread, %+.2f ms in all\n",
                on.nsPerRow - off.nsPerRow, on.guiCpuPerSecond - off.guiCpuPerSecond,
                on.processCpuPerSecond - off.processCpuPerSecond);
    thread.quit();
    thread.wait();
    return 0;
}
