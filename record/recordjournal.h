#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <memory>

class RecordFileWriter;

// Appends CSV rows to a file from a thread of its own, so that the caller's thread never waits
// on the disk, full or slow. Bytes go to the operating system at least every HandOverMs and to the
// disk (fsync) at least every SyncMs; the file only ever grows by whole appends, and a failed
// write is cut back to the last complete one. One file at a time: begin() finishes the previous.
class RecordJournal : public QObject
{
    Q_OBJECT

public:
    enum : int { HandOverMs = 100, SyncMs = 1000 };

    explicit RecordJournal(QObject *parent = nullptr);
    // Finishes the open file and waits for the writer to be done with it.
    ~RecordJournal() override;

    // Creates (or empties) the file, making its folder if needed.
    void begin(const QString &path);
    bool isOpen() const { return m_writer != nullptr; }
    QString path() const { return m_path; }
    // Amortised constant time: the bytes are copied to the writer's buffer under a short lock.
    void append(QByteArrayView bytes);
    // Writes what is left, forces it to the disk and closes the file, on the writer's thread.
    void finish();
    // Like finish(), and waits for it: true when every byte reached the file.
    bool finishAndWait();
    // Deletes a file that is no longer written, on the writer's thread.
    void remove(const QString &path);

signals:
    // Once per file: the file could not be created or a write failed; later bytes are dropped.
    void writeFailed(const QString &path, const QString &reason);

private:
    QThread m_thread;
    QObject *m_worker = nullptr; // context for calls run on the writer's thread
    RecordFileWriter *m_writer = nullptr;
    QString m_path;
};

// What a journal left by an interrupted recording holds.
struct JournalContent
{
    int sensorCount = -1; // named by the header; -1: no complete header line
    QByteArray rows;      // the complete rows, each ending with a line feed
    qsizetype rowCount = 0;
    bool cut = false;     // bytes after the last complete row were left out
};

// Reads the header and every row up to the first line that is cut off or is no record row.
JournalContent readJournal(const QString &path);

// The folder of the tool's journals, under the user's data location.
QString defaultJournalFolder();
// One journal per recording, named by its start date and time.
QString journalFileName(const QDateTime &start);
// The journals in the folder that hold at least one row, newest first.
QStringList journalFiles(const QString &folder);
