#pragma once

#include "recordjournal.h"
#include "slavetypes.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdio>

class MySerialport;

struct RecorderOptions
{
    QString port;
    int baud = 115200;
    int frequencyIndex = -1; // -1: leave the card's sample frequency as it is
    int seconds = 0;         // 0: until SIGINT or SIGTERM
    QString output;
    bool progress = false;
};

// Exit status of tactilon-record.
enum RecorderExit : int { Recorded = 0, CardFailed = 1, BadArguments = 2, PortFailed = 3 };

// Parses the command line (without the program name). Returns -1 to go on, otherwise the exit
// status; `out` gets the text for standard output (help), `err` the text for standard error.
int parseRecorderArguments(const QStringList &args, RecorderOptions &options, QString &out, QString &err);

// Records the card's time-stamped stream into a CSV file, the way the record window does, on the
// one device link. Runs on the calling thread's event loop.
class Recorder : public QObject
{
    Q_OBJECT

public:
    Recorder(const RecorderOptions &options, std::FILE *messages, bool progressToTerminal);
    ~Recorder() override;

    int run();
    // Asks the recording to end as SIGINT and SIGTERM do; safe to call at any time on this thread.
    void requestStop();

signals:
    void stopRequested();

private:
    void onFrame(QList<Axit_t> &axit, uint num, uint timeStamp);
    void printProgress();
    void message(const QString &text);
    int finishFile(int status, const QString &reason);

    RecorderOptions m_options;
    std::FILE *m_messages;
    bool m_progress;
    MySerialport *m_link = nullptr;
    RecordJournal m_file;
    QByteArray m_row;
    bool m_syncing = false;
    bool m_recording = false;
    bool m_stopRequested = false;
    bool m_portLost = false;
    bool m_writeFailed = false;
    QString m_writeError;
    bool m_haveHeader = false;
    uint m_startTime = 0;
    qint64 m_rows = 0;
    QElapsedTimer m_sinceRequest;
    QElapsedTimer m_sinceStart;
};
