#include "slaveprotocol.h"

#include "cardcommands.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMutexLocker>
#include <QTimer>

namespace {

int16_t readI16(const uint8_t *p)
{
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] << 8 | p[1]));
}

uint32_t readU32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint8_t *putI16(uint8_t *p, int16_t v)
{
    p[0] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
    p[1] = static_cast<uint8_t>(v);
    return p + 2;
}

bool isStatusReply(uint8_t c)
{
    switch (c) {
    case WriteBaseline: case SetDataType: case SetSampleFrequency: case RemoveDemarcationPoints:
    case RemoveAllDemarcationPoints: case WriteSinglePoint: case RemoveSinglePoints: case RemoveAllSinglePoints:
    case SyncTimeStamp:
        return true;
    default:
        return false;
    }
}

} // namespace

SlaveProtocol::SlaveProtocol(QObject *parent)
    : QObject(parent)
{
    registerLinkMetaTypes();
    m_replyStatus.fill(ReplyPending);
    m_samples.reserve(MaxSensors);
}

SlaveProtocol::~SlaveProtocol() = default;

int SlaveProtocol::tx_frame_send(uint8_t, const uint8_t *, int)
{
    return -1;
}

int SlaveProtocol::requestReply(uint8_t cmd, const uint8_t *payload, int len, int timeoutMs,
                                const std::function<void()> &beforeRepeat)
{
    const int perAttempt = timeoutMs / 3;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0 && beforeRepeat)
            beforeRepeat();
        m_replyStatus[cmd] = ReplyPending;
        tx_frame_send(cmd, payload, len);
        int waited = 0;
        do {
            // A local loop keeps serial input, timers and queued calls flowing while we wait.
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
            waited += 10;
        } while (m_replyStatus[cmd] == ReplyPending && waited < perAttempt && !m_requestsCancelled.load());
        if (m_replyStatus[cmd] != ReplyPending || m_requestsCancelled.load())
            break;
    }
    return m_replyStatus[cmd] == ReplyPending ? -1 : m_replyStatus[cmd];
}

LinkHealth SlaveProtocol::health() const
{
    LinkHealth h;
    h.framesDecoded = m_framesDecoded.load(std::memory_order_relaxed);
    h.framesDropped = m_framesDropped.load(std::memory_order_relaxed);
    h.bytesDiscarded = m_bytesDiscarded.load(std::memory_order_relaxed);
    h.gaps = m_gaps.load(std::memory_order_relaxed);
    h.missingMs = m_missingMs.load(std::memory_order_relaxed);
    return h;
}

void SlaveProtocol::resetHealth()
{
    m_framesDecoded = 0;
    m_framesDropped = 0;
    m_bytesDiscarded = 0;
    m_gaps = 0;
    m_missingMs = 0;
    m_haveStamp = false;
}

// A step of more than one and a half intervals at the card's frequency left frames out.
void SlaveProtocol::countStamp(uint32_t timeStamp)
{
    static const int intervalMs[] = {100, 50, 20, 10, 5}; // 10, 20, 50, 100 and 200 Hz
    constexpr uint32_t MsPerDay = 86400000u;
    const int index = m_freIndex.load(std::memory_order_relaxed);
    if (m_haveStamp && index >= 0 && index < 5) {
        uint32_t step = timeStamp - m_lastStamp;
        // The card's time of day wraps at midnight; a small step back is a clock set again.
        if (timeStamp < m_lastStamp)
            step = m_lastStamp - timeStamp > MsPerDay / 2 ? timeStamp + MsPerDay - m_lastStamp : 0;
        const uint32_t interval = uint32_t(intervalMs[index]);
        if (step * 2 > interval * 3) {
            m_gaps.fetch_add(1, std::memory_order_relaxed);
            m_missingMs.fetch_add(step - interval, std::memory_order_relaxed);
        }
    }
    m_lastStamp = timeStamp;
    m_haveStamp = true;
}

