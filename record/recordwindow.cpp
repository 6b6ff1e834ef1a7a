#include "recordwindow.h"
#include "ui_recordwindow.h"

#include "config.h"
#include "replacingfile.h"
#include "workerprogress.h"
#include "slaveprotocol.h"

#include <QDebug>
#include <QPointer>
#include <QFileDialog>
#include <QMessageBox>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>

namespace {

const QString ConfigGroup = QStringLiteral("Recordconfig");
const QString ConfigKey = QStringLiteral("path");

} // namespace

RecordWindow::RecordWindow(QWidget *parent, const QString &configFile)
    : QWidget(parent)
    , saveFileDialog([](QWidget *p, const QString &caption, const QString &folder, const QString &filter) {
        return QFileDialog::getSaveFileName(p, caption, folder, filter);
    })
    , ui(std::make_unique<Ui::RecordWindow>())
{
    ui->setupUi(this);
    initialSize = size();
    initialPointSize = ui->tickHour->font().pointSize();

    tickTimer = new QTimer(this);
    connect(tickTimer, SIGNAL(timeout()), this, SLOT(UpdateTimeView()));
    recordConfig = std::make_unique<Config>(configFile);

    m_session = new RecordingSession(this);
    connect(m_session, &RecordingSession::started, this, [this] {
        m_storeWarned = false;
        showRecording(true);
    });
    connect(m_session, &RecordingSession::startFailed, this, [this](int) {
        tickTimer->stop();
        QMessageBox::information(this, "系统提示", "记录功能启动失败,请重试");
    });
    connect(m_session, &RecordingSession::stopped, this, [this] { showRecording(false); });
    connect(m_session, &RecordingSession::resumed, this, &RecordWindow::showOutages);
    ui->labOutages->hide();
    connect(m_session, &RecordingSession::stopFailed, this,
            [this](int) { QMessageBox::information(this, "系统提示", "记录功能无法停止,请重试"); });
    // The recording goes on in memory; the user only learns that it has no copy on disk.
    connect(m_session, &RecordingSession::storeFailed, this, [this](const QString &) {
        if (m_storeWarned)
            return;
        m_storeWarned = true;
        QMessageBox::warning(this, "错误", "记录备份文件写入失败");
    });
}

RecordWindow::~RecordWindow() = default;

void RecordWindow::setJournalFolder(const QString &folder)
{
    m_session->setJournalFolder(folder);
}

bool RecordWindow::recoverJournal(const QString &path)
{
    if (!m_session->adoptJournal(path))
        return false;
    showRecording(false);
    return true;
}

void RecordWindow::discardJournal()
{
    m_session->discardJournal();
}

void RecordWindow::setLink(SlaveProtocol *newLink)
{
    link = newLink;
    m_session->setLink(newLink);
}

bool RecordWindow::linkOpen() const
{
    return link && link->isPortOpen();
}

bool RecordWindow::checkLinkOpen()
{
    if (linkOpen())
        return true;
    QMessageBox::information(this, "提示", "请先打开通信接口");
    return false;
}

void RecordWindow::showRecording(bool recording)
{
    if (recording)
        tickTimer->start(30);
    else
        tickTimer->stop();
    showOutages();
    ui->btnRecordPause->setText("暂停");
    ui->btnRecordStart->setEnabled(!recording);
    ui->btnRecordExport->setEnabled(!recording);
}

void RecordWindow::on_btnRecordStart_clicked()
{
    if (!checkLinkOpen() || m_exporting)
        return;
    m_session->start();
}

void RecordWindow::on_btnRecordPause_clicked()
{
    if (!checkLinkOpen())
        return;
    if (m_session->state() == RecordingSession::Recording) {
        m_session->pause();
        tickTimer->stop();
        ui->btnRecordPause->setText("继续");
    } else if (m_session->state() == RecordingSession::Paused) {
        m_session->resume();
        tickTimer->start(30);
        ui->btnRecordPause->setText("暂停");
    }
}

