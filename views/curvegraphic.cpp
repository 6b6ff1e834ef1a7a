#include "curvegraphic.h"

#include "curvemath.h"
#include "tablestyle.h"
#include "mycurvegraphic.h"
#include "ui_curvegraphic.h"

#include <QDebug>
#include <QHeaderView>
#include <QInputDialog>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTimer>
#include <algorithm>
#include <limits>

namespace {

QPen curvePen(const QColor &colour)
{
    return QPen(QBrush(colour, Qt::SolidPattern), 3.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

// A dragged or zoomed axis may end anywhere; a dialog's start value must still be an int.
int truncatedToInt(double value)
{
    const double lo = std::numeric_limits<int>::min();
    const double hi = std::numeric_limits<int>::max();
    return int(std::clamp(value, lo, hi));
}

QStandardItem *tableItem(int value)
{
    auto *item = new QStandardItem(QString::number(value));
    item->setEditable(false);
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    return item;
}

// Brings a curve's data to the sensor's history. Keys only ever grow, so the points that left
// the history are cut from the front and the new ones appended, instead of copying all 1000
// points of every curve each tick.
void followHistory(QCPGraph *graph, const QList<double> &keys, const QList<double> &values)
{
    QCPGraphDataContainer &data = *graph->data();
    if (keys.isEmpty()) {
        data.clear();
        return;
    }
    data.removeBefore(keys.first());
    const double last = data.isEmpty() ? -std::numeric_limits<double>::infinity() : (data.constEnd() - 1)->key;
    qsizetype from = keys.size();
    while (from > 0 && keys.at(from - 1) > last)
        --from;
    // What is left must be the history's head; anything else (never expected) is rebuilt.
    if (data.size() != from || (from > 0 && data.constBegin()->key != keys.first())) {
        graph->setData(keys, values, true);
        return;
    }
    for (qsizetype i = from; i < keys.size(); ++i)
        data.add(QCPGraphData(keys.at(i), values.at(i)));
}

} // namespace

void CurveGraphic::setTableValue(int row, int column, int value)
{
    // Replacing the items on every tick repainted the style-sheeted header each time, and Qt
    // keeps a little memory per such repaint: it grew for as long as the window ran. Only the
    // first value of a cell creates its item.
    if (QStandardItem *item = m_tableModel->item(row, column))
        item->setText(QString::number(value));
    else
        m_tableModel->setItem(row, column, tableItem(value));
}

CurveGraphic::CurveGraphic(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::CurveGraphic>())
{
    ui->setupUi(this);
    ui->splitterCurve->setSizes({40, 60});
    setupPlot();
    ui->vectorGraph->setCoordinateSystem(ui->coordinateSystem);

    auto *all = new QListWidgetItem(QStringLiteral("全选"));
    all->setCheckState(Qt::Unchecked);
    ui->sensorList->addItem(all);

    setupTable();

    MyCurveGraphic *plot = ui->graphic;
    connect(plot->actionXRange, &QAction::triggered, this, &CurveGraphic::actionSetXRange);
    connect(plot->actionYMax, &QAction::triggered, this, &CurveGraphic::actionSetYMaxRange);
    connect(plot->actionYMin, &QAction::triggered, this, &CurveGraphic::actionSetYMinRange);

    m_intDialog = [](QWidget *parentWidget, const QString &title, const QString &label, int value,
                     int min, int max, int step, int *result) {
        bool ok = false;
        *result = QInputDialog::getInt(parentWidget, title, label, value, min, max, step, &ok);
        return ok;
    };
}

CurveGraphic::~CurveGraphic() = default;

MyCurveGraphic *CurveGraphic::plot() const { return ui->graphic; }
VectorGraph *CurveGraphic::vectorGraph() const { return ui->vectorGraph; }
PlaneGraph *CurveGraphic::planeGraph() const { return ui->planeGraph; }
CoordinateSystem *CurveGraphic::coordinateSystem() const { return ui->coordinateSystem; }

void CurveGraphic::setupPlot()
{
    MyCurveGraphic *plot = ui->graphic;
    plot->xRange = 100;
    plot->yMax = 5000;
    plot->yMin = -5000;

    for (int s = 0; s < maxSensors; ++s)
        for (int axis = 0; axis < 3; ++axis)
            m_axisColors[s][axis] = axisColour(s, axis);

    plot->xAxis->setLabel(QStringLiteral("时间"));
    plot->yAxis->setLabel(QStringLiteral("力"));
    plot->legend->setVisible(true);
    plot->setAutoAddPlottableToLegend(false); // the graph window adds entries that keep their picture
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    plot->legend->setWrap(18);
    // Eighteen rows of the default legend are taller than the plot at the window's default size
    // and covered the X axis; smaller text and icons keep a full column inside the axis rect.
    QFont legendFont = plot->legend->font();
    legendFont.setPixelSize(10);
    plot->legend->setFont(legendFont);
    plot->legend->setIconSize(18, 6);
    plot->legend->setIconTextPadding(4);
    plot->legend->setRowSpacing(0);
    plot->legend->setColumnSpacing(6);
    plot->legend->setMargins(QMargins(4, 2, 4, 2));
    // Half see-through, so curves passing under a long legend still show.
    plot->legend->setBrush(QColor(255, 255, 255, 200));

    connect(plot->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), plot->xAxis2,
            qOverload<const QCPRange &>(&QCPAxis::setRange));
    connect(plot->yAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), plot->yAxis2,
            qOverload<const QCPRange &>(&QCPAxis::setRange));
    connect(plot, &QCustomPlot::legendDoubleClick, this, &CurveGraphic::plotlegendClickslot);