void SlaveProtocol::decodeSlaveBase(const uint8_t *data, uint16_t n)
{
    if (n == 0)
        return;
    m_framesDecoded.fetch_add(1, std::memory_order_relaxed);
    const uint8_t c = data[0];
    const uint8_t *p = data + 1;
    const int len = n - 1;

    switch (c) {
    case SampleDemarcated:
    case SampleSource: {
        m_recvInfoType.store(c);
        const int count = len / 6;
        if (count > MaxSensors)
            return;
        decodeSamples(p, count);
        if (c == SampleSource)
            accumulate();
        m_axitNum.store(count);
        emit AxitReceive(m_samples, uint(count));
        return;
    }
    case SampleTimeStamped: {
        m_recvInfoType.store(2);
        // Without the four time-stamp bytes the frame carries nothing usable.
        if (len < 4)
            return;
        const int count = (len - 4) / 6;
        if (count > MaxSensors)
            return;
        const uint32_t timeStamp = readU32(p);
        countStamp(timeStamp);
        decodeSamples(p + 4, count);
        m_axitNum.store(count);
        emit AxitReceive(m_samples, uint(count), uint(timeStamp));
        return;
    }
    case ReadSampleFrequency:
        if (len < 1)
            return;
        m_freIndex.store(p[0]);
        m_readFreIndex = p[0];
        m_replyStatus[c] = 0;
        return;
    case ReadBaseline:
        decodeCheckData(p, len);
        return;
    case ReadDemarcationPoints:
        decodeDemarcateInfo(p, len);
        return;
    case ReadSinglePoints:
        decodeSingleInfo(p, len);
        return;
    default:
        // A status reply without its status byte says nothing; leave the wait running.
        if (isStatusReply(c) && len >= 1)
            m_replyStatus[c] = p[0];
        return;
    }
}

void SlaveProtocol::decodeSamples(const uint8_t *p, int count)
{
    m_samples.clear();
    for (int i = 0; i < count; ++i, p += 6)
        m_samples.append(Axit_t{readI16(p), readI16(p + 2), readI16(p + 4)});
}

void SlaveProtocol::readCurrentSampleFre(int mesc)
{
    const int res = requestReply(ReadSampleFrequency, nullptr, 0, mesc);
    // A close handled during the wait resets the index; the answer still is what the card said.
    emit sampleFreResult(0, res, res == 0 ? m_readFreIndex : m_freIndex.load());
}

void SlaveProtocol::setSampleFre(uint freIndex, int mesc)
{
    qDebug().noquote().nospace() << "freIndex=" << freIndex;
    m_freIndex.store(int(freIndex));
    const uint8_t payload = static_cast<uint8_t>(freIndex);
    const int res = requestReply(SetSampleFrequency, &payload, 1, mesc);
    emit sampleFreResult(1, res, 0);
}

void SlaveProtocol::setInfoType(uchar type, int id)
{
    const int res = requestReply(SetDataType, &type, 1, m_replyTimeoutMs);
    qDebug().noquote().nospace() << "data type set " << int(type);
    emit DataTypeSetResult(res, id);
}

void SlaveProtocol::timeStampSync(uint timeStamp)
{
    uint8_t payload[4];
    auto put = [&payload](uint t) {
        payload[0] = uint8_t(t >> 24);
        payload[1] = uint8_t(t >> 16);
        payload[2] = uint8_t(t >> 8);
        payload[3] = uint8_t(t);
    };
    put(timeStamp);
    // A card that answers late has taken the first request already: a repeat carrying the
    // original time would set its clock back by the time waited, so it carries the time now.
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    const int res = requestReply(SyncTimeStamp, payload, 4, m_replyTimeoutMs, [&] {
        put(uint((quint64(timeStamp) + quint64(sinceFirst.elapsed())) % 86400000u));
    });
    qDebug().noquote().nospace() << "time stamp sync " << res;
    emit timeStampSyncResult(res);
}

// ---- baseline and demarcation ----

