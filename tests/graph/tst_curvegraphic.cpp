#include "coordinatesystem.h"
#include "curvegraphic.h"
#include "debugcapture.h"
#include "fakelink.h"
#include "mycurvegraphic.h"
#include "planegraph.h"
#include "vectorgraph.h"

#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace {

Axit_t axit(int x, int y, int z)
{
    Axit_t a;
    a.x = int16_t(x);
    a.y = int16_t(y);
    a.z = int16_t(z);
    return a;
}

// One frame of `count` sensors; sensor i carries (base + i, -(base + i), 2 * (base + i)).
QList<Axit_t> frame(int count, int base)
{
    QList<Axit_t> list;
    for (int i = 0; i < count; ++i)
        list.append(axit(base + i, -(base + i), 2 * (base + i)));
    return list;
}

void feed(CurveGraphic &w, int count, int base, uint num)
{
    QList<Axit_t> list = frame(count, base);
    w.setItemData(list, num);
}

QStringList listTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

QColor legendColour(MyCurveGraphic *plot, int graph)
{
    return plot->legend->itemWithPlottable(plot->graph(graph))->textColor();
}

struct DialogCall
{
    QString title;
    QString label;
    int value = 0;
    int min = 0;
    int max = 0;
    int step = 0;
};

} // namespace

class TestCurveGraphic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void formPlacesViewsAndOverlay();
    void keepsLastThousandPointsPerSensor();
    void takesOnlySensorsPresentInBothFrameAndWindow_data();
    void takesOnlySensorsPresentInBothFrameAndWindow();
    void sourceDataPlottedAsReceivedAndScaledForViews();
    void demarcatedDataConvertedAndWrapped();
    void noSensorsOnlyAdvancesTheCount();
    void sensorCountGrowsAndShrinksListGraphsAndTable();
    void sensorCountAboveSixteenIsClamped();
    void selectAllShowsAndHidesEveryCurve();
    void sensorRowShowsOnlyItsThreeCurves();
    void legendDoubleClickTogglesOneCurve();
    void legendDoubleClickOutsideItemsIsIgnored();
    void refreshFillsTableAndAnchorsNewestFrame();
    void mouseZoomKeptOnlyInsideBand_data();
    void mouseZoomKeptOnlyInsideBand();
    void stoppedWindowNeitherAnchorsNorFillsTable();
    void axisDialogsApplyOnlyAcceptedValues_data();
    void axisDialogsApplyOnlyAcceptedValues();
    void contextMenuOffersTheThreeAxisDialogs();
    void showAndCloseRunAndStopTimers();
    void framesFromLinkThreadArriveBySignature();
};

void TestCurveGraphic::initTestCase()
{
    registerLinkMetaTypes();
}

void TestCurveGraphic::formPlacesViewsAndOverlay()
{
    CurveGraphic w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Form"));
    QCOMPARE(w.size(), QSize(853, 595));
    QCOMPARE(w.coordinateSystem()->parentWidget(), w.vectorGraph());
    QCOMPARE(w.vectorGraph()->coordinateSystem(), w.coordinateSystem());
    auto *all = w.findChild<QSplitter *>("splitterAll");
    auto *curve = w.findChild<QSplitter *>("splitterCurve");
    auto *graph = w.findChild<QSplitter *>("splitterGraph");
    auto *table = w.findChild<QSplitter *>("splitterTable");
    QVERIFY(all && curve && graph && table);
    QCOMPARE(all->orientation(), Qt::Horizontal);
    QCOMPARE(curve->orientation(), Qt::Vertical);
    QCOMPARE(table->orientation(), Qt::Vertical);
    QCOMPARE(curve->widget(0), graph);
    QCOMPARE(curve->widget(1), w.plot());
    QCOMPARE(table->widget(1), w.findChild<QTableView *>("SensorTable"));
    QCOMPARE(w.tableModel()->columnCount(), 4);
    QCOMPARE(w.tableModel()->horizontalHeaderItem(1)->text(), QStringLiteral("X轴"));

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // The overlay keeps its size and sits in the view's bottom-left corner.
    QCOMPARE(w.coordinateSystem()->size(), QSize(100, 100));
    QTRY_COMPARE(w.coordinateSystem()->geometry().bottomLeft(),
                 QPoint(0, w.vectorGraph()->height() - 1));
}

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
        QCOMPARE(series.key->size(), 1000);
        QCOMPARE(series.x->size(), 1000);
        QCOMPARE(series.y->size(), 1000);
        QCOMPARE(series.z->size(), 1000);
        QCOMPARE(series.key->first(), 6.0);
        QCOMPARE(series.key->last(), 1005.0);
        QCOMPARE(series.x->first(), 6.0 + s);
        QCOMPARE(series.y->last(), -(1005.0 + s));
        QCOMPARE(series.z->last(), 2 * (1005.0 + s));
    }
}

