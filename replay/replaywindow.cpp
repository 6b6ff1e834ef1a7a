#include "replaywindow.h"
#include "ui_replaywindow.h"

#include "config.h"
#include "recordformat.h"
#include "replayplayer.h"
#include "workerprogress.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>

namespace {

// The record window's export memory: the folder of the last file chosen opens next time.
const QString ConfigGroup = QStringLiteral("Recordconfig");
const QString ConfigKey = QStringLiteral("path");

} // namespace

const QStringList ReplayWindow::speedTexts{"0.25x", "0.5x", "1x", "2x", "4x", "8x"};
const QList<int> ReplayWindow::speedQuarters{1, 2, 4, 8, 16, 32};

ReplayWindow::ReplayWindow(QWidget *parent, const QString &configFile)
    : QWidget(parent)
    , openFileDialog([](QWidget *p, const QString &caption, const QString &folder, const QString &filter) {
        return QFileDialog::getOpenFileName(p, caption, folder, filter);
    })
    , ui(std::make_unique<Ui::ReplayWindow>())
    , m_config(std::make_unique<Config>(configFile))
{
    ui->setupUi(this);
    m_player = new ReplayPlayer(this);
    m_player->deliver = [this](qsizetype row) { deliverRow(row); };
    m_player->jumped = [this](qsizetype row) { jumpTo(row); };
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
        QMessageBox box(QMessageBox::Warning, "错误", replayErrorText(load), QMessageBox::Ok, messageParent);
        box.setInformativeText(replayErrorReason(load));
        box.exec();
        return false;
    }

    m_table = load.table;
    ui->labReplayFile->setText(info.fileName());
    m_player->setTable(m_table);
    m_settingSlider = true;
    ui->sliderReplay->setRange(0, int(m_player->durationMs()));
    ui->sliderReplay->setValue(0);
    m_settingSlider = false;
    emit replayStarted(m_table->sensorCount());
    m_player->seekRow(0);
    updatePosition();
    return true;
}

ReplayLoad ReplayWindow::loadWithProgress(const QString &path, qint64 size, QWidget *dialogParent)
{
    ReplayLoad result;
    const bool finished = runWithProgress(dialogParent, "回放", "正在读取记录文件...", size, [&](WorkerProgress &progress) {
        result = readReplayFile(path, &progress.cancel, &progress.done);
    });
    if (!finished) {
        result = ReplayLoad();
        result.status = ReplayStatus::Cancelled;
    }
    return result;
}

void ReplayWindow::deliverRow(qsizetype row)
{
    if (!m_table)
        return;
    m_table->frameAt(row, m_frame);
    emit AxitReceive(m_frame, uint(m_frame.size()), m_table->timeOfDayAt(row));
}

void ReplayWindow::jumpTo(qsizetype row)
{
    emit historyRestarted();
    for (qsizetype r = std::max<qsizetype>(0, row - HistoryRows + 1); r <= row; ++r)
        deliverRow(r);
}

void ReplayWindow::seekTo(int ms)
{
    m_player->seekMs(ms);
    updatePosition();
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
    const bool shown = bool(m_table);
    m_player->setTable(nullptr);
    m_table.reset();
    m_frame = QList<Axit_t>();
    if (shown)
        emit replayEnded();
}
