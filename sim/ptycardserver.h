#pragma once

#include "simcard.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdio>

class QSocketNotifier;

// Serves a SimCard on the master side of a pseudo-terminal; the tool opens the slave path
// as its serial port. The device can be made to vanish and come back on a new pair.
class PtyCardServer : public QObject
{
    Q_OBJECT

public:
    enum : int { TickMs = 2 };

    explicit PtyCardServer(quint32 seed = 1, QObject *parent = nullptr);
    ~PtyCardServer() override;

    // Opens the first pair and starts serving; false when no pseudo-terminal can be had.
    bool start();
    bool isPresent() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    // A symlink kept pointing at the current slave (removed while the device is gone).
    // Refused when the path holds anything but a symlink; an empty path drops the link.
    bool setLinkPath(const QString &path);
    QString linkPath() const { return m_linkPath; }

    // Negative turns the option off. Vanishing counts from start(), coming back from the vanish.
    void setVanishAfterMs(int ms) { m_vanishAfterMs = ms; }
    void setComeBackAfterMs(int ms) { m_comeBackAfterMs = ms; }
    // Vanish again this long after every return (negative: once at most).
    void setVanishEveryMs(int ms) { m_vanishEveryMs = ms; }
    // Writes a line for every time-stamped frame that reaches the port ("stamp <card time>") and
    // for every vanish and return ("vanish <card time>", "back <card time>"), and for bytes the
    // port could not take because nobody read it in time ("overrun <card time> <bytes>"), and for
    // ticks of this process that came late ("late <card time> <ms since the last>").
    bool setStampLog(const QString &path);

    SimCard &card() { return m_card; }
    qint64 nowMs() const { return m_clock.elapsed(); }

public slots:
    void vanish();
    bool reappear();

signals:
    void vanished();
    void reappeared(const QString &slavePath);

private:
    bool openPair();
    void closePair();
    void readInput();
    void tick();
    void flushOutput();
    bool pointLink();
    void removeLink();

    SimCard m_card;
    QElapsedTimer m_clock;
    QTimer m_tickTimer;
    QTimer m_vanishTimer;
    QTimer m_comeBackTimer;
    QSocketNotifier *m_notifier = nullptr;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_linkPath;
    QString m_linkTarget;   // what the symlink was last pointed at by us
    int m_vanishAfterMs = -1;
    int m_comeBackAfterMs = -1;
    int m_vanishEveryMs = -1;
    std::FILE *m_stampLog = nullptr;
    qint64 m_lastTickMs = -1;
    void logLine(const char *what, quint32 clock, qint64 bytes = -1);
};
