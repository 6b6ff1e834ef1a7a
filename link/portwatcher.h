#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// What names a serial port across a replug: its path, and for a USB adapter its serial number,
// its vendor and product ids and the USB place it is plugged into.
struct PortIdentity
{
    QString path;
    QString serialNumber;
    quint16 vendor = 0;
    quint16 product = 0;
    bool hasIds = false;
    QString usbPlace; // e.g. "1-1.2": the hub port, which a new name keeps
};

// The identity of the port at this path now (while it is there).
PortIdentity identifyPort(const QString &path);
// The serial ports present now, identified.
QList<PortIdentity> presentPorts();
// Which present port is the one lost: the same path, else the same adapter under a new name (the
// same serial number, or without one the same ids at the same place). Empty when none is.
QString findLostPort(const PortIdentity &lost, const QList<PortIdentity> &present);

// Watches for a lost port to come back, a few times a second, and says where it is.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    enum : int { IntervalMs = 250 };

    explicit PortWatcher(QObject *parent = nullptr);

    void watch(const PortIdentity &lost);
    void stop();
    bool isWatching() const { return m_timer.isActive(); }

signals:
    void portBack(const QString &path);

private:
    void look();

    PortIdentity m_lost;
    QTimer m_timer;
};
