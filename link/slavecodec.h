#pragma once

#include "slaveprotocol.h"

#include <QByteArray>
#include <memory>

class QTimer;

// Frame encoder and the receive-side parser: header hunt, length and checksum checks,
// incomplete frames held until the rest arrives or 500 ms pass without a chunk.
class SlaveCodec : public SlaveProtocol
{
    Q_OBJECT

public:
    enum : int { RxBufferSize = 0x100000, RxTimeoutMs = 500, MaxPayload = 253 };

    explicit SlaveCodec(QObject *parent = nullptr);
    ~SlaveCodec() override;

    int tx_frame_send(uint8_t cmd, const uint8_t *payload, int len) override;
    virtual qint64 portWrite(const uint8_t *data, qint64 len);
    virtual qint64 portWrite(const QByteArray &data);

    int rx_data_input(const uint8_t *data, uint16_t len);
    void rx_frame_parse();

    // Bytes held for an incomplete frame (1 while only a trailing header has been seen).
    uint16_t rxPending() const { return m_pending; }
    size_t rxBuffered() const { return m_fill - m_head; }

public slots:
    void rx_timerout_callback();

private:
    void refused();

    std::unique_ptr<uint8_t[]> m_rxBuf;
    // Unconsumed bytes are m_rxBuf[m_head, m_fill). A frame leaves them before it is delivered,
    // so a handler that spins an event loop, and with it a nested parse, never sees it again.
    size_t m_head = 0;
    size_t m_fill = 0;
    uint16_t m_pending = 0;
    // A frame was refused and no good one has come since: the bytes in between are one loss.
    bool m_resyncing = false;
    QTimer *m_rxTimer = nullptr;
};