void TestCurveGraphic::takesOnlySensorsPresentInBothFrameAndWindow_data()
{
    QTest::addColumn<int>("listSize");
    QTest::addColumn<uint>("num");
    QTest::addColumn<int>("taken");
    QTest::newRow("frame larger than window") << 6 << 6u << 4;
    QTest::newRow("frame smaller than window") << 2 << 2u << 2;
    // A count beyond the list's end must not read past it.
    QTest::newRow("count beyond list") << 3 << 16u << 3;
}

void TestCurveGraphic::takesOnlySensorsPresentInBothFrameAndWindow()
{
    QFETCH(int, listSize);
    QFETCH(uint, num);
    QFETCH(int, taken);
    CurveGraphic w;
    w.setDataMode(1);
    w.setSensorNum(4);
    feed(w, listSize, 100, num);
    QCOMPARE(w.latestFrame().size(), taken);
    QCOMPARE(w.vectorGraph()->vectors().size(), taken);
    QCOMPARE(w.planeGraph()->vectors().size(), taken);
    for (int s = 0; s < 4; ++s)
        QCOMPARE(w.series(s).key->size(), s < taken ? 1 : 0);

    // Sensors left out keep their own history; the shared key moves on regardless.
    feed(w, 4, 200, 4);
    QCOMPARE(w.series(3).key->last(), 2.0);
    QCOMPARE(w.series(3).x->size(), taken == 4 ? 2 : 1);
}

void TestCurveGraphic::sourceDataPlottedAsReceivedAndScaledForViews()
{
    CurveGraphic w;
    w.setSensorNum(1);
    w.setDataMode(1);
    QList<Axit_t> list{axit(1000, -2000, 3000)};
    w.setItemData(list, 1, 12345u);
    QCOMPARE(*w.series(0).x, QList<double>{1000});
    QCOMPARE(*w.series(0).y, QList<double>{-2000});
    QCOMPARE(*w.series(0).z, QList<double>{3000});
    QCOMPARE(w.vectorGraph()->vectors().size(), 1);
    QVERIFY(qFuzzyCompare(w.vectorGraph()->vectors().first(), QVector3D(0.1f, -0.2f, 0.3f)));
    QCOMPARE(w.planeGraph()->vectors(), w.vectorGraph()->vectors());
}

void TestCurveGraphic::demarcatedDataConvertedAndWrapped()
{
    CurveGraphic w;
    w.setSensorNum(2);
    QCOMPARE(w.dataMode(), 0);
    QList<Axit_t> list{axit(1000, -2000, 3000), axit(32767, 32767, 32767)};
    w.setItemData(list, 2);
    QCOMPARE(*w.series(0).x, QList<double>{59});
    QCOMPARE(*w.series(0).y, QList<double>{-4});
    QCOMPARE(*w.series(0).z, QList<double>{-259});
    QCOMPARE(*w.series(1).z, QList<double>{-1565});
    QCOMPARE(w.latestFrame().at(1).x, int16_t(15425));
    QVERIFY(qFuzzyCompare(w.vectorGraph()->vectors().at(1), QVector3D(15.425f, 13.328f, -1.565f)));
}

