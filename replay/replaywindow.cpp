#include "replaywindow.h"
#include "ui_replaywindow.h"

#include "config.h"
#include "curvegraphic.h"
#include "recordformat.h"
#include "replayplayer.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace {

// The record window's export memory: the folder of the last file chosen opens next time.
const QString ConfigGroup = QStringLiteral("Recordconfig");
const QString ConfigKey = QStringLiteral("path");

} // namespace

const QStringList ReplayWindow::speedTexts{"0.25x", "0.5x", "1x", "2x", "4x", "8x"};
const QList<int> ReplayWindow::speedQuarters{1, 2, 4, 8, 16, 32};

struct ReplayWindow::LoadJob
{
    std::atomic<bool> cancel{false};
    std::atomic<qint64> done{0};
    ReplayLoad result;
};

ReplayWindow::ReplayWindow(CurveGraphic *graph, QWidget *parent, const QString &configFile)
    : QWidget(parent)
    , openFileDialog([](QWidget *p, const QString &caption, const QString &folder, const QString &filter) {
        return QFileDialog::getOpenFileName(p, caption, folder, filter);
    })
    , ui(std::make_unique<Ui::ReplayWindow>())
    , m_graph(graph)
    , m_config(std::make_unique<Config>(configFile))
{
    ui->setupUi(this);
    m_player = new ReplayPlayer(this);
    m_player->deliver = [this](qsizetype row) { deliverRow(row); };
    connect(m_player, &ReplayPlayer::playingChanged, this, [this](bool playing) {
        ui->btnReplayPlay->setText(playing ? "暂停" : "播放");
        if (playing)
            m_positionTimer->start();
        else
            m_positionTimer->stop();
        updatePosition();
    });

    // The slider and the clock follow playing at the graph's pace, not once per row.
    m_positionTimer = new QTimer(this);
    m_positionTimer->setInterval(30);
    connect(m_positionTimer, &QTimer::timeout, this, &ReplayWindow::updatePosition);

    connect(ui->sliderReplay, &QSlider::valueChanged, this, [this](int ms) {
        if (!m_settingSlider)
            seekTo(ms);
    });
    ui->comboReplaySpeed->addItems(speedTexts);
    ui->comboReplaySpeed->setCurrentIndex(DefaultSpeedRow);
}

ReplayWindow::~ReplayWindow()
{
    if (m_loader) {
        m_job->cancel = true;
        m_loader->wait();
        delete m_loader;
        m_loadLoop->quit(); // the loading frame below finds the window gone and returns
    }
    endReplay();
}

bool ReplayWindow::chooseAndOpen(QWidget *dialogParent)
{
    if (m_loading)
        return false;
    QPointer<ReplayWindow> self(this);
    const QString folder = exportStartFolder(*m_config, ConfigGroup);
    const QString fileName = openFileDialog(dialogParent, "选择文件", folder, "*.csv");
    if (!self || fileName.isEmpty())
        return false;
    m_config->remove(ConfigGroup, ConfigKey);
    m_config->setValue(ConfigGroup, ConfigKey, fileName);
    return openFile(fileName, dialogParent);
}

bool ReplayWindow::openFile(const QString &path, QWidget *messageParent)
{
    if (m_loading)
        return false;
    QPointer<ReplayWindow> self(this);
    const QFileInfo info(path);
    m_loading = true;
    const ReplayLoad load =
        info.size() >= LargeFileBytes ? loadWithProgress(path, info.size(), messageParent) : readReplayFile(path);
    if (!self)
        return false;
    m_loading = false;
    if (load.status == ReplayStatus::Cancelled)
        return false;
    if (load.status != ReplayStatus::Ok) {
        QMessageBox::warning(messageParent, "错误", replayErrorText(load));
        return false;
    }

    m_table = load.table;
    ui->labReplayFile->setText(info.fileName());
    m_player->setTable(m_table);
    m_settingSlider = true;
    ui->sliderReplay->setRange(0, int(m_player->durationMs()));
    ui->sliderReplay->setValue(0);
    m_settingSlider = false;
    if (m_graph)
        m_graph->setReplaying(true);
    m_player->seekRow(0);
    updatePosition();
    refreshGraph();
    return true;
}

