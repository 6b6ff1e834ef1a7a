#pragma once

#include "portwatcher.h"
#include "recordingsession.h"
#include "slaveprotocol.h"
#include "slavetypes.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>

class MqttPublisher;
class MySerialport;

struct RecorderOptions
{
    QString port;
    int baud = 115200;
    int frequencyIndex = -1; // -1: leave the card's sample frequency as it is
    int seconds = 0;         // 0: until SIGINT or SIGTERM
    QString output;    // empty: only published
    bool progress = false;
    int reconnectSeconds = 0; // 0: a lost port ends the recording at once
    QString mqttHost;         // empty: nothing published
    int mqttPort = 1883;
    QString mqttTopic = QStringLiteral("tactilon");
    // After a signal, how long the card's answer to the stop is awaited.
    int stopAnswerMs = 150;
};

// Exit status of tactilon-record.
enum RecorderExit : int { Recorded = 0, CardFailed = 1, BadArguments = 2, PortFailed = 3 };

// Parses the command line (without the program name). Returns -1 to go on, otherwise the exit
// status; `out` gets the text for standard output (help), `err` the text for standard error.
int parseRecorderArguments(const QStringList &args, RecorderOptions &options, QString &out, QString &err);

// Records the card's time-stamped stream into a CSV file through the recording session the record
// window uses, on the one device link. Runs on the calling thread's event loop.
class Recorder : public QObject
{
    Q_OBJECT

public:
    // After a signal, how long the writer gets to complete the file.
    enum : int { CloseAfterSignalMs = 40 };

    Recorder(const RecorderOptions &options, std::FILE *messages, bool progressToTerminal);
    ~Recorder() override;

    int run();
    // SIGINT and SIGTERM: the recording ends at once, with whatever waits for the card cut short.
    // Safe to call at any time on this thread.
    void requestStop();

signals:
    void stopRequested();

private:
    // Spins the event loop until done() holds, the time runs out or a stop is requested.
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);
    bool probeOutput();
    void printProgress();
    void message(const QString &text);
    int finish(int status, const QString &reason);
    int failBeforeStart(int status, const QString &reason);
    // The port is gone: waits for it to come back and carries the recording on. False when it
    // does not come back in time (or a stop comes first); reason says why.
    bool reconnect(QString &reason, int &status);
    QString healthText() const;
    bool publishing() const { return !m_options.mqttHost.isEmpty(); }

    RecorderOptions m_options;
    std::FILE *m_messages;
    bool m_progress;
    MySerialport *m_link = nullptr;
    RecordingSession m_session;
    MqttPublisher *m_mqtt = nullptr;
    PortIdentity m_portIdentity;
    int m_outages = 0;
    LinkHealth m_healthBefore; // of the link's earlier openings
    bool m_stopRequested = false;
    int m_signals = 0;
    bool m_portLost = false;
    bool m_storeFailed = false;
    QString m_storeError;
    QElapsedTimer m_sinceStart;
};
