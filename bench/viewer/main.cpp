// Shows the three OpenGL views as the graph window arranges them, with a sensor count and
// force vectors from the command line; can save screenshots and time the repaints.

#include "coordinatesystem.h"
#include "planegraph.h"
#include "vectorgraph.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFont>
#include <QMouseEvent>
#include <QPainterPath>
#include <QSplitter>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace {

bool parseVector(const QString &text, QVector3D *out)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3)
        return false;
    float v[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toFloat(&ok);
        if (!ok)
            return false;
    }
    *out = QVector3D(v[0], v[1], v[2]);
    return true;
}

double medianMs(int runs, const std::function<void()> &work)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.append(t.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows the Tactilon OpenGL views."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("sensors"), QStringLiteral("Sensor count (default 6)."), QStringLiteral("n"), QStringLiteral("6")});
    parser.addOption({QStringLiteral("vector"),
                      QStringLiteral("Force vector x,y,z of the next sensor; repeat for each sensor."),
                      QStringLiteral("x,y,z")});
    parser.addOption({QStringLiteral("size"), QStringLiteral("Window size (default 1000x500)."), QStringLiteral("WxH"),
                      QStringLiteral("1000x500")});
    parser.addOption({QStringLiteral("drag"),
                      QStringLiteral("Left-drag the vector view by dx,dy pixels before showing it."),
                      QStringLiteral("dx,dy")});
    parser.addOption({QStringLiteral("shots"),
                      QStringLiteral("Save <prefix>-vector.png, -plane.png, -triad.png and -window.png here, then quit."),
                      QStringLiteral("folder")});
    parser.addOption({QStringLiteral("prefix"), QStringLiteral("File name prefix of the shots."), QStringLiteral("name"),
                      QStringLiteral("views")});
    parser.addOption({QStringLiteral("bench"), QStringLiteral("Time this many repaints of each view, print the medians, quit."),
                      QStringLiteral("runs")});
    parser.process(app);

    QList<QVector3D> vectors;
    for (const QString &text : parser.values(QStringLiteral("vector"))) {
        QVector3D v;
        if (!parseVector(text, &v)) {
            QTextStream(stderr) << "not a vector x,y,z: " << text << '\n';
            return 2;
        }
        vectors.append(v);
    }
    const int sensors = parser.value(QStringLiteral("sensors")).toInt();
    const QStringList size = parser.value(QStringLiteral("size")).split(QLatin1Char('x'));
    const int width = size.value(0).toInt(), height = size.value(1).toInt();
    if (sensors < 1 || sensors > 16 || width < 200 || height < 150) {
        QTextStream(stderr) << "sensors must be 1..16 and the size at least 200x150\n";
        return 2;
    }

    QSplitter window(Qt::Horizontal);
    window.setWindowTitle(QStringLiteral("Tactilon views"));
    auto *vectorGraph = new VectorGraph;
    auto *planeGraph = new PlaneGraph;
    window.addWidget(vectorGraph);
    window.addWidget(planeGraph);
    window.setSizes({width * 2 / 3, width / 3});
    auto *coordinateSystem = new CoordinateSystem(vectorGraph);
    coordinateSystem->setGeometry(40, 30, 100, 100);
    vectorGraph->setCoordinateSystem(coordinateSystem);
    vectorGraph->setSensorNum(sensors);
    planeGraph->setSensorNum(sensors);
    vectorGraph->setVectors(vectors);
    planeGraph->setVectors(vectors);
    window.resize(width, height);

    if (parser.isSet(QStringLiteral("drag"))) {
        const QStringList d = parser.value(QStringLiteral("drag")).split(QLatin1Char(','));
        const QPointF from(vectorGraph->width() / 2.0, vectorGraph->height() / 2.0);
        const QPointF to = from + QPointF(d.value(0).toDouble(), d.value(1).toDouble());
        QMouseEvent press(QEvent::MouseButtonPress, from, from, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, to, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, to, to, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(vectorGraph, &press);
        QApplication::sendEvent(vectorGraph, &move);
        QApplication::sendEvent(vectorGraph, &release);
    }

    window.show();
    vectorGraph->setRunning(true);
    planeGraph->setRunning(true);

    const bool shots = parser.isSet(QStringLiteral("shots"));
    const bool bench = parser.isSet(QStringLiteral("bench"));
    if (!shots && !bench)
        return app.exec();

    int status = 0;
    QTimer::singleShot(500, &app, [&] {
        QTextStream out(stdout);
        if (!vectorGraph->isGlReady() || !planeGraph->isGlReady() || !coordinateSystem->isGlReady()) {
            QTextStream(stderr) << "no usable OpenGL context: the views are blank\n";
            status = 1;
        }
        if (shots) {
            const QDir dir(parser.value(QStringLiteral("shots")));
            QDir().mkpath(dir.path());
            const QString prefix = parser.value(QStringLiteral("prefix"));
            const QList<std::pair<QString, QImage>> images = {
                {QStringLiteral("vector"), vectorGraph->grabFramebuffer()},
                {QStringLiteral("plane"), planeGraph->grabFramebuffer()},
                {QStringLiteral("triad"), coordinateSystem->grabFramebuffer()},
                {QStringLiteral("window"), window.grab().toImage()}};
            for (const auto &[name, image] : images) {
                const QString file = dir.filePath(prefix + QLatin1Char('-') + name + QStringLiteral(".png"));
                if (!image.save(file)) {
                    QTextStream(stderr) << "cannot write " << file << '\n';
                    status = 1;
                } else {
                    out << file << '\n';
                }
            }
        }
        if (bench) {
            const int runs = std::max(1, parser.value(QStringLiteral("bench")).toInt());
            vectorGraph->setRunning(false);
            planeGraph->setRunning(false);
            out << QStringLiteral("sensors %1, vectors %2, vector view %3x%4, plane view %5x%6\n")
                       .arg(sensors).arg(vectors.size()).arg(vectorGraph->width()).arg(vectorGraph->height())
                       .arg(planeGraph->width()).arg(planeGraph->height());
            out << QStringLiteral("median of %1 renders with read-back (grabFramebuffer), ms:\n").arg(runs);
            out << "  vector view  " << medianMs(runs, [&] { vectorGraph->grabFramebuffer(); }) << '\n';
            out << "  plane view   " << medianMs(runs, [&] { planeGraph->grabFramebuffer(); }) << '\n';
            out << "  triad        " << medianMs(runs, [&] { coordinateSystem->grabFramebuffer(); }) << '\n';
            out << QStringLiteral("median of %1 outline builds of \"15\" at 5 pt, ms:\n").arg(runs);
            out << "  uncached     " << medianMs(runs, [] {
                QPainterPath path;
                path.addText(0, 0, QFont(QStringLiteral("Microsoft YaHei UI"), 5), QStringLiteral("15"));
                path.toSubpathPolygons(QTransform());
            }) << '\n';
            out << "  cached       " << medianMs(runs, [] { textLoops(QVector3D(), QStringLiteral("15"), 5); }) << '\n';
        }
        app.exit(status);
    });
    return app.exec();
}
