// The graph window's 30 ms refresh with 16 sensors, all 48 curves shown and full 1000-point
// histories, at the form's default size: median and worst of one refresh over many ticks.
// With --shots DIR it also saves screenshots of the window fed with synthetic presses.
// Run under Xvfb: xvfb-run -a -s "-screen 0 1920x1080x24" bench_graph [--shots DIR]
#include "coordinatesystem.h"
#include "curvegraphic.h"
#include "mycurvegraphic.h"
#include "planegraph.h"
#include "vectorgraph.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

// Every sensor is pressed and released every 120 frames, each a little later than the one
// before, pushing sideways as it goes; values are the card's demarcated readings.
QList<Axit_t> pressFrame(int frame, int sensors)
{
    QList<Axit_t> list;
    for (int s = 0; s < sensors; ++s) {
        const double phase = 2 * M_PI * (frame / 120.0 - double(s) / sensors);
        const double bump = std::pow(std::max(0.0, std::sin(phase)), 2);
        const double strength = 0.5 + 0.5 * (s + 1) / sensors;
        const double noise = std::sin(frame * 1.7 + s * 2.3);
        Axit_t a;
        a.x = int16_t(5000 * strength * bump * std::cos(phase) + 60 * noise);
        a.y = int16_t(-4000 * strength * bump * std::sin(0.5 * phase + s) + 50 * noise);
        a.z = int16_t(20000 * strength * bump + 80 * noise);
        list.append(a);
    }
    return list;
}

void feed(CurveGraphic &w, int first, int count, int sensors)
{
    for (int n = first; n < first + count; ++n) {
        QList<Axit_t> list = pressFrame(n, sensors);
        w.setItemData(list, uint(sensors));
    }
}

void clickRow(CurveGraphic &w, int row, bool checked)
{
    auto *list = w.findChild<QListWidget *>(QStringLiteral("sensorList"));
    list->item(row)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    emit list->itemClicked(list->item(row));
}

// Less disturbed than wall time when the machine is shared.
double threadCpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double percentile(QList<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min<qsizetype>(v.size() - 1, qsizetype(p * (v.size() - 1) + 0.5))];
}

void saveShot(CurveGraphic &w, int sensors, const QList<int> &checkedRows, const QString &file,
              const QString &polylines)
{
    if (!polylines.isEmpty())
        w.plot()->setPlottingHint(QCP::phFastPolylines, polylines == QLatin1String("fast"));
    w.setSensorNum(uint(sensors));
    for (int row : checkedRows)
        clickRow(w, row, true);
    feed(w, 0, 1400, sensors);
    w.refreshPlot();
    QTest::qWait(200); // the views paint on their own 30 ms timers
    w.grab().save(file);
    // Three times enlarged, the left of the plot shows how the wide lines are joined.
    const QImage plot = w.plot()->grab().toImage();
    QString zoomFile = file;
    zoomFile.replace(QStringLiteral(".png"), QStringLiteral("-zoom.png"));
    plot.copy(60, 20, 200, 130).scaled(600, 390, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(zoomFile);
    std::printf("saved %s\n", qPrintable(file));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("shots"), QStringLiteral("Save screenshots to this folder."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("views-off"),
                      QStringLiteral("Stop the OpenGL views' repaints while timing (for profiling).")});
    parser.addOption({QStringLiteral("polylines"),
                      QStringLiteral("Override the plot's line drawing: fast (segment by segment) or plain "
                                     "(one polyline per curve)."),
                      QStringLiteral("fast|plain")});
    parser.addOption({QStringLiteral("ticks"), QStringLiteral("Refreshes to time (default 300)."),
                      QStringLiteral("n"), QStringLiteral("300")});
    parser.process(app);
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });

    const QString polylines = parser.value(QStringLiteral("polylines"));
    if (parser.isSet(QStringLiteral("shots"))) {
        const QString dir = parser.value(QStringLiteral("shots"));
        QDir().mkpath(dir);
        struct Shot
        {
            int sensors;
            QList<int> rows;
            const char *name;
        };
        const QList<Shot> shots{{6, {1, 3, 6}, "graph6"},
                                {16, {0}, "graph16-all"},
                                {16, {2, 9, 16}, "graph16-some"}};
        for (const Shot &shot : shots) {
            CurveGraphic w;
            w.show();
            if (!QTest::qWaitForWindowExposed(&w))
                return 1;
            w.setStopped(false);
            const QString suffix = polylines.isEmpty() ? QString() : QLatin1Char('-') + polylines;
            saveShot(w, shot.sensors, shot.rows,
                     dir + QLatin1Char('/') + QLatin1String(shot.name) + suffix + QStringLiteral(".png"), polylines);
        }
        return 0;
    }

    const int ticks = std::max(1, parser.value(QStringLiteral("ticks")).toInt());
    CurveGraphic w;
    w.setSensorNum(16);
    clickRow(w, 0, true);
    feed(w, 0, 1000, 16);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w)) {
        std::fprintf(stderr, "window not exposed\n");
        return 1;
    }
    // The bench drives the refreshes itself, one per tick.
    const_cast<QTimer *>(w.refreshTimer())->stop();
    if (parser.isSet(QStringLiteral("views-off"))) {
        w.vectorGraph()->setRunning(false);
        w.planeGraph()->setRunning(false);
    }
    w.setStopped(false);
    w.refreshPlot();
    QTest::qWait(100);

    MyCurveGraphic *plot = w.plot();
    if (!polylines.isEmpty())
        plot->setPlottingHint(QCP::phFastPolylines, polylines == QLatin1String("fast"));
    auto *table = w.findChild<QTableView *>(QStringLiteral("SensorTable"));
    QList<double> refresh, refreshCpu, painted;
    for (int i = 0; i < ticks; ++i) {
        feed(w, 1000 + i, 1, 16);
        QElapsedTimer t;
        const double cpu0 = threadCpuMs();
        t.start();
        w.refreshPlot();
        refresh.append(t.nsecsElapsed() / 1e6);
        refreshCpu.append(threadCpuMs() - cpu0);
        plot->repaint();
        table->viewport()->repaint();
        painted.append(t.nsecsElapsed() / 1e6);
        QCoreApplication::processEvents();
    }
    std::printf("graph window %dx%d, plot %dx%d, 16 sensors, 48 curves of %lld points, %d ticks, "
                "fast polylines %s\n",
                w.width(), w.height(), plot->width(), plot->height(),
                static_cast<long long>(plot->graph(0)->dataCount()), ticks,
                plot->plottingHints().testFlag(QCP::phFastPolylines) ? "on" : "off");
    std::printf("refresh (table, setData, replot): median %.2f ms, p90 %.2f ms, worst %.2f ms\n",
                percentile(refresh, 0.5), percentile(refresh, 0.9), percentile(refresh, 1.0));
    const auto worst = std::max_element(refreshCpu.begin(), refreshCpu.end());
    std::printf("refresh, CPU time of the GUI thread: median %.2f ms, p90 %.2f ms, worst %.2f ms (tick %lld)\n",
                percentile(refreshCpu, 0.5), percentile(refreshCpu, 0.9), *worst,
                static_cast<long long>(worst - refreshCpu.begin()));
    std::printf("refresh + paint of plot and table: median %.2f ms, p90 %.2f ms, worst %.2f ms\n",
                percentile(painted, 0.5), percentile(painted, 0.9), percentile(painted, 1.0));
    return 0;
}