int SlaveProtocol::readCheckData()
{
    return tx_frame_send(ReadBaseline, nullptr, 0);
}

void SlaveProtocol::decodeCheckData(const uint8_t *p, int len)
{
    // More than 16 sensors would not fit the table: refuse the answer as a whole.
    if (len % 6 != 0 || len / 6 > MaxSensors) {
        qDebug().noquote() << "decodeSlaveBase len error";
        emit slaveCheckRec(false);
        return;
    }
    const int count = len / 6;
    for (int i = 0; i < count; ++i, p += 6)
        m_checkData[i] = CheckData_t{readI16(p), readI16(p + 2), readI16(p + 4)};
    m_axitNum.store(count);
    emit slaveCheckRec(true);
}

void SlaveProtocol::setChecking(bool check)
{
    if (check) {
        {
            QMutexLocker lock(&m_checkMutex);
            m_checkData.fill(CheckData_t{});
            m_accumulated = 0;
        }
        const uint8_t type = 1;
        tx_frame_send(SetDataType, &type, 1);
        m_checking = true;
    } else {
        const uint8_t type = 0;
        tx_frame_send(SetDataType, &type, 1);
        {
            QMutexLocker lock(&m_checkMutex);
            qDebug().noquote().nospace() << "checkCnt=" << m_accumulated;
            if (m_accumulated != 0) {
                for (CheckData_t &d : m_checkData) {
                    d.x /= m_accumulated;
                    d.y /= m_accumulated;
                    d.z /= m_accumulated;
                }
            }
        }
        m_checking = false;
    }
}

void SlaveProtocol::accumulate()
{
    const uint32_t remain = m_demarcateRemain.load();
    if (!m_checking && remain == 0)
        return;
    for (int i = 0; i < m_samples.size(); ++i) {
        m_checkData[i].x += m_samples[i].x;
        m_checkData[i].y += m_samples[i].y;
        m_checkData[i].z += m_samples[i].z;
    }
    ++m_accumulated;
    if (remain != 0)
        m_demarcateRemain.store(remain - 1);
}

void SlaveProtocol::demarcateStart(uint count)
{
    m_savedInfoType = m_recvInfoType.load();
    m_checkData.fill(CheckData_t{});
    m_demarcateRemain.store(count);
    const uint8_t type = 1;
    requestReply(SetDataType, &type, 1, m_replyTimeoutMs);
}

void SlaveProtocol::demarcateStop()
{
    m_demarcateRemain.store(0);
    requestReply(SetDataType, &m_savedInfoType, 1, m_replyTimeoutMs);
}

void SlaveProtocol::checkDataWrite(QList<AxitSingle_t> &axit)
{
    // More records than sensors cannot be meant; refuse rather than send part of them.
    if (axit.isEmpty() || axit.size() > MaxSensors) {
        emit calibrationDataWriteResult(-1);
        return;
    }
    qDebug().noquote() << "checkWrite";
    uint8_t payload[MaxSensors * 7];
    uint8_t *p = payload;
    for (const AxitSingle_t &a : axit) {
        *p++ = static_cast<uint8_t>(a.id);
        p = putI16(p, a.x);
        p = putI16(p, a.y);
        p = putI16(p, a.z);
    }
    const int res = requestReply(WriteBaseline, payload, int(p - payload), m_replyTimeoutMs);
    emit calibrationDataWriteResult(res);
}

void SlaveProtocol::demarcateRemoveAll()
{
    const int res = requestReply(RemoveAllDemarcationPoints, nullptr, 0, m_replyTimeoutMs);
    emit demarcateOperationResult(RemoveAllDemarcationPoints, res, 0);
}