    m_refreshTimer = std::make_unique<QTimer>();
    m_refreshTimer->setInterval(30);
    connect(m_refreshTimer.get(), &QTimer::timeout, this, &CurveGraphic::refreshPlot);
    ui->vectorGraph->setTickSource(m_refreshTimer.get());
    ui->planeGraph->setTickSource(m_refreshTimer.get());

    // Debian's QCustomPlot is built without its OpenGL path and falls back to raster drawing.
    plot->setOpenGl(true, 16);
    plot->setAntialiasedElements(QCP::aeAll);
    // Width-3 curves drawn as one polyline each are rasterised as long outlines, which cost
    // about 30 ms a tick; segment by segment, with square caps covering the joins, they look
    // the same and take a few.
    plot->setPlottingHint(QCP::phFastPolylines, true);
    // A replot repaints at once by default, in a composition of the window of its own; the
    // table and the views then need another. Queued, the three go out together every tick.
    plot->setPlottingHint(QCP::phImmediateRefresh, false);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);

    plot->yAxis->setRangeUpper(plot->yMax);
    plot->yAxis->setRangeLower(plot->yMin);
}

void CurveGraphic::setupTable()
{
    m_headerLabels = QStringList{QStringLiteral("sensor"), QStringLiteral("X轴"), QStringLiteral("Y轴"),
                                 QStringLiteral("Z轴")};
    QTableView *table = ui->SensorTable;
    m_tableModel = new QStandardItemModel(table);
    m_tableModel->setHorizontalHeaderLabels(m_headerLabels);
    table->setModel(m_tableModel);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setColumnWidth(0, 55);
    table->setColumnWidth(1, 70);
    table->setColumnWidth(2, 70);
    table->setColumnWidth(3, 70);
    table->verticalHeader()->hide();
    table->setAlternatingRowColors(true);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setStyleSheet(tableStyleSheet());
}

void CurveGraphic::setItemData(QList<Axit_t> &axit, uint num)
{
    m_latestFrame.clear();
    QList<QVector3D> vectors;
    m_sampleCount += 1;
    m_refreshDue = true;

    // A count larger than the list it came with is not trusted past the list's end.
    const qsizetype taken = std::min({qsizetype(m_sensorNum), qsizetype(num), axit.size()});
    for (qsizetype i = 0; i < taken; ++i) {
        SensorSeries &s = m_series[i];
        if (s.key->size() >= SensorSeries::maxPoints) {
            s.x->removeFirst();
            s.y->removeFirst();
            s.z->removeFirst();
            s.key->removeFirst();
        }
        const CurveSample sample = curveSample(axit.at(i), m_dataMode);
        s.x->append(sample.value.x);
        s.y->append(sample.value.y);
        s.z->append(sample.value.z);
        s.key->append(m_sampleCount);
        vectors.append(sample.vector);
        m_latestFrame.append(sample.value);
    }

    ui->vectorGraph->setVectors(vectors);
    ui->planeGraph->setVectors(vectors);
}

void CurveGraphic::setItemData(QList<Axit_t> &axit, uint num, uint timeStamp)
{
    Q_UNUSED(timeStamp)
    setItemData(axit, num);
}