ReplayLoad ReplayWindow::loadWithProgress(const QString &path, qint64 size, QWidget *dialogParent)
{
    auto job = std::make_shared<LoadJob>();
    m_job = job;
    m_loader = QThread::create([job, path] { job->result = readReplayFile(path, &job->cancel, &job->done); });

    QPointer<QProgressDialog> progress = new QProgressDialog("正在读取记录文件...", "取消", 0, 1000, dialogParent);
    progress->setWindowTitle("回放");
    progress->setWindowModality(Qt::WindowModal);
    progress->setFixedWidth(300);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    connect(progress, &QProgressDialog::canceled, progress, [job] { job->cancel = true; });

    QEventLoop loop;
    connect(m_loader, &QThread::finished, &loop, &QEventLoop::quit);
    QTimer tick;
    connect(&tick, &QTimer::timeout, progress, [progress, job, size] {
        // cancel() called on the dialog (as the main window does when it closes) emits nothing.
        if (progress->wasCanceled())
            job->cancel = true;
        progress->setValue(int(std::min<qint64>(999, job->done * 1000 / std::max<qint64>(size, 1))));
    });
    progress->setValue(0);
    progress->show();
    m_loader->start();
    tick.start(50);

    QPointer<ReplayWindow> self(this);
    m_loadLoop = &loop;
    loop.exec();
    delete progress;
    if (!self) {
        ReplayLoad gone;
        gone.status = ReplayStatus::Cancelled;
        return gone;
    }
    m_loadLoop = nullptr;
    m_loader->wait();
    delete m_loader;
    m_loader = nullptr;
    m_job.reset();
    return std::move(job->result);
}

void ReplayWindow::deliverRow(qsizetype row)
{
    if (!m_graph || !m_table)
        return;
    m_table->frameAt(row, m_frame);
    m_graph->setItemData(m_frame, uint(m_frame.size()));
}

void ReplayWindow::seekTo(int ms)
{
    m_player->seekMs(ms);
    updatePosition();
    refreshGraph();
}

void ReplayWindow::updatePosition()
{
    if (!m_table)
        return;
    // Not under the user's hand while a drag is on.
    if (!ui->sliderReplay->isSliderDown()) {
        m_settingSlider = true;
        ui->sliderReplay->setValue(int(m_player->positionMs()));
        m_settingSlider = false;
    }
    const TimeOfDay t = splitTimeOfDay(m_table->timeOfDayAt(std::max<qsizetype>(0, m_player->currentRow())));
    ui->labReplayTime->setText(zeroPadded(t.hour, 2) + ":" + zeroPadded(t.minute, 2) + ":" + zeroPadded(t.second, 2)
                               + ":" + zeroPadded(t.msec, 3));
}

// Frames sought by hand show at once; played ones wait for the graph's own refresh.
void ReplayWindow::refreshGraph()
{
    if (m_graph && m_graph->isVisible())
        m_graph->refreshPlot();
}

void ReplayWindow::on_btnReplayPlay_clicked()
{
    if (m_player->isPlaying())
        m_player->pause();
    else
        m_player->play();
}

void ReplayWindow::on_btnReplayRewind_clicked()
{
    m_player->seekRow(0);
    m_player->play();
    updatePosition();
    refreshGraph();
}

void ReplayWindow::on_comboReplaySpeed_currentIndexChanged(int index)
{
    if (index >= 0 && index < speedQuarters.size())
        m_player->setSpeedQuarters(speedQuarters.at(index));
}

void ReplayWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    endReplay();
}

void ReplayWindow::endReplay()
{
    m_player->setTable(nullptr);
    m_table.reset();
    m_frame = QList<Axit_t>();
    if (m_graph)
        m_graph->setReplaying(false);
}
