#include "ptycardserver.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

PtyCardServer::PtyCardServer(quint32 seed, QObject *parent)
    : QObject(parent)
    , m_card(seed)
    , m_tickTimer(this) // children, so the server can be moved to a thread of its own
    , m_vanishTimer(this)
    , m_comeBackTimer(this)
{
    m_clock.start();
    m_tickTimer.setInterval(TickMs);
    m_tickTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_tickTimer, &QTimer::timeout, this, &PtyCardServer::tick);
    m_vanishTimer.setSingleShot(true);
    connect(&m_vanishTimer, &QTimer::timeout, this, &PtyCardServer::vanish);
    m_comeBackTimer.setSingleShot(true);
    connect(&m_comeBackTimer, &QTimer::timeout, this, &PtyCardServer::reappear);
}

PtyCardServer::~PtyCardServer()
{
    closePair();
    removeLink();
    if (m_stampLog)
        std::fclose(m_stampLog);
}

bool PtyCardServer::setStampLog(const QString &path)
{
    m_stampLog = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!m_stampLog)
        return false;
    m_card.onSample = [this](const SimStreamRecord &r) {
        if (r.type == 2 && isPresent())
            logLine("stamp", r.timeStamp);
    };
    return true;
}

void PtyCardServer::logLine(const char *what, quint32 clock, qint64 bytes)
{
    if (!m_stampLog)
        return;
    if (bytes >= 0)
        std::fprintf(m_stampLog, "%s %u %lld\n", what, clock, qlonglong(bytes));
    else
        std::fprintf(m_stampLog, "%s %u\n", what, clock);
    std::fflush(m_stampLog);
}

bool PtyCardServer::start()
{
    if (!isPresent() && !openPair())
        return false;
    if (!m_linkPath.isEmpty() && !pointLink()) {
        closePair();
        return false;
    }
    m_tickTimer.start();
    if (m_vanishAfterMs >= 0)
        m_vanishTimer.start(m_vanishAfterMs);
    return true;
}

bool PtyCardServer::openPair()
{
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return false;
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        ::close(slave);
        return false;
    }
    // The tool's port gets raw bytes: no echo, no line editing, no CR/LF translation.
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);

    // The slave stays open here too: with no client on it the master would read EIO.
    m_master = master;
    m_slave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyCardServer::readInput);
    return true;
}

void PtyCardServer::closePair()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

void PtyCardServer::vanish()
{
    if (!isPresent())
        return;
    m_vanishTimer.stop();
    closePair();
    logLine("vanish", m_card.clockMs(nowMs()));
    // A device node that is gone leaves no name behind; a dangling link could meet a reused pty.
    removeLink();
    emit vanished();
    if (m_comeBackAfterMs >= 0)
        m_comeBackTimer.start(m_comeBackAfterMs);
}

bool PtyCardServer::reappear()
{
    m_comeBackTimer.stop();
    if (isPresent())
        return true;
    if (!openPair())
        return false;
    if (!m_linkPath.isEmpty())
        pointLink();
    logLine("back", m_card.clockMs(nowMs()));
    if (m_vanishEveryMs >= 0)
        m_vanishTimer.start(m_vanishEveryMs);
    emit reappeared(m_slavePath);
    return true;
}

bool PtyCardServer::setLinkPath(const QString &path)
{
    if (path == m_linkPath)
        return true;
    if (!path.isEmpty()) {
        struct stat st;
        const QByteArray local = QFile::encodeName(path);
        if (::lstat(local.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
            return false;
    }
    removeLink();
    m_linkPath = path;
    if (!m_linkPath.isEmpty() && isPresent())
        return pointLink();
    return true;
}

bool PtyCardServer::pointLink()
{
    const QByteArray link = QFile::encodeName(m_linkPath);
    const QByteArray target = QFile::encodeName(m_slavePath);
    // Made beside the final name and renamed over it, so the link never points nowhere.
    const QByteArray temp = link + ".tmp-" + QByteArray::number(qint64(::getpid()));
    ::unlink(temp.constData());
    if (::symlink(target.constData(), temp.constData()) != 0)
        return false;
    struct stat st;
    if ((::lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
        || ::rename(temp.constData(), link.constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    m_linkTarget = m_slavePath;
    return true;
}

void PtyCardServer::removeLink()
{
    if (m_linkPath.isEmpty() || m_linkTarget.isEmpty())
        return;
    const QByteArray link = QFile::encodeName(m_linkPath);
    char target[512];
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    // Only our own link goes; something else put there since is left alone.
    if (n > 0 && QFile::decodeName(QByteArray(target, int(n))) == m_linkTarget)
        ::unlink(link.constData());
    m_linkTarget.clear();
}

void PtyCardServer::readInput()
{
    if (!isPresent())
        return;
    QByteArray in;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            in.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // A master that keeps reporting an error would spin the notifier; the tick retries.
            m_notifier->setEnabled(false);
        }
        break;
    }
    if (!in.isEmpty()) {
        m_card.receive(in, nowMs());
        flushOutput();
    }
}

void PtyCardServer::tick()
{
    if (m_notifier && !m_notifier->isEnabled())
        m_notifier->setEnabled(true);
    const qint64 now = nowMs();
    // A tick far behind its time means this process stalled, and the frames of the whole stall go
    // out at once.
    if (m_lastTickMs >= 0 && now - m_lastTickMs > 250)
        logLine("late", m_card.clockMs(now), now - m_lastTickMs);
    m_lastTickMs = now;
    m_card.advance(now);
    flushOutput();
}

void PtyCardServer::flushOutput()
{
    const QByteArray out = m_card.takeOutput();
    if (out.isEmpty() || !isPresent())
        return;
    qsizetype done = 0;
    while (done < out.size()) {
        const ssize_t n = ::write(m_master, out.constData() + done, size_t(out.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Full: the rest is lost, as on a line nobody reads.
        break;
    }
    if (done < out.size())
        logLine("overrun", m_card.clockMs(nowMs()), out.size() - done);
}
