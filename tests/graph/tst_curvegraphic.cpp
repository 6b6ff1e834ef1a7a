#include "coordinatesystem.h"
#include "linkthread.h"
#include "curvegraphic.h"
#include "debugcapture.h"
#include "fakelink.h"
#include "userinput.h"
#include "mycurvegraphic.h"
#include "planegraph.h"
#include "vectorgraph.h"

#include <QApplication>
#include <QHeaderView>
#include <QListWidget>
#include <QSplitter>
#include <QMenu>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <climits>

namespace {

// Sensor i of the frame carries (base + i, -(base + i), 2·(base + i)).
void feed(CurveGraphic &w, int count, int base, uint num)
{
    QList<Axit_t> list;
    for (int i = 0; i < count; ++i)
        list.append(Axit_t{int16_t(base + i), int16_t(-(base + i)), int16_t(2 * (base + i))});
    w.setItemData(list, num);
}

void click(CurveGraphic &w, int row, Qt::CheckState state)
{
    auto *list = w.findChild<QListWidget *>("sensorList");
    if (list->item(row)->checkState() != state)
        clickCheckBox(list, row);
    QCOMPARE(list->item(row)->checkState(), state);
}

QStringList rowTexts(CurveGraphic &w)
{
    QStringList texts;
    auto *list = w.findChild<QListWidget *>("sensorList");
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

// Visibility, pen colour and legend text colour of one curve must agree.
void checkCurve(CurveGraphic &w, int g, bool shown)
{
    MyCurveGraphic *plot = w.plot();
    const QColor colour = shown ? w.axisColors(g / 3, g % 3) : QColor(Qt::darkGray);
    QCOMPARE(plot->graph(g)->visible(), shown);
    QCOMPARE(plot->graph(g)->pen().color(), colour);
    QCOMPARE(plot->legend->itemWithPlottable(plot->graph(g))->textColor(), colour);
}

} // namespace

class TestCurveGraphic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerLinkMetaTypes(); }
    void keepsLastThousandPointsPerSensor();
    void takesSensorsPresentInBothFrameAndWindow_data();
    void takesSensorsPresentInBothFrameAndWindow();
    void sourceAndDemarcatedFramesReachPlotAndViews();
    void sensorCountRebuildsListGraphsAndTable();
    void sensorListShowsCurvesInTheirColours();
    void legendDoubleClickTogglesOneCurve();
    void refreshFillsTableAnchorsAndKeepsZoom();
    void valueUpdatesLeaveTheTableHeaderAlone();
    void axisDialogsApplyOnlyAcceptedValues_data();
    void axisDialogsApplyOnlyAcceptedValues();
    void dialogStartValueSurvivesHugeAxisRange();
    void showAndCloseRunAndStopTimers();
    void framesFromLinkThreadArriveBySignature();
};

void TestCurveGraphic::keepsLastThousandPointsPerSensor()
{
    CurveGraphic w;
    w.setDataMode(1);
    w.setSensorNum(2);
    for (int n = 1; n <= 1005; ++n)
        feed(w, 2, n, 2);
    QCOMPARE(w.sampleCount(), 1005.0);
    for (int s = 0; s < 2; ++s) {
        const SensorSeries &series = w.series(s);
        QCOMPARE((QList<qsizetype>{series.x->size(), series.y->size(), series.z->size(), series.key->size()}),
                 (QList<qsizetype>{1000, 1000, 1000, 1000}));
        QCOMPARE(series.key->first(), 6.0);
        QCOMPARE(series.key->last(), 1005.0);
        QCOMPARE(series.x->first(), 6.0 + s);
        QCOMPARE(series.z->last(), 2 * (1005.0 + s));
    }
}

void TestCurveGraphic::takesSensorsPresentInBothFrameAndWindow_data()
{
    QTest::addColumn<uint>("sensors");
    QTest::addColumn<int>("listSize");
    QTest::addColumn<uint>("num");
    QTest::addColumn<int>("taken");
    QTest::newRow("frame larger than window") << 4u << 6 << 6u << 4;
    QTest::newRow("frame smaller than window") << 4u << 2 << 2u << 2;
    QTest::newRow("no sensors set up") << 0u << 3 << 3u << 0;
    // A count beyond the list's end must not read past it.
    QTest::newRow("count beyond list") << 4u << 3 << 16u << 3;
}

