#pragma once

#include "slavecodec.h"

#include <QSerialPort>

// The device link as one object: the serial port under the codec and the protocol.
// Created on the GUI thread without parent, then moved to the link thread.
class MySerialport : public SlaveCodec
{
    Q_OBJECT

public:
    explicit MySerialport(QObject *parent = nullptr);
    ~MySerialport() override;

    qint64 portWrite(const uint8_t *data, qint64 len) override;
    qint64 portWrite(const QByteArray &data) override;
    // Opens the port with the card's line settings and nothing else: no signal, no frequency
    // read (a program that only records has no use for them). True when open.
    bool open(const QString &portName, int baudRate);
    // Hands what is waiting to be written to the port now, without the event loop (the program
    // is about to end).
    void flushPort() { m_port->flush(); }
    // Why the last open or transfer failed, in the serial port's words (link thread only).
    QString portErrorString() const { return m_port->errorString(); }

signals:
    void portLost();
    void flushMainwindowsSerialView();
    // The open failure is shown by the main window on the GUI thread, not here.
    void portOpenFailed(const QString &portName);

public slots:
    void SerialHandleReadyRead();
    void openPort(QString portName, int baudRate);
    void closePort();

private:
    void SerialHandleError(QSerialPort::SerialPortError error);
    bool portHungUp() const;
    void reportLoss();

    QSerialPort *m_port = nullptr;
    bool m_lossReported = false;
};