void SlaveProtocol::demarcateRemove(int xyz, QList<short> &list)
{
    if (list.size() > MaxPressures) {
        emit demarcateRemoveResult(-1, xyz, list);
        return;
    }
    uint8_t payload[1 + MaxPressures * 2];
    uint8_t *p = payload;
    *p++ = static_cast<uint8_t>(xyz);
    for (short v : list)
        p = putI16(p, v);
    const int res = requestReply(RemoveDemarcationPoints, payload, int(p - payload), m_replyTimeoutMs);
    emit demarcateRemoveResult(res, xyz, list);
}

void SlaveProtocol::demarcateSingleRemove(int xyz, int sensorId, QList<short> &list)
{
    if (list.size() > MaxPressures) {
        emit demarcateSingleRemoveResult(-1, xyz, sensorId, list);
        return;
    }
    uint8_t payload[2 + MaxPressures * 2];
    uint8_t *p = payload;
    *p++ = static_cast<uint8_t>(xyz);
    *p++ = static_cast<uint8_t>(sensorId);
    for (int i = 0; i < list.size(); ++i) {
        qDebug().noquote().nospace() << "single remove: " << i << " " << list[i];
        p = putI16(p, list[i]);
    }
    const int res = requestReply(RemoveSinglePoints, payload, int(p - payload), m_replyTimeoutMs);
    emit demarcateSingleRemoveResult(res, xyz, sensorId, list);
}

void SlaveProtocol::demarcateSingleRemoveAll(int xyz, int sensorId)
{
    const uint8_t payload[2] = {uint8_t(xyz), uint8_t(sensorId)};
    const int res = requestReply(RemoveAllSinglePoints, payload, 2, m_replyTimeoutMs);
    emit demarcateOperationResult(RemoveAllSinglePoints, res, 0);
}

void SlaveProtocol::demarcateSingleWrite(int xyz, int sensorId, short pressure, short x, short y, short z)
{
    uint8_t payload[10];
    payload[0] = static_cast<uint8_t>(xyz);
    payload[1] = static_cast<uint8_t>(sensorId);
    uint8_t *p = putI16(payload + 2, pressure);
    p = putI16(p, x);
    p = putI16(p, y);
    putI16(p, z);
    const int res = requestReply(WriteSinglePoint, payload, 10, m_replyTimeoutMs);
    qDebug().noquote().nospace() << "single write return:" << res;
    emit demarcateOperationResult(WriteSinglePoint, res, 0);
}

void SlaveProtocol::demarcateSingleRead(int xyz, int sensorId)
{
    const uint8_t payload[2] = {uint8_t(xyz), uint8_t(sensorId)};
    tx_frame_send(ReadSinglePoints, payload, 2);
}

// The card answers with one 0x88 frame per stored point of the axis; nothing else ends the read.
void SlaveProtocol::readDemarcateInfo(int xyz)
{
    const uint8_t axis = static_cast<uint8_t>(xyz);
    tx_frame_send(ReadDemarcationPoints, &axis, 1);
}

void SlaveProtocol::decodeDemarcateInfo(const uint8_t *p, int len)
{
    // Without type and pressure the frame names no point.
    if (len < 3)
        return;
    const int type = p[0];
    const short pressure = readI16(p + 1);
    QList<short> values;
    const int count = (len - 3) / 2;
    values.reserve(count);
    for (int i = 0; i < count; ++i)
        values.append(readI16(p + 3 + 2 * i));
    emit demarcateInfo(type, pressure, values);
}

void SlaveProtocol::decodeSingleInfo(const uint8_t *p, int len)
{
    if (len < 2)
        return;
    const int axis = p[0];
    const int sensor = p[1];
    const int count = (len - 2) / 8;
    QList<singleDemarcateInfoUnit_t> list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        const uint8_t *r = p + 2 + 8 * i;
        singleDemarcateInfoUnit_t u{readI16(r), readI16(r + 2), readI16(r + 4), readI16(r + 6)};
        qDebug().noquote().nospace() << "single read:" << axis << " " << sensor << " " << u.pressure << " " << u.x << " " << u.y << " " << u.z;
        list.append(u);
    }
    emit demarcateSingleReadInfo(axis, sensor, list);
}