void TestCurveGraphic::noSensorsOnlyAdvancesTheCount()
{
    CurveGraphic w;
    w.vectorGraph()->setVectors({QVector3D(1, 1, 1)});
    w.planeGraph()->setVectors({QVector3D(1, 1, 1)});
    feed(w, 3, 10, 3);
    feed(w, 3, 10, 3);
    QCOMPARE(w.sampleCount(), 2.0);
    QVERIFY(w.latestFrame().isEmpty());
    QVERIFY(w.vectorGraph()->vectors().isEmpty());
    QVERIFY(w.planeGraph()->vectors().isEmpty());
    for (int s = 0; s < CurveGraphic::maxSensors; ++s)
        QVERIFY(w.series(s).key->isEmpty());
}

void TestCurveGraphic::sensorCountGrowsAndShrinksListGraphsAndTable()
{
    CurveGraphic w;
    auto *list = w.findChild<QListWidget *>("sensorList");
    MyCurveGraphic *plot = w.plot();
    QCOMPARE(listTexts(list), QStringList{"全选"});

    w.setSensorNum(4);
    QCOMPARE(listTexts(list), (QStringList{"全选", "Sensor0", "Sensor1", "Sensor2", "Sensor3"}));
    QCOMPARE(plot->graphCount(), 12);
    QCOMPARE(plot->graph(11)->name(), QStringLiteral("Sensor3Z"));
    QCOMPARE(w.vectorGraph()->sensorNum(), 4);
    QCOMPARE(w.planeGraph()->sensorNum(), 4);
    for (int g = 0; g < 12; ++g) {
        QVERIFY(!plot->graph(g)->visible());
        QCOMPARE(plot->graph(g)->pen().color(), QColor(Qt::darkGray));
        QCOMPARE(legendColour(plot, g), QColor(Qt::darkGray));
    }
    for (int r = 1; r < list->count(); ++r)
        QCOMPARE(list->item(r)->checkState(), Qt::Unchecked);
    QCOMPARE(w.tableModel()->rowCount(), 4);

    w.setDataMode(1);
    feed(w, 4, 7, 4);
    QCPGraph *keptGraph = plot->graph(5);
    w.setSensorNum(2);
    QCOMPARE(listTexts(list), (QStringList{"全选", "Sensor0", "Sensor1"}));
    QCOMPARE(plot->graphCount(), 6);
    QCOMPARE(plot->graph(5), keptGraph);
    QStringList names;
    for (int g = 0; g < 6; ++g)
        names.append(plot->graph(g)->name());
    QCOMPARE(names, (QStringList{"Sensor0X", "Sensor0Y", "Sensor0Z", "Sensor1X", "Sensor1Y", "Sensor1Z"}));
    QCOMPARE(plot->legend->itemCount(), 6);
    QCOMPARE(w.tableModel()->rowCount(), 2);
    QCOMPARE(w.tableModel()->item(1, 0)->text(), QStringLiteral("1"));
    QCOMPARE(w.vectorGraph()->sensorNum(), 2);
    QCOMPARE(w.planeGraph()->sensorNum(), 2);

    // A removed sensor's history comes back with it.
    w.setSensorNum(3);
    QCOMPARE(w.series(2).x->size(), 1);
    QCOMPARE(plot->graph(8)->name(), QStringLiteral("Sensor2Z"));
    QVERIFY(!plot->graph(8)->visible());
}

void TestCurveGraphic::sensorCountAboveSixteenIsClamped()
{
    CurveGraphic w;
    w.setSensorNum(40);
    QCOMPARE(w.sensorNum(), 16u);
    QCOMPARE(w.plot()->graphCount(), 48);
    feed(w, 20, 1, 20);
    QCOMPARE(w.latestFrame().size(), 16);
}

