#include "recordjournal.h"

#include "recordformat.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QTimer>
#include <atomic>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

// One file on the writer's thread. The caller appends to `pending` under its lock; the writer
// swaps the buffer out and writes it, so neither side allocates in the steady state.
class RecordFileWriter : public QObject
{
public:
    RecordFileWriter(RecordJournal *journal, const QString &path)
        : m_journal(journal)
        , m_path(path)
        , m_timer(this)
    {
        m_timer.setInterval(RecordJournal::HandOverMs);
        connect(&m_timer, &QTimer::timeout, this, &RecordFileWriter::drain);
    }
    ~RecordFileWriter() override { closeFile(); }

    void open()
    {
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_fd < 0) {
            fail(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        m_sinceSync.start();
        m_timer.start();
    }

    void append(QByteArrayView bytes)
    {
        QMutexLocker lock(&m_mutex);
        if (!m_failed.load(std::memory_order_relaxed))
            m_pending.append(bytes);
    }

    // Hands everything buffered to the operating system, and to the disk when it is time.
    void drain()
    {
        {
            QMutexLocker lock(&m_mutex);
            std::swap(m_pending, m_writing);
        }
        if (m_fd >= 0 && !m_writing.isEmpty()) {
            const char *p = m_writing.constData();
            qsizetype left = m_writing.size();
            while (left > 0) {
                const ssize_t n = ::write(m_fd, p, size_t(left));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    const int err = n < 0 ? errno : ENOSPC;
                    // Whatever part of the append got through is cut off again: the file ends on
                    // the last complete append, so it stays readable.
                    [[maybe_unused]] const int r = ::ftruncate(m_fd, m_written);
                    fail(QString::fromLocal8Bit(std::strerror(err)));
                    break;
                }
                p += n;
                left -= n;
            }
            if (m_fd >= 0) {
                m_written += m_writing.size();
                m_unsynced = true;
            }
        }
        m_writing.clear(); // keeps its capacity for the next swap
        if (m_fd >= 0 && m_unsynced && m_sinceSync.elapsed() >= RecordJournal::SyncMs)
            sync();
    }

    bool finish()
    {
        m_timer.stop();
        drain();
        if (m_fd >= 0 && m_unsynced)
            sync();
        closeFile();
        return !m_failed.load();
    }

private:
    void sync()
    {
        if (::fsync(m_fd) != 0 && errno != EINVAL)
            fail(QString::fromLocal8Bit(std::strerror(errno)));
        m_unsynced = false;
        m_sinceSync.restart();
    }

    void fail(const QString &reason)
    {
        closeFile();
        {
            QMutexLocker lock(&m_mutex);
            m_failed.store(true);
            m_pending.clear();
        }
        m_timer.stop();
        emit m_journal->writeFailed(m_path, reason);
    }

    void closeFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    RecordJournal *m_journal;
    QString m_path;
    QTimer m_timer;
    QMutex m_mutex;
    QByteArray m_pending;
    QByteArray m_writing;
    std::atomic<bool> m_failed{false};
    int m_fd = -1;
    qint64 m_written = 0;
    bool m_unsynced = false;
    QElapsedTimer m_sinceSync;
};

RecordJournal::RecordJournal(QObject *parent)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("journal writer"));
    m_worker = new QObject;
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

RecordJournal::~RecordJournal()
{
    finishAndWait();
    // Removals still queued run before the loop ends: quit is queued behind them.
    QMetaObject::invokeMethod(m_worker, [this] { m_thread.quit(); }, Qt::QueuedConnection);
    m_thread.wait();
}

void RecordJournal::begin(const QString &path)
{
    finish();
    m_path = path;
    m_writer = new RecordFileWriter(this, path);
    m_writer->moveToThread(&m_thread);
    RecordFileWriter *writer = m_writer;
    QMetaObject::invokeMethod(m_worker, [writer] { writer->open(); }, Qt::QueuedConnection);
}

void RecordJournal::append(QByteArrayView bytes)
{
    if (m_writer)
        m_writer->append(bytes);
}

void RecordJournal::finish()
{
    if (!m_writer)
        return;
    RecordFileWriter *writer = m_writer;
    m_writer = nullptr;
    QMetaObject::invokeMethod(m_worker, [writer] {
        writer->finish();
        delete writer;
    }, Qt::QueuedConnection);
}

bool RecordJournal::finishAndWait()
{
    if (!m_writer)
        return true;
    RecordFileWriter *writer = m_writer;
    m_writer = nullptr;
    bool ok = false;
    QMetaObject::invokeMethod(m_worker, [writer, &ok] {
        ok = writer->finish();
        delete writer;
    }, Qt::BlockingQueuedConnection);
    return ok;
}

void RecordJournal::remove(const QString &path)
{
    if (path.isEmpty())
        return;
    if (path == m_path)
        finish();
    QMetaObject::invokeMethod(m_worker, [path] { QFile::remove(path); }, Qt::QueuedConnection);
}

namespace {

bool isRowByte(char c)
{
    return (c >= '0' && c <= '9') || c == ',' || c == ':' || c == '-';
}

} // namespace

JournalContent readJournal(const QString &path)
{
    JournalContent content;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return content;
    const QByteArray all = file.readAll();
    const qsizetype headerEnd = all.indexOf('\n');
    if (headerEnd < 0) {
        content.cut = !all.isEmpty();
        return content;
    }
    content.sensorCount = recordHeaderSensorCount(QByteArrayView(all).first(headerEnd));
    if (content.sensorCount < 0)
        return content;
    // A crash or a power cut leaves a row cut short, or blocks of zeros, at the end: the rows
    // before the first line that is not a whole row are what the recording holds.
    const qsizetype begin = headerEnd + 1;
    qsizetype end = begin;
    qsizetype lineStart = begin;
    for (qsizetype i = begin; i < all.size(); ++i) {
        const char c = all.at(i);
        if (c == '\n') {
            if (i == lineStart || all.at(i - 1) != ',')
                break;
            end = i + 1;
            lineStart = end;
            ++content.rowCount;
        } else if (!isRowByte(c)) {
            break;
        }
    }
    content.cut = end < all.size();
    content.rows = all.mid(begin, end - begin);
    return content;
}

QString defaultJournalFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/journals");
}

QString journalFileName(const QDateTime &start)
{
    return start.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz")) + QStringLiteral(".csv");
}

namespace {

// A header and one complete line behind it, from the first few KiB (a row is under 400 bytes).
bool holdsARow(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray start = file.read(4096);
    const qsizetype headerEnd = start.indexOf('\n');
    return headerEnd > 0 && recordHeaderSensorCount(QByteArrayView(start).first(headerEnd)) >= 0
           && start.indexOf('\n', headerEnd + 1) > headerEnd + 1;
}

} // namespace

QStringList journalFiles(const QString &folder)
{
    QStringList files;
    const QFileInfoList infos = QDir(folder).entryInfoList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QFileInfo &info : infos)
        if (holdsARow(info.absoluteFilePath()))
            files.append(info.absoluteFilePath());
    return files;
}
