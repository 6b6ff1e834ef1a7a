#include "myserialport.h"

#include <QDebug>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

MySerialport::MySerialport(QObject *parent)
    : SlaveCodec(parent)
{
    m_port = new QSerialPort(this);
    m_port->setReadBufferSize(RxBufferSize);
    connect(m_port, &QSerialPort::readyRead, this, &MySerialport::SerialHandleReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &MySerialport::SerialHandleError);
}

MySerialport::~MySerialport()
{
    if (m_port) {
        m_port->close();
        m_port->deleteLater();
    }
}

qint64 MySerialport::portWrite(const uint8_t *data, qint64 len)
{
    if (!m_port)
        return -1;
    return m_port->write(reinterpret_cast<const char *>(data), len);
}

qint64 MySerialport::portWrite(const QByteArray &data)
{
    if (!m_port)
        return -1;
    return m_port->write(data);
}

void MySerialport::openPort(QString portName, int baudRate)
{
    if (isPortOpen()) {
        closePort();
        return;
    }
    qDebug().noquote().nospace() << "port : " << portName;
    const bool ok = open(portName, baudRate);
    if (!ok)
        emit portOpenFailed(portName);
    emit flushMainwindowsSerialView();
    readCurrentSampleFre(DefaultReplyTimeoutMs);
}

bool MySerialport::open(const QString &portName, int baudRate)
{
    m_port->setPortName(portName);
    m_port->setBaudRate(baudRate, QSerialPort::AllDirections);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    const bool ok = m_port->open(QIODevice::ReadWrite);
    // Bytes the line held from before the port was opened are stale; start clean.
    if (ok) {
        m_port->clear();
        resetHealth();
    }
    m_lossReported = false;
    setPortOpen(ok);
    return ok;
}

void MySerialport::closePort()
{
    m_port->close();
    setPortOpen(false);
    resetFreIndex();
    emit flushMainwindowsSerialView();
}

void MySerialport::SerialHandleReadyRead()
{
    const QByteArray data = m_port->readAll();
    // The codec takes 16-bit chunks; a larger read is fed in pieces rather than cut short.
    const auto *p = reinterpret_cast<const uint8_t *>(data.constData());
    qsizetype left = data.size();
    while (left > 0) {
        const auto n = static_cast<uint16_t>(qMin<qsizetype>(left, 0xFFFF));
        rx_data_input(p, n);
        p += n;
        left -= n;
    }
}

// A pseudo-terminal whose other side went away, like some USB adapters, reports ReadError
// instead of ResourceError; a hang-up on the handle tells the two apart.
bool MySerialport::portHungUp() const
{
#ifdef Q_OS_UNIX
    if (!m_port->isOpen())
        return false;
    pollfd pfd{int(m_port->handle()), POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    return false;
#endif
}

void MySerialport::reportLoss()
{
    if (m_lossReported)
        return;
    m_lossReported = true;
    emit portLost();
    // A vanished device keeps the handle readable and floods errors; release it now. The open
    // flag stays set until closePort, as the main window expects.
    QMetaObject::invokeMethod(m_port, &QSerialPort::close, Qt::QueuedConnection);
}

void MySerialport::SerialHandleError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
        if (portHungUp()) {
            reportLoss();
            break;
        }
        qDebug().noquote() << "通信出错";
        break;
    case QSerialPort::ResourceError:
        reportLoss();
        break;
    default:
        break;
    }
}
