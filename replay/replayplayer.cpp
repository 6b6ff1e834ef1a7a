#include "replayplayer.h"

#include "replaycsv.h"

#include <QTimer>
#include <algorithm>

TimerReplayClock::TimerReplayClock()
    : m_timer(std::make_unique<QTimer>())
{
    m_elapsed.start();
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] {
        if (wake)
            wake();
    });
}

TimerReplayClock::~TimerReplayClock() = default;

qint64 TimerReplayClock::nowUs()
{
    return m_elapsed.nsecsElapsed() / 1000;
}

void TimerReplayClock::wakeAt(qint64 us)
{
    // Rounded up: waking early would only find nothing due yet.
    const qint64 delayMs = std::max<qint64>(0, (us - nowUs() + 999) / 1000);
    m_timer->start(int(std::min<qint64>(delayMs, 1 << 30)));
}

void TimerReplayClock::cancelWake()
{
    m_timer->stop();
}

ReplayPlayer::ReplayPlayer(QObject *parent)
    : QObject(parent)
{
    setClock(std::make_unique<TimerReplayClock>());
}

ReplayPlayer::~ReplayPlayer()
{
    if (m_clock)
        m_clock->cancelWake();
}

void ReplayPlayer::setClock(std::unique_ptr<ReplayClock> clock)
{
    if (m_clock)
        m_clock->cancelWake();
    m_clock = std::move(clock);
    m_clock->wake = [this] { wake(); };
    if (m_playing) {
        rebase(m_clock->nowUs());
        wake();
    }
}

void ReplayPlayer::setTable(std::shared_ptr<const ReplayTable> table)
{
    const bool wasPlaying = m_playing;
    m_clock->cancelWake();
    m_playing = false;
    m_table = std::move(table);
    m_row = -1;
    m_next = 0;
    m_positionUs = 0;
    if (wasPlaying)
        emit playingChanged(false);
}

qint64 ReplayPlayer::relativeUs(qsizetype row) const
{
    return (qint64(m_table->msAt(row)) - qint64(m_table->msAt(0))) * 1000;
}

qint64 ReplayPlayer::durationMs() const
{
    return m_table && m_table->rowCount() > 0 ? relativeUs(m_table->rowCount() - 1) / 1000 : 0;
}

// The recorded distance from the starting position divided by the speed, rounded up so that
// no row comes early.
qint64 ReplayPlayer::dueUs(qsizetype row) const
{
    const qint64 scaled = (relativeUs(row) - m_originUs) * 4;
    return m_originClockUs + (scaled + m_quarters - 1) / m_quarters;
}

qint64 ReplayPlayer::playedUs(qint64 now) const
{
    qint64 us = m_originUs + (now - m_originClockUs) * m_quarters / 4;
    // Between the row shown and the next one, whatever the clock did.
    if (m_next < m_table->rowCount())
        us = std::min(us, relativeUs(m_next));
    if (m_row >= 0)
        us = std::max(us, relativeUs(m_row));
    return us;
}

qint64 ReplayPlayer::positionMs()
{
    if (!m_table)
        return 0;
    return (m_playing ? playedUs(m_clock->nowUs()) : m_positionUs) / 1000;
}

void ReplayPlayer::rebase(qint64 now)
{
    m_originClockUs = now;
    m_originUs = m_positionUs;
}

void ReplayPlayer::play()
{
    if (m_playing || !m_table || m_table->rowCount() == 0)
        return;
    if (m_next >= m_table->rowCount()) {
        // At the end: from the first row again.
        m_row = -1;
        m_next = 0;
        m_positionUs = 0;
        if (jumped)
            jumped(-1);
    }
    m_playing = true;
    rebase(m_clock->nowUs());
    emit playingChanged(true);
    wake();
}

void ReplayPlayer::pause()
{
    if (!m_playing)
        return;
    wake();
    if (!m_playing)
        return; // the last row was due: stopped there
    m_positionUs = playedUs(m_clock->nowUs());
    m_playing = false;
    m_clock->cancelWake();
    emit playingChanged(false);
}

void ReplayPlayer::stopAt(qint64 positionUs)
{
    m_positionUs = positionUs;
    m_playing = false;
    m_clock->cancelWake();
    emit playingChanged(false);
}

void ReplayPlayer::wake()
{
    if (!m_playing || !m_table)
        return;
    const qint64 now = m_clock->nowUs();
    const qsizetype rows = m_table->rowCount();
    while (m_next < rows && dueUs(m_next) <= now) {
        m_row = m_next++;
        if (deliver)
            deliver(m_row);
    }
    if (m_next >= rows) {
        stopAt(relativeUs(rows - 1));
        return;
    }
    m_clock->wakeAt(dueUs(m_next));
}

void ReplayPlayer::moveTo(qsizetype row, qint64 positionUs)
{
    m_positionUs = positionUs;
    m_next = row + 1;
    if (row != m_row) {
        m_row = row;
        if (jumped)
            jumped(row);
        else if (deliver)
            deliver(row);
    }
    if (m_playing) {
        rebase(m_clock->nowUs());
        wake();
    }
}

void ReplayPlayer::seekRow(qsizetype row)
{
    if (m_table && row >= 0 && row < m_table->rowCount())
        moveTo(row, relativeUs(row));
}

void ReplayPlayer::seekMs(qint64 ms)
{
    if (!m_table || m_table->rowCount() == 0)
        return;
    ms = std::clamp<qint64>(ms, 0, durationMs());
    moveTo(m_table->rowAtMs(uint(m_table->msAt(0) + ms)), ms * 1000);
}

void ReplayPlayer::setSpeedQuarters(int quarters)
{
    quarters = std::clamp(quarters, 1, 32);
    if (quarters == m_quarters)
        return;
    if (!m_playing) {
        m_quarters = quarters;
        return;
    }
    const qint64 now = m_clock->nowUs();
    m_positionUs = playedUs(now);
    m_quarters = quarters;
    rebase(now);
    wake();
}
