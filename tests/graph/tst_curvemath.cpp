#include "curvemath.h"

#include <QTest>

class TestCurveMath : public QObject
{
    Q_OBJECT

private slots:
    void convertsDemarcatedReadings_data();
    void convertsDemarcatedReadings();
    void wrapsToInt16TowardZero_data();
    void wrapsToInt16TowardZero();
    void keepsZoomOnlyInsideTheBand_data();
    void keepsZoomOnlyInsideTheBand();
};

void TestCurveMath::keepsZoomOnlyInsideTheBand_data()
{
    QTest::addColumn<double>("span");
    QTest::addColumn<int>("kept");
    QTest::newRow("50.9 truncates to 50: out") << 50.9 << 100;
    QTest::newRow("51: in") << 51.0 << 51;
    QTest::newRow("999.9 truncates to 999: in") << 999.9 << 999;
    QTest::newRow("1000: out") << 1000.0 << 100;
    QTest::newRow("negative: out") << -300.0 << 100;
}

void TestCurveMath::keepsZoomOnlyInsideTheBand()
{
    QFETCH(double, span);
    QFETCH(int, kept);
    QCOMPARE(keptXRange(10.0, 10.0 + span, 100), kept);
}

// Expected outputs were worked out in exact rational arithmetic from the coefficient table,
// then truncated toward zero; none lies near an integer.
void TestCurveMath::convertsDemarcatedReadings_data()
{
    QTest::addColumn<QList<int>>("raw");
    QTest::addColumn<QList<int>>("force");
    QTest::newRow("rest") << QList<int>{0, 0, 0} << QList<int>{0, 0, 0};
    // -7.25 becomes -7, not -8.
    QTest::newRow("negative fractions") << QList<int>{-100, 0, 0} << QList<int>{-7, -3, 3};
    QTest::newRow("mixed signs") << QList<int>{1000, -2000, 3000} << QList<int>{59, -4, -259};
    QTest::newRow("large press") << QList<int>{12000, -8000, 20000} << QList<int>{1573, 1024, 263};
    // Z' is 63971.23 and 51615.60: only the low 16 bits are kept.
    QTest::newRow("wraps at top") << QList<int>{32767, 32767, 32767} << QList<int>{15425, 13328, -1565};
    QTest::newRow("wraps at bottom") << QList<int>{-32768, -32768, -32768} << QList<int>{10572, 9509, -13921};
}

void TestCurveMath::convertsDemarcatedReadings()
{
    QFETCH(QList<int>, raw);
    const Axit_t out = convertDemarcated(Axit_t{int16_t(raw[0]), int16_t(raw[1]), int16_t(raw[2])});
    QTEST((QList<int>{out.x, out.y, out.z}), "force");
}

void TestCurveMath::wrapsToInt16TowardZero_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("negative fraction") << -12.7 << -12;
    QTest::newRow("int16 max") << 32767.99 << 32767;
    QTest::newRow("one past max") << 32768.0 << -32768;
    QTest::newRow("one below min") << -32769.5 << 32767;
    QTest::newRow("far below") << -1e12 << -4096; // 10^12 mod 65536 = 4096
}

void TestCurveMath::wrapsToInt16TowardZero()
{
    QFETCH(double, value);
    QTEST(int(wrapToInt16(value)), "expected");
}

QTEST_APPLESS_MAIN(TestCurveMath)
#include "tst_curvemath.moc"
