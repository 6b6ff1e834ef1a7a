#include "slavecodec.h"

#include <QDebug>
#include <QTimer>
#include <cstring>

SlaveCodec::SlaveCodec(QObject *parent)
    : SlaveProtocol(parent)
    , m_rxBuf(new uint8_t[RxBufferSize])
{
    m_rxTimer = new QTimer(this);
    m_rxTimer->setInterval(RxTimeoutMs);
    connect(m_rxTimer, SIGNAL(timeout()), this, SLOT(rx_timerout_callback()));
}

SlaveCodec::~SlaveCodec()
{
    m_rxTimer->stop();
}

qint64 SlaveCodec::portWrite(const uint8_t *, qint64)
{
    return 0;
}

qint64 SlaveCodec::portWrite(const QByteArray &)
{
    return 0;
}

int SlaveCodec::tx_frame_send(uint8_t cmd, const uint8_t *payload, int len)
{
    if (len < 0 || len > MaxPayload || (len > 0 && !payload))
        return -1;
    uint8_t frame[256];
    const int l = len + 2;
    frame[0] = 0xA5;
    frame[1] = static_cast<uint8_t>(l);
    frame[2] = cmd;
    if (len > 0)
        std::memcpy(frame + 3, payload, size_t(len));
    uint8_t sum = 0;
    for (int i = 0; i <= l; ++i)
        sum = static_cast<uint8_t>(sum + frame[i]);
    frame[l + 1] = sum;

    static const char hex[] = "0123456789ABCDEF";
    QByteArray trace("tx data : ");
    for (int i = 0; i < l + 2; ++i) {
        trace.append(hex[frame[i] >> 4]).append(hex[frame[i] & 0xF]).append(' ');
    }
    qDebug().noquote() << trace;

    return int(portWrite(frame, l + 2));
}

int SlaveCodec::rx_data_input(const uint8_t *data, uint16_t len)
{
    // A pass leaves at most one incomplete frame (257 bytes), so a 64 KiB chunk always fits;
    // the guard only keeps the buffer bound if that ever stops being true.
    if (m_fill + len > size_t(RxBufferSize))
        m_fill = 0;
    if (len > 0) {
        std::memcpy(m_rxBuf.get() + m_fill, data, len);
        m_fill += len;
    }
    rx_frame_parse();
    if (m_pending != 0)
        m_rxTimer->start(RxTimeoutMs);
    else
        m_rxTimer->stop();
    return 0;
}

void SlaveCodec::rx_frame_parse()
{
    uint8_t *buf = m_rxBuf.get();
    const size_t fill = m_fill;
    size_t keep = fill; // start of the bytes kept for the next pass; all else is consumed or garbage
    size_t s = 0;       // search position
    m_pending = 0;

    // Frames are consumed with a read position and the leftover moved once at the end, so a
    // chunk of many frames costs its own length, not frames x buffer.
    while (s < fill) {
        const void *found = std::memchr(buf + s, 0xA5, fill - s);
        if (!found)
            break;
        const size_t h = size_t(static_cast<const uint8_t *>(found) - buf);
        if (h == fill - 1) {
            // Everything before a trailing header is garbage that no later byte can revive.
            m_pending = 1;
            keep = h;
            break;
        }
        const size_t l = buf[h + 1];
        if (l < 2) {
            s = h + 1;
            continue;
        }
        if (fill - h < l + 2) {
            m_pending = static_cast<uint16_t>(fill - h);
            keep = h;
            break;
        }
        uint8_t sum = 0;
        for (size_t i = h; i <= h + l; ++i)
            sum = static_cast<uint8_t>(sum + buf[i]);
        if (sum != buf[h + l + 1]) {
            s = h + 1;
            continue;
        }
        std::memcpy(m_scratch, buf + h + 2, l - 1);
        s = h + l + 2;
        decodeSlaveBase(m_scratch, static_cast<uint16_t>(l - 1));
    }

    const size_t rest = fill - keep;
    if (rest > 0 && keep > 0)
        std::memmove(buf, buf + keep, rest);
    m_fill = rest;
}

void SlaveCodec::rx_timerout_callback()
{
    m_fill = 0;
    m_pending = 0;
    m_rxTimer->stop();
}
