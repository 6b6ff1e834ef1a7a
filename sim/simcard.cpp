#include "simcard.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;
// Spread of a press over the neighbouring sensors, in sensor cells.
constexpr double PressSigma = 0.55;
constexpr double NoiseCounts = 4.0;
// Source counts per hundredth of applied pressure, per axis; only the preloaded points use it.
constexpr double CountsPerPressure[3] = {5.0, 5.0, 6.0};

qint16 toInt16(double v)
{
    return qint16(qBound(-32768.0, std::round(v), 32767.0));
}

void putI16(QByteArray &b, int v)
{
    b.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF));
}

int readI16(const QByteArray &b, int at)
{
    return qint16(quint16(quint8(b[at]) << 8 | quint8(b[at + 1])));
}

} // namespace

quint64 SimRandom::next()
{
    m_state += 0x9E3779B97F4A7C15ULL;
    quint64 z = m_state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double SimRandom::uniform()
{
    return double(next() >> 11) * (1.0 / 9007199254740992.0);
}

double SimRandom::uniform(double lo, double hi)
{
    return lo + (hi - lo) * uniform();
}

int SimRandom::below(int n)
{
    return n <= 1 ? 0 : int(next() % quint64(n));
}

SimCard::SimCard(quint32 seed)
    : m_pressRandom(quint64(seed) * 4 + 1)
    , m_noiseRandom(quint64(seed) * 4 + 2)
    , m_lineRandom(quint64(seed) * 4 + 3)
{
    SimRandom setup(quint64(seed) * 4);
    for (int i = 0; i < MaxSensors; ++i) {
        m_baseline[i] = SimSample{toInt16(setup.uniform(-300, 300)), toInt16(setup.uniform(-300, 300)),
                                  toInt16(setup.uniform(1000, 1500))};
        m_gain[i] = setup.uniform(0.95, 1.05);
    }
    for (int axis = 0; axis < 3; ++axis) {
        for (int pressure : {1000, 2000, 3000}) {
            SimArrayPoint p;
            p.pressure = qint16(pressure);
            for (int i = 0; i < MaxSensors; ++i) {
                const SimSample &b = m_baseline[i];
                const int base = axis == 0 ? b.x : axis == 1 ? b.y : b.z;
                p.values[i] = toInt16(base + m_gain[i] * CountsPerPressure[axis] * pressure
                                      + setup.uniform(-20, 20));
            }
            m_arrayPoints[axis].append(p);
        }
    }
    nextPress(0);
}

bool SimCard::setSensorCount(int n)
{
    if (n < 1 || n > MaxSensors)
        return false;
    m_sensors = n;
    return true;
}

int SimCard::frequencyHz(int freIndex)
{
    static const int hz[] = {10, 20, 50, 100, 200};
    return freIndex >= 0 && freIndex < 5 ? hz[freIndex] : 0;
}

SimSample SimCard::baseline(int sensor) const
{
    return sensor >= 0 && sensor < MaxSensors ? m_baseline[sensor] : SimSample{};
}

QList<SimArrayPoint> SimCard::arrayPoints(int axis) const
{
    return axis >= 0 && axis < 3 ? m_arrayPoints[axis] : QList<SimArrayPoint>{};
}

QList<SimSinglePoint> SimCard::singlePoints(int axis, int sensor) const
{
    if (axis < 0 || axis >= 3 || sensor < 0 || sensor >= MaxSensors)
        return {};
    return m_singlePoints[axis][sensor];
}

QByteArray SimCard::takeOutput()
{
    QByteArray out;
    out.swap(m_out);
    return out;
}

QByteArray SimCard::frame(quint8 cmd, const QByteArray &payload)
{
    QByteArray f;
    f.reserve(payload.size() + 4);
    f.append(char(0xA5)).append(char(payload.size() + 2)).append(char(cmd)).append(payload);
    quint8 sum = 0;
    for (char c : f)
        sum += quint8(c);
    f.append(char(sum));
    return f;
}

void SimCard::receive(const QByteArray &bytes, qint64 nowMs)
{
    // Frames due before the command went out with the settings they had.
    advance(nowMs);
    m_rx.append(bytes);
    m_rxLastMs = m_lastNow;
    parse(m_lastNow, false);
}

void SimCard::advance(qint64 nowMs)
{
    const qint64 now = qMax(nowMs, m_lastNow);
    m_lastNow = now;
    // A fragment that waited too long may be a false header hiding real frames behind it.
    if (!m_rx.isEmpty() && now - m_rxLastMs > StaleFragmentMs)
        parse(now, true);

    const int period = 1000 / frequencyHz(m_freIndex);
    if (!m_streaming) {
        m_nextSampleMs = now + period;
        releaseReplies(now);
        return;
    }
    if (m_nextSampleMs < now - MaxCatchUpMs)
        m_nextSampleMs += (now - MaxCatchUpMs - m_nextSampleMs + period - 1) / period * period;
    while (m_nextSampleMs <= now) {
        releaseReplies(m_nextSampleMs);
        emitSample(m_nextSampleMs);
        m_nextSampleMs += period;
    }
    releaseReplies(now);
}

void SimCard::parse(qint64 nowMs, bool flushStale)
{
    qsizetype from = 0;
    for (;;) {
        const qsizetype h = m_rx.indexOf(char(0xA5), from);
        if (h < 0) {
            m_rx.clear();
            return;
        }
        if (h + 1 >= m_rx.size()) {
            if (flushStale)
                m_rx.clear();
            else
                m_rx.remove(0, h);
            return;
        }
        const int len = quint8(m_rx[h + 1]);
        if (len < 2) {
            from = h + 1;
            continue;
        }
        if (m_rx.size() - h < len + 2) {
            if (flushStale) {
                from = h + 1;
                continue;
            }
            m_rx.remove(0, h);
            return;
        }
        quint8 sum = 0;
        for (qsizetype i = h; i <= h + len; ++i)
            sum += quint8(m_rx[i]);
        if (sum != quint8(m_rx[h + len + 1])) {
            from = h + 1;
            continue;
        }
        const quint8 cmd = quint8(m_rx[h + 2]);
        const QByteArray payload = m_rx.mid(h + 3, len - 2);
        m_rx.remove(0, h + len + 2);
        from = 0;
        handle(cmd, payload, nowMs);
    }
}

void SimCard::handle(quint8 cmd, const QByteArray &p, qint64 now)
{
    ++m_commandsReceived;
    if (m_logEnabled)
        m_commandLog.append(SimCommand{now, cmd, p});
    if (m_silent)
        return;
    if (m_refused.contains(cmd)) {
        // A lone 01 in these answers would be read as data (an index, an axis), so stay quiet.
        if (cmd != 0x84 && cmd != 0x88 && cmd != 0x8C)
            status(cmd, 1, now);
        return;
    }
    const int len = int(p.size());
    auto axisOk = [](int a) { return a >= 0 && a < 3; };
    auto sensorOk = [this](int s) { return s >= 0 && s < m_sensors; };

    switch (cmd) {
    case 0x80: {
        // All records or none: a half-written baseline would be worse than a refusal.
        bool ok = len > 0 && len % 7 == 0 && len / 7 <= MaxSensors;
        for (int at = 0; ok && at < len; at += 7)
            ok = sensorOk(quint8(p[at]));
        if (ok) {
            for (int at = 0; at < len; at += 7)
                m_baseline[quint8(p[at])] = SimSample{qint16(readI16(p, at + 1)), qint16(readI16(p, at + 3)),
                                                      qint16(readI16(p, at + 5))};
        }
        status(cmd, ok ? 0 : 1, now);
        return;
    }
    case 0x81: {
        QByteArray out;
        for (int i = 0; i < m_sensors; ++i) {
            putI16(out, m_baseline[i].x);
            putI16(out, m_baseline[i].y);
            putI16(out, m_baseline[i].z);
        }
        reply(cmd, out, now);
        return;
    }
    case 0x82:
        if (len == 1 && quint8(p[0]) <= 2) {
            m_dataType = quint8(p[0]);
            status(cmd, 0, now);
        } else {
            status(cmd, 1, now);
        }
        return;
    case 0x83:
        if (len == 1 && frequencyHz(quint8(p[0])) > 0) {
            m_freIndex = quint8(p[0]);
            m_nextSampleMs = now + 1000 / frequencyHz(m_freIndex);
            status(cmd, 0, now);
        } else {
            status(cmd, 1, now);
        }
        return;
    case 0x84:
        reply(cmd, QByteArray(1, char(m_freIndex)), now);
        return;
    case 0x86: {
        if (len < 1 || (len - 1) % 2 != 0 || !axisOk(quint8(p[0]))) {
            status(cmd, 1, now);
            return;
        }
        QList<SimArrayPoint> &points = m_arrayPoints[quint8(p[0])];
        for (int at = 1; at < len; at += 2) {
            const int pressure = readI16(p, at);
            points.removeIf([pressure](const SimArrayPoint &a) { return a.pressure == pressure; });
        }
        status(cmd, 0, now);
        return;
    }
    case 0x87:
        for (auto &points : m_arrayPoints)
            points.clear();
        status(cmd, 0, now);
        return;
    case 0x88: {
        if (len < 1 || !axisOk(quint8(p[0])))
            return;
        const int axis = quint8(p[0]);
        // An axis without points still gets one empty answer, so the reader can tell it is empty.
        if (m_arrayPoints[axis].isEmpty()) {
            QByteArray out(1, char(axis));
            putI16(out, 0);
            reply(cmd, out, now);
            return;
        }
        for (const SimArrayPoint &a : m_arrayPoints[axis]) {
            QByteArray out(1, char(axis));
            putI16(out, a.pressure);
            for (int i = 0; i < m_sensors; ++i)
                putI16(out, a.values[i]);
            reply(cmd, out, now);
        }
        return;
    }
    case 0x89: {
        if (len != 10 || !axisOk(quint8(p[0])) || !sensorOk(quint8(p[1]))) {
            status(cmd, 1, now);
            return;
        }
        QList<SimSinglePoint> &points = m_singlePoints[quint8(p[0])][quint8(p[1])];
        const SimSinglePoint point{qint16(readI16(p, 2)), qint16(readI16(p, 4)), qint16(readI16(p, 6)),
                                   qint16(readI16(p, 8))};
        auto at = std::lower_bound(points.begin(), points.end(), point.pressure,
                                   [](const SimSinglePoint &a, qint16 v) { return a.pressure < v; });
        if (at != points.end() && at->pressure == point.pressure) {
            *at = point;
        } else if (points.size() >= SinglePointCapacity) {
            status(cmd, 2, now);
            return;
        } else {
            points.insert(at, point);
        }
        status(cmd, 0, now);
        return;
    }
    case 0x8A: {
        if (len < 2 || len % 2 != 0 || !axisOk(quint8(p[0])) || !sensorOk(quint8(p[1]))) {
            status(cmd, 1, now);
            return;
        }
        QList<SimSinglePoint> &points = m_singlePoints[quint8(p[0])][quint8(p[1])];
        for (int at = 2; at < len; at += 2) {
            const int pressure = readI16(p, at);
            points.removeIf([pressure](const SimSinglePoint &s) { return s.pressure == pressure; });
        }
        status(cmd, 0, now);
        return;
    }
    case 0x8B:
        if (len != 2 || !axisOk(quint8(p[0])) || !sensorOk(quint8(p[1]))) {
            status(cmd, 1, now);
            return;
        }
        m_singlePoints[quint8(p[0])][quint8(p[1])].clear();
        status(cmd, 0, now);
        return;
    case 0x8C: {
        if (len < 2)
            return;
        const int axis = quint8(p[0]);
        const int sensor = quint8(p[1]);
        QByteArray out = p.left(2);
        if (axisOk(axis) && sensorOk(sensor)) {
            for (const SimSinglePoint &s : m_singlePoints[axis][sensor]) {
                putI16(out, s.pressure);
                putI16(out, s.x);
                putI16(out, s.y);
                putI16(out, s.z);
            }
        }
        reply(cmd, out, now);
        return;
    }
    case 0x8D:
        if (len == 4) {
            const quint32 t = quint32(quint8(p[0])) << 24 | quint32(quint8(p[1])) << 16
                              | quint32(quint8(p[2])) << 8 | quint32(quint8(p[3]));
            m_clockOffset = qint64(t) - now;
            // A synchronised clock starts the time-stamped stream: recording relies on it and
            // ends it by asking for data type 0.
            m_dataType = 2;
            status(cmd, 0, now);
        } else {
            status(cmd, 1, now);
        }
        return;
    default:
        return;
    }
}

void SimCard::reply(quint8 cmd, const QByteArray &payload, qint64 nowMs)
{
    const QByteArray f = frame(cmd, payload);
    if (m_replyDelayMs > 0)
        m_pending.append(PendingReply{nowMs + m_replyDelayMs, f});
    else
        emitBytes(f);
}

void SimCard::releaseReplies(qint64 upToMs)
{
    while (!m_pending.isEmpty()) {
        auto due = std::find_if(m_pending.begin(), m_pending.end(),
                                [upToMs](const PendingReply &r) { return r.dueMs <= upToMs; });
        if (due == m_pending.end())
            return;
        emitBytes(due->bytes);
        m_pending.erase(due);
    }
}

bool SimCard::emitBytes(const QByteArray &bytes)
{
    if (m_corruption <= 0) {
        m_out.append(bytes);
        return false;
    }
    QByteArray b = bytes;
    bool changed = false;
    for (char &c : b) {
        if (m_lineRandom.uniform() < m_corruption) {
            c = char(quint8(c) ^ quint8(1 + m_lineRandom.below(255)));
            changed = true;
        }
    }
    m_out.append(b);
    return changed;
}

void SimCard::emitSample(qint64 atMs)
{
    QList<double> response(m_sensors, 0.0);
    double shearX = 0, shearY = 0;
    pressResponse(atMs, response, shearX, shearY);

    SimStreamRecord rec;
    rec.atMs = atMs;
    rec.type = quint8(m_dataType);
    rec.timeStamp = clockMs(atMs);
    rec.samples.reserve(m_sensors);
    auto noise = [this] { return (m_noiseRandom.uniform() + m_noiseRandom.uniform() - 1.0) * NoiseCounts; };

    QByteArray payload;
    if (m_dataType == 2) {
        for (int shift = 24; shift >= 0; shift -= 8)
            payload.append(char((rec.timeStamp >> shift) & 0xFF));
    }
    for (int i = 0; i < m_sensors; ++i) {
        const double z = response[i] + noise();
        const double x = response[i] * shearX + noise();
        const double y = response[i] * shearY + noise();
        SimSample s;
        if (m_dataType == 1) {
            s = SimSample{toInt16(m_baseline[i].x + x), toInt16(m_baseline[i].y + y), toInt16(m_baseline[i].z + z)};
        } else {
            s = SimSample{toInt16(x * DemarcatedPerRaw), toInt16(y * DemarcatedPerRaw), toInt16(z * DemarcatedPerRaw)};
        }
        putI16(payload, s.x);
        putI16(payload, s.y);
        putI16(payload, s.z);
        rec.samples.append(s);
    }
    QByteArray f = frame(quint8(m_dataType), payload);
    const bool wrongSum = m_corruptEvery > 0 && ++m_samplesSent % m_corruptEvery == 0;
    if (wrongSum)
        f.back() = char(~quint8(f.back()));
    rec.corrupted = emitBytes(f) || wrongSum;
    if (onSample)
        onSample(rec);
    if (m_logEnabled)
        m_log.append(std::move(rec));
}

void SimCard::gridSize(int &cols, int &rows) const
{
    if (m_sensors == 6) {
        cols = 3;
        rows = 2;
    } else {
        cols = qMin(m_sensors, 4);
        rows = (m_sensors + 3) / 4;
    }
}

// Same arrangement as the plane and vector views: six sensors along a U, otherwise rows of four.
void SimCard::sensorCell(int i, double &cx, double &cy) const
{
    if (m_sensors == 6) {
        cx = i < 3 ? i : 5 - i;
        cy = i < 3 ? 0 : 1;
    } else {
        cx = i % 4;
        cy = i / 4;
    }
}

void SimCard::nextPress(qint64 after)
{
    SimRandom &r = m_pressRandom;
    Press p;
    const bool first = after == 0;
    p.start = after + qint64(first ? r.uniform(300, 1000) : r.uniform(400, 2000));
    p.holdStart = p.start + qint64(r.uniform(150, 400));
    // The centre rests on a sensor for a moment, so even 10 Hz sampling sees the full press.
    p.driftStart = p.holdStart + 250;
    p.fallStart = p.holdStart + qint64(r.uniform(500, 1500));
    p.end = p.fallStart + qint64(r.uniform(150, 400));

    const int kind = r.below(100);
    if (kind < 35)
        p.peak = r.uniform(1500, 3000);     // light touch
    else if (kind < 65)
        p.peak = r.uniform(6000, 12000);
    else
        p.peak = r.uniform(20000, 23000);   // firm press
    sensorCell(r.below(m_sensors), p.cx, p.cy);
    const double angle = r.uniform(0, 2 * Pi);
    const double cellsPerMs = r.uniform(0.5, 1.5) / 1000.0;
    p.vx = std::cos(angle) * cellsPerMs;
    p.vy = std::sin(angle) * cellsPerMs;
    // Sliding drags the surface a little in the direction of travel.
    p.shearX = 0.06 * std::cos(angle) + r.uniform(-0.04, 0.04);
    p.shearY = 0.06 * std::sin(angle) + r.uniform(-0.04, 0.04);
    m_press = p;
}

void SimCard::pressResponse(qint64 t, QList<double> &z, double &shearX, double &shearY)
{
    while (t >= m_press.end)
        nextPress(m_press.end);
    const Press &p = m_press;
    if (!m_pressing || t < p.start)
        return;

    auto wobble = [&p](qint64 at) { return 1.0 + 0.03 * std::sin(2 * Pi * double(at - p.holdStart) / 700.0); };
    double envelope;
    if (t < p.holdStart)
        envelope = 0.5 - 0.5 * std::cos(Pi * double(t - p.start) / double(p.holdStart - p.start));
    else if (t < p.fallStart)
        envelope = wobble(t);
    else
        envelope = wobble(p.fallStart) * (0.5 + 0.5 * std::cos(Pi * double(t - p.fallStart) / double(p.end - p.fallStart)));

    int cols, rows;
    gridSize(cols, rows);
    const double drift = double(qMax<qint64>(0, t - p.driftStart));
    const double cx = qBound(0.0, p.cx + p.vx * drift, double(cols - 1));
    const double cy = qBound(0.0, p.cy + p.vy * drift, double(rows - 1));
    for (int i = 0; i < m_sensors; ++i) {
        double sx, sy;
        sensorCell(i, sx, sy);
        const double d2 = (sx - cx) * (sx - cx) + (sy - cy) * (sy - cy);
        z[i] = p.peak * m_gain[i] * envelope * std::exp(-d2 / (2 * PressSigma * PressSigma));
    }
    shearX = p.shearX;
    shearY = p.shearY;
}
