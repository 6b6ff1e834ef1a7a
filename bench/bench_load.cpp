// The whole tool under load: the simulated card (its own process) streams 200 Hz with 16
// sensors; the tool shows the graph window with every curve checked. Prints the tool's CPU time
// per second of wall time and its peak memory. Run under xvfb-run (or on a desktop).
//   bench_load [seconds, default 60] [--sensors=N] [--rate=HZ] [--graph-hidden] [--views-off]
//              [--no-curves] [--all-paints]
#include "coordinatesystem.h"
#include "curvegraphic.h"
#include "planegraph.h"
#include "vectorgraph.h"
#include "mainwindow.h"
#include "mycurvegraphic.h"
#include "myserialport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <QFile>
#include <QMap>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// CPU seconds of every thread of this process, by thread name.
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

long peakRssKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Waits the way the tool's own event loop does: blocked until an event comes. A loop of
// processEvents calls would spin the GUI thread and count its own spinning as the tool's.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Counts what the graph window asks of the display: every update request of the top-level
// window is one composition of the whole window, and every paint of a child one redraw.
class RepaintCounter : public QObject
{
public:
    QMap<QString, long> counts;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::UpdateRequest)
            ++counts["window compositions"];
        else if (event->type() == QEvent::Paint)
            ++counts[QString("paints of ") + watched->metaObject()->className() + " " + watched->objectName()];
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    // For a breakdown: --views-off stops the two OpenGL views' repaints, --no-curves leaves
    // every curve unchecked.
    const QStringList options = QCoreApplication::arguments().mid(2);
    const bool viewsOff = options.contains("--views-off");
    const bool noCurves = options.contains("--no-curves");
    // For the scaling table: how many sensors, which rate, and the graph window not opened.
    const bool graphHidden = options.contains("--graph-hidden");
    int sensors = 16, rate = 200;
    for (const QString &o : options) {
        if (o.startsWith("--sensors="))
            sensors = o.mid(10).toInt();
        else if (o.startsWith("--rate="))
            rate = o.mid(7).toInt();
    }
    const int rateIndex = QList<int>{10, 20, 50, 100, 200}.indexOf(rate);
    if (sensors < 1 || sensors > 16 || rateIndex < 0) {
        std::fprintf(stderr, "--sensors takes 1..16, --rate one of 10 20 50 100 200\n");
        return 2;
    }

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString link = dir.filePath("card");
    QProcess card;
    card.start(TACTILON_SIM, {"--sensors", QString::number(sensors), "--link", link});
    if (!card.waitForReadyRead(5000)) {
        std::fprintf(stderr, "the simulated card did not start\n");
        return 1;
    }
    qputenv("TACTILON_EXTRA_PORTS", link.toLocal8Bit());

    // Settings results pop up message boxes; answer them as a user would.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
    });
    answer.start(50);

    MainWindow w;
    w.show();
    auto *ports = w.findChild<QComboBox *>("SerialPortSelect");
    ports->setCurrentIndex(ports->findText(link));
    w.findChild<QAbstractButton *>("btnSerialOpen")->click();
    spin(1000);
    if (!w.deviceLink()->isPortOpen()) {
        std::fprintf(stderr, "could not open the card's port\n");
        return 1;
    }
    auto *count = w.findChild<QLineEdit *>("lineSensorSum");
    count->setText(QString::number(sensors));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(count, &enter);
    w.findChild<QComboBox *>("SampleFreSelect")->setCurrentIndex(rateIndex);
    if (!graphHidden)
        w.findChild<QAbstractButton *>("btnGraphic")->click();
    auto *list = w.graphWindow()->findChild<QListWidget *>("sensorList");
    if (!noCurves && !graphHidden) {
        list->item(0)->setCheckState(Qt::Checked);
        emit list->itemClicked(list->item(0));
    }
    if (viewsOff) {
        w.graphWindow()->vectorGraph()->setRunning(false);
        w.graphWindow()->planeGraph()->setRunning(false);
    }
    spin(2000); // settle: window mapped, histories filling

    RepaintCounter repaints;
    w.graphWindow()->installEventFilter(&repaints);
    for (QWidget *child : {static_cast<QWidget *>(w.graphWindow()->plot()), static_cast<QWidget *>(w.graphWindow()->vectorGraph()),
                           static_cast<QWidget *>(w.graphWindow()->planeGraph()),
                           static_cast<QWidget *>(w.graphWindow()->coordinateSystem())})
        child->installEventFilter(&repaints);
    if (options.contains("--all-paints"))
        for (QWidget *child : w.graphWindow()->findChildren<QWidget *>())
            child->installEventFilter(&repaints);

    const double frames0 = w.graphWindow()->sampleCount();
    const QMap<QString, double> threads0 = threadCpu();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    spin(seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = wall.elapsed() / 1000.0;
    const double frames = w.graphWindow()->sampleCount() - frames0;

    if (graphHidden)
        std::printf("tool under load: %d sensors at %d Hz, graph window hidden, %.0f s\n", sensors, rate, elapsed);
    else
        std::printf("tool under load: %d sensors at %d Hz, graph window with %s curves%s, %.0f s\n", sensors, rate,
                    noCurves ? "no" : QByteArray::number(3 * sensors).constData(),
                    viewsOff ? ", OpenGL views not repainted" : "", elapsed);
    std::printf("  frames taken         %.0f (%.1f per second)\n", frames, frames / elapsed);
    std::printf("  CPU time             %.2f s = %.1f %% of one core\n", cpu, 100.0 * cpu / elapsed);
    std::printf("  peak memory (RSS)    %.1f MiB\n", peakRssKiB() / 1024.0);
    for (auto it = repaints.counts.begin(); it != repaints.counts.end(); ++it)
        std::printf("  %-30s %.1f per second\n", qPrintable(it.key()), it.value() / elapsed);
    const QMap<QString, double> threads = threadCpu();
    for (auto it = threads.begin(); it != threads.end(); ++it) {
        const double share = 100.0 * (it.value() - threads0.value(it.key())) / elapsed;
        if (share >= 0.5)
            std::printf("    thread %-16s %5.1f %% of one core\n", qPrintable(it.key()), share);
    }
    w.close();
    card.terminate();
    card.waitForFinished(3000);
    return 0;
}
