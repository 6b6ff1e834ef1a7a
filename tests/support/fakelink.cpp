#include "fakelink.h"

QByteArray be16(int v)
{
    QByteArray b;
    b.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF));
    return b;
}

QByteArray xyzPayload(const QList<Axit_t> &samples)
{
    QByteArray payload;
    for (const Axit_t &a : samples)
        payload += be16(a.x) + be16(a.y) + be16(a.z);
    return payload;
}

QByteArray sampleFrame(uint8_t cmd, const QList<Axit_t> &samples, const QByteArray &prefix)
{
    return cardFrame(cmd, prefix + xyzPayload(samples));
}

QByteArray be32(uint32_t v)
{
    QByteArray b;
    for (int shift = 24; shift >= 0; shift -= 8)
        b.append(char((v >> shift) & 0xFF));
    return b;
}

QByteArray cardFrame(uint8_t cmd, const QByteArray &payload)
{
    QByteArray f;
    f.append(char(0xA5)).append(char(payload.size() + 2)).append(char(cmd)).append(payload);
    unsigned sum = 0;
    for (char c : f)
        sum += uint8_t(c);
    f.append(char(sum & 0xFF));
    return f;
}

FakeLink::FakeLink(QObject *parent)
    : SlaveCodec(parent)
{
}

qint64 FakeLink::portWrite(const uint8_t *data, qint64 len)
{
    const QByteArray frame(reinterpret_cast<const char *>(data), int(len));
    {
        QMutexLocker lock(&m_mutex);
        m_sent.append(frame);
    }
    if (onSend)
        onSend(this, frame);
    return writeResult == -2 ? len : writeResult;
}

void FakeLink::feed(const QByteArray &bytes)
{
    rx_data_input(reinterpret_cast<const uint8_t *>(bytes.constData()), uint16_t(bytes.size()));
}

QList<QByteArray> FakeLink::sentFrames() const
{
    QMutexLocker lock(&m_mutex);
    return m_sent;
}

int FakeLink::sentCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_sent.size());
}

void FakeLink::clearSent()
{
    QMutexLocker lock(&m_mutex);
    m_sent.clear();
}
