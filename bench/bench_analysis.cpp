// The pressure analysis window: the GUI thread's CPU while the in-process simulated card streams
// 200 Hz x 16 sensors into it (only a frame counter connected, the window hidden, the window
// shown), and the export of a one-hour recording (720 000 rows of 16 sensors, made into a
// ReplayTable by the CSV parser). Run under xvfb-run or with QT_QPA_PLATFORM=offscreen:
//   bench_analysis [--seconds N per phase, default 20] [--shot FILE: screenshot of the window]
#include "analysisexport.h"
#include "replacingfile.h"
#include "analysiswindow.h"
#include "linkthread.h"
#include "recordformat.h"
#include "replaycsv.h"
#include "simloopbacklink.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr int Rows = 720000;
constexpr int Sensors = 16;

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Phase
{
    double cpuPercent = 0;
    double framesPerSecond = 0;
};

// Waits in a blocking event loop, as the tool does between frames, and measures this thread.
Phase measure(int seconds, const int &frames)
{
    const int framesBefore = frames;
    const double cpuBefore = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    return {100.0 * (threadCpuSeconds() - cpuBefore) / elapsed, double(frames - framesBefore) / elapsed};
}

// A press travelling over the array every two seconds, pushing sideways, in demarcated counts.
QList<Axit_t> pressFrame(int row)
{
    QList<Axit_t> frame(Sensors);
    const double t = row / 400.0;
    const double cx = 1.5 + 1.5 * std::cos(2 * M_PI * t), cy = 1.5 + 1.5 * std::sin(2 * M_PI * t);
    for (int s = 0; s < Sensors; ++s) {
        const double d2 = std::pow(s % 4 - cx, 2) + std::pow(s / 4 - cy, 2);
        const double z = 18000 * std::exp(-d2) * (0.6 + 0.4 * std::sin(row / 37.0)) + 40 * std::sin(row * 1.7 + s);
        frame[s] = Axit_t{int16_t(0.2 * z), int16_t(-0.1 * z), int16_t(z)};
    }
    return frame;
}

std::shared_ptr<const ReplayTable> hourRecording()
{
    ReplayParser parser;
    QByteArray chunk = recordHeader(Sensors);
    const uint start = 36000000;
    for (int row = 0; row < Rows; ++row) {
        appendRecordRow(chunk, start + uint(row) * 5, start, pressFrame(row));
        if (chunk.size() > (4 << 20) || row + 1 == Rows) {
            parser.feed(chunk.constData(), chunk.size());
            chunk.clear();
        }
    }
    return parser.finish().table;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    options.addOption({"seconds", "Seconds per CPU phase (default 20).", "n", "20"});
    options.addOption({"shot", "Save a screenshot of the window while it streams.", "file"});
    options.process(app);
    // The link's diagnostic lines would mix with the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    const int seconds = std::max(1, options.value("seconds").toInt());

    LinkThread<SimLoopbackLink> thread(3);
    SimLoopbackLink *link = thread.link;
    link->card().setSensorCount(Sensors);
    link->setOpen(true);
    int frames = 0;
    QObject counter;
    QObject::connect(link, qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive), &counter,
                     [&frames] { ++frames; });
    thread.start();
    QSignalSpy fre(link, &SlaveProtocol::sampleFreResult);
    QMetaObject::invokeMethod(link, [link] { link->setSampleFre(4, 3000); }); // 200 Hz
    if (!fre.wait(5000) || fre.first().at(1).toInt() != 0) {
        std::fprintf(stderr, "the simulated card did not take 200 Hz\n");
        return 1;
    }

    std::printf("GUI thread, %d s per phase, 200 Hz x %d sensors from the in-process card:\n", seconds, Sensors);
    const Phase base = measure(seconds, frames);
    std::printf("  frame counter only : %5.1f %% of a core, %.1f frames/s\n", base.cpuPercent, base.framesPerSecond);

    AnalysisWindow window;
    window.setSensorNum(Sensors);
    window.setDataMode(0);
    QObject::connect(link, SIGNAL(AxitReceive(QList<Axit_t>&,uint)), &window, SLOT(setItemData(QList<Axit_t>&,uint)));
    window.show();
    measure(1, frames); // the first show lays out and paints everything once
    window.hide();
    const Phase hidden = measure(seconds, frames);
    std::printf("  window hidden      : %5.1f %% (+%.1f), %.1f frames/s\n", hidden.cpuPercent,
                hidden.cpuPercent - base.cpuPercent, hidden.framesPerSecond);
    window.show();
    measure(1, frames);
    const Phase shown = measure(seconds, frames);
    std::printf("  window shown       : %5.1f %% (+%.1f), %.1f frames/s\n", shown.cpuPercent,
                shown.cpuPercent - base.cpuPercent, shown.framesPerSecond);
    if (options.isSet("shot")) {
        window.grab().save(options.value("shot"));
        std::printf("  saved %s\n", qPrintable(options.value("shot")));
    }
    QObject::disconnect(link, nullptr, &window, nullptr);
    window.hide();

    QElapsedTimer timer;
    timer.start();
    const std::shared_ptr<const ReplayTable> table = hourRecording();
    if (!table) {
        std::fprintf(stderr, "the recording did not parse\n");
        return 1;
    }
    std::printf("\nOne-hour recording: %lld rows made and parsed in %.1f s\n", qlonglong(table->rowCount()),
                double(timer.elapsed()) / 1000);
    QTemporaryDir dir;
    const QString target = dir.filePath("analysis.csv");
    timer.restart();
    const double cpuBefore = threadCpuSeconds();
    ReplacingFile file(target);
    const bool written = file.open()
                         && writeRecordingAnalysis(file, *table, contactShare(DefaultContactPercent)) == ExportResult::Written
                         && file.commit();
    std::printf("Export (rows computed, written, fsynced, renamed): %s in %.2f s wall, %.2f s CPU, %.1f MiB\n",
                written ? "done" : "FAILED", double(timer.elapsed()) / 1000, threadCpuSeconds() - cpuBefore,
                double(QFileInfo(target).size()) / (1024.0 * 1024.0));
    return written ? 0 : 1;
}