void RecordWindow::on_btnRecordStop_clicked()
{
    // With the card gone there is nobody to ask; waiting for it would keep the rows from
    // being exported for as long as it stays away.
    if (!linkOpen() && m_session->state() != RecordingSession::Idle) {
        m_session->endLocally();
        showRecording(false);
        QMessageBox::information(this, "提示", "通信接口已关闭，记录已停止");
        return;
    }
    if (!checkLinkOpen())
        return;
    m_session->stop();
}

void RecordWindow::showOutages()
{
    const int outages = m_session->outageCount();
    ui->labOutages->setVisible(outages > 0);
    if (outages > 0)
        ui->labOutages->setText(QString("中断 %1 次，共 %2 秒").arg(outages).arg(m_session->lostMs() / 1000.0, 0, 'f', 1));
}

void RecordWindow::UpdateTimeView()
{
    if (m_session->state() == RecordingSession::Idle)
        return;
    showOutages();
    if (m_session->state() != RecordingSession::Recording)
        return;
    const TimeOfDay tod = splitTimeOfDay(m_session->lastTimeStamp());
    ui->tickHour->setText(zeroPadded(tod.hour, 2));
    ui->tickMinute->setText(zeroPadded(tod.minute, 2));
    ui->tickSecond->setText(zeroPadded(tod.second, 2));
    ui->tickmSec->setText(zeroPadded(tod.msec, 3));
}

void RecordWindow::on_btnRecordExport_clicked()
{
    if (m_exporting)
        return;
    const QString folder = exportStartFolder(*recordConfig, ConfigGroup);
    const QString fileName = saveFileDialog(this, "选择文件", folder, "*.csv");
    if (fileName.isEmpty())
        return;
    recordConfig->remove(ConfigGroup, ConfigKey);
    recordConfig->setValue(ConfigGroup, ConfigKey, fileName);
    exportTo(fileName);
}

bool RecordWindow::exportTo(const QString &fileName)
{
    // The new file replaces the old one only once it is complete and on the disk: a full disk
    // or a cancel leaves what the user had.
    ReplacingFile file(fileName, exportSync);
    if (!file.open()) {
        QMessageBox::warning(this, "错误", "文件无法创建");
        return false;
    }
    const int fd = file.handle();
    const RecordingSession::ExportJob job = m_session->exportJob();
    bool written = false;
    QPointer<RecordWindow> self(this);
    m_exporting = true;
    ui->btnRecordStart->setEnabled(false);
    ui->btnRecordExport->setEnabled(false);
    const bool finished = runWithProgress(this, "导出文件", "正在导出记录...", m_session->exportBytes(),
                                          [&](WorkerProgress &progress) { written = job(fd, &progress); },
                                          ExportProgressAfterMs);
    if (!self)
        return false;
    m_exporting = false;
    showRecording(m_session->state() != RecordingSession::Idle);
    if (!finished)
        return false;
    if (!written || !file.commit()) {
        // A full disk must not pass for a finished export: the rows stay for another try.
        QMessageBox::warning(this, "错误", "文件写入失败");
        return false;
    }
    m_session->markExported();
    QMessageBox::information(this, "导出文件", "文件导出成功");
    return true;
}

QList<QLabel *> RecordWindow::clockLabels() const
{
    return {ui->tickHour, ui->tickMinute, ui->tickSecond, ui->tickmSec,
            ui->semicolon1, ui->semicolon2, ui->semicolon3};
}

void RecordWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const QSize newSize = event->size();
    // Back at the initial size the fonts return to their initial size too.
    if (newSize == initialSize && ui->tickHour->font().pointSize() == initialPointSize)
        return;
    const float widthScale = float(newSize.width()) / float(initialSize.width());
    const float heightScale = float(newSize.height()) / float(initialSize.height());
    const double scale = std::min<double>(widthScale, heightScale);
    const int pointSize = std::max(1, int(initialPointSize * scale));
    for (QLabel *label : clockLabels()) {
        QFont font = label->font();
        font.setPointSize(pointSize);
        label->setFont(font);
    }
    qDebug() << "recore font size scale" << scale;
}