void TestCurveGraphic::selectAllShowsAndHidesEveryCurve()
{
    CurveGraphic w;
    w.setSensorNum(16);
    auto *list = w.findChild<QListWidget *>("sensorList");
    MyCurveGraphic *plot = w.plot();
    // Eighteen entries to a column: 48 curves take three columns.
    QCOMPARE(plot->legend->rowCount(), 18);
    QCOMPARE(plot->legend->columnCount(), 3);

    list->item(0)->setCheckState(Qt::Checked);
    emit list->itemClicked(list->item(0));
    for (int r = 1; r <= 16; ++r)
        QCOMPARE(list->item(r)->checkState(), Qt::Checked);
    for (int g = 0; g < 48; ++g) {
        QVERIFY(plot->graph(g)->visible());
        const QColor colour = w.axisColors(g / 3, g % 3);
        QCOMPARE(plot->graph(g)->pen().color(), colour);
        QCOMPARE(plot->graph(g)->pen().widthF(), 3.0);
        QCOMPARE(legendColour(plot, g), colour);
    }
    QCOMPARE(plot->graph(0)->pen().color(), QColor(255, 255, 0));
    QCOMPARE(plot->graph(19)->pen().color(), QColor(107, 142, 35));
    QCOMPARE(plot->graph(47)->pen().color(), QColor(216, 191, 216));

    list->item(0)->setCheckState(Qt::Unchecked);
    emit list->itemClicked(list->item(0));
    for (int r = 1; r <= 16; ++r)
        QCOMPARE(list->item(r)->checkState(), Qt::Unchecked);
    for (int g = 0; g < 48; ++g) {
        QVERIFY(!plot->graph(g)->visible());
        QCOMPARE(plot->graph(g)->pen().color(), QColor(Qt::darkGray));
        QCOMPARE(legendColour(plot, g), QColor(Qt::darkGray));
    }
}

void TestCurveGraphic::sensorRowShowsOnlyItsThreeCurves()
{
    CurveGraphic w;
    w.setSensorNum(4);
    auto *list = w.findChild<QListWidget *>("sensorList");
    MyCurveGraphic *plot = w.plot();
    DebugCapture debug;
    list->item(3)->setCheckState(Qt::Checked);
    emit list->itemClicked(list->item(3));
    for (int g = 0; g < 12; ++g)
        QCOMPARE(plot->graph(g)->visible(), g >= 6 && g <= 8);
    QCOMPARE(plot->graph(7)->pen().color(), QColor(106, 90, 205));
    QCOMPARE(list->item(0)->checkState(), Qt::Unchecked);
    QCOMPARE(debug.withPrefix("check sensorIndex=").size(), 1);
    QVERIFY(debug.withPrefix("check sensorIndex=").first().contains("graph= 6"));

    list->item(3)->setCheckState(Qt::Unchecked);
    emit list->itemClicked(list->item(3));
    QVERIFY(!plot->graph(7)->visible());
    QCOMPARE(plot->graph(7)->pen().color(), QColor(Qt::darkGray));
    QCOMPARE(debug.withPrefix("uncheck sensorIndex=").size(), 1);
}

