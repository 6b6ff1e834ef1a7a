#include "simloopbacklink.h"

#include <QMutexLocker>
#include <QThread>
#include <QTimer>

SimLoopbackLink::SimLoopbackLink(quint32 seed, QObject *parent)
    : SlaveCodec(parent)
    , m_card(seed)
{
    m_clock.start();
    m_timer = new QTimer(this);
    m_timer->setInterval(TickMs);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &SimLoopbackLink::tick);
    m_timer->start();
}

SimLoopbackLink::~SimLoopbackLink() = default;

qint64 SimLoopbackLink::portWrite(const uint8_t *data, qint64 len)
{
    if (!isPortOpen())
        return -1;
    QMutexLocker lock(&m_cardMutex);
    m_card.receive(QByteArray(reinterpret_cast<const char *>(data), int(len)), nowMs());
    return len;
}

qint64 SimLoopbackLink::portWrite(const QByteArray &data)
{
    return portWrite(reinterpret_cast<const uint8_t *>(data.constData()), data.size());
}

void SimLoopbackLink::setOpen(bool open)
{
    setPortOpen(open);
}

void SimLoopbackLink::setManualClock(bool manual)
{
    if (manual && !m_manual)
        m_manualNow = m_clock.elapsed();
    m_manual = manual;
}

void SimLoopbackLink::step(qint64 ms)
{
    m_manualNow += ms;
    if (QThread::currentThread() == thread())
        tick();
}

qint64 SimLoopbackLink::nowMs() const
{
    return m_manual ? m_manualNow.load() : m_clock.elapsed();
}

void SimLoopbackLink::withCard(const std::function<void(SimCard &)> &f)
{
    QMutexLocker lock(&m_cardMutex);
    f(m_card);
}

void SimLoopbackLink::tick()
{
    QByteArray out;
    {
        QMutexLocker lock(&m_cardMutex);
        const qint64 now = nowMs();
        // A manual step is time that passed, not a gap: stream all of it, in slices below
        // the card's catch-up limit.
        if (m_manual) {
            for (qint64 t = m_advancedTo + 100; t < now; t += 100)
                m_card.advance(t);
        }
        m_card.advance(now);
        m_advancedTo = now;
        out = m_card.takeOutput();
    }
    // Fed without the lock: the frame handlers may call back into withCard.
    if (!isPortOpen())
        return;
    const auto *p = reinterpret_cast<const uint8_t *>(out.constData());
    qsizetype left = out.size();
    while (left > 0) {
        const auto n = uint16_t(qMin<qsizetype>(left, 0xFFFF));
        rx_data_input(p, n);
        p += n;
        left -= n;
    }
}
