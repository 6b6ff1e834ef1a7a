// Replaying a one-hour recording (200 Hz, 16 sensors, written by the record window's row
// formatter into a temporary folder): load time and memory, seek time, and the process's CPU
// while playing at 1x and 8x into the graph window with all 48 curves shown. Run under
// xvfb-run (or on a desktop).
//   bench_replay [seconds of playing per speed, default 20] [--keep FILE: write the file there]
#include "coordinatesystem.h"
#include "curvegraphic.h"
#include "framerouter.h"
#include "recordformat.h"
#include "replaycsv.h"
#include "replayplayer.h"
#include "replaywindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QMap>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int Rows = 720000;
constexpr int Sensors = 16;

QMap<QString, double> threadCpu()
{
    QMap<QString, double> out;
    const long ticks = sysconf(_SC_CLK_TCK);
    for (const QString &tid : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/self/task/" + tid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int open = line.indexOf('('), close = line.lastIndexOf(')');
        const QString name = QString::fromLatin1(line.mid(open + 1, close - open - 1));
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        out[name] += (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(ticks);
    }
    return out;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double peakRssMiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

double rssMiB()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One hour at 200 Hz, written in pieces so that making it costs no memory worth counting.
bool writeHour(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const uint start = timeOfDayMs(9, 5, 7, 42);
    f.write(recordHeader(Sensors));
    QByteArray chunk;
    QList<Axit_t> samples(Sensors);
    uint32_t seed = 12345;
    for (int i = 0; i < Rows; ++i) {
        for (Axit_t &a : samples) {
            seed = seed * 1103515245u + 12345u;
            a.x = int16_t(int(seed >> 16) % 22001 - 11000);
            a.y = int16_t(int(seed >> 8 & 0xFFFF) % 22001 - 11000);
            a.z = int16_t(int(seed & 0xFFFF) % 22001 - 11000);
        }
        appendRecordRow(chunk, start + uint(i) * 5, start, samples);
        if (chunk.size() > (1 << 20)) {
            f.write(chunk);
            chunk.clear();
        }
    }
    f.write(chunk);
    return f.error() == QFile::NoError;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int seconds = args.size() > 1 && args[1].toInt() > 0 ? args[1].toInt() : 20;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const int keep = int(args.indexOf("--keep"));
    const QString file = keep > 0 && keep + 1 < args.size() ? args[keep + 1] : dir.filePath("hour.csv");

    QElapsedTimer t;
    t.start();
    if (!writeHour(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
    }
    const double fileMiB = QFileInfo(file).size() / (1024.0 * 1024.0);
    std::printf("one hour: %d rows x %d sensors, %.1f MiB (%lld bytes), written in %.1f s\n", Rows, Sensors,
                fileMiB, QFileInfo(file).size(), t.elapsed() / 1000.0);

    {
        const double before = rssMiB();
        t.restart();
        const ReplayLoad load = readReplayFile(file);
        const double ms = t.nsecsElapsed() / 1e6;
        if (load.status != ReplayStatus::Ok) {
            std::fprintf(stderr, "not read: %s\n", qPrintable(replayErrorText(load)));
            return 1;
        }
        std::printf("reader alone:   %.0f ms (%.0f MiB/s); table %.1f MiB = %.2f x the file; RSS %.1f -> %.1f MiB, "
                    "peak %.1f MiB\n",
                    ms, fileMiB / (ms / 1000.0), load.table->memoryBytes() / (1024.0 * 1024.0),
                    load.table->memoryBytes() / (1024.0 * 1024.0) / fileMiB, before, rssMiB(), peakRssMiB());
    }

    {
        // A copy made while the file was written, or a crash, leaves a tail of zeros.
        const QString zeros = dir.filePath("zeros.csv");
        QFile::copy(file, zeros);
        QFile z(zeros);
        if (z.open(QIODevice::Append))
            z.write(QByteArray(1 << 20, '\0'));
        z.close();
        t.restart();
        const ReplayLoad load = readReplayFile(zeros);
        std::printf("the same file with 1 MiB of zeros after it: %.0f ms, %lld rows, last line left out: %s\n",
                    t.nsecsElapsed() / 1e6, load.table ? (long long)load.table->rowCount() : -1LL,
                    load.droppedLastLine ? "yes" : "no");
    }

    CurveGraphic graph;
    graph.setSensorNum(Sensors);
    graph.setGeometry(0, 0, graph.width(), graph.height());
    graph.show();
    auto *list = graph.findChild<QListWidget *>("sensorList");
    list->item(0)->setCheckState(Qt::Checked);
    emit list->itemClicked(list->item(0)); // all 48 curves
    ReplayWindow window;
    FrameRouter router(&graph);
    router.setReplay(&window);
    wait(1000);

    const double before = rssMiB();
    t.restart();
    if (!window.openFile(file, nullptr)) {
        std::fprintf(stderr, "the window did not open the file\n");
        return 1;
    }
    std::printf("window (worker thread, progress dialog): %.0f ms; RSS %.1f -> %.1f MiB, peak %.1f MiB\n",
                t.nsecsElapsed() / 1e6, before, rssMiB(), peakRssMiB());
    window.show();
    wait(500);

    // Seeks as a drag delivers them: the frame there goes to the graph window, which redraws.
    auto *slider = window.findChild<QSlider *>("sliderReplay");
    QList<double> seekMs;
    uint32_t seed = 7;
    for (int i = 0; i < 50; ++i) {
        seed = seed * 1103515245u + 12345u;
        t.restart();
        slider->setValue(int(seed % uint32_t(slider->maximum() + 1)));
        seekMs.append(t.nsecsElapsed() / 1e6);
        wait(20);
    }
    std::sort(seekMs.begin(), seekMs.end());
    std::printf("seek (frame delivered, plot and table redrawn): median %.1f ms, worst %.1f ms of 50\n",
                seekMs[seekMs.size() / 2], seekMs.last());

    auto *speed = window.findChild<QComboBox *>("comboReplaySpeed");
    for (const QString &rate : {QString("1x"), QString("8x")}) {
        speed->setCurrentText(rate);
        slider->setValue(0);
        window.player()->play();
        wait(1000);
        const double frames0 = graph.sampleCount();
        const qint64 position0 = window.player()->positionMs();
        const QMap<QString, double> threads0 = threadCpu();
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        wait(seconds * 1000);
        const double cpu = cpuSeconds() - cpu0;
        const double elapsed = wall.elapsed() / 1000.0;
        const double frames = graph.sampleCount() - frames0;
        const double recorded = (window.player()->positionMs() - position0) / 1000.0;
        window.player()->pause();
        std::printf("playing at %s for %.0f s, 48 curves, both views:\n", qPrintable(rate), elapsed);
        std::printf("  rows delivered      %.0f (%.0f per second; %.1f s of the recording, %.0f rows expected)\n",
                    frames, frames / elapsed, recorded, recorded * 200);
        std::printf("  CPU time            %.2f s = %.1f %% of one core\n", cpu, 100.0 * cpu / elapsed);
        const QMap<QString, double> threads = threadCpu();
        for (auto it = threads.begin(); it != threads.end(); ++it) {
            const double share = 100.0 * (it.value() - threads0.value(it.key())) / elapsed;
            if (share >= 0.5)
                std::printf("    thread %-16s %5.1f %% of one core\n", qPrintable(it.key()), share);
        }
    }
    std::printf("peak memory (RSS) %.1f MiB\n", peakRssMiB());
    return 0;
}