void TestCurveGraphic::legendDoubleClickTogglesOneCurve()
{
    CurveGraphic w;
    w.setSensorNum(4);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    MyCurveGraphic *plot = w.plot();
    plot->replot();
    auto *list = w.findChild<QListWidget *>("sensorList");

    DebugCapture debug;
    // Graph 4 is sensor 1's Y curve; double-click its legend entry as the user would.
    const QPoint at = plot->legend->item(4)->outerRect().center();
    QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, at);
    QTRY_VERIFY(plot->graph(4)->visible());
    QCOMPARE(plot->graph(4)->pen().color(), QColor(65, 105, 225));
    QCOMPARE(plot->graph(4)->pen().widthF(), 3.0);
    QCOMPARE(legendColour(plot, 4), QColor(65, 105, 225));
    QVERIFY(!plot->graph(3)->visible());
    QCOMPARE(list->item(2)->checkState(), Qt::Unchecked);
    QVERIFY(debug.contains("ncount= 12"));
    QVERIFY(debug.contains("show= true"));
    QCOMPARE(debug.withPrefix("plotlegendClickslot item= 4 point:").size(), 1);

    QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, at);
    QTRY_VERIFY(!plot->graph(4)->visible());
    QCOMPARE(plot->graph(4)->pen().color(), QColor(Qt::darkGray));
    QCOMPARE(legendColour(plot, 4), QColor(Qt::darkGray));
}

void TestCurveGraphic::legendDoubleClickOutsideItemsIsIgnored()
{
    CurveGraphic w;
    w.setSensorNum(2);
    MyCurveGraphic *plot = w.plot();
    // QCustomPlot reports a double-click on the legend's frame with no item.
    emit plot->legendDoubleClick(plot->legend, nullptr, nullptr);
    for (int g = 0; g < 6; ++g)
        QVERIFY(!plot->graph(g)->visible());
}

