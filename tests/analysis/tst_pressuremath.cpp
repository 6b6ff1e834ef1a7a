#include "curvemath.h"
#include "pressuremath.h"
#include "viewmath.h"

#include <QTest>

namespace {

struct Press
{
    int sensor;
    int x, y, z;
};

QList<Axit_t> frameOf(int size, const QList<Press> &presses)
{
    QList<Axit_t> frame(size);
    for (const Press &p : presses)
        frame[p.sensor] = Axit_t{int16_t(p.x), int16_t(p.y), int16_t(p.z)};
    return frame;
}

} // namespace

Q_DECLARE_METATYPE(QList<Press>)

class TestPressureMath : public QObject
{
    Q_OBJECT

private slots:
    void summarisesFrames_data();
    void summarisesFrames();
};

// Known answers worked out by hand; demarcated 12000,-8000,20000 converts to 1573,1024,263.
void TestPressureMath::summarisesFrames_data()
{
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("frameSize");
    QTest::addColumn<int>("dataMode");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QList<Press>>("presses");
    QTest::addColumn<double>("totalFz");
    QTest::addColumn<QPointF>("shear");
    QTest::addColumn<int>("contact");
    QTest::addColumn<QPointF>("cop"); // (-1, -1): undefined
    QTest::addColumn<int>("peakSensor");
    QTest::addColumn<double>("peak");

    const QPointF none(-1, -1);
    QTest::newRow("one pressed sensor, demarcated") << 16 << 16 << 0 << 10 << QList<Press>{{5, 12000, -8000, 20000}}
        << 263.0 << QPointF(1573, 1024) << 1 << QPointF(1, 1) << 5 << 1895.2767607924707;
    QTest::newRow("source data as received") << 16 << 16 << 1 << 10 << QList<Press>{{5, 12000, -8000, 20000}}
        << 20000.0 << QPointF(12000, -8000) << 1 << QPointF(1, 1) << 5 << std::sqrt(6.08e8);
    QTest::newRow("two equal presses: centre between") << 16 << 16 << 1 << 10
        << QList<Press>{{1, 0, 0, 5000}, {6, 0, 0, 5000}} << 10000.0 << QPointF(0, 0) << 2 << QPointF(1.5, 0.5) << 1 << 5000.0;
    QTest::newRow("weighted by Fz") << 16 << 16 << 1 << 10 << QList<Press>{{0, 0, 0, 6000}, {2, 0, 0, 2000}}
        << 8000.0 << QPointF(0, 0) << 2 << QPointF(0.5, 0) << 0 << 6000.0;
    QTest::newRow("six: sensor 3 is column 2, row 1") << 6 << 6 << 1 << 10 << QList<Press>{{3, 0, 0, 5000}}
        << 5000.0 << QPointF(0, 0) << 1 << QPointF(2, 1) << 3 << 5000.0;
    QTest::newRow("six: sensors 0 and 4 along the U") << 6 << 6 << 1 << 10 << QList<Press>{{0, 0, 0, 2000}, {4, 0, 0, 6000}}
        << 8000.0 << QPointF(0, 0) << 2 << QPointF(0.75, 0.75) << 4 << 6000.0;
    QTest::newRow("pure shear: contact, no centre") << 4 << 4 << 1 << 10 << QList<Press>{{2, 3000, -4000, 0}}
        << 0.0 << QPointF(3000, -4000) << 1 << none << 2 << 5000.0;
    QTest::newRow("nothing in contact") << 16 << 16 << 1 << 10 << QList<Press>{{0, 100, -50, 200}, {9, -30, 20, 900}}
        << 1100.0 << QPointF(70, -30) << 0 << none << 9 << std::sqrt(900.0 + 400 + 810000);
    QTest::newRow("negative Fz: contact, no centre") << 4 << 4 << 1 << 10 << QList<Press>{{1, 0, 0, -5000}}
        << -5000.0 << QPointF(0, 0) << 1 << none << 1 << 5000.0;
    QTest::newRow("negative Fz does not pull the centre") << 4 << 4 << 1 << 10
        << QList<Press>{{0, 0, 0, 4000}, {3, 0, 0, -4000}} << 0.0 << QPointF(0, 0) << 2 << QPointF(0, 0) << 0 << 4000.0;
    QTest::newRow("just below the plane view's grey edge") << 4 << 4 << 1 << 10 << QList<Press>{{0, 0, 0, 1731}}
        << 1731.0 << QPointF(0, 0) << 0 << none << 0 << 1731.0;
    QTest::newRow("at the plane view's grey edge") << 4 << 4 << 1 << 10 << QList<Press>{{0, 0, 0, 1732}}
        << 1732.0 << QPointF(0, 0) << 1 << QPointF(0, 0) << 0 << 1732.0;
    QTest::newRow("25 %: at") << 4 << 4 << 1 << 25 << QList<Press>{{0, 0, 0, 4330}}
        << 4330.0 << QPointF(0, 0) << 1 << QPointF(0, 0) << 0 << 4330.0;
    QTest::newRow("sensors beyond those shown are left out") << 2 << 4 << 1 << 10
        << QList<Press>{{1, 0, 0, 2000}, {3, 9000, 9000, 9000}} << 2000.0 << QPointF(0, 0) << 1 << QPointF(1, 0) << 1 << 2000.0;
    QTest::newRow("a frame shorter than the sensors shown") << 16 << 3 << 1 << 10 << QList<Press>{{2, 0, 0, 3000}}
        << 3000.0 << QPointF(0, 0) << 1 << QPointF(2, 0) << 2 << 3000.0;
}

void TestPressureMath::summarisesFrames()
{
    QFETCH(int, shown);
    QFETCH(int, frameSize);
    QFETCH(int, dataMode);
    QFETCH(int, percent);
    QFETCH(QList<Press>, presses);
    QFETCH(QPointF, shear);
    QFETCH(QPointF, cop);

    const QList<Axit_t> frame = frameOf(frameSize, presses);
    const PressureSummary s = summarisePressure(frame, shown, dataMode, contactShare(percent));
    QCOMPARE(s.sensors, std::min(shown, frameSize));
    QTEST(s.totalFz, "totalFz");
    QCOMPARE(QPointF(s.shearX, s.shearY), shear);
    QCOMPARE(s.shear, std::hypot(shear.x(), shear.y()));
    QTEST(s.contact, "contact");
    QCOMPARE(s.hasCop ? s.cop : QPointF(-1, -1), cop);
    QTEST(s.peakSensor, "peakSensor");
    QTEST(s.peak, "peak");

    // At the default threshold, contact is exactly where the plane view tints a cell.
    if (percent == DefaultContactPercent) {
        int tinted = 0;
        for (int i = 0; i < s.sensors; ++i)
            tinted += forceColour(curveSample(frame[i], dataMode).vector) != QColor(230, 230, 230);
        QCOMPARE(s.contact, tinted);
    }
}

QTEST_GUILESS_MAIN(TestPressureMath)
#include "tst_pressuremath.moc"
