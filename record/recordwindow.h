#pragma once

#include "recordformat.h"

#include <QElapsedTimer>
#include <QSize>
#include <QWidget>
#include <functional>
#include <memory>

class Config;
class QLabel;
class RecordJournal;
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

    // Every recording from now on is also written to a journal file in this folder, so that a
    // crash cannot take it; empty (the default) keeps recordings in memory only.
    void setJournalFolder(const QString &folder);
    // The journal of the recording in the window; empty when it has none.
    QString journalPath() const { return currentJournal; }
    // Loads a journal left by an interrupted recording as if it had just been stopped; false when
    // it holds no complete row. The window must be idle.
    bool recoverJournal(const QString &path);
    // The tool closes normally: the recording's journal is no longer needed.
    void discardJournal();

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
    void journalRow(QByteArrayView row, int sensors);
    void journalWriteFailed(const QString &path);
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

    std::unique_ptr<RecordJournal> journal;
    QString journalFolder;
    QString currentJournal;
    QString lastJournalName;
    bool journalHasHeader = false;
    // A recovered recording exports with its own header: the link knows nothing of its sensors.
    int recoveredSensors = -1;

    // Frames decoded in the same slice as the sync reply reach us before its result;
    // they belong to the new recording, so they wait here for the answer.
    bool startPending = false;
    RecordBuffer pendingRows;
    int pendingSensors = 0;
    uint pendingLastTimeStamp = 0;
    QElapsedTimer startClock;
};