void CurveGraphic::clearHistory()
{
    for (SensorSeries &s : m_series) {
        s.x->clear();
        s.y->clear();
        s.z->clear();
        s.key->clear();
    }
    m_latestFrame.clear();
    ui->vectorGraph->setVectors({});
    ui->planeGraph->setVectors({});
    m_refreshDue = true;
    QTimer::singleShot(0, this, &CurveGraphic::refreshPlot);
}

void CurveGraphic::refreshPlot()
{
    if (m_stopped)
        return;
    // Nothing arrived or changed since the last refresh and the axes are where it left them:
    // drawing the same picture again would still cost a composition of the whole window.
    MyCurveGraphic *plot = ui->graphic;
    if (!m_refreshDue && plot->xAxis->range() == m_refreshedX && plot->yAxis->range() == m_refreshedY)
        return;

    const qsizetype rows = std::min(m_latestFrame.size(), qsizetype(m_sensorNum));
    for (qsizetype i = 0; i < rows; ++i) {
        const Axit_t &v = m_latestFrame.at(i);
        setTableValue(int(i), 1, v.x);
        setTableValue(int(i), 2, v.y);
        setTableValue(int(i), 3, v.z);
    }
    // A sensor the latest frame has no value for shows none: an older value would pass for it.
    for (qsizetype i = rows; i < qsizetype(m_sensorNum); ++i)
        for (int column = 1; column <= 3; ++column)
            if (QStandardItem *item = m_tableModel->item(int(i), column); item && !item->text().isEmpty())
                item->setText(QString());

    for (uint s = 0; s < m_sensorNum; ++s) {
        const SensorSeries &series = m_series[s];
        followHistory(plot->graph(int(3 * s)), *series.key, *series.x);
        followHistory(plot->graph(int(3 * s + 1)), *series.key, *series.y);
        followHistory(plot->graph(int(3 * s + 2)), *series.key, *series.z);
    }

    const QCPRange span = plot->xAxis->range();
    plot->xRange = keptXRange(span.lower, span.upper, plot->xRange);
    plot->xAxis->setRange(m_sampleCount, plot->xRange, Qt::AlignRight);
    plot->replot(QCustomPlot::rpRefreshHint);
    m_refreshDue = false;
    m_refreshedX = plot->xAxis->range();
    m_refreshedY = plot->yAxis->range();
}

void CurveGraphic::setSensorNum(uint num)
{
    // The histories, colours and views exist for 16 sensors only.
    num = std::min(num, uint(maxSensors));
    const uint old = m_sensorNum;
    if (num == old)
        return;

    ui->vectorGraph->setSensorNum(int(num));
    ui->planeGraph->setSensorNum(int(num));

    MyCurveGraphic *plot = ui->graphic;
    static const char *const axisNames[3] = {"X", "Y", "Z"};
    for (uint i = old; i < num; ++i) {
        auto *row = new QListWidgetItem(QStringLiteral("Sensor") + QString::number(i));
        row->setCheckState(Qt::Unchecked);
        ui->sensorList->addItem(row);
        for (const char *axis : axisNames) {
            QCPGraph *graph = plot->addGraph();
            plot->legend->addItem(new CachedLegendItem(plot->legend, graph));
            graph->setName(QStringLiteral("Sensor") + QString::number(i) + QLatin1String(axis));
            graph->setVisible(false);
            if (QCPAbstractLegendItem *legendItem = plot->legend->itemWithPlottable(graph))
                legendItem->setTextColor(Qt::darkGray);
            graph->setPen(QPen(QColor(Qt::darkGray)));
        }
    }
    for (uint i = old; i-- > num;) {
        delete ui->sensorList->takeItem(int(i + 1));
        plot->removeGraph(int(3 * i + 2));
        plot->removeGraph(int(3 * i + 1));
        plot->removeGraph(int(3 * i));
    }

    m_tableModel->setRowCount(int(num));
    for (uint j = 0; j < num; ++j)
        m_tableModel->setItem(int(j), 0, tableItem(int(j)));

    m_sensorNum = num;
    m_refreshDue = true;
}

void CurveGraphic::applyCurveColour(int graphIndex, const QColor &colour)
{
    MyCurveGraphic *plot = ui->graphic;
    QCPGraph *graph = plot->graph(graphIndex);
    if (QCPAbstractLegendItem *legendItem = plot->legend->itemWithPlottable(graph))
        legendItem->setTextColor(colour);
    graph->setPen(curvePen(colour));
    m_refreshDue = true;
}

