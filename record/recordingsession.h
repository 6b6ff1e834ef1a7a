#pragma once

#include "slavetypes.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class RecordJournal;
class SlaveProtocol;
struct WorkerProgress;

// One recording of the card's time-stamped stream, without widgets: the clock sync that starts
// it, the header on the first frame, one row per frame, pause, the stop, and the journal that
// holds the rows. The record window and tactilon-record are thin shells around it.
class RecordingSession : public QObject
{
    Q_OBJECT

public:
    enum State : int { Idle = 0, Recording = 1, Paused = 2 };

    explicit RecordingSession(QObject *parent = nullptr);
    ~RecordingSession() override;

    // The link it speaks to through queued calls; its results and time-stamped frames come back.
    void setLink(SlaveProtocol *link);
    // Where the rows of the next recordings go: a new journal in this folder for each, locked
    // while it is ours (the record window); one file named by the user (tactilon-record); or,
    // with neither, memory.
    void setJournalFolder(const QString &folder);
    void setOutputFile(const QString &path);
    // Rows are counted but kept nowhere (a recorder that only publishes).
    void setDiscardRows(bool discard) { m_discardRows = discard; }
    // How long letting a store go waits for its writer (RecordJournal::CloseWaitMs unless set).
    void setCloseWaitMs(int ms) { m_closeWaitMs = ms; }
    // What makes the stores' files durable (tests: a slow disk).
    void setSyncFunction(std::function<int(int)> sync) { m_sync = std::move(sync); }

    // Asks the card to set its clock to this computer's time of day; the recording begins with
    // its answer. Nothing is sent, and false returned, while a start is pending or a recording
    // runs: a double click must not split a recording.
    bool start();
    void pause();
    void resume();
    // Asks the card for data type 0; the recording ends with its answer.
    void stop();
    // Ends the recording without the card (it is gone).
    void endLocally();

    // The port went away: a recording that runs waits for the card to come back (nothing can be
    // recorded meanwhile) and counts an outage.
    void linkLost();
    // The card is back: its clock is set to this computer's time of day again and the same
    // recording goes on in the same journal, field 1 counting from the first start, so the outage
    // shows as a gap. Until the card has answered, the recording still waits.
    void linkBack();
    bool isWaitingForCard() const { return m_outage; }
    // Outages of the recording in the window, and the time they cost (from the last row before
    // each to the first after it).
    int outageCount() const { return m_outages; }
    // While the card is away the time since the loss counts too.
    qint64 lostMs() const { return m_lostMs + (m_gapOpen ? m_sinceLoss.elapsed() : 0); }

    // Takes over the journal of an interrupted recording as if it had just been stopped, from a
    // look at its header and last rows. False when another instance holds it or it holds no row.
    bool adoptJournal(const QString &path);
    // The recording's journal is no longer needed (the tool closes normally): deleted.
    void discardJournal();
    // The rows were exported: the next start may delete their journal.
    void markExported() { m_exported = true; }
    bool hasUnexportedRows() const { return m_rows != 0 && !m_exported; }

    State state() const { return m_state; }
    bool isStartPending() const { return m_startPending; }
    uint startTime() const { return m_startTime; }
    uint lastTimeStamp() const { return m_lastTimeStamp; }
    // -1 for a journal taken over: its rows are not counted, that would mean reading it all.
    qint64 rowCount() const { return m_rows; }
    // The largest sensor count among the rows; -1 while unknown (a journal taken over).
    int sensorCount() const { return m_maxSensors; }
    QString journalPath() const;
    const RecordJournal *store() const { return m_store.get(); }

    // Writes header and rows as an export holds them to a file descriptor; blocking, it polls the
    // progress's cancel flag. It holds its own reference to the rows, so it may run on a worker
    // thread while whoever asked for it goes away.
    using ExportJob = std::function<bool(int fd, WorkerProgress *progress)>;
    ExportJob exportJob() const;
    // Bytes an export copies.
    qint64 exportBytes() const;
    // Every row held, read back (tests and small recordings).
    QByteArray rows() const;

public slots:
    // One time-stamped frame of the link; connected by setLink.
    void setItemData(QList<Axit_t> &axit, uint num, uint timeStamp);

signals:
    void started();
    void startFailed(int res);
    void stopped();
    void stopFailed(int res);
    // The journal or the output could not be written; its rows go on in memory.
    void storeFailed(const QString &reason);
    // After an outage the card has taken the new clock, or not (the recording waits on).
    void resumed();
    void resumeFailed(int res);

private:
    void onSyncResult(int res);
    void onDataTypeResult(int res, int id);
    void appendRow(const QList<Axit_t> &axit, uint timeStamp);
    void beginStore(int sensors);
    void endRecording();

    QPointer<SlaveProtocol> m_link;
    QString m_journalFolder;
    QString m_outputPath;
    bool m_discardRows = false;
    std::unique_ptr<RecordJournal> m_store;
    int m_closeWaitMs = -1;
    std::function<int(int)> m_sync;
    qint64 m_headerBytes = 0;

    State m_state = Idle;
    bool m_startPending = false;
    bool m_exported = false;
    uint m_startTime = 0;
    QDateTime m_startDateTime;
    QElapsedTimer m_sinceRequest;
    uint m_lastTimeStamp = 0;
    uint m_lastFieldOne = 0;
    qint64 m_rows = 0;
    bool m_outage = false;
    bool m_resyncPending = false;
    bool m_gapOpen = false; // an outage whose first row after it has not come yet
    int m_outages = 0;
    qint64 m_lostMs = 0;
    QElapsedTimer m_sinceLoss;
    int m_maxSensors = 0;
    QByteArray m_row;

    // Frames decoded in the same slice as the sync reply reach us before its result; they belong
    // to the new recording when the synchronised clock stamped them, so they wait here.
    QByteArray m_pendingRows;
    qint64 m_pendingCount = 0;
    int m_pendingFirstSensors = 0;
    int m_pendingMaxSensors = 0;
    uint m_pendingLastStamp = 0;
    uint m_pendingLastFieldOne = 0;
};
