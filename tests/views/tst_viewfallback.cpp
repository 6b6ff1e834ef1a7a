#include "coordinatesystem.h"
#include "glskip.h"
#include "debugcapture.h"
#include "planegraph.h"
#include "vectorgraph.h"

#include <QSignalSpy>
#include <QTest>

// Run with a context older than 4.5 (MESA_GL_VERSION_OVERRIDE=3.0): the views cannot resolve
// their functions and must say so once, stay blank and keep running.
class TestViewFallback : public QObject
{
    Q_OBJECT

private slots:
    void viewsWithoutTheirFunctionsLogOnceAndDrawNothing();
};

void TestViewFallback::viewsWithoutTheirFunctionsLogOnceAndDrawNothing()
{
    DebugCapture log;
    QWidget window;
    window.resize(700, 400);
    auto *vector = new VectorGraph(&window);
    vector->setGeometry(0, 0, 400, 400);
    auto *overlay = new CoordinateSystem(vector);
    overlay->setGeometry(40, 30, 100, 100);
    vector->setCoordinateSystem(overlay);
    auto *plane = new PlaneGraph(&window);
    plane->setGeometry(400, 0, 300, 400);
    vector->setSensorNum(16);
    plane->setSensorNum(16);
    vector->setVectors(QList<QVector3D>(16, QVector3D(1, 1, 1)));
    plane->setVectors(QList<QVector3D>(16, QVector3D(1, 1, 1)));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Let the views initialise and repaint a few times.
    QSignalSpy frames(plane, &QOpenGLWidget::frameSwapped);
    vector->setRunning(true);
    plane->setRunning(true);
    QTRY_VERIFY(frames.count() >= 3);
    if (!plane->isValid() || plane->isGlReady())
        SKIP_OR_FAIL_WITHOUT_GL("needs a context older than 4.5: run with MESA_GL_VERSION_OVERRIDE=3.0 under Mesa");
    QVERIFY(!vector->isGlReady());
    QVERIFY(!overlay->isGlReady());

    for (const char *name : {"VectorGraph", "PlaneGraph", "CoordinateSystem"}) {
        const QStringList lines = log.withPrefix(QLatin1String(name) + QLatin1Char(':'));
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().contains(QLatin1String("unavailable")));
    }
    // The start-up diagnostics still appear, once per view that writes them.
    QCOMPARE(log.lines().count(QStringLiteral("initializeGL")), 2);

    vector->setRunning(false);
    plane->setRunning(false);
}

QTEST_MAIN(TestViewFallback)
#include "tst_viewfallback.moc"
