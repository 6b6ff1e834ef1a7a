#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair: the test plays the card on the master, QSerialPort opens the slave path.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    bool write(const QByteArray &bytes);
    // Everything the host sent so far, waiting up to timeoutMs for at least minBytes.
    QByteArray read(int minBytes = 1, int timeoutMs = 2000);
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};
