#include "curvemath.h"

#include <QTest>
#include <cmath>
#include <limits>

class TestCurveMath : public QObject
{
    Q_OBJECT

private slots:
    void convertsDemarcatedReadings_data();
    void convertsDemarcatedReadings();
    void wrapsToInt16TowardZero_data();
    void wrapsToInt16TowardZero();
    void scalesViewVectorsByDataMode_data();
    void scalesViewVectorsByDataMode();
    void keepsZoomedSpanOnlyInsideBand_data();
    void keepsZoomedSpanOnlyInsideBand();
};

namespace {
Axit_t axit(int x, int y, int z)
{
    Axit_t a;
    a.x = int16_t(x);
    a.y = int16_t(y);
    a.z = int16_t(z);
    return a;
}
} // namespace

// Expected outputs were worked out in exact rational arithmetic from the coefficient table and
// then truncated toward zero (and wrapped to 16 bits where marked); none sits near an integer.
void TestCurveMath::convertsDemarcatedReadings_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("z");
    QTest::addColumn<int>("ex");
    QTest::addColumn<int>("ey");
    QTest::addColumn<int>("ez");
    QTest::newRow("rest") << 0 << 0 << 0 << 0 << 0 << 0;
    // -7.25 must become -7, not -8: truncation, not floor.
    QTest::newRow("negative fractions") << -100 << 0 << 0 << -7 << -3 << 3;
    QTest::newRow("mixed signs") << 1000 << -2000 << 3000 << 59 << -4 << -259;
    QTest::newRow("mixed signs 2") << -1500 << 2500 << 4000 << -174 << -54 << 1053;
    QTest::newRow("large press") << 12000 << -8000 << 20000 << 1573 << 1024 << 263;
    // Z' is 63971.23 and 51615.60: only the low 16 bits are kept.
    QTest::newRow("wraps at top") << 32767 << 32767 << 32767 << 15425 << 13328 << -1565;
    QTest::newRow("wraps at bottom") << -32768 << -32768 << -32768 << 10572 << 9509 << -13921;
}

void TestCurveMath::convertsDemarcatedReadings()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, z);
    const Axit_t out = convertDemarcated(axit(x, y, z));
    QTEST(int(out.x), "ex");
    QTEST(int(out.y), "ey");
    QTEST(int(out.z), "ez");
}

void TestCurveMath::wrapsToInt16TowardZero_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("small negative") << -0.9 << 0;
    QTest::newRow("negative fraction") << -12.7 << -12;
    QTest::newRow("int16 max") << 32767.99 << 32767;
    QTest::newRow("one past max") << 32768.0 << -32768;
    QTest::newRow("one below min") << -32769.5 << 32767;
    QTest::newRow("two turns") << 70000.5 << 4464;
    QTest::newRow("all ones") << 65535.0 << -1;
    QTest::newRow("huge") << 1e12 << int(int16_t(uint16_t(1000000000000LL & 0xFFFF)));
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << 0;
}

void TestCurveMath::wrapsToInt16TowardZero()
{
    QFETCH(double, value);
    QTEST(int(wrapToInt16(value)), "expected");
}

void TestCurveMath::scalesViewVectorsByDataMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QVector3D>("raw");
    QTest::addColumn<QVector3D>("value");
    QTest::addColumn<QVector3D>("vector");
    QTest::newRow("source") << 1 << QVector3D(1000, -2000, 3000) << QVector3D(1000, -2000, 3000) << QVector3D(0.1f, -0.2f, 0.3f);
    QTest::newRow("other modes are source") << 7 << QVector3D(-5000, 0, 10000) << QVector3D(-5000, 0, 10000) << QVector3D(-0.5f, 0, 1.0f);
    QTest::newRow("demarcated") << 0 << QVector3D(1000, -2000, 3000) << QVector3D(59, -4, -259) << QVector3D(0.059f, -0.004f, -0.259f);
}

void TestCurveMath::scalesViewVectorsByDataMode()
{
    QFETCH(int, mode);
    QFETCH(QVector3D, raw);
    QFETCH(QVector3D, value);
    QFETCH(QVector3D, vector);
    const CurveSample s = curveSample(axit(int(raw.x()), int(raw.y()), int(raw.z())), mode);
    QCOMPARE(QVector3D(s.value.x, s.value.y, s.value.z), value);
    QVERIFY2(qFuzzyCompare(s.vector, vector), qPrintable(QString("%1 %2 %3")
                                                              .arg(s.vector.x())
                                                              .arg(s.vector.y())
                                                              .arg(s.vector.z())));
}

void TestCurveMath::keepsZoomedSpanOnlyInsideBand_data()
{
    QTest::addColumn<double>("lower");
    QTest::addColumn<double>("upper");
    QTest::addColumn<int>("expected");
    QTest::newRow("unchanged") << 900.0 << 1000.0 << 100;
    QTest::newRow("zoomed out to 300") << 700.5 << 1000.9 << 300;
    QTest::newRow("lowest kept") << 0.0 << 51.0 << 51;
    QTest::newRow("just below band") << 0.0 << 50.99 << 100;
    QTest::newRow("highest kept") << 0.0 << 999.99 << 999;
    QTest::newRow("thousand snaps back") << 0.0 << 1000.0 << 100;
    QTest::newRow("1500 snaps back") << -500.0 << 1000.0 << 100;
    QTest::newRow("far out") << -1e300 << 1e300 << 100;
}

void TestCurveMath::keepsZoomedSpanOnlyInsideBand()
{
    QFETCH(double, lower);
    QFETCH(double, upper);
    QTEST(keptXRange(lower, upper, 100), "expected");
}

QTEST_APPLESS_MAIN(TestCurveMath)
#include "tst_curvemath.moc"
