#pragma once

#include "fakelink.h"
#include "linkthread.h"

#include <QHash>
#include <QMutex>
#include <QTime>
#include <QTimer>
#include <atomic>
#include <functional>

// A scripted card behind a FakeLink on a thread of its own, as the main window runs the link. It
// answers every status command with the status the test chose (0 unless told; NoAnswer for
// silence) or a command with a frame of the test's, replyDelayMs after the request; bytes may
// follow an answer (what the card streams at once); while data type 1 is selected it can stream
// source frames made by `stream`, one every 2 ms.
class ScriptedCard : public LinkThread<FakeLink>
{
public:
    enum : int { NoAnswer = -1 };
    using Stream = std::function<QList<Axit_t>(int frame)>;

    explicit ScriptedCard(int replyTimeoutMs = 150)
    {
        link->setOpen(true);
        link->setReplyTimeout(replyTimeoutMs);
        link->onSend = [this](FakeLink *l, const QByteArray &frame) { answer(l, frame); };
        start();
    }

    void setStatus(uint8_t cmd, int status)
    {
        QMutexLocker lock(&m_mutex);
        m_status[cmd] = status;
    }
    void setReply(uint8_t cmd, const QByteArray &frame)
    {
        QMutexLocker lock(&m_mutex);
        m_replies[cmd] = frame;
    }
    // Bytes the card sends right behind its answer to the command, made from the request.
    void setAfterReply(uint8_t cmd, std::function<QByteArray(const QByteArray &request)> bytes)
    {
        QMutexLocker lock(&m_mutex);
        m_after[cmd] = std::move(bytes);
    }
    // The same for a clock sync, from the time it set.
    void setAfterSyncReply(std::function<QByteArray(uint startTime)> bytes)
    {
        setAfterReply(0x8D, [bytes](const QByteArray &request) { return bytes(payloadTime(request)); });
    }
    void setStream(Stream stream)
    {
        QMutexLocker lock(&m_mutex);
        m_stream = std::move(stream);
    }

    QList<QByteArray> sentWithCode(uint8_t cmd) const
    {
        QList<QByteArray> out;
        for (const QByteArray &f : link->sentFrames())
            if (uint8_t(f.at(2)) == cmd)
                out.append(f);
        return out;
    }
    // The time of day the last clock sync set.
    uint syncedStartTime() const { return payloadTime(sentWithCode(0x8D).last()); }
    static uint payloadTime(const QByteArray &f)
    {
        return uint(uint8_t(f.at(3))) << 24 | uint(uint8_t(f.at(4))) << 16 | uint(uint8_t(f.at(5))) << 8
               | uint(uint8_t(f.at(6)));
    }

    std::atomic<int> replyDelayMs{1};

private:
    static bool isStatusCommand(uint8_t cmd)
    {
        return cmd == 0x80 || cmd == 0x82 || cmd == 0x83 || (cmd >= 0x86 && cmd <= 0x8B && cmd != 0x88) || cmd == 0x8D;
    }

    // On the link thread.
    void answer(FakeLink *l, const QByteArray &frame)
    {
        const uint8_t cmd = uint8_t(frame.at(2));
        QMutexLocker lock(&m_mutex);
        if (cmd == 0x82) {
            delete m_streamTimer;
            m_streamTimer = nullptr;
            if (frame.at(3) == 1 && m_stream) {
                m_streamTimer = new QTimer(l);
                QObject::connect(m_streamTimer, &QTimer::timeout, l, [l, stream = m_stream, k = 0]() mutable {
                    l->feed(sampleFrame(0x01, stream(k++)));
                });
                m_streamTimer->start(2);
            }
        }
        QByteArray reply = m_replies.value(cmd);
        const int status = m_status.value(cmd, 0);
        if (reply.isEmpty() && isStatusCommand(cmd) && status != NoAnswer)
            reply = cardFrame(cmd, QByteArray(1, char(status)));
        if (reply.isEmpty())
            return;
        if (m_after.contains(cmd))
            reply += m_after.value(cmd)(frame);
        QTimer::singleShot(replyDelayMs.load(), l, [l, reply] { l->feed(reply); });
    }

    QMutex m_mutex;
    QHash<uint8_t, int> m_status;
    QHash<uint8_t, QByteArray> m_replies;
    QHash<uint8_t, std::function<QByteArray(const QByteArray &)>> m_after;
    Stream m_stream;
    QTimer *m_streamTimer = nullptr;
};

// The record window's side of the card: time-stamped frames and the rows they make.
struct Sample
{
    int x, y, z;
};

// A data-type-2 frame as the card sends it.
inline QByteArray stampedFrame(uint timeStamp, const QList<Sample> &samples)
{
    QList<Axit_t> list;
    for (const Sample &s : samples)
        list.append(Axit_t{int16_t(s.x), int16_t(s.y), int16_t(s.z)});
    return sampleFrame(0x02, list, be32(timeStamp));
}

// The row the record window should write, built from the clock fields independently of it.
inline QByteArray expectedRow(uint field1, uint timeStamp, const QList<Sample> &samples)
{
    const QTime t = QTime::fromMSecsSinceStartOfDay(int(timeStamp % 86400000u));
    QString row = QString("%1,%2:%3:%4:%5,").arg(field1).arg(t.hour()).arg(t.minute()).arg(t.second()).arg(t.msec());
    for (const Sample &s : samples)
        row += QString("%1,%2,%3,").arg(s.x).arg(s.y).arg(s.z);
    return row.toLatin1() + '\n';
}

inline uint afterStart(uint startTime, uint ms)
{
    return (startTime + ms) % 86400000u;
}
