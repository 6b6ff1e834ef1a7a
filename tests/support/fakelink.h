#pragma once

#include "slavecodec.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <functional>

// Builds a frame the way the card does, independently of the codec under test.
QByteArray cardFrame(uint8_t cmd, const QByteArray &payload = {});
QByteArray be16(int v);
QByteArray be32(uint32_t v);
// Big-endian x, y, z of each sensor, as the card sends samples and baselines.
QByteArray xyzPayload(const QList<Axit_t> &samples);
// A sample frame: the prefix (a time stamp) and x, y, z of every sensor.
QByteArray sampleFrame(uint8_t cmd, const QList<Axit_t> &samples, const QByteArray &prefix = {});
// Bytes from hex text, spaces allowed: hex("A5 02 81 28").
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A link whose port is a function: every written frame is recorded and may be answered
// in-process through onSend (called on the link's thread; feed() answers).
class FakeLink : public SlaveCodec
{
    Q_OBJECT

public:
    explicit FakeLink(QObject *parent = nullptr);

    qint64 portWrite(const uint8_t *data, qint64 len) override;

    void setOpen(bool open) { setPortOpen(open); }
    void setReplyTimeout(int ms) { m_replyTimeoutMs = ms; }
    // What closing the port does to the protocol state.
    void forgetFrequency() { resetFreIndex(); }
    // Hands bytes to the codec as if the port had read them.
    void feed(const QByteArray &bytes);

    QList<QByteArray> sentFrames() const;
    int sentCount() const;
    void clearSent();

    std::function<void(FakeLink *, const QByteArray &frame)> onSend;
    qint64 writeResult = -2; // -2: report the full length written

private:
    mutable QMutex m_mutex;
    QList<QByteArray> m_sent;
};
