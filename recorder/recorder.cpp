#include "recorder.h"

#include "myserialport.h"
#include "recordformat.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTime>
#include <QTimer>

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
    const QCommandLineOption output("output", "CSV file to write (required; replaced if it exists).", "FILE.csv");
    const QCommandLineOption progress("progress", "Print a progress line every second even when standard error is not a terminal.");
    parser.addOptions({help, port, baud, frequency, seconds, output, progress});
    const QString usage = "usage: tactilon-record --port PATH [--baud 115200|460800|921600] "
                          "[--frequency 10|20|50|100|200] [--seconds N] --output FILE.csv [--progress]\n"
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
    if (!parser.isSet(output) || parser.value(output).isEmpty())
        return bad("--output is required");
    options.port = parser.value(port);
    options.output = parser.value(output);
    options.progress = parser.isSet(progress);

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
    connect(&m_file, &RecordJournal::writeFailed, this, [this](const QString &, const QString &reason) {
        m_writeFailed = true;
        m_writeError = reason;
        requestStop();
    });
}

Recorder::~Recorder()
{
    delete m_link;
}

void Recorder::message(const QString &text)
{
    std::fprintf(m_messages, "tactilon-record: %s\n", qPrintable(text));
    std::fflush(m_messages);
}

void Recorder::requestStop()
{
    m_stopRequested = true;
    emit stopRequested();
}

void Recorder::onFrame(QList<Axit_t> &axit, uint, uint timeStamp)
{
    // Frames decoded in the same read as the sync reply come before its result; they belong
    // to this recording when the synchronised clock stamped them.
    if (!m_recording && !(m_syncing && stampedAfterSync(timeStamp, m_startTime, m_sinceRequest.elapsed())))
        return;
    if (!m_haveHeader) {
        m_file.append(recordHeader(int(axit.size())));
        m_haveHeader = true;
    }
    m_row.clear();
    appendRecordRow(m_row, timeStamp, m_startTime, axit);
    m_file.append(m_row);
    ++m_rows;
}

void Recorder::printProgress()
{
    const double s = m_sinceStart.elapsed() / 1000.0;
    message(QString("%1 s, %2 rows, %3 rows/s").arg(qint64(s)).arg(m_rows).arg(s > 0 ? m_rows / s : 0.0, 0, 'f', 1));
}

int Recorder::finishFile(int status, const QString &reason)
{
    const bool written = m_file.finishAndWait() && !m_writeFailed;
    if (!reason.isEmpty())
        message(reason);
    const double s = m_sinceStart.isValid() ? m_sinceStart.elapsed() / 1000.0 : 0.0;
    if (!written && status == Recorded) {
        message("writing " + m_options.output + " failed: " + m_writeError);
        status = PortFailed;
    }
    message(QString("%1 rows in %2 s (%3 rows/s) written to %4")
                .arg(m_rows)
                .arg(s, 0, 'f', 1)
                .arg(s > 0 ? m_rows / s : 0.0, 0, 'f', 1)
                .arg(m_options.output));
    return status;
}

