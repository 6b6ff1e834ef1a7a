#include "recordwindow.h"
#include "ui_recordwindow.h"

#include "config.h"
#include "recordjournal.h"
#include "slaveprotocol.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QResizeEvent>
#include <QTime>
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
}

RecordWindow::~RecordWindow() = default;

void RecordWindow::setJournalFolder(const QString &folder)
{
    journalFolder = folder;
    if (!journal && !folder.isEmpty()) {
        journal = std::make_unique<RecordJournal>();
        connect(journal.get(), &RecordJournal::writeFailed, this,
                [this](const QString &path, const QString &) { journalWriteFailed(path); });
    }
}

void RecordWindow::journalWriteFailed(const QString &)
{
    // The recording in memory goes on; the user only learns that it has no copy on disk.
    QMessageBox::warning(this, "错误", "记录备份文件写入失败");
}

void RecordWindow::journalRow(QByteArrayView row, int sensors)
{
    if (!journal || !journal->isOpen())
        return;
    if (!journalHasHeader) {
        journal->append(recordHeader(sensors));
        journalHasHeader = true;
    }
    journal->append(row);
}

bool RecordWindow::recoverJournal(const QString &path)
{
    if (recordState != 0 || startPending)
        return false;
    const JournalContent content = readJournal(path);
    if (content.rowCount == 0)
        return false;
    recordText.clear();
    recordText.appendRows(content.rows);
    recoveredSensors = content.sensorCount;
    currentJournal = path;
    unexported = true;
    endRecording();
    return true;
}

void RecordWindow::discardJournal()
{
    if (!journal || currentJournal.isEmpty())
        return;
    journal->remove(currentJournal);
    currentJournal.clear();
}

