#include "analysiswindow.h"

#include "analysisexport.h"
#include "replacingfile.h"
#include "config.h"
#include "copview.h"
#include "replaycsv.h"
#include "workerprogress.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <qcustomplot.h>

namespace {

const QString ConfigGroup = QStringLiteral("Analysisconfig");
const QString ConfigKey = QStringLiteral("path");
constexpr uint MsPerDay = 86400000u;

QLabel *valueLabel(const char *name, QWidget *parent)
{
    auto *label = new QLabel(QStringLiteral("—"), parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(190);
    return label;
}

QCPGraph *historyGraph(QCustomPlot *plot, QCPAxis *valueAxis, const QString &name, const QColor &colour)
{
    QCPGraph *graph = plot->addGraph(plot->xAxis, valueAxis);
    graph->setName(name);
    graph->setPen(QPen(colour, 1));
    graph->setAdaptiveSampling(true);
    return graph;
}

} // namespace

AnalysisWindow::AnalysisWindow(QWidget *parent, const QString &configFile)
    : QWidget(parent)
    , saveFileDialog([](QWidget *p, const QString &caption, const QString &folder, const QString &filter) {
        return QFileDialog::getSaveFileName(p, caption, folder, filter);
    })
    , m_config(std::make_unique<Config>(configFile))
{
    setWindowTitle(QStringLiteral("压力分析"));
    buildUi();
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    m_clock = [elapsed] { return elapsed->elapsed(); };

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(RefreshMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &AnalysisWindow::refresh);
}

AnalysisWindow::~AnalysisWindow() = default;

void AnalysisWindow::buildUi()
{
    resize(960, 640);
    auto *values = new QGroupBox(QStringLiteral("最新帧"), this);
    auto *form = new QFormLayout(values);
    m_labTotalForce = valueLabel("labTotalForce", values);
    m_labShear = valueLabel("labShear", values);
    m_labContact = valueLabel("labContact", values);
    m_labCop = valueLabel("labCop", values);
    m_labPeak = valueLabel("labPeak", values);
    form->addRow(QStringLiteral("总压力 Fz:"), m_labTotalForce);
    form->addRow(QStringLiteral("剪切力:"), m_labShear);
    form->addRow(QStringLiteral("接触面积:"), m_labContact);
    form->addRow(QStringLiteral("压力中心:"), m_labCop);
    form->addRow(QStringLiteral("峰值:"), m_labPeak);

    m_spinThreshold = new QSpinBox(values);
    m_spinThreshold->setObjectName(QStringLiteral("spinContactThreshold"));
    m_spinThreshold->setRange(1, 100);
    m_spinThreshold->setSuffix(QStringLiteral(" %"));
    m_spinThreshold->setValue(DefaultContactPercent);
    m_spinThreshold->setToolTip(QStringLiteral("平面图满色（红）的百分比；10 % 即平面图开始着色之处"));
    form->addRow(QStringLiteral("接触阈值:"), m_spinThreshold);
    connect(m_spinThreshold, &QSpinBox::valueChanged, this, &AnalysisWindow::contactThresholdChanged);

    m_btnExport = new QPushButton(QStringLiteral("导出"), values);
    m_btnExport->setObjectName(QStringLiteral("btnAnalysisExport"));
    form->addRow(m_btnExport);
    connect(m_btnExport, &QPushButton::clicked, this, &AnalysisWindow::exportClicked);

    m_copView = new CopView(this);
    m_copView->setObjectName(QStringLiteral("copView"));

    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(QStringLiteral("plotAnalysis"));
    m_plot->setMinimumHeight(220);
    // A replot queued to the next paint rather than composed at once.
    m_plot->setPlottingHint(QCP::phImmediateRefresh, false);
    m_plot->setNotAntialiasedElements(QCP::aeAll);
    m_plot->xAxis->setLabel(QStringLiteral("帧"));
    m_plot->yAxis->setLabel(QStringLiteral("力"));
    m_plot->yAxis2->setLabel(QStringLiteral("接触传感器数"));
    m_plot->yAxis2->setVisible(true);
    m_plot->legend->setVisible(true);
    m_plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    m_fzGraph = historyGraph(m_plot, m_plot->yAxis, QStringLiteral("总压力 Fz"), QColor(220, 20, 60));
    m_shearGraph = historyGraph(m_plot, m_plot->yAxis, QStringLiteral("剪切力"), QColor(65, 105, 225));
    m_contactGraph = historyGraph(m_plot, m_plot->yAxis2, QStringLiteral("接触面积"), QColor(46, 139, 87));
    m_contactGraph->setLineStyle(QCPGraph::lsStepLeft);

    auto *top = new QHBoxLayout;
    top->addWidget(values);
    top->addWidget(m_copView, 1);
    auto *topWidget = new QWidget(this);
    topWidget->setLayout(top);
    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(topWidget);
    split->addWidget(m_plot);
    split->setStretchFactor(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(split);
}

void AnalysisWindow::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void AnalysisWindow::setItemData(QList<Axit_t> &axit, uint num)
{
    takeFrame(axit, num, false, 0);
}

void AnalysisWindow::setItemData(QList<Axit_t> &axit, uint num, uint timeStamp)
{
    takeFrame(axit, num, true, timeStamp);
}

qint64 AnalysisWindow::frameTime(bool stamped, uint timeStamp)
{
    const qint64 now = m_clock();
    const uint stamp = timeStamp % MsPerDay;
    // One time line for everything the window has seen: stamps step it while they follow one
    // another, the arrival clock otherwise (the first frame after a seek or a change of source).
    if (m_timeStarted) {
        if (m_useStamps && stamped && m_stampValid)
            m_frameMs += (stamp + MsPerDay - m_lastStamp) % MsPerDay;
        else
            m_frameMs += std::max<qint64>(0, now - m_lastArrival);
    }
    m_timeStarted = true;
    m_lastArrival = now;
    m_stampValid = m_useStamps && stamped;
    m_lastStamp = stamp;
    return m_frameMs;
}

void AnalysisWindow::takeFrame(const QList<Axit_t> &axit, uint num, bool stamped, uint timeStamp)
{
    // A count larger than the list it came with is not trusted past the list's end.
    const qsizetype taken = std::min({qsizetype(num), axit.size(), qsizetype(16)});
    m_latestFrame.resize(taken);
    std::copy(axit.cbegin(), axit.cbegin() + taken, m_latestFrame.begin());
    m_latestMode = m_dataMode;
    m_latest = summarisePressure(m_latestFrame, int(m_sensorNum), m_latestMode, m_share);
    const qint64 ms = frameTime(stamped, timeStamp);

    m_frameCount += 1;
    m_fzGraph->addData(m_frameCount, m_latest.totalFz);
    m_shearGraph->addData(m_frameCount, m_latest.shear);
    m_contactGraph->addData(m_frameCount, m_latest.contact);
    const double oldest = m_frameCount - (HistoryFrames - 1);
    for (QCPGraph *graph : {m_fzGraph, m_shearGraph, m_contactGraph})
        graph->data()->removeBefore(oldest);

    m_trail.push_back({ms, m_latest.hasCop, m_latest.cop});
    while (m_trail.front().ms < ms - TrailMs)
        m_trail.pop_front();

    // Only what came since the user first opened the window is exported: a tool that never
    // shows it keeps no hour of rows.
    if (m_everShown) {
        m_exportRows.push_back(analysisRow(ms, m_latest));
        while (m_exportRows.front().ms < ms - ExportSpanMs || qsizetype(m_exportRows.size()) > MaxExportRows)
            m_exportRows.pop_front();
    }
    m_dirty = true;
}

void AnalysisWindow::resummarise()
{
    m_latest = summarisePressure(m_latestFrame, int(m_sensorNum), m_latestMode, m_share);
    m_dirty = true;
    if (isVisible())
        refresh();
}

void AnalysisWindow::contactThresholdChanged(int percent)
{
    // The latest frame follows at once; points already in the history and the export stay as
    // they were measured.
    m_share = contactShare(percent);
    resummarise();
}

void AnalysisWindow::setSensorNum(uint num)
{
    num = std::min(num, 16u);
    if (num == m_sensorNum)
        return;
    m_sensorNum = num;
    // Totals over another set of sensors, and a trail in another layout, do not continue the old ones.
    clearHistory();
    resummarise();
}

void AnalysisWindow::setDataMode(int mode)
{
    // Frames from now on; the latest one keeps the mode it came in.
    m_dataMode = mode;
}

void AnalysisWindow::clearHistory()
{
    for (QCPGraph *graph : {m_fzGraph, m_shearGraph, m_contactGraph})
        graph->data()->clear();
    m_frameCount = 0;
    m_trail.clear();
    // The next stamp may lie anywhere after a seek; it must not count as time passed.
    m_stampValid = false;
    m_dirty = true;
}

void AnalysisWindow::setFrameTimeFromStamps(bool on)
{
    m_useStamps = on;
    m_stampValid = false;
}

void AnalysisWindow::setRecording(std::shared_ptr<const ReplayTable> table)
{
    m_recording = std::move(table);
}

QList<QPolygonF> AnalysisWindow::trailPieces() const
{
    QList<QPolygonF> pieces;
    bool open = false;
    for (const TrailPoint &t : m_trail) {
        if (!t.hasCop) {
            open = false;
            continue;
        }
        if (!open)
            pieces.append(QPolygonF());
        pieces.last().append(t.cop);
        open = true;
    }
    return pieces;
}

void AnalysisWindow::refresh()
{
    if (!m_dirty)
        return;
    m_dirty = false;

    const PressureTexts texts = pressureTexts(m_latest);
    m_labTotalForce->setText(texts.totalForce);
    m_labShear->setText(texts.shear);
    m_labContact->setText(texts.contact);
    m_labCop->setText(texts.cop);
    m_labPeak->setText(texts.peak);

    m_copView->setPicture(int(m_sensorNum), trailPieces(),
                          m_latest.hasCop ? std::optional<QPointF>(m_latest.cop) : std::nullopt);

    m_plot->xAxis->setRange(m_frameCount, HistoryFrames, Qt::AlignRight);
    bool found = false;
    QCPRange forces = m_fzGraph->getValueRange(found);
    if (!found)
        forces = QCPRange(0, 1);
    bool foundShear = false;
    const QCPRange shear = m_shearGraph->getValueRange(foundShear);
    if (foundShear)
        forces.expand(shear);
    forces.expand(0);
    const double pad = std::max(1.0, 0.05 * forces.size());
    const QCPRange force(forces.lower - pad, forces.upper + pad);
    m_plot->yAxis->setRange(force);
    // No contact sits on the line of no force.
    const double top = std::max(1u, m_sensorNum) + 0.5;
    m_plot->yAxis2->setRange(top * force.lower / force.upper, top);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void AnalysisWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_everShown = true;
    m_dirty = true;
    refresh();
    m_refreshTimer->start();
}

void AnalysisWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_refreshTimer->stop();
}

void AnalysisWindow::exportClicked()
{
    const QString folder = exportStartFolder(*m_config, ConfigGroup);
    const QString fileName = saveFileDialog(this, QStringLiteral("选择文件"), folder, QStringLiteral("*.csv"));
    if (fileName.isEmpty())
        return;
    m_config->remove(ConfigGroup, ConfigKey);
    m_config->setValue(ConfigGroup, ConfigKey, fileName);

    auto file = std::make_shared<ReplacingFile>(fileName);
    if (!file->open()) {
        QMessageBox::warning(this, QStringLiteral("错误"), QStringLiteral("文件无法创建"));
        return;
    }
    // The worker gets its own copy of what it writes: frames keep arriving while it runs.
    std::function<ExportResult(WorkerProgress &)> job;
    qint64 total = 0;
    if (m_recording) {
        const std::shared_ptr<const ReplayTable> table = m_recording;
        const float share = m_share;
        total = table->rowCount();
        job = [file, table, share](WorkerProgress &p) {
            return writeRecordingAnalysis(*file, *table, share, &p.cancel, &p.done);
        };
    } else {
        auto rows = std::make_shared<const std::deque<AnalysisRow>>(m_exportRows);
        total = qint64(rows->size());
        job = [file, rows](WorkerProgress &p) { return writeAnalysisRows(*file, *rows, &p.cancel, &p.done); };
    }

    ExportResult result = ExportResult::Failed;
    QPointer<AnalysisWindow> self(this);
    const bool ran = runWithProgress(this, QStringLiteral("导出文件"), QStringLiteral("正在导出分析数据…"), total,
                                     [&job, &result](WorkerProgress &p) { result = job(p); }, exportProgressAfterMs);
    // Cancelled, or the window went away: the half-written file goes with it.
    if (!ran || result == ExportResult::Cancelled || !self)
        return;
    if (result != ExportResult::Written || !file->commit()) {
        QMessageBox::warning(this, QStringLiteral("错误"), QStringLiteral("文件写入失败"));
        return;
    }
    QMessageBox::information(this, QStringLiteral("导出文件"), QStringLiteral("文件导出成功"));
}
