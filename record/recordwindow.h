#pragma once

#include "recordformat.h"
#include "recordingsession.h"

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

// Records the card's time-stamped sample stream as CSV rows and exports them: the buttons, the
// clock and the export around one recording session.
class RecordWindow : public QWidget
{
    Q_OBJECT

public:
    using SaveFileDialog =
        std::function<QString(QWidget *parent, const QString &caption, const QString &folder, const QString &filter)>;
    // Exports that take longer than this show a progress dialog with a cancel button.
    enum : int { ExportProgressAfterMs = 1000 };

    explicit RecordWindow(QWidget *parent = nullptr, const QString &configFile = QStringLiteral("Recordconfig.ini"));
    ~RecordWindow() override;

    void setLink(SlaveProtocol *link);
    RecordingSession *session() const { return m_session; }

    // True when rows were recorded since the last successful start and not exported since.
    bool hasUnexportedRecording() const { return m_session->hasUnexportedRows(); }
    // 0 idle, 1 recording, 2 paused.
    int recordingState() const { return int(m_session->state()); }

    // Every recording from now on is kept in a journal file in this folder, so that a crash
    // cannot take it and a long one does not fill the memory; empty (the default) keeps
    // recordings in memory only.
    void setJournalFolder(const QString &folder);
    // The journal of the recording in the window; empty when it has none.
    QString journalPath() const { return m_session->journalPath(); }
    // Takes over a journal left by an interrupted recording as if it had just been stopped; false
    // when it holds no complete row or another instance holds it. The window must be idle.
    bool recoverJournal(const QString &path);
    // The tool closes normally: the recording's journal is no longer needed.
    void discardJournal();

    // Asks for the export file name; QFileDialog::getSaveFileName unless replaced.
    SaveFileDialog saveFileDialog;
    // Makes an export durable before it counts as done; fsync unless replaced.
    std::function<int(int fd)> exportSync;

public slots:
    void UpdateTimeView();

    void on_btnRecordStart_clicked();
    void on_btnRecordPause_clicked();
    void on_btnRecordStop_clicked();
    void on_btnRecordExport_clicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    bool linkOpen() const;
    bool checkLinkOpen();
    void showRecording(bool recording);
    void showOutages();
    bool exportTo(const QString &fileName);
    QList<QLabel *> clockLabels() const;

    std::unique_ptr<Ui::RecordWindow> ui;
    SlaveProtocol *link = nullptr;
    RecordingSession *m_session = nullptr;
    QTimer *tickTimer = nullptr;
    std::unique_ptr<Config> recordConfig;
    QSize initialSize;
    int initialPointSize = 0;
    bool m_exporting = false;
    bool m_storeWarned = false;
};
