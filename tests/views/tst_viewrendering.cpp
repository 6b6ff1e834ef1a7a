#include "coordinatesystem.h"
#include "glskip.h"
#include "planegraph.h"
#include "vectorgraph.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QMatrix4x4>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <functional>
#include <memory>

// Rendered frames under Xvfb/Mesa: pixels whose colour the views fix, at positions projected
// here with the views' projection (45 degrees, near 0.001, far 100).
namespace {

enum Look { Idle, Red, Pink, White, Black, Yellow, NotYellow };

bool looks(const QColor &c, Look look)
{
    auto near = [&](int r, int g, int b) {
        return qAbs(c.red() - r) <= 2 && qAbs(c.green() - g) <= 2 && qAbs(c.blue() - b) <= 2;
    };
    switch (look) {
    case Idle: return near(230, 230, 230);
    case Red: return near(230, 0, 0);
    case Pink: return near(230, 115, 115);
    case White: return near(255, 255, 255);
    case Black: return c.red() < 20 && c.green() < 20 && c.blue() < 20;
    case Yellow: return c.red() > 180 && c.green() > 180 && c.blue() < 80;
    case NotYellow: return !looks(c, Yellow);
    }
    return false;
}

// Box faces are shaded between the colour and 0.2 less, so only the hue is fixed.
bool looksLikeBox(const QColor &c, bool colourA)
{
    if (colourA) // (255, 97, 0)
        return c.red() > 150 && c.green() > 25 && c.green() < 120 && c.blue() < 40;
    return c.blue() > 120 && c.red() < 130 && c.red() > c.green() && c.blue() > c.red() + 50; // (106, 90, 205)
}

QColor pixelAt(const QImage &image, const QMatrix4x4 &modelView, const QVector3D &p)
{
    QMatrix4x4 projection;
    projection.perspective(45.0f, float(image.width()) / image.height(), 0.001f, 100.0f);
    const QVector3D win = p.project(modelView, projection, image.rect());
    return image.pixelColor(int(std::floor(win.x())), int(std::floor(image.height() - win.y())));
}

void sendMouseTo(QWidget *w, QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

QString rgb(const QColor &c)
{
    return QStringLiteral("(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

const char noContext[] = "no OpenGL 4.5 context under this display (the views need Mesa or a driver "
                        "with a compatibility profile)";

// Shows the view and renders one frame; false when the view got no usable context.
template<class View>
bool showAndRender(View *view, QImage *image)
{
    view->show();
    if (!QTest::qWaitForWindowExposed(view))
        return false;
    *image = view->grabFramebuffer();
    return view->isGlReady();
}

#define RENDER_OR_SKIP(view, image)                                                                 \
    if (!showAndRender(view, &image))                                                               \
        SKIP_OR_FAIL_WITHOUT_GL(noContext);

} // namespace

using Probes = QList<QPair<QVector3D, int>>; // scene point relative to a top-face centre, Look

class TestViewRendering : public QObject
{
    Q_OBJECT

private slots:
    void planeViewPaintsPanelAndCells_data();
    void planeViewPaintsPanelAndCells();
    void vectorViewShowsBoxesAndArrows_data();
    void vectorViewShowsBoxesAndArrows();
    void triadIsCentredAndFollowsRotation_data();
    void triadIsCentredAndFollowsRotation();
    void overlayStaysInBottomLeftCorner();
    void runningViewsRepaintWhatChangedUntilStopped();
    void viewsLookAsTheirReferenceImages_data();
    void viewsLookAsTheirReferenceImages();
};

void TestViewRendering::planeViewPaintsPanelAndCells_data()
{
    QTest::addColumn<int>("sensorNum");
    QTest::addColumn<QList<QVector3D>>("vectors");
    QTest::addColumn<QList<QPoint>>("cells"); // (column, row) of a cell position
    QTest::addColumn<QList<int>>("expected");  // Look at its centre

    const QVector3D red(1, 1, 1), half(0, 0, 0.866f);
    QTest::newRow("six along a U") << 6 << QList<QVector3D>{{}, half, {}, red, {}, -half}
                                   << QList<QPoint>{{0, 0}, {1, 0}, {2, 0}, {2, 1}, {1, 1}, {0, 1}}
                                   << QList<int>{Idle, Pink, Idle, Red, Idle, Pink};
    QTest::newRow("six with five vectors") << 6 << QList<QVector3D>(5, red) << QList<QPoint>{{2, 1}, {1, 1}, {0, 1}}
                                           << QList<int>{Red, Red, White};
    QTest::newRow("sixteen with five vectors")
        << 16 << QList<QVector3D>{{}, red, {}, QVector3D(0.1f, 0, 0), QVector3D(2, 2, 2)}
        << QList<QPoint>{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {1, 1}, {3, 3}}
        << QList<int>{Idle, Red, Idle, Idle, Red, White, White};
    QTest::newRow("no frame yet") << 6 << QList<QVector3D>() << QList<QPoint>{{0, 0}} << QList<int>{White};
}

void TestViewRendering::planeViewPaintsPanelAndCells()
{
    QFETCH(int, sensorNum);
    QFETCH(QList<QVector3D>, vectors);
    QFETCH(QList<QPoint>, cells);
    QFETCH(QList<int>, expected);

    PlaneGraph view;
    view.resize(300, 400);
    view.setSensorNum(sensorNum);
    view.setVectors(vectors);
    QImage image;
    RENDER_OR_SKIP(&view, image);

    QMatrix4x4 mv;
    mv.translate(0, 0, -15);
    // Panel 6.18 x 10, margins 0.8 and 1.29, gap 0.3.
    const float cw = sensorNum == 6 ? 3.98f / 3 : 3.68f / 4, ch = sensorNum == 6 ? 6.52f / 2 : 6.52f / 4;
    for (int k = 0; k < cells.size(); ++k) {
        const QVector3D centre(-2.29f + cells[k].x() * (cw + 0.3f) + cw / 2, 3.71f - cells[k].y() * (ch + 0.3f) - ch / 2, 0.1f);
        const QColor got = pixelAt(image, mv, centre);
        QVERIFY2(looks(got, Look(expected[k])),
                 qPrintable(QStringLiteral("cell (%1, %2): %3").arg(cells[k].x()).arg(cells[k].y()).arg(rgb(got))));
    }
    QVERIFY(looks(pixelAt(image, mv, QVector3D(0, -4.8f, 0)), White));
    QVERIFY(looks(pixelAt(image, mv, QVector3D(3.4f, 0, 0)), Black));
}

void TestViewRendering::vectorViewShowsBoxesAndArrows_data()
{
    QTest::addColumn<int>("sensorNum");
    QTest::addColumn<QList<QVector3D>>("vectors");
    QTest::addColumn<int>("wheelSteps"); // camera steps outwards
    QTest::addColumn<int>("box");        // the box the probes are relative to
    QTest::addColumn<Probes>("probes");

    QList<QVector3D> sixteen(6);
    sixteen[3] = QVector3D(0.005f, 0, 0);
    sixteen[5] = QVector3D(0, 0, 0.8f);
    QTest::newRow("sixteen: checkerboard, one arrow up, none for tiny or missing forces")
        << 16 << sixteen << 0 << 5
        << Probes{{{0, 1, 0}, Yellow}, {{0, 3.5f, 0}, Yellow}, {{0, 5, 0}, Black},
                  {{-3, 2, -1.5f}, NotYellow}, {{1.5f, 2, 0}, NotYellow}, {{3, 2, 0}, NotYellow}};
    // In a U, box 3 stands at the front right, under box 2.
    QTest::newRow("six: U, arrow from box 3") << 6 << QList<QVector3D>{{}, {}, {}, QVector3D(0, 0, 0.6f)} << 0 << 3
                                              << Probes{{{0, 1.5f, 0}, Yellow}, {{-3, 1.5f, 0}, NotYellow}};
    QTest::newRow("three: X force lies along -X") << 3 << QList<QVector3D>{QVector3D(0.4f, 0, 0)} << 0 << 0
                                                  << Probes{{{-1.2f, 0, 0}, Yellow}, {{-3, 0, 0}, Black}, {{0, 1, 0}, NotYellow}};
    QTest::newRow("three: -2 in Z is clamped to 5 up") << 3 << QList<QVector3D>{{}, QVector3D(0, 0, -2)} << 10 << 1
                                                       << Probes{{{0, 4.5f, 0}, Yellow}, {{0, 6.5f, 0}, Black}};
}

void TestViewRendering::vectorViewShowsBoxesAndArrows()
{
    QFETCH(int, sensorNum);
    QFETCH(QList<QVector3D>, vectors);
    QFETCH(int, wheelSteps);
    QFETCH(int, box);
    QFETCH(Probes, probes);

    VectorGraph view;
    view.resize(640, 480);
    view.setSensorNum(sensorNum);
    view.setVectors(vectors);
    for (int i = 0; i < wheelSteps; ++i) {
        QWheelEvent out(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                        Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &out);
    }
    QImage image;
    RENDER_OR_SKIP(&view, image);

    QMatrix4x4 mv;
    mv.translate(0, 0, float(view.cameraDistance()));
    mv.rotate(30, 1, 0, 0);
    mv.rotate(30, 0, 1, 0);
    mv.translate(-0.8f, 0, 2.0f);
    // Top-face centres from the layout rules: a U of six, else rows of four.
    auto topCentre = [&](int i) {
        if (sensorNum == 6)
            return QVector3D(-1.5f + QList<int>{0, 1, 2, 2, 1, 0}[i] * 1.5f, 0.75f, i < 3 ? -0.75f : 0.75f);
        const float x0 = sensorNum < 4 ? -0.75f * sensorNum : -3.0f;
        const float z0 = sensorNum < 4 ? -0.75f : -0.75f * ((sensorNum + 3) / 4);
        return QVector3D(x0 + (i % 4) * 1.5f + 0.75f, 0.75f, z0 + (i / 4) * 1.5f + 0.75f);
    };
    for (int i = 0; i < sensorNum; ++i) {
        // Towards the front edge of the top face, clear of the standing label.
        const QColor got = pixelAt(image, mv, topCentre(i) + QVector3D(0, 0, 0.45f));
        const bool colourA = sensorNum == 6 ? i % 2 == 0 : ((i % 4) + (i / 4)) % 2 == 0;
        QVERIFY2(looksLikeBox(got, colourA), qPrintable(QStringLiteral("box %1: %2").arg(i).arg(rgb(got))));
    }
    for (const auto &probe : probes) {
        const QColor got = pixelAt(image, mv, topCentre(box) + probe.first);
        QVERIFY2(looks(got, Look(probe.second)),
                 qPrintable(QStringLiteral("(%1, %2, %3) from box %4: %5")
                                .arg(probe.first.x()).arg(probe.first.y()).arg(probe.first.z()).arg(box).arg(rgb(got))));
    }
}

void TestViewRendering::triadIsCentredAndFollowsRotation_data()
{
    QTest::addColumn<float>("a");
    QTest::addColumn<float>("b");
    QTest::addColumn<QPoint>("side"); // where the green Z axis (towards the viewer at rest) ends up
    QTest::newRow("initial 30, 30: down right") << 30.0f << 30.0f << QPoint(1, 1);
    QTest::newRow("+60 about X: down") << 60.0f << 0.0f << QPoint(0, 1);
    QTest::newRow("-60 about X: up") << -60.0f << 0.0f << QPoint(0, -1);
    QTest::newRow("+60 about Y: right") << 0.0f << 60.0f << QPoint(1, 0);
    QTest::newRow("-60 about Y: left") << 0.0f << -60.0f << QPoint(-1, 0);
}

void TestViewRendering::triadIsCentredAndFollowsRotation()
{
    QFETCH(float, a);
    QFETCH(float, b);
    QFETCH(QPoint, side);

    CoordinateSystem triad;
    triad.resize(100, 100);
    QImage image;
    RENDER_OR_SKIP(&triad, image);
    const QImage initial = image;
    triad.setRotationX(QVector3D(a, 0, a));
    triad.setRotationY(QVector3D(0, b, b));
    image = triad.grabFramebuffer();
    QCOMPARE(image != initial, a != 30 || b != 30);

    int lit = 0, greens = 0;
    double gx = 0, gy = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            lit += !looks(c, Black);
            if (c.green() > 150 && c.red() < 100 && c.blue() < 100) {
                ++greens;
                gx += x - 49.5;
                gy += y - 49.5;
            }
        }
    }
    QVERIFY2(lit > 150 && greens > 10, qPrintable(QStringLiteral("%1 lit, %2 green").arg(lit).arg(greens)));
    // The axes meet at the origin, which a square view keeps in the middle.
    QVERIFY(!looks(image.pixelColor(49, 49), Black) || !looks(image.pixelColor(50, 50), Black));
    auto matches = [](double offset, int sign) { return sign == 0 ? qAbs(offset) < 3 : offset * sign > 5; };
    QVERIFY2(matches(gx / greens, side.x()) && matches(gy / greens, side.y()),
             qPrintable(QStringLiteral("green around (%1, %2)").arg(gx / greens).arg(gy / greens)));
}

void TestViewRendering::overlayStaysInBottomLeftCorner()
{
    // The view sits away from its parent's origin; the overlay belongs in the view's own corner.
    QWidget parent;
    parent.resize(600, 500);
    auto *view = new VectorGraph(&parent);
    view->setGeometry(50, 40, 400, 300);
    auto *overlay = new CoordinateSystem(view);
    overlay->setGeometry(40, 30, 100, 100);
    view->setCoordinateSystem(overlay);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QTRY_COMPARE(overlay->geometry(), QRect(0, 200, 100, 100));
    view->resize(420, 360);
    QTRY_COMPARE(overlay->geometry(), QRect(0, 260, 100, 100));
}

void TestViewRendering::runningViewsRepaintWhatChangedUntilStopped()
{
    QWidget window;
    window.resize(700, 400);
    auto *vector = new VectorGraph(&window);
    vector->setGeometry(0, 0, 400, 400);
    auto *overlay = new CoordinateSystem(vector);
    overlay->setGeometry(40, 30, 100, 100);
    vector->setCoordinateSystem(overlay);
    auto *plane = new PlaneGraph(&window);
    plane->setGeometry(400, 0, 300, 400);
    vector->setSensorNum(6);
    plane->setSensorNum(6);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    vector->grabFramebuffer();
    if (!vector->isGlReady())
        SKIP_OR_FAIL_WITHOUT_GL(noContext);

    QSignalSpy vectorFrames(vector, &QOpenGLWidget::frameSwapped);
    QSignalSpy overlayFrames(overlay, &QOpenGLWidget::frameSwapped);
    QSignalSpy planeFrames(plane, &QOpenGLWidget::frameSwapped);
    auto frames = [&] { return QList<qsizetype>{vectorFrames.count(), overlayFrames.count(), planeFrames.count()}; };
    // Frames already requested may still arrive under load; waits until nothing more comes.
    auto settled = [&] {
        QList<qsizetype> last;
        for (int i = 0; i < 30 && last != frames(); ++i) {
            last = frames();
            QTest::qWait(150);
        }
        return last == frames() ? last : QList<qsizetype>();
    };
    vector->setRunning(true);
    plane->setRunning(true);
    QVERIFY(vector->isRunning() && plane->isRunning());
    QCOMPARE(vector->updateTimer()->interval(), 30);
    QCOMPARE(plane->updateTimer()->interval(), 30);

    // Nothing changes on screen: after the frames already due, the views stay still.
    const QList<qsizetype> idle = settled();
    QVERIFY(!idle.isEmpty());
    QTest::qWait(200);
    QCOMPARE(frames(), idle);

    // A force that shows: the vector view and the plane view draw it.
    QList<QVector3D> pressed(6);
    pressed[2] = QVector3D(0, 0, 1);
    vector->setVectors(pressed);
    plane->setVectors(pressed);
    QTRY_VERIFY(vectorFrames.count() > idle[0] && planeFrames.count() > idle[2]);
    const QList<qsizetype> afterPress = settled();
    // A change too small to show anywhere draws nothing.
    pressed[4] = QVector3D(0.001f, 0, 0);
    vector->setVectors(pressed);
    plane->setVectors(pressed);
    QTest::qWait(200);
    QCOMPARE(frames(), afterPress);
    // A turned triad is drawn again.
    overlay->setRotationX(QVector3D(50, 0, 50));
    QTRY_VERIFY(overlayFrames.count() > afterPress[1]);

    vector->setRunning(false);
    plane->setRunning(false);
    QVERIFY(!vector->isRunning() && !plane->isRunning());
    const QList<qsizetype> stopped = settled();
    pressed[0] = QVector3D(1, 1, 1);
    vector->setVectors(pressed);
    plane->setVectors(pressed);
    overlay->setRotationX(QVector3D(70, 0, 70));
    QTest::qWait(200);
    QCOMPARE(frames(), stopped);
}

void TestViewRendering::viewsLookAsTheirReferenceImages_data()
{
    QTest::addColumn<QString>("scene");
    for (const char *scene : {"vector-sixteen", "vector-six-from-below-behind", "vector-three-near", "triad-rest",
                              "triad-turned", "plane-six", "plane-sixteen"})
        QTest::newRow(scene) << QString(scene);
}

// Whole frames against images rendered by this build on Mesa's software renderer: arrowheads
// and their direction, cones, outline text, colours, shading and every face of the boxes.
// Edges may differ by a few stray pixels between machines, nothing more. After an intended
// change of the look: TACTILON_UPDATE_REFERENCE=1 writes the images anew.
void TestViewRendering::viewsLookAsTheirReferenceImages()
{
    QFETCH(QString, scene);
    // Forces along every axis and both senses, flat ones lying on the top faces.
    const QList<QVector3D> forces{{0.4f, 0, 0},     {0, 0.4f, 0},      {0, 0, 0.5f},  {-0.3f, -0.3f, 0.2f},
                                  {0.2f, -0.4f, 0}, {0, 0, -0.8f},     {-0.5f, 0, 0}, {0, -0.5f, 0.1f},
                                  {0.3f, 0.3f, 0.3f}, {2, 0, 0},       {0, 0, 0.05f}, {-0.2f, 0.4f, 0.6f},
                                  {0.1f, 0.1f, 0},  {0, 0.3f, -0.3f}, {0.6f, 0.6f, 0}, {0, 0, 2}};
    QImage image;
    std::unique_ptr<QOpenGLWidget> view;
    std::function<bool()> ready;
    if (scene.startsWith("vector")) {
        auto *vector = new VectorGraph;
        view.reset(vector);
        ready = [vector] { return vector->isGlReady(); };
        vector->resize(640, 480);
        const int sensors = scene.contains("sixteen") ? 16 : scene.contains("six") ? 6 : 3;
        vector->setSensorNum(sensors);
        vector->setVectors(forces.mid(0, sensors));
        if (scene.contains("below")) { // turned about 160 degrees about X and 100 about Y
            sendMouseTo(vector, QEvent::MouseButtonPress, {0, 0}, Qt::LeftButton, Qt::LeftButton);
            sendMouseTo(vector, QEvent::MouseMove, {387, 619}, Qt::NoButton, Qt::LeftButton);
            sendMouseTo(vector, QEvent::MouseButtonRelease, {387, 619}, Qt::LeftButton, Qt::NoButton);
        }
        for (int i = 0; scene.contains("near") && i < 7; ++i) {
            QWheelEvent in(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                           Qt::NoScrollPhase, false);
            QApplication::sendEvent(vector, &in);
        }
    } else if (scene.startsWith("triad")) {
        auto *triad = new CoordinateSystem;
        view.reset(triad);
        ready = [triad] { return triad->isGlReady(); };
        triad->resize(160, 160);
        if (scene.contains("turned")) {
            triad->setRotationX(QVector3D(-70, 0, -70));
            triad->setRotationY(QVector3D(0, 130, 130));
        }
    } else {
        auto *plane = new PlaneGraph;
        view.reset(plane);
        ready = [plane] { return plane->isGlReady(); };
        plane->resize(300, 400);
        const int sensors = scene.contains("sixteen") ? 16 : 6;
        plane->setSensorNum(sensors);
        plane->setVectors(forces.mid(0, sensors));
    }
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    image = view->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    if (!ready())
        SKIP_OR_FAIL_WITHOUT_GL(noContext);

    const QString reference = QStringLiteral(TACTILON_VIEW_REFERENCES "/%1.png").arg(scene);
    if (qEnvironmentVariableIntValue("TACTILON_UPDATE_REFERENCE") == 1) {
        QVERIFY(image.save(reference));
        return;
    }
    const QImage expected = QImage(reference).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(image.size(), expected.size());
    int differing = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor a = image.pixelColor(x, y), b = expected.pixelColor(x, y);
            differing += qMax(qAbs(a.red() - b.red()), qMax(qAbs(a.green() - b.green()), qAbs(a.blue() - b.blue()))) > 24;
        }
    const int allowed = qMax(20, image.width() * image.height() / 2000);
    if (differing > allowed)
        image.save(QDir::temp().filePath(scene + "-actual.png"));
    QVERIFY2(differing <= allowed, qPrintable(QStringLiteral("%1 pixels differ from %2 (at most %3; the frame is in %4)")
                                                  .arg(differing).arg(reference).arg(allowed)
                                                  .arg(QDir::temp().filePath(scene + "-actual.png"))));
}

QTEST_MAIN(TestViewRendering)
#include "tst_viewrendering.moc"
