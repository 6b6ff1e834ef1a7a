#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <memory>

class QTimer;
class ReplayTable;

// Where the player takes its time from and how it is woken; tests drive one by hand.
class ReplayClock
{
public:
    virtual ~ReplayClock() = default;
    // Microseconds on a steady clock.
    virtual qint64 nowUs() = 0;
    // Calls wake once, at or after the given time; a new request replaces the previous one.
    virtual void wakeAt(qint64 us) = 0;
    virtual void cancelWake() = 0;

    std::function<void()> wake;
};

// The wall clock and a precise single-shot timer.
class TimerReplayClock : public ReplayClock
{
public:
    TimerReplayClock();
    ~TimerReplayClock() override;
    qint64 nowUs() override;
    void wakeAt(qint64 us) override;
    void cancelWake() override;

private:
    QElapsedTimer m_elapsed;
    std::unique_ptr<QTimer> m_timer;
};

// Plays a recording's rows at their recorded timing (field 1) scaled by the speed, from the
// current position: every row goes to deliver when its time has come, all of them in order
// however fast the speed.
class ReplayPlayer : public QObject
{
    Q_OBJECT

public:
    explicit ReplayPlayer(QObject *parent = nullptr);
    ~ReplayPlayer() override;

    void setClock(std::unique_ptr<ReplayClock> clock);
    ReplayClock *clock() const { return m_clock.get(); }

    // Paused before the first row; nothing is delivered yet.
    void setTable(std::shared_ptr<const ReplayTable> table);
    const ReplayTable *table() const { return m_table.get(); }

    void play();
    void pause();
    // Goes to the last row at or before ms (counted from the first row) and delivers it unless
    // it is the row shown already. Playing goes on from there.
    void seekMs(qint64 ms);
    // Goes to the row and delivers it unless it is the row shown already.
    void seekRow(qsizetype row);
    // Speed in quarters of the recorded pace: 1 (0.25x) to 32 (8x).
    void setSpeedQuarters(int quarters);
    int speedQuarters() const { return m_quarters; }

    bool isPlaying() const { return m_playing; }
    // The row delivered last, -1 before the first.
    qsizetype currentRow() const { return m_row; }
    // Milliseconds since the first row: where playing has got to, or where it was paused or sought.
    qint64 positionMs();
    qint64 durationMs() const;

    // A row reached by playing; a row jumped to (a seek, a rewind, playing again from the start
    // after the end), after which what came before it no longer leads up to it.
    std::function<void(qsizetype row)> deliver;
    std::function<void(qsizetype row)> jumped;

signals:
    void playingChanged(bool playing);

private:
    qint64 relativeUs(qsizetype row) const;
    qint64 dueUs(qsizetype row) const;
    qint64 playedUs(qint64 now) const;
    void rebase(qint64 now);
    void wake();
    void stopAt(qint64 positionUs);
    void moveTo(qsizetype row, qint64 positionUs);

    std::unique_ptr<ReplayClock> m_clock;
    std::shared_ptr<const ReplayTable> m_table;
    qsizetype m_row = -1;
    qsizetype m_next = 0;
    // Position in the recording while paused, in microseconds since the first row.
    qint64 m_positionUs = 0;
    // While playing: the wall time and the recording position it started from.
    qint64 m_originClockUs = 0;
    qint64 m_originUs = 0;
    int m_quarters = 4;
    bool m_playing = false;
};
