#include "demarcatepoints.h"

#include <QTest>

namespace {

QList<int> pressures(const QList<singleDemarcateInfoUnit_t> &list)
{
    QList<int> p;
    for (const auto &u : list)
        p.append(u.pressure);
    return p;
}

} // namespace

class TestDemarcatePoints : public QObject
{
    Q_OBJECT

private slots:
    void csvLinePutsPressureOnTheSelectedAxis_data();
    void csvLinePutsPressureOnTheSelectedAxis();
    void singlePointsStayAscendingAndEqualPressureReplaces();
    void arrayPointsStayAscendingAndEqualPressureReplaces();
    void removeNamesMissingPressure();
    void hundredthsShowTwoDecimals();
};

void TestDemarcatePoints::csvLinePutsPressureOnTheSelectedAxis_data()
{
    QTest::addColumn<int>("pressure");
    QTest::addColumn<int>("axis");
    QTest::addColumn<QString>("line");
    QTest::newRow("X") << 100 << 0 << "100,12,-3,250,50.00,0,86.60";
    QTest::newRow("Y") << 100 << 1 << "100,12,-3,250,0,50.00,86.60";
    QTest::newRow("Z") << 100 << 2 << "100,12,-3,250,0,0,100";
    QTest::newRow("negative on X uses |pressure| downwards") << -100 << 0 << "-100,12,-3,250,-50.00,0,86.60";
    QTest::newRow("negative on Z") << -7 << 2 << "-7,12,-3,250,0,0,-7";
    QTest::newRow("rounding to two decimals") << 3 << 1 << "3,12,-3,250,0,1.50,2.60";
    QTest::newRow("extremes") << 32767 << 0 << "32767,12,-3,250,16383.50,0,28376.22";
}

void TestDemarcatePoints::csvLinePutsPressureOnTheSelectedAxis()
{
    QFETCH(int, pressure);
    QFETCH(int, axis);
    QFETCH(QString, line);
    const singleDemarcateInfoUnit_t point{int16_t(pressure), 12, -3, 250};
    QCOMPARE(singlePointCsvLine(point, axis), line);
    QCOMPARE(singlePointCsvHeader(), QString("pressure(kg),x,y,z,xlabel,ylabel,zlabel"));
}

void TestDemarcatePoints::singlePointsStayAscendingAndEqualPressureReplaces()
{
    QList<singleDemarcateInfoUnit_t> list;
    addSinglePoint(list, {30, 1, 1, 1});
    addSinglePoint(list, {10, 2, 2, 2});
    addSinglePoint(list, {20, 3, 3, 3});
    addSinglePoint(list, {40, 4, 4, 4});
    QCOMPARE(pressures(list), (QList<int>{10, 20, 30, 40}));

    addSinglePoint(list, {20, 7, -8, 9});
    QCOMPARE(pressures(list), (QList<int>{10, 20, 30, 40}));
    QCOMPARE(int(list[1].x), 7);
    QCOMPARE(int(list[1].y), -8);
    QCOMPARE(int(list[1].z), 9);
    QCOMPARE(int(list[0].x), 2);
}

void TestDemarcatePoints::arrayPointsStayAscendingAndEqualPressureReplaces()
{
    QList<arrayDemarcateInfo_t> list;
    for (int p : {1000, 3000, 2000, -500}) {
        arrayDemarcateInfo_t point;
        point.pressure = int16_t(p);
        point.count = 1;
        point.values[0] = int16_t(p / 10);
        addArrayPoint(list, point);
    }
    QList<int> order;
    for (const auto &point : list)
        order.append(point.pressure);
    QCOMPARE(order, (QList<int>{-500, 1000, 2000, 3000}));

    arrayDemarcateInfo_t replacement;
    replacement.pressure = 2000;
    replacement.count = 2;
    replacement.values[0] = 5;
    replacement.values[1] = 6;
    addArrayPoint(list, replacement);
    QCOMPARE(int(list.size()), 4);
    QCOMPARE(int(list[2].count), 2);
    QCOMPARE(int(list[2].values[1]), 6);
}

void TestDemarcatePoints::removeNamesMissingPressure()
{
    QList<singleDemarcateInfoUnit_t> list{{10, 0, 0, 0}, {20, 0, 0, 0}};
    QVERIFY(removeSinglePoint(list, 20));
    QVERIFY(!removeSinglePoint(list, 20));
    QCOMPARE(pressures(list), QList<int>{10});
}

void TestDemarcatePoints::hundredthsShowTwoDecimals()
{
    QCOMPARE(hundredthsText(1234), QString("12.34"));
    QCOMPARE(hundredthsText(1000), QString("10.00"));
    QCOMPARE(hundredthsText(-5), QString("-0.05"));
    QCOMPARE(hundredthsText(-32768), QString("-327.68"));
}

QTEST_APPLESS_MAIN(TestDemarcatePoints)
#include "tst_demarcatepoints.moc"
