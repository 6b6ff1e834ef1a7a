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
    // A pass leaves at most one incomplete frame (257 bytes) at the buffer's start, so a 64 KiB
    // chunk always fits; the guard only keeps the buffer bound if that ever stops being true.
    if (m_fill + len > size_t(RxBufferSize)) {
        countDiscarded(m_fill - m_head);
        m_head = 0;
        m_fill = 0;
    }
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
    uint8_t *const buf = m_rxBuf.get();
    // Each pass has its own copy of the frame it delivers: a nested pass must not overwrite it.
    uint8_t frame[256];
    size_t s = m_head; // search position; bytes between m_head and a good frame are garbage
    m_pending = 0;

    // Frames are consumed by moving m_head and the leftover is moved once at the end, so a
    // chunk of many frames costs its own length, not frames x buffer.
    while (s < m_fill) {
        const void *found = std::memchr(buf + s, 0xA5, m_fill - s);
        if (!found) {
            countDiscarded(m_fill - m_head);
            m_head = m_fill; // no header anywhere: all garbage
            break;
        }
        const size_t h = size_t(static_cast<const uint8_t *>(found) - buf);
        if (h == m_fill - 1) {
            // Everything before a trailing header is garbage that no later byte can revive.
            countDiscarded(h - m_head);
            m_pending = 1;
            m_head = h;
            break;
        }
        const size_t l = buf[h + 1];
        if (l < 2) {
            refused();
            s = h + 1;
            continue;
        }
        if (m_fill - h < l + 2) {
            countDiscarded(h - m_head);
            m_pending = static_cast<uint16_t>(m_fill - h);
            m_head = h;
            break;
        }
        uint8_t sum = 0;
        for (size_t i = h; i <= h + l; ++i)
            sum = static_cast<uint8_t>(sum + buf[i]);
        if (sum != buf[h + l + 1]) {
            refused();
            s = h + 1;
            continue;
        }
        std::memcpy(frame, buf + h + 2, l - 1);
        countDiscarded(h - m_head);
        m_resyncing = false;
        m_head = h + l + 2;
        decodeSlaveBase(frame, static_cast<uint16_t>(l - 1));
        // A nested pass may have consumed more, or moved the rest to the buffer's start.
        s = m_head;
    }

    const size_t rest = m_fill - m_head;
    if (rest > 0 && m_head > 0)
        std::memmove(buf, buf + m_head, rest);
    m_head = 0;
    m_fill = rest;
}

// The first refusal since the last good frame: false headers among the same lost bytes are not
// frames of their own.
void SlaveCodec::refused()
{
    if (!m_resyncing)
        countDropped();
    m_resyncing = true;
}

void SlaveCodec::rx_timerout_callback()
{
    if (m_pending > 1)
        refused(); // a frame whose rest never came
    countDiscarded(m_fill - m_head);
    m_head = 0;
    m_fill = 0;
    m_pending = 0;
    m_rxTimer->stop();
}