void TestCurveGraphic::refreshFillsTableAndAnchorsNewestFrame()
{
    CurveGraphic w;
    w.setSensorNum(3);
    w.setDataMode(1);
    w.setStopped(false);
    for (int n = 0; n < 250; ++n)
        feed(w, 2, n, 2);
    w.refreshPlot();

    MyCurveGraphic *plot = w.plot();
    QCOMPARE(plot->xAxis->range(), QCPRange(150, 250));
    QCOMPARE(plot->xAxis2->range(), QCPRange(150, 250));
    QCOMPARE(plot->yAxis->range(), QCPRange(-5000, 5000));
    QCOMPARE(plot->yAxis2->range(), QCPRange(-5000, 5000));
    QCOMPARE(plot->graph(3)->dataCount(), 250);
    QCOMPARE(plot->graph(5)->data()->at(249)->value, 2.0 * 250);
    QCOMPARE(plot->graph(6)->dataCount(), 0);

    QStandardItemModel *model = w.tableModel();
    QCOMPARE(model->item(1, 1)->text(), QStringLiteral("250"));
    QCOMPARE(model->item(1, 2)->text(), QStringLiteral("-250"));
    QCOMPARE(model->item(1, 3)->text(), QStringLiteral("500"));
    QCOMPARE(model->item(1, 1)->textAlignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    QVERIFY(!model->item(1, 1)->isEditable());
    // Sensor 2 had no value in the last frame.
    QVERIFY(!model->item(2, 1));
}

void TestCurveGraphic::mouseZoomKeptOnlyInsideBand_data()
{
    QTest::addColumn<double>("span");
    QTest::addColumn<int>("kept");
    QTest::newRow("300 stays") << 300.0 << 300;
    QTest::newRow("zoomed in to 60") << 60.4 << 60;
    QTest::newRow("1500 snaps back") << 1500.0 << 100;
    QTest::newRow("40 snaps back") << 40.0 << 100;
}

void TestCurveGraphic::mouseZoomKeptOnlyInsideBand()
{
    QFETCH(double, span);
    QFETCH(int, kept);
    CurveGraphic w;
    w.setSensorNum(1);
    w.setStopped(false);
    for (int n = 0; n < 400; ++n)
        feed(w, 1, n, 1);
    w.refreshPlot();
    MyCurveGraphic *plot = w.plot();
    plot->xAxis->setRange(QCPRange(200 - span / 2, 200 + span / 2));
    w.refreshPlot();
    QCOMPARE(plot->xRange, kept);
    QCOMPARE(plot->xAxis->range(), QCPRange(400 - kept, 400));
    feed(w, 1, 0, 1);
    w.refreshPlot();
    QCOMPARE(plot->xAxis->range(), QCPRange(401 - kept, 401));
}

void TestCurveGraphic::stoppedWindowNeitherAnchorsNorFillsTable()
{
    CurveGraphic w;
    w.setSensorNum(1);
    QVERIFY(w.isStopped());
    MyCurveGraphic *plot = w.plot();
    const QCPRange before = plot->xAxis->range();
    for (int n = 0; n < 50; ++n)
        feed(w, 1, n, 1);
    w.refreshPlot();
    QCOMPARE(plot->xAxis->range(), before);
    QCOMPARE(plot->graph(0)->dataCount(), 0);
    QVERIFY(!w.tableModel()->item(0, 1));
    QCOMPARE(w.series(0).key->size(), 50);

    w.setStopped(false);
    w.refreshPlot();
    QCOMPARE(plot->xAxis->range(), QCPRange(-50, 50));
    w.setStopped(true);
    plot->xAxis->setRange(QCPRange(0, 10));
    feed(w, 1, 0, 1);
    w.refreshPlot();
    QCOMPARE(plot->xAxis->range(), QCPRange(0, 10));
}

void TestCurveGraphic::axisDialogsApplyOnlyAcceptedValues_data()
{
    QTest::addColumn<int>("action"); // 0: X span, 1: Y maximum, 2: Y minimum
    QTest::addColumn<bool>("accept");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("applied");
    QTest::newRow("x 150 accepted") << 0 << true << 150 << true;
    QTest::newRow("x 100 ignored") << 0 << true << 100 << false;
    QTest::newRow("x 50 ignored") << 0 << true << 50 << false;
    QTest::newRow("x 1000 accepted") << 0 << true << 1000 << true;
    QTest::newRow("x cancelled") << 0 << false << 500 << false;
    QTest::newRow("ymax 100 accepted") << 1 << true << 100 << true;
    QTest::newRow("ymax 99 ignored") << 1 << true << 99 << false;
    QTest::newRow("ymax 20000 accepted") << 1 << true << 20000 << true;
    QTest::newRow("ymax cancelled") << 1 << false << 20000 << false;
    QTest::newRow("ymin -100 accepted") << 2 << true << -100 << true;
    QTest::newRow("ymin -99 ignored") << 2 << true << -99 << false;
    QTest::newRow("ymin -30000 accepted") << 2 << true << -30000 << true;
    QTest::newRow("ymin cancelled") << 2 << false << -30000 << false;
}

void TestCurveGraphic::axisDialogsApplyOnlyAcceptedValues()
{
    QFETCH(int, action);
    QFETCH(bool, accept);
    QFETCH(int, answer);
    QFETCH(bool, applied);

    CurveGraphic w;
    w.setSensorNum(1);
    for (int n = 0; n < 600; ++n)
        feed(w, 1, n, 1);
    MyCurveGraphic *plot = w.plot();
    plot->yAxis->setRange(QCPRange(-4321.7, 4321.7));
    const QCPRange xBefore = plot->xAxis->range();

    QList<DialogCall> calls;
    QWidget *dialogParent = nullptr;
    w.setIntDialog([&](QWidget *parent, const QString &title, const QString &label, int value, int min,
                       int max, int step, int *result) {
        calls.append({title, label, value, min, max, step});
        dialogParent = parent;
        *result = answer;
        return accept;
    });

    const QList<QAction *> actions{plot->actionXRange, plot->actionYMax, plot->actionYMin};
    actions[action]->trigger();
    QCOMPARE(calls.size(), 1);
    const DialogCall &call = calls.first();
    QCOMPARE(call.label, QStringLiteral("请输入"));
    QCOMPARE(dialogParent, &w);

    switch (action) {
    case 0:
        QCOMPARE(call.title, QStringLiteral("设置X轴范围"));
        QCOMPARE(call.value, 100);
        QCOMPARE((QList<int>{call.min, call.max, call.step}), (QList<int>{50, 1000, 50}));
        QCOMPARE(plot->xRange, applied ? answer : 100);
        // An accepted span shows the newest frames at once.
        QCOMPARE(plot->xAxis->range(), applied ? QCPRange(600 - answer, 600) : xBefore);
        break;
    case 1:
        QCOMPARE(call.title, QStringLiteral("设置Y轴最大值"));
        QCOMPARE(call.value, 4321);
        QCOMPARE((QList<int>{call.min, call.max, call.step}), (QList<int>{20, 50000, 100}));
        QCOMPARE(plot->yMax, applied ? answer : 5000);
        QCOMPARE(plot->yAxis->range(), QCPRange(-4321.7, applied ? answer : 4321.7));
        break;
    case 2:
        QCOMPARE(call.title, QStringLiteral("设置Y轴最小值"));
        QCOMPARE(call.value, -4321);
        QCOMPARE((QList<int>{call.min, call.max, call.step}), (QList<int>{-50000, -20, 100}));
        QCOMPARE(plot->yMin, applied ? answer : -5000);
        QCOMPARE(plot->yAxis->range(), QCPRange(applied ? answer : -4321.7, 4321.7));
        break;
    }
}

void TestCurveGraphic::contextMenuOffersTheThreeAxisDialogs()
{
    CurveGraphic w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    MyCurveGraphic *plot = w.plot();
    QStringList seen;
    bool wasPopup = false;
    QTimer::singleShot(100, [&] {
        wasPopup = QApplication::activePopupWidget() == plot->contextMenu;
        for (QAction *a : plot->contextMenu->actions())
            seen.append(a->text());
        plot->contextMenu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), plot->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(plot, &event);
    QVERIFY(wasPopup);
    QCOMPARE(seen, (QStringList{"修改X轴范围", "设置Y轴最大值", "设置Y轴最小值"}));
}

void TestCurveGraphic::showAndCloseRunAndStopTimers()
{
    CurveGraphic w;
    w.setSensorNum(2);
    w.setDataMode(1);
    QVERIFY(!w.refreshTimer()->isActive());
    QVERIFY(!w.vectorGraph()->isRunning());
    QVERIFY(!w.planeGraph()->isRunning());

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.refreshTimer()->isActive());
    QCOMPARE(w.refreshTimer()->interval(), 30);
    QVERIFY(w.vectorGraph()->isRunning());
    QVERIFY(w.planeGraph()->isRunning());

    // The timer drives the refresh: the table fills without anyone calling it.
    w.setStopped(false);
    feed(w, 2, 41, 2);
    QTRY_VERIFY(w.tableModel()->item(0, 1));
    QCOMPARE(w.tableModel()->item(0, 1)->text(), QStringLiteral("41"));

    w.close();
    QVERIFY(!w.refreshTimer()->isActive());
    QVERIFY(!w.vectorGraph()->isRunning());
    QVERIFY(!w.planeGraph()->isRunning());

    // Closed, the window keeps taking frames; reopening shows them.
    for (int n = 0; n < 20; ++n)
        feed(w, 2, n, 2);
    QCOMPARE(w.series(1).key->size(), 21);
    w.show();
    QVERIFY(w.refreshTimer()->isActive());
    QTRY_COMPARE(w.plot()->graph(3)->dataCount(), 21);
}

void TestCurveGraphic::framesFromLinkThreadArriveBySignature()
{
    CurveGraphic w;
    w.setSensorNum(2);
    w.setDataMode(1);
    QThread thread;
    auto *link = new FakeLink;
    link->moveToThread(&thread);
    connect(&thread, &QThread::finished, link, &QObject::deleteLater);
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

    thread.quit();
    thread.wait();
}

QTEST_MAIN(TestCurveGraphic)
#include "tst_curvegraphic.moc"
