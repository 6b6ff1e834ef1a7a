#include "replacingfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

ReplacingFile::ReplacingFile(const QString &path, SyncFunction sync)
    : m_path(path)
    , m_sync(sync ? std::move(sync) : SyncFunction([](int fd) { return ::fsync(fd); }))
{
    const QFileInfo info(path);
    if (info.isSymLink())
        m_path = info.symLinkTarget();
}

ReplacingFile::~ReplacingFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_tempPath.isEmpty())
        QFile::remove(m_tempPath);
}

bool ReplacingFile::open()
{
    const QByteArray target = QFile::encodeName(m_path);
    struct stat st;
    const bool exists = ::stat(target.constData(), &st) == 0;
    // A file the user may not write is not ours to replace, renaming or not.
    if (exists && S_ISREG(st.st_mode) && ::access(target.constData(), W_OK) != 0)
        return false;
    // Renaming over /dev/full or a FIFO would put a plain file in its place.
    if (!exists || S_ISREG(st.st_mode)) {
        const QFileInfo info(m_path);
        QByteArray temp = QFile::encodeName(info.absolutePath() + "/." + info.fileName() + ".XXXXXX");
        m_fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (m_fd >= 0) {
            m_tempPath = QFile::decodeName(temp);
            ::fchmod(m_fd, exists ? (st.st_mode & 07777) : 0644);
            return true;
        }
        // A folder we may not create files in, holding a file we may write: in place after all.
    }
    m_fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return m_fd >= 0;
}

bool ReplacingFile::write(QByteArrayView bytes)
{
    m_failed = m_failed || m_fd < 0 || !writeAll(m_fd, bytes.data(), bytes.size());
    return !m_failed;
}

bool ReplacingFile::commit()
{
    if (m_fd < 0 || m_failed)
        return false;
    const int r = m_sync(m_fd);
    const bool synced = r == 0 || errno == EINVAL; // devices and pipes have nothing to sync
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (!synced || !closed)
        return false;
    if (m_tempPath.isEmpty())
        return true;
    if (::rename(QFile::encodeName(m_tempPath).constData(), QFile::encodeName(m_path).constData()) != 0)
        return false;
    m_tempPath.clear();
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(QFile::encodeName(QFileInfo(m_path).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        m_sync(dir);
        ::close(dir);
    }
    return true;
}
