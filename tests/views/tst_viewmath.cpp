#include "viewmath.h"

#include <QTest>
#include <cmath>

class TestViewMath : public QObject
{
    Q_OBJECT

private slots:
    void forceColourRunsFromGreyToRed_data();
    void forceColourRunsFromGreyToRed();
    void displayVectorMapsClampsAndHidesSmallForces_data();
    void displayVectorMapsClampsAndHidesSmallForces();
    void planeCellsFormAUForSixAndRowsOfFourOtherwise();
    void boxesStandCentredInAUOrACheckerboard();
    void arrowHeadPointsAlongItsDirection_data();
    void arrowHeadPointsAlongItsDirection();
    void pointerMappingGivesUsefulDeltasAndKeepsDirections();
    void textStandsUprightAboveItsPosition();
};

void TestViewMath::forceColourRunsFromGreyToRed_data()
{
    QTest::addColumn<QVector3D>("force");
    QTest::addColumn<int>("green"); // red is always 230, blue equals green
    QTest::newRow("zero") << QVector3D() << 230;
    QTest::newRow("length 0.17 is below the threshold") << QVector3D(0.17f, 0, 0) << 230;
    QTest::newRow("just above the threshold") << QVector3D(0, 0.18f, 0) << 206;
    QTest::newRow("half") << QVector3D(0, 0, 0.866f) << 115;
    QTest::newRow("half, negative") << QVector3D(0, 0, -0.866f) << 115;
    QTest::newRow("(1,1,1)") << QVector3D(1, 1, 1) << 0;
    QTest::newRow("longer saturates") << QVector3D(5, -7, 3) << 0;
    QTest::newRow("NaN shows idle") << QVector3D(std::nanf(""), 0, 0) << 230;
}

void TestViewMath::forceColourRunsFromGreyToRed()
{
    QFETCH(QVector3D, force);
    QFETCH(int, green);
    QCOMPARE(forceColour(force), QColor(230, green, green));
}

void TestViewMath::displayVectorMapsClampsAndHidesSmallForces_data()
{
    QTest::addColumn<QVector3D>("force");
    QTest::addColumn<QVector3D>("display");
    QTest::newRow("length 0.005 shows nothing") << QVector3D(0.003f, 0.004f, 0) << QVector3D();
    QTest::newRow("length 0.01 shows nothing") << QVector3D(0, 0, 0.01f) << QVector3D();
    QTest::newRow("X force along -X") << QVector3D(0.4f, 0, 0) << QVector3D(-2, 0, 0);
    QTest::newRow("Y force along -Z") << QVector3D(0, 0.4f, 0) << QVector3D(0, 0, -2);
    QTest::newRow("negative Z points up, clamped") << QVector3D(0, 0, -2) << QVector3D(0, 5, 0);
    QTest::newRow("each component clamped") << QVector3D(-3, 2, 0.5f) << QVector3D(5, 2.5f, -5);
}

void TestViewMath::displayVectorMapsClampsAndHidesSmallForces()
{
    QFETCH(QVector3D, force);
    QFETCH(QVector3D, display);
    const QVector3D got = displayVector(force);
    QVERIFY2((got - display).length() < 1e-5f, qPrintable(QStringLiteral("(%1, %2, %3)").arg(got.x()).arg(got.y()).arg(got.z())));
}

// Positions are checked on rendered frames; here the sizes and the limits.
void TestViewMath::planeCellsFormAUForSixAndRowsOfFourOtherwise()
{
    const CellSize six = planeCellSize(6), other = planeCellSize(16);
    QCOMPARE(qRound(six.width * 1000), 1327);
    QCOMPARE(qRound(six.height * 1000), 3260);
    QCOMPARE(qRound(other.width * 100), 92);
    QCOMPARE(qRound(other.height * 100), 163);
    const QList<QPointF> u = planeCellCorners(6, 6, six);
    QVERIFY(u[3].x() == u[2].x() && u[5].x() == u[0].x() && u[5].y() < u[0].y());
    QCOMPARE(planeCellCorners(6, 9, six).size(), 6);
    QCOMPARE(planeCellCorners(16, 5, other).size(), 5);
    // More vectors than the card has sensors would run off the panel.
    const QList<QPointF> all = planeCellCorners(1, 40, other);
    QCOMPARE(all.size(), 16);
    QVERIFY(all[15].x() + other.width <= 3.09 + 1e-5 && all[15].y() - other.height >= -5.0);
}

