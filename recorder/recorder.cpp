#include "recorder.h"

#include "myserialport.h"
#include "recordformat.h"
#include "cardcommands.h"
#include "mqttpublisher.h"
#include "recordjournal.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTime>
#include <QTimer>
#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QList<int> Bauds{115200, 460800, 921600};
// The card's frequency indices 0..4.
const QList<int> Frequencies{10, 20, 50, 100, 200};
constexpr int NoResult = -1000;

QString joined(const QList<int> &values)
{
    QStringList texts;
    for (int v : values)
        texts.append(QString::number(v));
    return texts.join('|');
}

} // namespace

int parseRecorderArguments(const QStringList &args, RecorderOptions &options, QString &out, QString &err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Records the time-stamped stream of a Tactilon driver card to a CSV file in the record\n"
        "window's format, without the graphical tool. Stops after --seconds, or on SIGINT or\n"
        "SIGTERM.\n\n"
        "Exit status: 0 recorded and stopped cleanly; 1 the card did not answer or refused;\n"
        "2 bad arguments or an output file that cannot be created; 3 the port could not be\n"
        "opened, or was lost while recording (the rows so far are kept), or the output could\n"
        "not be written.");
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption port("port", "Serial port of the card, e.g. /dev/ttyUSB0 (required).", "PATH");
    const QCommandLineOption baud("baud", "Baud rate: " + joined(Bauds) + " (default 115200).", "RATE", "115200");
    const QCommandLineOption frequency("frequency", "Set the card's sample frequency in Hz first: " + joined(Frequencies)
                                                        + " (default: leave it as it is).", "HZ");
    const QCommandLineOption seconds("seconds", "Stop after N seconds (default: run until interrupted).", "N");
    const QCommandLineOption output("output", "CSV file to write (replaced if it exists; required unless --mqtt-host "
                                              "is given).", "FILE.csv");
    const QCommandLineOption progress("progress", "Print a progress line every second even when standard error is not a terminal.");
    const QCommandLineOption reconnect("reconnect", "After losing the port, wait up to SECONDS for it to come back and "
                                                    "go on in the same file (default: end at once).", "SECONDS");
    const QCommandLineOption mqttHost("mqtt-host", "Publish the frames and a status to this MQTT broker while recording.",
                                      "HOST");
    const QCommandLineOption mqttPort("mqtt-port", "Port of the MQTT broker (default 1883).", "N", "1883");
    const QCommandLineOption mqttTopic("mqtt-topic", "Topic prefix: PREFIX/frames and PREFIX/status (default tactilon).",
                                       "PREFIX", "tactilon");
    parser.addOptions({help, port, baud, frequency, seconds, output, progress, reconnect, mqttHost, mqttPort, mqttTopic});
    const QString usage = "usage: tactilon-record --port PATH [--baud 115200|460800|921600] "
                          "[--frequency 10|20|50|100|200] [--seconds N] [--reconnect SECONDS]\n"
                          "                       [--output FILE.csv] [--mqtt-host HOST [--mqtt-port N] "
                          "[--mqtt-topic PREFIX]] [--progress]\n"
                          "       tactilon-record --help\n";

    auto bad = [&err, &usage](const QString &why) {
        err = "tactilon-record: " + why + "\n" + usage;
        return int(BadArguments);
    };
    if (!parser.parse(QStringList{"tactilon-record"} + args))
        return bad(parser.errorText());
    if (parser.isSet(help)) {
        // Our usage line names the options, so Qt's generic "Usage: ... [options]" line goes.
        const QString text = parser.helpText();
        out = usage + text.mid(text.indexOf('\n') + 1);
        return Recorded;
    }
    if (!parser.positionalArguments().isEmpty())
        return bad("unexpected argument \"" + parser.positionalArguments().first() + "\"");
    if (!parser.isSet(port) || parser.value(port).isEmpty())
        return bad("--port is required");
    options.mqttHost = parser.value(mqttHost);
    if ((!parser.isSet(output) || parser.value(output).isEmpty()) && options.mqttHost.isEmpty())
        return bad("--output is required");
    options.port = parser.value(port);
    options.output = parser.value(output);
    options.progress = parser.isSet(progress);
    bool number = false;
    if (parser.isSet(reconnect)) {
        options.reconnectSeconds = parser.value(reconnect).toInt(&number);
        if (!number || options.reconnectSeconds < 1 || options.reconnectSeconds > 86400)
            return bad("invalid --reconnect \"" + parser.value(reconnect) + "\" (allowed 1..86400)");
    }
    if (parser.isSet(mqttHost) && options.mqttHost.trimmed().isEmpty())
        return bad("invalid --mqtt-host \"\"");
    options.mqttPort = parser.value(mqttPort).toInt(&number);
    if (!number || options.mqttPort < 1 || options.mqttPort > 65535)
        return bad("invalid --mqtt-port \"" + parser.value(mqttPort) + "\" (allowed 1..65535)");
    options.mqttTopic = parser.value(mqttTopic);
    if (!isValidMqttTopicPrefix(options.mqttTopic))
        return bad("invalid --mqtt-topic \"" + options.mqttTopic + "\" (no + or #, not empty)");

    bool ok = false;
    options.baud = parser.value(baud).toInt(&ok);
    if (!ok || !Bauds.contains(options.baud))
        return bad("invalid --baud \"" + parser.value(baud) + "\" (allowed " + joined(Bauds) + ")");
    if (parser.isSet(frequency)) {
        const int hz = parser.value(frequency).toInt(&ok);
        options.frequencyIndex = ok ? int(Frequencies.indexOf(hz)) : -1;
        if (options.frequencyIndex < 0)
            return bad("invalid --frequency \"" + parser.value(frequency) + "\" (allowed " + joined(Frequencies) + ")");
    }
    if (parser.isSet(seconds)) {
        options.seconds = parser.value(seconds).toInt(&ok);
        // A day and a bit at most: the card's time of day wraps once, the rows' field 1 with it.
        if (!ok || options.seconds < 1 || options.seconds > 86400)
            return bad("invalid --seconds \"" + parser.value(seconds) + "\" (allowed 1..86400)");
    }
    return -1;
}