void RecordWindow::setLink(SlaveProtocol *newLink)
{
    if (link)
        disconnect(link, nullptr, this, nullptr);
    link = newLink;
    if (!link)
        return;
    connect(link, &SlaveProtocol::timeStampSyncResult, this, &RecordWindow::timeStampSyncResult);
    connect(link, &SlaveProtocol::DataTypeSetResult, this, &RecordWindow::dataTypeSetResult);
    // Only the time-stamped form: frames without a time stamp are never recorded.
    connect(link, SIGNAL(AxitReceive(QList<Axit_t>&,uint,uint)), this,
            SLOT(setItemData(QList<Axit_t>&,uint,uint)));
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

void RecordWindow::on_btnRecordStart_clicked()
{
    if (!checkLinkOpen())
        return;
    const QTime now = QTime::currentTime();
    startTime = timeOfDayMs(uint(now.hour()), uint(now.minute()), uint(now.second()), uint(now.msec()));
    qDebug().noquote().nospace() << now.hour() << ":" << now.minute() << ":" << now.second() << ":"
                                 << now.msec();
    startPending = true;
    pendingRows.clear();
    startClock.start();
    QMetaObject::invokeMethod(link, "timeStampSync", Qt::QueuedConnection, Q_ARG(uint, startTime));
}

void RecordWindow::timeStampSyncResult(int res)
{
    startPending = false;
    if (res == 0) {
        // The previous recording's journal goes once that recording has been exported; one that
        // never was stays for the next start of the tool to offer.
        if (journal && !currentJournal.isEmpty() && !unexported)
            journal->remove(currentJournal);
        currentJournal.clear();
        recoveredSensors = -1;
        if (journal && !journalFolder.isEmpty()) {
            QString name = journalFileName(QDateTime::currentDateTime());
            if (name == lastJournalName)
                name.insert(name.size() - 4, QStringLiteral("-2"));
            lastJournalName = name;
            currentJournal = QDir(journalFolder).filePath(name);
            journalHasHeader = false;
            journal->begin(currentJournal);
        }
        recordText = std::move(pendingRows);
        pendingRows.clear();
        if (!recordText.isEmpty()) {
            for (const QByteArray &chunk : recordText.chunks())
                journalRow(chunk, pendingSensors);
            lastTimeStamp = pendingLastTimeStamp;
        }
        unexported = !recordText.isEmpty();
        recordState = 1;
        tickTimer->start(30);
        ui->btnRecordPause->setText("暂停");
        ui->btnRecordStart->setEnabled(false);
        ui->btnRecordExport->setEnabled(false);
        return;
    }
    pendingRows.clear();
    recordState = 0;
    tickTimer->stop();
    QMessageBox::information(this, "系统提示", "记录功能启动失败,请重试");
}

void RecordWindow::on_btnRecordPause_clicked()
{
    if (!checkLinkOpen())
        return;
    if (recordState == 1) {
        recordState = 2;
        tickTimer->stop();
        ui->btnRecordPause->setText("继续");
    } else if (recordState == 2) {
        recordState = 1;
        tickTimer->start(30);
        ui->btnRecordPause->setText("暂停");
    }
}

void RecordWindow::on_btnRecordStop_clicked()
{
    // With the card gone there is nobody to ask; waiting for it would keep the rows from
    // being exported for as long as it stays away.
    if (!linkOpen() && recordState != 0) {
        endRecording();
        QMessageBox::information(this, "提示", "通信接口已关闭，记录已停止");
        return;
    }
    if (!checkLinkOpen())
        return;
    QMetaObject::invokeMethod(link, "setInfoType", Qt::QueuedConnection, Q_ARG(uchar, 0), Q_ARG(int, 0));
}

void RecordWindow::dataTypeSetResult(int res, int id)
{
    // id 1 answers the main window's own data-type change.
    if (id != 0)
        return;
    if (res == 0) {
        endRecording();
        return;
    }
    QMessageBox::information(this, "系统提示", "记录功能无法停止,请重试");
}

void RecordWindow::endRecording()
{
    if (journal)
        journal->finish();
    recordState = 0;
    tickTimer->stop();
    ui->btnRecordPause->setText("暂停");
    ui->btnRecordStart->setEnabled(true);
    ui->btnRecordExport->setEnabled(true);
}

void RecordWindow::setItemData(QList<Axit_t> &axit, uint, uint timeStamp)
{
    if (recordState == 1) {
        lastTimeStamp = timeStamp;
        recordText.appendRow(timeStamp, startTime, axit);
        journalRow(recordText.lastRow(), int(axit.size()));
        unexported = true;
        return;
    }
    if (recordState == 0 && startPending && stampedAfterSync(timeStamp, startTime, startClock.elapsed())) {
        if (pendingRows.isEmpty())
            pendingSensors = int(axit.size());
        pendingLastTimeStamp = timeStamp;
        pendingRows.appendRow(timeStamp, startTime, axit);
    }
}

void RecordWindow::UpdateTimeView()
{
    if (recordState != 1)
        return;
    const TimeOfDay tod = splitTimeOfDay(lastTimeStamp);
    ui->tickHour->setText(zeroPadded(tod.hour, 2));
    ui->tickMinute->setText(zeroPadded(tod.minute, 2));
    ui->tickSecond->setText(zeroPadded(tod.second, 2));
    ui->tickmSec->setText(zeroPadded(tod.msec, 3));
}

void RecordWindow::on_btnRecordExport_clicked()
{
    const QString folder = exportStartFolder(*recordConfig, ConfigGroup);
    const QString fileName = saveFileDialog(this, "选择文件", folder, "*.csv");
    if (fileName.isEmpty())
        return;
    recordConfig->remove(ConfigGroup, ConfigKey);
    recordConfig->setValue(ConfigGroup, ConfigKey, fileName);

    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        QMessageBox::warning(this, "错误", "文件无法创建");
        return;
    }
    // All content is ASCII, so the bytes are already the UTF-8 text; text mode still
    // turns each line feed into the platform's line end.
    const QByteArray header = recordHeader(recoveredSensors >= 0 ? recoveredSensors : link ? link->axitNum() : 0);
    bool written = file.write(header) == header.size();
    for (const QByteArray &chunk : recordText.chunks())
        written = written && file.write(chunk) == chunk.size();
    written = written && file.flush();
    file.close();
    written = written && file.error() == QFileDevice::NoError;
    if (!written) {
        // A full disk must not pass for a finished export: the rows stay for another try.
        QMessageBox::warning(this, "错误", "文件写入失败");
        return;
    }
    unexported = false;
    QMessageBox::information(this, "导出文件", "文件导出成功");
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