void TestCurveGraphic::takesSensorsPresentInBothFrameAndWindow()
{
    QFETCH(uint, sensors);
    QFETCH(int, listSize);
    QFETCH(uint, num);
    QFETCH(int, taken);
    CurveGraphic w;
    w.setSensorNum(sensors);
    w.vectorGraph()->setVectors({QVector3D(1, 1, 1)});
    w.planeGraph()->setVectors({QVector3D(1, 1, 1)});
    feed(w, listSize, 100, num);
    feed(w, listSize, 100, num);
    QCOMPARE(w.sampleCount(), 2.0);
    QCOMPARE(w.latestFrame().size(), taken);
    QCOMPARE(w.vectorGraph()->vectors().size(), taken);
    QCOMPARE(w.planeGraph()->vectors().size(), taken);
    for (int s = 0; s < CurveGraphic::maxSensors; ++s)
        QCOMPARE(w.series(s).key->size(), s < taken ? 2 : 0);
    if (taken > 0)
        QCOMPARE(*w.series(0).key, (QList<double>{1, 2}));
}

void TestCurveGraphic::sourceAndDemarcatedFramesReachPlotAndViews()
{
    CurveGraphic w;
    w.setSensorNum(2);
    w.setDataMode(1);
    QList<Axit_t> source{{1000, -2000, 3000}};
    w.setItemData(source, 1, 12345u);
    QCOMPARE((QList<double>{w.series(0).x->value(0), w.series(0).y->value(0), w.series(0).z->value(0)}),
             (QList<double>{1000, -2000, 3000}));
    QVERIFY(qFuzzyCompare(w.vectorGraph()->vectors().value(0), QVector3D(0.1f, -0.2f, 0.3f)));
    QCOMPARE(w.planeGraph()->vectors(), w.vectorGraph()->vectors());

    w.setDataMode(0);
    QList<Axit_t> demarcated{{1000, -2000, 3000}, {32767, 32767, 32767}};
    w.setItemData(demarcated, 2);
    QCOMPARE(*w.series(0).y, (QList<double>{-2000, -4}));
    QCOMPARE(*w.series(1).z, QList<double>{-1565});
    QCOMPARE(w.latestFrame().value(1).x, int16_t(15425));
    QVERIFY(qFuzzyCompare(w.vectorGraph()->vectors().value(1), QVector3D(15.425f, 13.328f, -1.565f)));
}

void TestCurveGraphic::sensorCountRebuildsListGraphsAndTable()
{
    CurveGraphic w;
    MyCurveGraphic *plot = w.plot();
    QCOMPARE(rowTexts(w), QStringList{"全选"});
    w.setSensorNum(4);
    QCOMPARE(rowTexts(w), (QStringList{"全选", "Sensor0", "Sensor1", "Sensor2", "Sensor3"}));
    QCOMPARE(plot->graphCount(), 12);
    QCOMPARE(plot->graph(11)->name(), QStringLiteral("Sensor3Z"));
    for (int g = 0; g < 12; ++g)
        checkCurve(w, g, false);
    QCOMPARE(w.tableModel()->rowCount(), 4);

    w.setDataMode(1);
    feed(w, 4, 7, 4);
    QCPGraph *sensor1Z = plot->graph(5);
    w.setSensorNum(2);
    QCOMPARE(rowTexts(w), (QStringList{"全选", "Sensor0", "Sensor1"}));
    QCOMPARE(plot->graphCount(), 6);
    QCOMPARE(plot->graph(5), sensor1Z);
    QCOMPARE(plot->legend->itemCount(), 6);
    QCOMPARE(w.tableModel()->rowCount(), 2);
    QCOMPARE(w.tableModel()->item(1, 0)->text(), QStringLiteral("1"));
    QCOMPARE(w.vectorGraph()->sensorNum(), 2);
    QCOMPARE(w.planeGraph()->sensorNum(), 2);

    // A removed sensor's history comes back with it.
    w.setSensorNum(3);
    QCOMPARE(w.series(2).x->size(), 1);
    QCOMPARE(plot->graph(8)->name(), QStringLiteral("Sensor2Z"));

    // Histories and colours exist for sixteen sensors only.
    w.setSensorNum(40);
    QCOMPARE(w.sensorNum(), 16u);
    QCOMPARE(plot->graphCount(), 48);
    feed(w, 20, 1, 20);
    QCOMPARE(w.latestFrame().size(), 16);
}

