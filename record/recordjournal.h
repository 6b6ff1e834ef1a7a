#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

struct WorkerProgress;

// The bytes of one recording, appended from the caller's thread and handed to a file by a writer
// thread of its own, so the caller never waits on the disk: they reach the operating system at
// least every HandOverMs and the disk (fsync, on yet another thread, so a slow sync never holds up
// the writes) at least every SyncMs. Whatever cannot reach the file (no file, a full disk, no
// permission) is kept in memory, so reading back always gives every byte appended, in order.
class RecordJournal : public QObject
{
    Q_OBJECT

public:
    enum : int { HandOverMs = 100, SyncMs = 1000, CloseWaitMs = 1000 };
    using SyncFunction = std::function<int(int fd)>;

    explicit RecordJournal(QObject *parent = nullptr);
    // Finishes the file and waits for that at most CloseWaitMs: a hung disk must not hang the
    // caller. A writer still busy then goes on alone and lets the file go when it is done.
    ~RecordJournal() override;

    // Everything stays in memory.
    void beginInMemory();
    // Nothing is kept: only counted (rows that go elsewhere, a broker).
    void beginDiscarding();
    // A new journal in the folder, named `name` (or name_2.csv, name_3.csv... when taken): created
    // exclusively, never truncating anything, and locked for as long as this object holds it, so
    // no other instance offers, loads or removes it. False when it cannot be created: the bytes
    // then stay in memory and writeFailed says why.
    bool beginJournal(const QString &folder, const QString &name);
    // A file the user named, created or emptied by the writer when the first bytes are handed
    // over. A FIFO waits there for its reader without blocking anybody; a reader that goes away
    // is a failed write.
    void beginOutput(const QString &path);
    // Takes over a journal left by an interrupted recording: locked like a new one, read only, its
    // content ending after its last complete row (see checkJournal, filled in). False when another
    // instance holds it or it holds no row.
    bool adopt(const QString &path, struct JournalCheck *check);

    void append(QByteArrayView bytes);
    // Hands everything over and syncs it; an output file is closed, a journal stays locked.
    void finish();
    // True once every byte appended so far is in the file or in memory, within ms (-1: no limit).
    bool waitDrained(int ms) const { return reader().waitDrained(ms); }
    // True once finish() is complete (synced and, for an output, closed), within ms.
    bool waitFinished(int ms) const;
    // Deletes the journal's file; what it held is gone.
    void remove();

    QString path() const;
    // A journal file of ours (created or taken over), not memory or an output.
    bool isJournal() const;
    bool hasFailed() const;
    // Bytes held, in the file and in memory.
    qint64 size() const { return reader().size(); }
    // Reads bytes [from, from + n) back (tests, small pieces).
    QByteArray read(qint64 from, qint64 n) const;

    // What makes the file durable; fsync unless a test replaces it (a slow disk, say).
    void setSyncFunction(SyncFunction sync);
    // How long the destructor waits for the writer (CloseWaitMs unless set).
    void setCloseWaitMs(int ms) { m_closeWaitMs = ms; }

    // Line feeds that reached the file (header and rows): what a reader of the file will find.
    qint64 linesInFile() const;

    struct State; // shared with the writer and sync threads, which may outlive this object

    // Reads what the journal holds from any thread, also after the journal object is gone.
    class Reader
    {
    public:
        qint64 size() const;
        bool waitDrained(int ms) const;
        bool forEachPiece(qint64 from, qint64 to, WorkerProgress *progress,
                          const std::function<bool(const char *, qint64)> &take) const;
        bool copyTo(int fd, qint64 from, WorkerProgress *progress = nullptr) const;

    private:
        friend class RecordJournal;
        std::shared_ptr<State> m_state;
    };
    Reader reader() const;

signals:
    // Once per file: it could not be created, or a write or sync failed. Later bytes stay in memory.
    void writeFailed(const QString &path, const QString &reason);

private:
    void startThreads();

    std::shared_ptr<State> m_state;
    SyncFunction m_sync;
    int m_closeWaitMs = CloseWaitMs;
};

// What a journal holds, as found by looking at its header and its last rows only.
struct JournalCheck
{
    int headerSensors = -1; // named by the header; -1: no complete header line
    qint64 headerBytes = 0; // the header line with its line feed
    qint64 end = 0;         // end of the last complete row; headerBytes when it holds none
    bool cut = false;       // bytes after `end` (a row cut short, a block of zeros)
    bool hasRows() const { return headerSensors >= 0 && end > headerBytes; }
};

// Looks at the header and then back from the end of the file: the time this takes does not grow
// with the recording.
JournalCheck checkJournal(const QString &path);

// The folder of the tool's journals, under the user's data location.
QString defaultJournalFolder();
// One journal per recording, named by its start date and time.
QString journalFileName(const QDateTime &start);
// The journals in the folder that hold at least one row and that no running instance holds,
// newest recording first.
QStringList journalFiles(const QString &folder);
