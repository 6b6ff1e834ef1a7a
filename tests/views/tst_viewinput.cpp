#include "coordinatesystem.h"
#include "vectorgraph.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QVector2D>
#include <QWheelEvent>

// Mouse and wheel on a hidden vector view: no frame is drawn.
namespace {

void sendMouse(QWidget *w, QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void wheel(QWidget *w, int delta)
{
    QWheelEvent event(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

} // namespace

class TestViewInput : public QObject
{
    Q_OBJECT

private slots:
    void wheelMovesCameraWithinLimits();
    void dragTurnsAndPans_data();
    void dragTurnsAndPans();
};

void TestViewInput::wheelMovesCameraWithinLimits()
{
    VectorGraph view;
    QCOMPARE(view.cameraDistance(), -15);
    for (int i = 0; i < 20; ++i)
        wheel(&view, 120);
    QCOMPARE(view.cameraDistance(), -1);
    wheel(&view, -15);
    QCOMPARE(view.cameraDistance(), -2);
    for (int i = 0; i < 120; ++i)
        wheel(&view, -120);
    QCOMPARE(view.cameraDistance(), -100);
    wheel(&view, 0);
    QCOMPARE(view.cameraDistance(), -100);
}

void TestViewInput::dragTurnsAndPans_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QPointF>("move");
    QTest::addColumn<QVector2D>("turn"); // change of a (about X) and b (about Y), degrees
    QTest::addColumn<QVector2D>("pan");  // change of pan x and y

    // 30 px of a 300 px high view is a tenth of its height: about 12.4 degrees or 1.24 units.
    const float t = 12.426f, p = 1.2426f;
    QTest::newRow("left down turns about X") << int(Qt::LeftButton) << QPointF(0, 30) << QVector2D(t, 0) << QVector2D();
    QTest::newRow("left up") << int(Qt::LeftButton) << QPointF(0, -30) << QVector2D(-t, 0) << QVector2D();
    QTest::newRow("left right turns about Y") << int(Qt::LeftButton) << QPointF(30, 0) << QVector2D(0, t) << QVector2D();
    QTest::newRow("left left") << int(Qt::LeftButton) << QPointF(-30, 0) << QVector2D(0, -t) << QVector2D();
    QTest::newRow("right right pans +x") << int(Qt::RightButton) << QPointF(30, 0) << QVector2D() << QVector2D(p, 0);
    QTest::newRow("right down pans down") << int(Qt::RightButton) << QPointF(0, 30) << QVector2D() << QVector2D(0, -p);
    QTest::newRow("both buttons do both") << int(Qt::LeftButton | Qt::RightButton) << QPointF(30, -30)
                                          << QVector2D(-t, t) << QVector2D(p, p);
}

void TestViewInput::dragTurnsAndPans()
{
    QFETCH(int, buttons);
    QFETCH(QPointF, move);
    QFETCH(QVector2D, turn);
    QFETCH(QVector2D, pan);

    VectorGraph view;
    view.resize(400, 300);
    auto *overlay = new CoordinateSystem(&view);
    view.setCoordinateSystem(overlay);
    QCOMPARE(view.rotationX(), QVector3D(30, 0, 30));
    QCOMPARE(view.rotationY(), QVector3D(0, 30, 30));
    QCOMPARE(view.pan(), QVector3D(-0.8f, 0, 2.0f));

    // Press, two moves, release; the first button pressed opens the drag.
    const Qt::MouseButtons held(buttons);
    const Qt::MouseButton first = (held & Qt::LeftButton) ? Qt::LeftButton : Qt::RightButton;
    const QPointF from(170, 120);
    sendMouse(&view, QEvent::MouseButtonPress, from, first, held);
    sendMouse(&view, QEvent::MouseMove, from + move / 2, Qt::NoButton, held);
    sendMouse(&view, QEvent::MouseMove, from + move, Qt::NoButton, held);
    sendMouse(&view, QEvent::MouseButtonRelease, from + move, first, Qt::NoButton);

    const float a = 30 + turn.x(), b = 30 + turn.y();
    const QVector3D rx = view.rotationX(), ry = view.rotationY();
    QVERIFY2(qAbs(rx.x() - a) < 0.01f && rx.y() == 0 && rx.z() == rx.x(), qPrintable(QString::number(rx.x())));
    QVERIFY2(qAbs(ry.y() - b) < 0.01f && ry.x() == 0 && ry.z() == ry.y(), qPrintable(QString::number(ry.y())));
    QVERIFY(qAbs(view.pan().x() - (-0.8f + pan.x())) < 0.001f);
    QVERIFY(qAbs(view.pan().y() - pan.y()) < 0.001f);
    QCOMPARE(view.pan().z(), 2.0f);
    // The triad turns with the scene.
    QCOMPARE(overlay->rotationX(), rx);
    QCOMPARE(overlay->rotationY(), ry);

    // Moving with no button held changes nothing.
    const QVector3D panned = view.pan();
    sendMouse(&view, QEvent::MouseMove, QPointF(10, 10), Qt::NoButton, Qt::NoButton);
    QCOMPARE(view.rotationX(), rx);
    QCOMPARE(view.pan(), panned);
}

QTEST_MAIN(TestViewInput)
#include "tst_viewinput.moc"