void TestCurveGraphic::sensorListShowsCurvesInTheirColours()
{
    CurveGraphic w;
    w.setSensorNum(16);
    MyCurveGraphic *plot = w.plot();
    // Eighteen entries to a column: 48 curves take three.
    QCOMPARE(plot->legend->rowCount(), 18);
    QCOMPARE(plot->legend->columnCount(), 3);

    click(w, 0, Qt::Checked);
    for (int g = 0; g < 48; ++g)
        checkCurve(w, g, true);
    QCOMPARE(plot->graph(0)->pen().color(), QColor(255, 255, 0));
    QCOMPARE(plot->graph(19)->pen().color(), QColor(107, 142, 35));
    QCOMPARE(plot->graph(47)->pen().color(), QColor(216, 191, 216));
    int channels = 0; // of all 48 colours: an entry changed anywhere in the table shows
    for (int g = 0; g < 48; ++g) {
        const QColor c = plot->graph(g)->pen().color();
        channels += c.red() + c.green() + c.blue();
    }
    QCOMPARE(channels, 19994);
    for (const QPen &pen : {plot->graph(47)->pen(), plot->graph(2)->pen()}) {
        QCOMPARE(pen.widthF(), 3.0);
        QCOMPARE(pen.capStyle(), Qt::SquareCap);
        QCOMPARE(pen.joinStyle(), Qt::BevelJoin);
        QCOMPARE(pen.style(), Qt::SolidLine);
    }
    click(w, 0, Qt::Unchecked);
    QCOMPARE(plot->graph(5)->pen().color(), QColor(Qt::darkGray));
    QCOMPARE(plot->graph(5)->pen().widthF(), 3.0);
    QCOMPARE(plot->graph(5)->pen().capStyle(), Qt::SquareCap);
    for (int g = 0; g < 48; ++g)
        checkCurve(w, g, false);
    auto *list = w.findChild<QListWidget *>("sensorList");
    QCOMPARE(list->item(16)->checkState(), Qt::Unchecked);

    DebugCapture debug;
    click(w, 3, Qt::Checked);
    for (int g = 0; g < 12; ++g)
        checkCurve(w, g, g >= 6 && g <= 8);
    QCOMPARE(list->item(0)->checkState(), Qt::Unchecked);
    click(w, 3, Qt::Unchecked);
    checkCurve(w, 7, false);
    QCOMPARE(debug.withPrefix("check sensorIndex=").size(), 1);
    QCOMPARE(debug.withPrefix("uncheck sensorIndex=").size(), 1);
    QVERIFY(debug.withPrefix("check sensorIndex=").value(0).endsWith("graph= 6"));
}

void TestCurveGraphic::legendDoubleClickTogglesOneCurve()
{
    CurveGraphic w;
    w.setSensorNum(4);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    MyCurveGraphic *plot = w.plot();
    plot->replot();

    DebugCapture debug;
    const QPoint sensor1Y = plot->legend->item(4)->outerRect().center();
    QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, sensor1Y);
    QTRY_VERIFY(plot->graph(4)->visible());
    checkCurve(w, 4, true);
    checkCurve(w, 3, false);
    QCOMPARE(w.findChild<QListWidget *>("sensorList")->item(2)->checkState(), Qt::Unchecked);
    QVERIFY(debug.contains("ncount= 12"));
    QVERIFY(debug.contains("show= true"));
    QCOMPARE(debug.withPrefix("plotlegendClickslot item= 4 point:").size(), 1);

    // The entry's picture is kept between refreshes; it must follow the curve's colour.
    const QColor shown = plot->graph(4)->pen().color();
    const auto entryPixelsIn = [&](const QColor &colour) {
        const QImage image = plot->grab().toImage();
        const QRect entry = plot->legend->item(4)->outerRect();
        int n = 0;
        for (int y = entry.top(); y <= entry.bottom(); ++y)
            for (int x = entry.left(); x <= entry.right(); ++x)
                n += image.pixelColor(x, y).rgb() == colour.rgb();
        return n;
    };
    QVERIFY(entryPixelsIn(shown) > 20);

    QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, sensor1Y);
    QTRY_VERIFY(!plot->graph(4)->visible());
    checkCurve(w, 4, false);
    QCOMPARE(entryPixelsIn(shown), 0);
    QVERIFY(entryPixelsIn(QColor(Qt::darkGray)) > 20);

    // A double-click on the legend's frame comes with no item.
    emit plot->legendDoubleClick(plot->legend, nullptr, nullptr);
    for (int g = 0; g < 12; ++g)
        QVERIFY(!plot->graph(g)->visible());
}

