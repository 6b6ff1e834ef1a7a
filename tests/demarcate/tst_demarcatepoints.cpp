#include "demarcatepoints.h"

#include <QTest>

class TestDemarcatePoints : public QObject
{
    Q_OBJECT

private slots:
    void csvLinePutsPressureOnSelectedAxis_data();
    void csvLinePutsPressureOnSelectedAxis();
    void pointsAscendAndEqualPressureReplacesReadings();
};

void TestDemarcatePoints::csvLinePutsPressureOnSelectedAxis_data()
{
    QTest::addColumn<int>("pressure");
    QTest::addColumn<int>("axis");
    QTest::addColumn<QString>("line");
    QTest::newRow("X") << 100 << 0 << "100,12,-3,250,50.00,0,86.60";
    QTest::newRow("Y") << 100 << 1 << "100,12,-3,250,0,50.00,86.60";
    QTest::newRow("Z") << 100 << 2 << "100,12,-3,250,0,0,100";
    QTest::newRow("negative on X, |p| downwards") << -100 << 0 << "-100,12,-3,250,-50.00,0,86.60";
    QTest::newRow("negative on Z") << -7 << 2 << "-7,12,-3,250,0,0,-7";
    QTest::newRow("rounded to two decimals") << 3 << 1 << "3,12,-3,250,0,1.50,2.60";
    QTest::newRow("largest") << 32767 << 0 << "32767,12,-3,250,16383.50,0,28376.22";
}

void TestDemarcatePoints::csvLinePutsPressureOnSelectedAxis()
{
    QFETCH(int, pressure);
    QFETCH(int, axis);
    QFETCH(QString, line);
    QCOMPARE(singlePointCsvLine({int16_t(pressure), 12, -3, 250}, axis), line);
    QCOMPARE(singlePointCsvHeader(), QString("pressure(kg),x,y,z,xlabel,ylabel,zlabel"));
}

void TestDemarcatePoints::pointsAscendAndEqualPressureReplacesReadings()
{
    QList<singleDemarcateInfoUnit_t> list;
    for (int p : {30, 10, 40, 20})
        addSinglePoint(list, {int16_t(p), int16_t(p), 0, 0});
    addSinglePoint(list, {20, 7, -8, 9});
    QList<QList<int>> points;
    for (const auto &u : list)
        points.append({u.pressure, u.x, u.y, u.z});
    QCOMPARE(points, (QList<QList<int>>{{10, 10, 0, 0}, {20, 7, -8, 9}, {30, 30, 0, 0}, {40, 40, 0, 0}}));

    QVERIFY(removeSinglePoint(list, 20));
    QVERIFY(!removeSinglePoint(list, 20));
    QCOMPARE(list.size(), 3);
}

QTEST_APPLESS_MAIN(TestDemarcatePoints)
#include "tst_demarcatepoints.moc"
