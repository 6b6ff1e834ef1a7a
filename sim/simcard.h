#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QtGlobal>
#include <array>
#include <functional>

struct SimSample
{
    qint16 x = 0;
    qint16 y = 0;
    qint16 z = 0;
};

// One array demarcation point: an applied pressure (hundredths) and one reading per sensor.
struct SimArrayPoint
{
    qint16 pressure = 0;
    std::array<qint16, 16> values{};
};

struct SimSinglePoint
{
    qint16 pressure = 0;
    qint16 x = 0;
    qint16 y = 0;
    qint16 z = 0;
};

// One sample frame as the card meant to send it (before any corruption of the line).
struct SimStreamRecord
{
    qint64 atMs = 0;          // card time since power-up at which the frame was due
    quint8 type = 0;          // data type, equal to the frame's command code
    quint32 timeStamp = 0;    // card clock at that moment; on the wire for type 2 only
    QList<SimSample> samples;
    bool corrupted = false;   // the line changed at least one of its bytes
};

// A command as the card took it from the line.
struct SimCommand
{
    qint64 atMs = 0;
    quint8 cmd = 0;
    QByteArray payload;
};

// Small deterministic generator, so a seed gives the same card on every platform and library.
class SimRandom
{
public:
    explicit SimRandom(quint64 seed = 1) : m_state(seed) {}
    quint64 next();
    double uniform();                       // [0, 1)
    double uniform(double lo, double hi);   // [lo, hi)
    int below(int n);                       // 0 .. n - 1

private:
    quint64 m_state;
};

// The driver card's behaviour without any port or timer: bytes from the host go in through
// receive(), the card's bytes come out of takeOutput(), and time is whatever the caller passes
// (milliseconds since power-up, never going back).
class SimCard
{
public:
    enum : int {
        MaxSensors = 16,
        DefaultSensors = 6,
        SinglePointCapacity = 20,
        MaxCatchUpMs = 1000,
        StaleFragmentMs = 500,
        DefaultFreIndex = 2,
    };

    explicit SimCard(quint32 seed = 1);

    // 1..16; other values are refused and the count stays.
    bool setSensorCount(int n);
    int sensorCount() const { return m_sensors; }

    void receive(const QByteArray &bytes, qint64 nowMs);
    void advance(qint64 nowMs);
    QByteArray takeOutput();

    int dataType() const { return m_dataType; }
    int freIndex() const { return m_freIndex; }
    static int frequencyHz(int freIndex);
    // Time of day on the card's clock (ms, wraps at 2^32).
    quint32 clockMs(qint64 nowMs) const { return quint32(quint64(m_clockOffset + nowMs)); }
    SimSample baseline(int sensor) const;
    QList<SimArrayPoint> arrayPoints(int axis) const;
    QList<SimSinglePoint> singlePoints(int axis, int sensor) const;
    // Commands taken from the line (good frames), answered or not.
    int commandsReceived() const { return m_commandsReceived; }
    // The same commands in order, while the stream log is on.
    const QList<SimCommand> &commandLog() const { return m_commandLog; }

    const QList<SimStreamRecord> &streamLog() const { return m_log; }
    void clearStreamLog() { m_log.clear(); }
    // A long-running server turns the log off so it does not grow without end.
    void setStreamLogEnabled(bool on) { m_logEnabled = on; }
    // Told of every sample frame as it goes out, log or no log.
    std::function<void(const SimStreamRecord &)> onSample;

    void setPressing(bool on) { m_pressing = on; }
    bool pressing() const { return m_pressing; }
    void setStreaming(bool on) { m_streaming = on; }
    bool streaming() const { return m_streaming; }
    void setSilent(bool on) { m_silent = on; }
    bool silent() const { return m_silent; }
    void setRefusedCodes(const QSet<quint8> &codes) { m_refused = codes; }
    QSet<quint8> refusedCodes() const { return m_refused; }
    void setReplyDelayMs(int ms) { m_replyDelayMs = qMax(0, ms); }
    int replyDelayMs() const { return m_replyDelayMs; }
    // Share of output bytes (0..1) replaced by a different value; the choice of bytes
    // follows the seed, so a run is repeatable and the rest matches a clean run.
    void setCorruption(double fraction) { m_corruption = qBound(0.0, fraction, 1.0); }
    double corruption() const { return m_corruption; }
    // Every n-th sample frame goes out with a wrong checksum (0: none): a known set of lost frames.
    void setCorruptEveryNth(int n) { m_corruptEvery = qMax(0, n); }

    // Response of a press in source counts; demarcated values are this times DemarcatedPerRaw.
    static constexpr double DemarcatedPerRaw = 0.8;

private:
    struct Press
    {
        qint64 start = 0, holdStart = 0, driftStart = 0, fallStart = 0, end = 0;
        double peak = 0;          // Z response of the sensor under the centre at full press
        double cx = 0, cy = 0;    // centre at the start, in sensor cells
        double vx = 0, vy = 0;    // drift in cells per ms
        double shearX = 0, shearY = 0;
    };
    struct PendingReply
    {
        qint64 dueMs;
        QByteArray bytes;
    };

    void parse(qint64 nowMs, bool flushStale);
    void handle(quint8 cmd, const QByteArray &payload, qint64 nowMs);
    void reply(quint8 cmd, const QByteArray &payload, qint64 nowMs);
    void status(quint8 cmd, int value, qint64 nowMs) { reply(cmd, QByteArray(1, char(value)), nowMs); }
    void releaseReplies(qint64 upToMs);
    // Returns whether the line corrupted any of the bytes.
    bool emitBytes(const QByteArray &frame);
    void emitSample(qint64 atMs);
    void nextPress(qint64 after);
    void pressResponse(qint64 t, QList<double> &z, double &shearX, double &shearY);
    void sensorCell(int i, double &cx, double &cy) const;
    void gridSize(int &cols, int &rows) const;
    static QByteArray frame(quint8 cmd, const QByteArray &payload);

    int m_sensors = DefaultSensors;
    int m_dataType = 0;
    int m_freIndex = DefaultFreIndex;
    qint64 m_clockOffset = 0;
    qint64 m_lastNow = 0;
    qint64 m_nextSampleMs = 0;

    std::array<SimSample, MaxSensors> m_baseline{};
    std::array<double, MaxSensors> m_gain{};
    std::array<QList<SimArrayPoint>, 3> m_arrayPoints;
    std::array<std::array<QList<SimSinglePoint>, MaxSensors>, 3> m_singlePoints;

    QByteArray m_rx;
    qint64 m_rxLastMs = 0;
    int m_commandsReceived = 0;
    QByteArray m_out;
    QList<PendingReply> m_pending;

    bool m_pressing = true;
    bool m_streaming = true;
    bool m_silent = false;
    QSet<quint8> m_refused;
    int m_replyDelayMs = 0;
    double m_corruption = 0;
    int m_corruptEvery = 0;
    qint64 m_samplesSent = 0;

    SimRandom m_pressRandom;
    SimRandom m_noiseRandom;
    SimRandom m_lineRandom;
    Press m_press;

    bool m_logEnabled = true;
    QList<SimStreamRecord> m_log;
    QList<SimCommand> m_commandLog;
};