void TestCurveGraphic::refreshFillsTableAnchorsAndKeepsZoom()
{
    CurveGraphic w;
    w.setSensorNum(3);
    w.setDataMode(1);
    MyCurveGraphic *plot = w.plot();
    plot->xAxis->setRange(QCPRange(0, 10));
    for (int n = 0; n < 250; ++n)
        feed(w, 2, n, 2);
    w.refreshPlot(); // stopped: nothing moves, nothing is filled
    QCOMPARE(plot->xAxis->range(), QCPRange(0, 10));
    QCOMPARE(plot->graph(0)->dataCount(), 0);
    QVERIFY(!w.tableModel()->item(0, 1));

    w.setStopped(false);
    w.refreshPlot();
    QCOMPARE(plot->xAxis2->range(), QCPRange(150, 250));
    QCOMPARE(plot->yAxis2->range(), QCPRange(-5000, 5000));
    QCOMPARE(plot->graph(5)->dataCount(), 250);
    QCOMPARE(plot->graph(5)->data()->at(249)->value, 500.0);
    QCOMPARE(plot->graph(6)->dataCount(), 0);
    QStandardItemModel *model = w.tableModel();
    QCOMPARE((QStringList{model->item(1, 1)->text(), model->item(1, 2)->text(), model->item(1, 3)->text()}),
             (QStringList{"250", "-250", "500"}));
    QCOMPARE(model->item(1, 1)->textAlignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    QVERIFY(!model->item(1, 1)->isEditable());
    QVERIFY(!model->item(2, 1)); // sensor 2 had no value in the last frame

    // A wheel zoom to 300 frames stays and follows the newest frame; 1500 snaps back.
    plot->xAxis->setRange(QCPRange(50, 350));
    w.refreshPlot();
    QCOMPARE(plot->xAxis->range(), QCPRange(-50, 250));
    feed(w, 2, 0, 2);
    w.refreshPlot();
    QCOMPARE(plot->xAxis->range(), QCPRange(-49, 251));
    plot->xAxis->setRange(QCPRange(-1000, 500));
    w.refreshPlot();
    QCOMPARE(plot->xAxis->range(), QCPRange(-49, 251));

    plot->xAxis->setRange(QCPRange(-1e300, 1e300));
    w.refreshPlot();
    QCOMPARE(plot->xAxis->range(), QCPRange(-49, 251));

    w.setStopped(true);
    plot->xAxis->setRange(QCPRange(0, 10));
    feed(w, 2, 0, 2);
    w.refreshPlot();
    QCOMPARE(plot->xAxis->range(), QCPRange(0, 10));

    // Across the history's limit, refreshed now and then, each curve holds the history exactly.
    w.setStopped(false);
    for (int n = 0; n < 1300; ++n) {
        feed(w, 2, 1000 + n, n % 97 == 0 ? 1 : 2); // sensor 1 misses a frame now and then
        if (n % 7 == 0 || n % 400 == 0)
            w.refreshPlot();
    }
    w.refreshPlot();
    for (int g : {0, 4, 5}) {
        const SensorSeries &series = w.series(g / 3);
        const QList<double> &values = g % 3 == 0 ? *series.x : g % 3 == 1 ? *series.y : *series.z;
        QList<double> keys, shown;
        for (auto it = plot->graph(g)->data()->constBegin(); it != plot->graph(g)->data()->constEnd(); ++it) {
            keys << it->key;
            shown << it->value;
        }
        QCOMPARE(keys, *series.key);
        QCOMPARE(shown, values);
    }
}

// Counts the paint events a widget gets.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

void TestCurveGraphic::valueUpdatesLeaveTheTableHeaderAlone()
{
    // Qt keeps a little memory for every repaint of the style-sheeted header: a header that
    // repainted with each tick made memory grow for as long as the window ran.
    CurveGraphic w;
    w.setSensorNum(4);
    w.setDataMode(1);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.setStopped(false);
    feed(w, 4, 1, 4);
    w.refreshPlot();
    QTest::qWait(100);
    auto *header = w.findChild<QTableView *>("SensorTable")->horizontalHeader();
    PaintCounter counter(header->viewport());
    for (int n = 2; n < 30; ++n) {
        feed(w, 4, n * 10, 4);
        w.refreshPlot();
        QTest::qWait(5);
    }
    QTest::qWait(100);
    QCOMPARE(counter.paints, 0);
    QCOMPARE(w.tableModel()->item(3, 3)->text(), QString::number(2 * (290 + 3)));
}

void TestCurveGraphic::axisDialogsApplyOnlyAcceptedValues_data()
{
    QTest::addColumn<int>("action"); // 0: X span, 1: Y maximum, 2: Y minimum
    QTest::addColumn<bool>("accept");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("applied");
    QTest::newRow("x 150") << 0 << true << 150 << true;
    QTest::newRow("x 100 ignored") << 0 << true << 100 << false;
    QTest::newRow("x cancelled") << 0 << false << 500 << false;
    QTest::newRow("ymax 100") << 1 << true << 100 << true;
    QTest::newRow("ymax 99 ignored") << 1 << true << 99 << false;
    QTest::newRow("ymax cancelled") << 1 << false << 20000 << false;
    QTest::newRow("ymin -100") << 2 << true << -100 << true;
    QTest::newRow("ymin -99 ignored") << 2 << true << -99 << false;
    QTest::newRow("ymin cancelled") << 2 << false << -30000 << false;
}

void TestCurveGraphic::axisDialogsApplyOnlyAcceptedValues()
{
    QFETCH(int, action);
    QFETCH(bool, accept);
    QFETCH(int, answer);
    QFETCH(bool, applied);
    CurveGraphic w;
    for (int n = 0; n < 600; ++n)
        feed(w, 0, 0, 0);
    MyCurveGraphic *plot = w.plot();
    plot->xAxis->setRange(QCPRange(0, 5));
    plot->yAxis->setRange(QCPRange(-4321.7, 4321.7));

    QStringList asked;
    w.setIntDialog([&](QWidget *parent, const QString &title, const QString &label, int value, int min,
                       int max, int step, int *result) {
        asked << title << label << QString::number(value) << QString::number(min) << QString::number(max)
              << QString::number(step) << QString::number(parent == &w);
        *result = answer;
        return accept;
    });
    const QList<QAction *> actions{plot->actionXRange, plot->actionYMax, plot->actionYMin};
    actions[action]->trigger();
    const QCPRange y = plot->yAxis->range();

    switch (action) {
    case 0:
        QCOMPARE(asked, (QStringList{"设置X轴范围", "请输入", "100", "50", "1000", "50", "1"}));
        QCOMPARE(plot->xRange, applied ? answer : 100);
        // An accepted span shows the newest frames at once.
        QCOMPARE(plot->xAxis->range(), applied ? QCPRange(600 - answer, 600) : QCPRange(0, 5));
        break;
    case 1:
        QCOMPARE(asked, (QStringList{"设置Y轴最大值", "请输入", "4321", "20", "50000", "100", "1"}));
        QCOMPARE(plot->yMax, applied ? answer : 5000);
        QCOMPARE(y, QCPRange(-4321.7, applied ? answer : 4321.7));
        break;
    case 2:
        QCOMPARE(asked, (QStringList{"设置Y轴最小值", "请输入", "-4321", "-50000", "-20", "100", "1"}));
        QCOMPARE(plot->yMin, applied ? answer : -5000);
        QCOMPARE(y, QCPRange(applied ? answer : -4321.7, 4321.7));
        break;
    }
}

void TestCurveGraphic::dialogStartValueSurvivesHugeAxisRange()
{
    CurveGraphic w;
    w.plot()->yAxis->setRange(QCPRange(-1e12, 1e12));
    QList<int> start;
    w.setIntDialog([&](QWidget *, const QString &, const QString &, int value, int, int, int, int *) {
        start.append(value);
        return false;
    });
    w.plot()->actionYMax->trigger();
    w.plot()->actionYMin->trigger();
    QCOMPARE(start, (QList<int>{INT_MAX, INT_MIN}));
}

void TestCurveGraphic::showAndCloseRunAndStopTimers()
{
    CurveGraphic w;
    w.setSensorNum(2);
    w.setDataMode(1);
    QCOMPARE(w.coordinateSystem()->parentWidget(), w.vectorGraph());
    QVERIFY(!w.refreshTimer()->isActive());

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.refreshTimer()->interval(), 30);
    QVERIFY(w.refreshTimer()->isActive() && w.vectorGraph()->isRunning() && w.planeGraph()->isRunning());
    QCOMPARE(w.coordinateSystem()->size(), QSize(100, 100));
    QTRY_COMPARE(w.coordinateSystem()->geometry().bottom(), w.vectorGraph()->height() - 1);
    // The view row and the plot share the height 40 : 60, to the pixel.
    auto *split = w.findChild<QSplitter *>("splitterCurve");
    const QList<int> shown = split->sizes();
    QCOMPARE(shown.size(), 2);
    QVERIFY2(qAbs(shown[0] * 3 - shown[1] * 2) <= 5, qPrintable(QString("%1 : %2").arg(shown[0]).arg(shown[1])));

    // The context menu pops up where the pointer is.
    bool popped = false;
    QTimer::singleShot(100, [&] {
        popped = QApplication::activePopupWidget() == w.plot()->contextMenu;
        w.plot()->contextMenu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), w.plot()->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(w.plot(), &event);
    QVERIFY(popped);

    // The timer drives the refresh.
    w.setStopped(false);
    feed(w, 2, 41, 2);
    QTRY_VERIFY(w.tableModel()->item(0, 1));
    QCOMPARE(w.tableModel()->item(0, 1)->text(), QStringLiteral("41"));

    // Ticks with nothing new draw nothing; a frame, or axes moved by the user, bring it back.
    int ticks = 0, replots = 0;
    connect(w.refreshTimer(), &QTimer::timeout, [&] { ++ticks; });
    connect(w.plot(), &QCustomPlot::afterReplot, [&] { ++replots; });
    QTRY_VERIFY(ticks >= 5);
    QCOMPARE(replots, 0);
    w.plot()->xAxis->setRange(0, 300); // dragged away from the newest frame
    QTRY_COMPARE(w.plot()->xAxis->range().upper, w.sampleCount());
    QCOMPARE(replots, 1);
    feed(w, 2, 42, 2);
    QTRY_COMPARE(w.tableModel()->item(0, 1)->text(), QStringLiteral("42"));
    QCOMPARE(replots, 2);

    split->setSizes({shown[0] + shown[1] - 150, 150}); // the user drags the handle
    const QList<int> dragged = split->sizes();
    w.close();
    QVERIFY(!w.refreshTimer()->isActive() && !w.vectorGraph()->isRunning() && !w.planeGraph()->isRunning());
    // Closed, the window keeps taking frames; reopened, it shows them.
    for (int n = 0; n < 20; ++n)
        feed(w, 2, n, 2);
    w.show();
    QVERIFY(w.refreshTimer()->isActive());
    QTRY_COMPARE(w.plot()->graph(3)->dataCount(), 22);
    QCOMPARE(split->sizes(), dragged); // only the first show sets the split
}

void TestCurveGraphic::framesFromLinkThreadArriveBySignature()
{
    CurveGraphic w;
    w.setSensorNum(2);
    w.setDataMode(1);
    LinkThread<FakeLink> thread;
    FakeLink *link = thread.link;
    QVERIFY(connect(link, SIGNAL(AxitReceive(QList<Axit_t>&,uint)), &w, SLOT(setItemData(QList<Axit_t>&,uint))));
    QVERIFY(connect(link, SIGNAL(AxitReceive(QList<Axit_t>&,uint,uint)), &w,
                    SLOT(setItemData(QList<Axit_t>&,uint,uint))));
    thread.start();

    const QByteArray samples = be16(1000) + be16(-2000) + be16(3000) + be16(4) + be16(5) + be16(6);
    QMetaObject::invokeMethod(link, [link, samples] { link->feed(cardFrame(0x00, samples)); });
    QTRY_COMPARE(w.sampleCount(), 1.0);
    QMetaObject::invokeMethod(link, [link, samples] { link->feed(cardFrame(0x02, be32(777) + samples)); });
    QTRY_COMPARE(w.sampleCount(), 2.0);
    QCOMPARE(*w.series(0).y, (QList<double>{-2000, -2000}));
    QCOMPARE(*w.series(1).z, (QList<double>{6, 6}));
}

QTEST_MAIN(TestCurveGraphic)
#include "tst_curvegraphic.moc"