void CurveGraphic::setSensorChecked(int sensorIndex, bool checked)
{
    if (sensorIndex < 0 || uint(sensorIndex) >= m_sensorNum)
        return;
    qDebug() << (checked ? "check sensorIndex= " : "uncheck sensorIndex= ") << sensorIndex << "  graph="
             << 3 * sensorIndex;
    for (int axis = 0; axis < 3; ++axis) {
        const int g = 3 * sensorIndex + axis;
        ui->graphic->graph(g)->setVisible(checked);
        applyCurveColour(g, checked ? m_axisColors[sensorIndex][axis] : QColor(Qt::darkGray));
    }
}

void CurveGraphic::on_sensorList_itemClicked(QListWidgetItem *item)
{
    const int row = ui->sensorList->row(item);
    if (row < 0)
        return;
    if (row != 0) {
        setSensorChecked(row - 1, item->checkState() != Qt::Unchecked);
        return;
    }
    const Qt::CheckState state = item->checkState();
    for (uint r = 1; r <= m_sensorNum; ++r) {
        ui->sensorList->item(int(r))->setCheckState(state);
        setSensorChecked(int(r) - 1, state != Qt::Unchecked);
    }
}

void CurveGraphic::plotlegendClickslot(QCPLegend *legend, QCPAbstractLegendItem *item, QMouseEvent *event)
{
    Q_UNUSED(legend)
    MyCurveGraphic *plot = ui->graphic;
    const int count = plot->legend->itemCount();
    qDebug() << "ncount=" << count;
    int index = -1;
    for (int i = 0; i < count; ++i) {
        if (plot->legend->item(i) == item) {
            index = i;
            break;
        }
    }
    // A double-click on the legend's empty area comes without an item.
    if (index < 0 || index >= plot->graphCount())
        return;

    QCPGraph *graph = plot->graph(index);
    const bool show = !graph->visible();
    graph->setVisible(show);
    qDebug() << "show=" << show;
    applyCurveColour(index, show ? m_axisColors[index / 3][index % 3] : QColor(Qt::darkGray));
    if (event)
        qDebug() << "plotlegendClickslot" << "item=" << index << "point:" << event->position().x() << ","
                 << event->position().y();
    plot->replot(QCustomPlot::rpRefreshHint);
}

bool CurveGraphic::askInt(const QString &title, int value, int min, int max, int step, int *result)
{
    return m_intDialog && m_intDialog(this, title, QStringLiteral("请输入"), value, min, max, step, result);
}

void CurveGraphic::actionSetXRange(bool checked)
{
    Q_UNUSED(checked)
    MyCurveGraphic *plot = ui->graphic;
    int value = 0;
    if (!askInt(QStringLiteral("设置X轴范围"), plot->xRange, 50, 1000, 50, &value))
        return;
    if (value > 100) {
        plot->xRange = value;
        plot->xAxis->setRange(m_sampleCount, plot->xRange, Qt::AlignRight);
    }
}

void CurveGraphic::actionSetYMaxRange(bool checked)
{
    Q_UNUSED(checked)
    MyCurveGraphic *plot = ui->graphic;
    int value = 0;
    if (!askInt(QStringLiteral("设置Y轴最大值"), truncatedToInt(plot->yAxis->range().upper), 20, 50000, 100,
                &value))
        return;
    if (value >= 100) {
        plot->yMax = value;
        plot->yAxis->setRangeUpper(plot->yMax);
    }
}

void CurveGraphic::actionSetYMinRange(bool checked)
{
    Q_UNUSED(checked)
    MyCurveGraphic *plot = ui->graphic;
    int value = 0;
    if (!askInt(QStringLiteral("设置Y轴最小值"), truncatedToInt(plot->yAxis->range().lower), -50000, -20, 100,
                &value))
        return;
    if (value <= -100) {
        plot->yMin = value;
        plot->yAxis->setRangeLower(plot->yMin);
    }
}

void CurveGraphic::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Sizes given before the first layout are stretched by the plane view's minimum into about
    // an even split; the first show has the real height to share. Later shows keep the user's.
    if (!m_splitShown) {
        m_splitShown = true;
        QSplitter *split = ui->splitterCurve;
        const int height = split->height() - split->handleWidth();
        split->setSizes({height * 2 / 5, height - height * 2 / 5});
    }
    m_refreshDue = true;
    m_refreshTimer->start(30);
    ui->vectorGraph->setRunning(true);
    ui->planeGraph->setRunning(true);
}

void CurveGraphic::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    m_refreshTimer->stop();
    ui->vectorGraph->setRunning(false);
    ui->planeGraph->setRunning(false);
}
