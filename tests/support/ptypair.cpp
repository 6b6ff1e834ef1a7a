#include "ptypair.h"

#include <QDeadlineTimer>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    // Raw on both ends: no echo, no line editing, no CR/LF translation of binary frames.
    termios t{};
    ::tcgetattr(m_slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(m_slave, TCSANOW, &t);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
    // Keep the slave open until the port under test has opened it, so the pair stays up;
    // closing it here would make the first reads on the master fail with EIO.
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyPair::write(const QByteArray &bytes)
{
    if (m_master < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            // The line is full: wait until the other side has read some of it.
            pollfd pfd{m_master, POLLOUT, 0};
            if (errno != EAGAIN || ::poll(&pfd, 1, 5000) <= 0)
                return false;
            continue;
        }
        done += n;
    }
    return true;
}

QByteArray PtyPair::read(int minBytes, int timeoutMs)
{
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    char buf[4096];
    while (m_master >= 0) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, n);
            continue;
        }
        if (out.size() >= minBytes || deadline.hasExpired())
            break;
        QTest::qWait(5);
    }
    return out;
}

void PtyPair::closeMaster()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}