void TestViewMath::boxesStandCentredInAUOrACheckerboard()
{
    const QList<SensorBox> three = sensorBoxes(3);
    QCOMPARE(three.size(), 3);
    QCOMPARE(three[0].corner, QVector3D(-2.25f, -0.75f, -0.75f));
    QCOMPARE(three[2].corner.x() + 1.5f, 2.25f);
    const QList<SensorBox> six = sensorBoxes(6);
    QCOMPARE(six[3].corner, QVector3D(0.75f, -0.75f, 0));
    QCOMPARE(six[5].corner, QVector3D(-2.25f, -0.75f, 0));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(six[i].colour, i % 2 ? boxColourB() : boxColourA());
    const QList<SensorBox> all = sensorBoxes(16);
    QCOMPARE(all[0].corner, QVector3D(-3, -0.75f, -3));
    QCOMPARE(all[15].corner, QVector3D(1.5f, -0.75f, 1.5f));
    for (int i = 0; i < 16; ++i)
        QCOMPARE(all[i].colour, ((i % 4) + (i / 4)) % 2 ? boxColourB() : boxColourA());
    QCOMPARE(sensorBoxes(40).size(), 16);
    QCOMPARE(sensorBoxes(0).size(), 0);
    QCOMPARE(shadedColour(boxColourA()), QColor(204, 46, 0));
    QCOMPARE(shadedColour(boxColourB()), QColor(55, 39, 154));
}

void TestViewMath::arrowHeadPointsAlongItsDirection_data()
{
    QTest::addColumn<QVector3D>("direction");
    for (const QVector3D &d : {QVector3D(0, 5, 0), QVector3D(-2, 0, 0), QVector3D(2, 0, 0), QVector3D(0, -1, 0),
                               QVector3D(1, -1, 0), QVector3D(-1, -1, 0), QVector3D(0, 0, -2), QVector3D(0, 0, 3),
                               QVector3D(0, 1, 1), QVector3D(-1.5f, 2.5f, -4)})
        QTest::addRow("(%g, %g, %g)", d.x(), d.y(), d.z()) << d;
}

void TestViewMath::arrowHeadPointsAlongItsDirection()
{
    QFETCH(QVector3D, direction);
    const ArrowAngles a = arrowAngles(direction);
    QVERIFY(std::isfinite(a.heading) && std::isfinite(a.elevation));
    // The head is drawn along +Y, turned by the elevation about X and by -heading about Z.
    const double h = qDegreesToRadians(a.heading), e = qDegreesToRadians(a.elevation);
    const QVector3D head(float(std::sin(h) * std::cos(e)), float(std::cos(h) * std::cos(e)), float(std::sin(e)));
    QVERIFY((head - direction.normalized()).length() < 1e-4f);
}

void TestViewMath::pointerMappingGivesUsefulDeltasAndKeepsDirections()
{
    const QSize size(400, 300);
    QCOMPARE(pointerToScene(QPointF(200, 150), size), QPointF(0, 0));
    const QPointF corner = pointerToScene(QPointF(400, 300), size);
    // Right is +x; down is +y as the window reports it, unflipped.
    QVERIFY(corner.x() > 0 && corner.y() > 0);
    QCOMPARE(pointerToScene(QPointF(0, 0), size), -corner);
    // A drag over the whole height turns about 124 degrees with the multiplier 100, and with
    // the multiplier 10 pans as far as the pointer moves at the scene's origin (depth 15).
    QVERIFY(qAbs(100 * 2 * corner.y() - 124.26) < 0.01);
    QVERIFY(qAbs(10 * 2 * corner.y() - 2 * 15 * std::tan(qDegreesToRadians(22.5))) < 1e-6);
    QVERIFY(qAbs(corner.x() / corner.y() - 4.0 / 3.0) < 1e-9);
    QVERIFY(std::isfinite(pointerToScene(QPointF(10, 0), QSize(100, 0)).y()));
}

void TestViewMath::textStandsUprightAboveItsPosition()
{
    float minY = 1e9f, maxY = -1e9f, minX = 1e9f, maxSmall = -1e9f;
    for (const auto &loop : textLoops(QVector3D(1, 2, 3), QStringLiteral("1"), 12)) {
        QVERIFY(loop.size() >= 3);
        for (const QVector3D &v : loop) {
            QCOMPARE(v.z(), 3.02f);
            minY = std::min(minY, v.y());
            maxY = std::max(maxY, v.y());
            minX = std::min(minX, v.x());
        }
    }
    // The digit sits on the baseline and rises about one unit at 12 points.
    QVERIFY2(minY > 1.9f && maxY > 2.6f && maxY < 3.8f, qPrintable(QStringLiteral("%1..%2").arg(minY).arg(maxY)));
    QVERIFY(minX >= 1.0f);
    for (const auto &loop : textLoops(QVector3D(1, 2, 3), QStringLiteral("1"), 5))
        for (const QVector3D &v : loop)
            maxSmall = std::max(maxSmall, v.y());
    QVERIFY(maxSmall > 2.0f && maxSmall < maxY);
}

QTEST_MAIN(TestViewMath)
#include "tst_viewmath.moc"
