#pragma once

#include "recordformat.h"

#include <QElapsedTimer>
#include <QSize>
#include <QWidget>
#include <functional>
#include <memory>

class Config;
class QLabel;
class QTimer;
class SlaveProtocol;

namespace Ui {
class RecordWindow;
}

// Records the card's time-stamped sample stream as CSV rows in memory and exports them.
class RecordWindow : public QWidget
{
    Q_OBJECT

public:
    using SaveFileDialog =
        std::function<QString(QWidget *parent, const QString &caption, const QString &folder, const QString &filter)>;

    explicit RecordWindow(QWidget *parent = nullptr, const QString &configFile = QStringLiteral("Recordconfig.ini"));
    ~RecordWindow() override;

    void setLink(SlaveProtocol *link);

    // True when rows were recorded since the last successful start or export.
    bool hasUnexportedRecording() const { return unexported; }
    // 0 idle, 1 recording, 2 paused.
    int recordingState() const { return recordState; }
    const RecordBuffer &recordedRows() const { return recordText; }

    // Asks for the export file name; QFileDialog::getSaveFileName unless replaced.
    SaveFileDialog saveFileDialog;

public slots:
    void UpdateTimeView();
    void timeStampSyncResult(int res);
    void dataTypeSetResult(int res, int id);
    void setItemData(QList<Axit_t> &axit, uint num, uint timeStamp);

    void on_btnRecordStart_clicked();
    void on_btnRecordPause_clicked();
    void on_btnRecordStop_clicked();
    void on_btnRecordExport_clicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    bool linkOpen() const;
    bool checkLinkOpen();
    void endRecording();
    QList<QLabel *> clockLabels() const;

    std::unique_ptr<Ui::RecordWindow> ui;
    SlaveProtocol *link = nullptr;
    RecordBuffer recordText;
    QTimer *tickTimer = nullptr;
    std::unique_ptr<Config> recordConfig;
    uint lastTimeStamp = 0;
    uint startTime = 0;
    QSize initialSize;
    int initialPointSize = 0;
    int recordState = 0;
    bool unexported = false;

    // Frames decoded in the same slice as the sync reply reach us before its result;
    // they belong to the new recording, so they wait here for the answer.
    bool startPending = false;
    RecordBuffer pendingRows;
    uint pendingLastTimeStamp = 0;
    QElapsedTimer startClock;
};