Recorder::Recorder(const RecorderOptions &options, std::FILE *messages, bool progressToTerminal)
    : m_options(options)
    , m_messages(messages)
    , m_progress(options.progress || progressToTerminal)
{
    if (options.output.isEmpty())
        m_session.setDiscardRows(true); // a bridge from the card to the broker
    else
        m_session.setOutputFile(options.output);
    // finish() waits for the writer itself, within bounds; letting the store go must not wait again.
    m_session.setCloseWaitMs(0);
    connect(&m_session, &RecordingSession::storeFailed, this, [this](const QString &reason) {
        m_storeFailed = true;
        m_storeError = reason;
        m_stopRequested = true;
        emit stopRequested();
    });
}

Recorder::~Recorder()
{
    m_session.setLink(nullptr);
    delete m_link;
}

void Recorder::message(const QString &text)
{
    std::fprintf(m_messages, "tactilon-record: %s\n", qPrintable(text));
    std::fflush(m_messages);
}

void Recorder::requestStop()
{
    ++m_signals;
    m_stopRequested = true;
    // Whatever waits for the card gives up: the user asked to end.
    if (m_link)
        m_link->setRequestsCancelled(true);
    emit stopRequested();
}

bool Recorder::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const int signalsBefore = m_signals;
    const bool stopBefore = m_stopRequested;
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (m_signals != signalsBefore || (m_stopRequested && !stopBefore) || m_portLost
            || (timeoutMs >= 0 && waited.elapsed() >= timeoutMs))
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        connect(this, &Recorder::stopRequested, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void Recorder::printProgress()
{
    const double s = m_sinceStart.elapsed() / 1000.0;
    const qint64 rows = m_session.rowCount();
    message(QString("%1 s, %2 rows, %3 rows/s, %4")
                .arg(qint64(s))
                .arg(rows)
                .arg(s > 0 ? rows / s : 0.0, 0, 'f', 1)
                .arg(healthText()));
}

QString Recorder::healthText() const
{
    LinkHealth h = m_link ? m_link->health() : LinkHealth();
    h += m_healthBefore;
    return QString("%1 frames, %2 checksum errors, %3 bytes discarded, %4 gaps (%5 ms), %6 outages")
        .arg(h.framesDecoded)
        .arg(h.framesDropped)
        .arg(h.bytesDiscarded)
        .arg(h.gaps)
        .arg(h.missingMs)
        .arg(m_outages);
}

bool Recorder::probeOutput()
{
    // The file is created or emptied only once there is a first row for it; until then an existing
    // one stays as it was. Here only whether it could be: a file made for the question goes again.
    const QByteArray name = QFile::encodeName(m_options.output);
    struct stat st;
    const bool existed = ::stat(name.constData(), &st) == 0;
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == ENXIO)
            return true; // a FIFO whose reader has not come yet
        message("cannot create the output file " + m_options.output + ": " + QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    ::close(fd);
    if (!existed)
        ::unlink(name.constData());
    return true;
}

int Recorder::failBeforeStart(int status, const QString &reason)
{
    message(reason);
    message("no rows recorded");
    if (m_mqtt)
        m_mqtt->stop();
    return status;
}

int Recorder::finish(int status, const QString &reason)
{
    const RecordJournal *store = m_session.store();
    // A normal end waits for the file to be complete; a signal leaves it to the writer soon.
    const bool complete = !store || store->waitFinished(m_signals > 0 ? CloseAfterSignalMs : 10000);
    const qint64 rows = store ? std::max<qint64>(0, store->linesInFile() - 1) : 0;
    if (!reason.isEmpty())
        message(reason);
    if (!complete && status == Recorded && rows < m_session.rowCount()) {
        message(QString("%1 took only %2 of %3 rows").arg(m_options.output).arg(rows).arg(m_session.rowCount()));
        status = PortFailed;
    }
    const double s = m_sinceStart.isValid() ? m_sinceStart.elapsed() / 1000.0 : 0.0;
    if (!m_options.output.isEmpty())
        message(QString("%1 rows in %2 s (%3 rows/s) written to %4; %5")
                    .arg(rows)
                    .arg(s, 0, 'f', 1)
                    .arg(s > 0 ? rows / s : 0.0, 0, 'f', 1)
                    .arg(m_options.output, healthText()));
    if (m_mqtt) {
        m_mqtt->setRecording(false);
        message(QString("%1 frames published to %2:%3, %4 not published")
                    .arg(m_mqtt->published())
                    .arg(m_options.mqttHost)
                    .arg(m_options.mqttPort)
                    .arg(m_mqtt->dropped()));
        if (m_options.output.isEmpty())
            message(QString("%1 rows in %2 s; %3").arg(m_session.rowCount()).arg(s, 0, 'f', 1).arg(healthText()));
        m_mqtt->stop();
    }
    return status;
}

bool Recorder::reconnect(QString &reason, int &status)
{
    m_healthBefore += m_link->health();
    ++m_outages;
    m_session.linkLost();
    if (m_mqtt)
        m_mqtt->setLinkState(MqttLinkState::Lost);
    m_link->closePort();
    PortWatcher watcher;
    QString back;
    connect(&watcher, &PortWatcher::portBack, this, [&back](const QString &path) { back = path; });
    QElapsedTimer waited;
    waited.start();
    const qint64 allowedMs = qint64(m_options.reconnectSeconds) * 1000;
    for (;;) {
        message("waiting for " + m_options.port);
        m_portLost = false;
        back.clear();
        watcher.watch(m_portIdentity);
        QTimer progress;
        connect(&progress, &QTimer::timeout, this, [this, &waited] {
            message(QString("waiting for %1 (%2 s)").arg(m_options.port).arg(waited.elapsed() / 1000));
        });
        if (m_progress)
            progress.start(1000);
        const bool found = waitUntil([&back] { return !back.isEmpty(); }, int(std::max<qint64>(0, allowedMs - waited.elapsed())));
        watcher.stop();
        status = PortFailed;
        if (m_stopRequested) {
            reason = QString("lost the port %1 while recording, and stopped while waiting for it; the rows so far are kept")
                         .arg(m_options.port);
            return false;
        }
        if (!found) {
            reason = QString("lost the port %1 while recording, and it did not come back within %2 s; the rows so far are kept")
                         .arg(m_options.port)
                         .arg(m_options.reconnectSeconds);
            return false;
        }
        if (!m_link->open(back, m_options.baud))
            continue; // there, but not ready yet
        // A card that came back with its defaults gets the frequency asked for again, and its
        // clock set again: the same recording goes on.
        if (m_options.frequencyIndex >= 0)
            m_link->setSampleFre(uint(m_options.frequencyIndex), SlaveProtocol::DefaultReplyTimeoutMs);
        int resumed = NoResult;
        QMetaObject::Connection ok = connect(&m_session, &RecordingSession::resumed, this, [&resumed] { resumed = 0; });
        QMetaObject::Connection failed =
            connect(&m_session, &RecordingSession::resumeFailed, this, [&resumed](int res) { resumed = res; });
        m_session.linkBack();
        waitUntil([&resumed] { return resumed != NoResult; }, -1);
        disconnect(ok);
        disconnect(failed);
        if (m_portLost) {
            m_link->closePort();
            continue; // gone again before it answered
        }
        if (m_stopRequested && resumed == NoResult) {
            reason = "stopped while the card's clock was being set again";
            return false;
        }
        if (resumed != 0) {
            status = CardFailed;
            reason = "the card did not take the clock synchronisation after the port came back (0x8D)";
            return false;
        }
        break;
    }
    if (m_mqtt)
        m_mqtt->setLinkState(MqttLinkState::Open);
    message(QString("the port %1 is back after %2 s; the recording goes on").arg(m_options.port).arg(waited.elapsed() / 1000.0, 0, 'f', 1));
    return true;
}

int Recorder::run()
{
    if (!m_options.output.isEmpty() && !probeOutput())
        return BadArguments;

    m_link = new MySerialport;
    if (publishing()) {
        m_mqtt = new MqttPublisher(this);
        m_mqtt->attach(m_link);
        MqttSettings settings;
        settings.host = m_options.mqttHost;
        settings.port = m_options.mqttPort;
        settings.topicPrefix = m_options.mqttTopic;
        m_mqtt->start(settings);
        m_mqtt->setPort(m_options.port);
        m_mqtt->linkOpened();
        // The broker is the user's and may come later: said once, and tried again meanwhile.
        QTimer::singleShot(3000, this, [this] {
            if (m_mqtt && !m_mqtt->isConnected())
                message(QString("cannot reach the MQTT broker %1:%2; trying again").arg(m_options.mqttHost).arg(m_options.mqttPort));
        });
    }
    connect(m_link, &MySerialport::portLost, this, [this] {
        m_portLost = true;
        emit stopRequested();
    });
    int freResult = NoResult;
    connect(m_link, &SlaveProtocol::sampleFreResult, this, [&freResult](int option, int res, int) {
        if (option == 1)
            freResult = res;
    });
    m_link->setRequestsCancelled(m_stopRequested);
    if (!m_link->open(m_options.port, m_options.baud))
        return failBeforeStart(PortFailed, "cannot open the port " + m_options.port + ": " + m_link->portErrorString());
    m_portIdentity = identifyPort(m_options.port);
    if (m_mqtt)
        m_mqtt->setLinkState(MqttLinkState::Open);
    const QString lost = "lost the port " + m_options.port;

    if (m_options.frequencyIndex >= 0 && !m_stopRequested) {
        m_link->setSampleFre(uint(m_options.frequencyIndex), SlaveProtocol::DefaultReplyTimeoutMs);
        if (m_portLost)
            return failBeforeStart(PortFailed, lost);
        if (!m_stopRequested) {
            const QString hz = QString::number(Frequencies.at(m_options.frequencyIndex));
            if (freResult == -1 || freResult == NoResult)
                return failBeforeStart(CardFailed, "the card did not answer the sample frequency request (0x83, " + hz + " Hz)");
            if (freResult != 0)
                return failBeforeStart(CardFailed, QString("the card refused the sample frequency %1 Hz (0x83, status %2)")
                                                       .arg(hz).arg(freResult));
        }
    }
    if (m_stopRequested)
        return failBeforeStart(Recorded, "interrupted before the recording started");

    // The card's clock is set to our time of day, exactly as the record window's start does.
    int syncResult = NoResult;
    m_session.setLink(m_link);
    connect(&m_session, &RecordingSession::started, this, [&syncResult] { syncResult = 0; });
    connect(&m_session, &RecordingSession::startFailed, this, [&syncResult](int res) { syncResult = res; });
    m_session.start();
    waitUntil([&syncResult] { return syncResult != NoResult; }, -1);
    // Interrupted, the request gives up and answers -1: that is the user's doing, not the card's.
    if (syncResult != 0 && (m_stopRequested || m_portLost)) {
        // The card may have taken the sync and begun its time-stamped stream: it is told to stop,
        // without waiting for the answer.
        const uint8_t type = 0;
        m_link->tx_frame_send(SetDataType, &type, 1);
        m_link->flushPort();
        return failBeforeStart(m_portLost ? int(PortFailed) : int(Recorded),
                               m_portLost ? lost : QString("interrupted before the recording started"));
    }
    if (syncResult == -1)
        return failBeforeStart(CardFailed, "the card did not answer the clock synchronisation (0x8D)");
    if (syncResult != 0)
        return failBeforeStart(CardFailed, QString("the card refused the clock synchronisation (0x8D, status %1)").arg(syncResult));

    m_sinceStart.start();
    if (m_mqtt)
        m_mqtt->setRecording(true);
    QTimer progress;
    connect(&progress, &QTimer::timeout, this, &Recorder::printProgress);
    if (m_progress)
        progress.start(1000);
    QTimer end;
    end.setSingleShot(true);
    end.setTimerType(Qt::PreciseTimer);
    connect(&end, &QTimer::timeout, this, [this] {
        m_stopRequested = true;
        emit stopRequested();
    });
    if (m_options.seconds > 0)
        end.start(m_options.seconds * 1000);
    for (;;) {
        if (!m_stopRequested && !m_portLost) {
            QEventLoop loop;
            connect(this, &Recorder::stopRequested, &loop, &QEventLoop::quit);
            loop.exec();
        }
        if (!m_portLost || m_stopRequested || m_options.reconnectSeconds <= 0)
            break;
        QString reason;
        int status = PortFailed;
        if (!reconnect(reason, status)) {
            m_session.endLocally();
            return finish(status, reason);
        }
    }

    // Data type 0 ends the time-stamped stream, as the record window's stop does; frames until
    // the card's answer still belong to the recording. After a signal the answer gets a moment;
    // a second signal ends the wait at once.
    int typeResult = NoResult;
    connect(&m_session, &RecordingSession::stopped, this, [&typeResult] { typeResult = 0; });
    connect(&m_session, &RecordingSession::stopFailed, this, [&typeResult](int res) { typeResult = res; });
    // The request runs nested in this thread's loop, so the bound is a cancel, not a time-out here.
    m_link->setRequestsCancelled(false);
    QTimer bound;
    bound.setSingleShot(true);
    connect(&bound, &QTimer::timeout, this, [this] { m_link->setRequestsCancelled(true); });
    if (m_signals > 0)
        bound.start(m_options.stopAnswerMs);
    m_session.stop();
    if (!waitUntil([&typeResult] { return typeResult != NoResult; }, -1))
        waitUntil([&typeResult] { return typeResult != NoResult; }, 1000);
    if (typeResult != 0)
        m_session.endLocally();
    if (m_portLost)
        return finish(PortFailed, QString("lost the port %1 while stopping; the rows so far are kept").arg(m_options.port));
    m_link->closePort();
    if (m_storeFailed)
        return finish(PortFailed, "writing " + m_options.output + " failed: " + m_storeError);
    if (typeResult != 0)
        return finish(CardFailed, typeResult == -1 || typeResult == NoResult
                                      ? QString("the card did not answer the stop (0x82 00); the rows so far are kept")
                                      : QString("the card refused the stop (0x82 00, status %1); the rows so far are kept")
                                            .arg(typeResult));
    return finish(Recorded, QString());
}
