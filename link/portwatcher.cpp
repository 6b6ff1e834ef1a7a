#include "portwatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace {

// /sys/class/tty/ttyUSB0/device leads to .../usb1/1-1/1-1.2/1-1.2:1.0/ttyUSB0: the last
// "bus-port" step before the interface is where the adapter is plugged in.
QString usbPlace(const QString &portName)
{
    const QString device = QFileInfo("/sys/class/tty/" + portName + "/device").canonicalFilePath();
    QString place;
    for (const QString &part : device.split('/', Qt::SkipEmptyParts)) {
        if (part.contains(':'))
            break;
        if (!part.isEmpty() && part.at(0).isDigit() && part.contains('-'))
            place = part;
    }
    return place;
}

PortIdentity identity(const QSerialPortInfo &info, const QString &path)
{
    PortIdentity id;
    id.path = path;
    id.serialNumber = info.serialNumber();
    id.hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
    id.vendor = info.vendorIdentifier();
    id.product = info.productIdentifier();
    id.usbPlace = usbPlace(info.portName());
    return id;
}

// The port list names system ports without their folder; QSerialPort takes either form.
QString systemPath(const QString &path)
{
    return path.contains('/') ? path : "/dev/" + path;
}

} // namespace

PortIdentity identifyPort(const QString &path)
{
    const QString canonical = QFileInfo(systemPath(path)).canonicalFilePath();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        if (info.systemLocation() == path || info.portName() == path
            || (!canonical.isEmpty() && info.systemLocation() == canonical))
            return identity(info, path);
    PortIdentity id;
    id.path = path;
    return id;
}

QList<PortIdentity> presentPorts()
{
    QList<PortIdentity> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ports.append(identity(info, info.systemLocation()));
    return ports;
}

QString findLostPort(const PortIdentity &lost, const QList<PortIdentity> &present)
{
    for (const PortIdentity &p : present)
        if (p.path == systemPath(lost.path))
            return p.path;
    if (!lost.serialNumber.isEmpty()) {
        for (const PortIdentity &p : present)
            if (p.serialNumber == lost.serialNumber && p.hasIds && lost.hasIds && p.vendor == lost.vendor
                && p.product == lost.product)
                return p.path;
        return {};
    }
    if (!lost.hasIds || lost.usbPlace.isEmpty())
        return {};
    for (const PortIdentity &p : present)
        if (p.hasIds && p.vendor == lost.vendor && p.product == lost.product && p.usbPlace == lost.usbPlace)
            return p.path;
    return {};
}

PortWatcher::PortWatcher(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PortWatcher::look);
}

void PortWatcher::watch(const PortIdentity &lost)
{
    m_lost = lost;
    m_timer.start();
}

void PortWatcher::stop()
{
    m_timer.stop();
}

void PortWatcher::look()
{
    // A path that is there again (a pseudo-terminal's link, a fixed udev name) needs no scan.
    QString path = QFileInfo::exists(systemPath(m_lost.path)) ? m_lost.path : QString();
    if (path.isEmpty() && (m_lost.hasIds || !m_lost.serialNumber.isEmpty()))
        path = findLostPort(m_lost, presentPorts());
    if (path.isEmpty())
        return;
    m_timer.stop();
    emit portBack(path);
}
