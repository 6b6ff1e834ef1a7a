#pragma once

#include "simcard.h"
#include "slavecodec.h"

#include <QElapsedTimer>
#include <QMutex>
#include <atomic>
#include <functional>

class QTimer;

// A link wired straight to an in-process simulated card: written frames go to the card,
// and a 2 ms timer on the link's own thread brings the card's output back through the codec.
class SimLoopbackLink : public SlaveCodec
{
    Q_OBJECT

public:
    enum : int { TickMs = 2 };

    explicit SimLoopbackLink(quint32 seed = 1, QObject *parent = nullptr);
    ~SimLoopbackLink() override;

    qint64 portWrite(const uint8_t *data, qint64 len) override;
    qint64 portWrite(const QByteArray &data) override;

    // While closed, writes fail and whatever the card sends is lost.
    void setOpen(bool open);
    void setReplyTimeout(int ms) { m_replyTimeoutMs = ms; }

    // With the manual clock the card's time moves only by step(); a step taken on the link's
    // thread delivers at once, from another thread on the link's next turn.
    void setManualClock(bool manual);
    void step(qint64 ms);
    qint64 nowMs() const;

    // Unguarded: for set-up before the link moves to its thread, or from that thread.
    SimCard &card() { return m_card; }
    // Guarded: from any thread while the link runs.
    void withCard(const std::function<void(SimCard &)> &f);

private:
    void tick();

    SimCard m_card;
    QMutex m_cardMutex;
    QTimer *m_timer = nullptr;
    QElapsedTimer m_clock;
    std::atomic<bool> m_manual{false};
    std::atomic<qint64> m_manualNow{0};
    qint64 m_advancedTo = 0;
};