int Recorder::run()
{
    const bool existed = QFileInfo::exists(m_options.output);
    {
        QFile probe(m_options.output);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            message("cannot create the output file " + m_options.output + ": " + probe.errorString());
            return BadArguments;
        }
    }
    // Nothing recorded: an empty file we created would only look like a recording.
    auto failBeforeStart = [this, existed](int status, const QString &reason) {
        m_file.finishAndWait();
        if (!existed && QFileInfo(m_options.output).isFile())
            QFile::remove(m_options.output);
        message(reason);
        message("no rows recorded");
        return status;
    };

    m_link = new MySerialport;
    connect(m_link, &MySerialport::portLost, this, [this] {
        m_portLost = true;
        emit stopRequested();
    });
    connect(m_link, qOverload<QList<Axit_t> &, uint, uint>(&SlaveProtocol::AxitReceive), this, &Recorder::onFrame);
    int freResult = NoResult, syncResult = NoResult, typeResult = NoResult;
    connect(m_link, &SlaveProtocol::sampleFreResult, this, [&freResult](int option, int res, int) {
        if (option == 1)
            freResult = res;
    });
    connect(m_link, &SlaveProtocol::timeStampSyncResult, this, [&syncResult](int res) { syncResult = res; });
    connect(m_link, &SlaveProtocol::DataTypeSetResult, this, [&typeResult](int res, int id) {
        if (id == 0)
            typeResult = res;
    });

    // Opening also reads the card's sample frequency, as the tool does; only the open counts here.
    m_link->openPort(m_options.port, m_options.baud);
    if (!m_link->isPortOpen())
        return failBeforeStart(PortFailed, "cannot open the port " + m_options.port + ": " + m_link->portErrorString());
    if (m_portLost)
        return failBeforeStart(PortFailed, "lost the port " + m_options.port);

    if (m_options.frequencyIndex >= 0 && !m_stopRequested) {
        m_link->setSampleFre(uint(m_options.frequencyIndex), SlaveProtocol::DefaultReplyTimeoutMs);
        if (m_portLost)
            return failBeforeStart(PortFailed, "lost the port " + m_options.port);
        const QString hz = QString::number(Frequencies.at(m_options.frequencyIndex));
        if (freResult == -1 || freResult == NoResult)
            return failBeforeStart(CardFailed, "the card did not answer the sample frequency request (0x83, " + hz + " Hz)");
        if (freResult != 0)
            return failBeforeStart(CardFailed, QString("the card refused the sample frequency %1 Hz (0x83, status %2)")
                                                   .arg(hz).arg(freResult));
    }
    if (m_stopRequested)
        return failBeforeStart(Recorded, "interrupted before the recording started");

    // The card's clock is set to our time of day, exactly as the record window's start does.
    const QTime now = QTime::currentTime();
    m_startTime = timeOfDayMs(uint(now.hour()), uint(now.minute()), uint(now.second()), uint(now.msec()));
    m_file.begin(m_options.output);
    m_syncing = true;
    m_sinceRequest.start();
    m_link->timeStampSync(m_startTime);
    m_syncing = false;
    if (m_portLost)
        return failBeforeStart(PortFailed, "lost the port " + m_options.port);
    if (syncResult == -1 || syncResult == NoResult)
        return failBeforeStart(CardFailed, "the card did not answer the clock synchronisation (0x8D)");
    if (syncResult != 0)
        return failBeforeStart(CardFailed, QString("the card refused the clock synchronisation (0x8D, status %1)").arg(syncResult));

    m_recording = true;
    m_sinceStart.start();
    {
        QEventLoop loop;
        connect(this, &Recorder::stopRequested, &loop, &QEventLoop::quit);
        QTimer progress;
        connect(&progress, &QTimer::timeout, this, &Recorder::printProgress);
        if (m_progress)
            progress.start(1000);
        QTimer end;
        end.setSingleShot(true);
        end.setTimerType(Qt::PreciseTimer);
        connect(&end, &QTimer::timeout, this, &Recorder::requestStop);
        if (m_options.seconds > 0)
            end.start(m_options.seconds * 1000);
        if (!m_stopRequested && !m_portLost)
            loop.exec();
    }

    if (m_portLost) {
        m_recording = false;
        return finishFile(PortFailed, QString("lost the port %1 while recording; the rows so far are kept").arg(m_options.port));
    }
    // Data type 0 ends the time-stamped stream, as the record window's stop does; frames until
    // the card's answer still belong to the recording.
    m_link->setInfoType(0, 0);
    m_recording = false;
    if (m_portLost)
        return finishFile(PortFailed, QString("lost the port %1 while stopping; the rows so far are kept").arg(m_options.port));
    m_link->closePort();
    if (m_writeFailed)
        return finishFile(PortFailed, "writing " + m_options.output + " failed: " + m_writeError);
    if (typeResult != 0)
        return finishFile(CardFailed, typeResult == -1 || typeResult == NoResult
                                          ? QString("the card did not answer the stop (0x82 00); the rows so far are kept")
                                          : QString("the card refused the stop (0x82 00, status %1); the rows so far are kept")
                                                .arg(typeResult));
    return finishFile(Recorded, QString());
}
