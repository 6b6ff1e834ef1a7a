#include "recordjournal.h"

#include "recordformat.h"
#include "replacingfile.h"
#include "workerprogress.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString errorText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}


} // namespace

struct RecordJournal::State
{
    enum class Kind { None, Memory, Journal, Output, Discard };

    ~State()
    {
        if (fd >= 0)
            ::close(fd);
    }

    std::mutex m;
    std::condition_variable wake;    // the writer: bytes, finish
    std::condition_variable changed; // the syncer, and whoever waits for drained or finished

    RecordJournal *owner = nullptr; // cleared when the journal object goes
    Kind kind = Kind::None;
    QString path;
    int fd = -1; // closed by whoever holds the state last
    QByteArray pending; // appended, not taken by the writer yet
    QByteArray tail;    // held in memory: no file, or appended after the file failed
    qint64 fileBytes = 0; // bytes [0, fileBytes) of the file are ours
    qint64 fileLines = 0;
    qint64 appended = 0;
    qint64 discarded = 0;
    bool failed = false;
    bool finishRequested = false;
    bool finished = false;
    bool syncRequested = false;
    bool syncBusy = false;
    bool syncerExit = false;
    int threadsRunning = 0;
    SyncFunction sync;

    bool drained() const { return fileBytes + tail.size() + discarded == appended; }

    // Under the lock. The first failure of a file is reported; the rest of the bytes stay here.
    void fail(const QString &reason)
    {
        if (failed)
            return;
        failed = true;
        tail += pending;
        pending.clear();
        if (owner) {
            RecordJournal *o = owner;
            const QString p = path;
            QMetaObject::invokeMethod(o, [o, p, reason] { emit o->writeFailed(p, reason); }, Qt::QueuedConnection);
        }
    }
};

namespace {

void threadDone(const std::shared_ptr<RecordJournal::State> &s)
{
    std::lock_guard<std::mutex> lock(s->m);
    --s->threadsRunning;
    s->changed.notify_all();
}

void syncerLoop(std::shared_ptr<RecordJournal::State> s)
{
    pthread_setname_np(pthread_self(), "journal sync");
    std::unique_lock<std::mutex> lock(s->m);
    for (;;) {
        s->changed.wait(lock, [&] { return s->syncRequested || s->syncerExit; });
        if (!s->syncRequested)
            break;
        s->syncRequested = false;
        s->syncBusy = true;
        const int fd = s->fd;
        const RecordJournal::SyncFunction sync = s->sync;
        lock.unlock();
        const int r = fd >= 0 ? sync(fd) : 0;
        const int err = errno;
        lock.lock();
        s->syncBusy = false;
        // Pipes and terminals cannot be synced; that is no failure.
        if (r != 0 && err != EINVAL && err != EROFS)
            s->fail(errorText(err));
        s->changed.notify_all();
    }
    lock.unlock();
    threadDone(s);
}

// Opens an output file on the writer's thread. Non-blocking, so a FIFO without a reader answers
// at once and is tried again on the next hand-over; a reader that goes away gives EPIPE.
bool openOutput(RecordJournal::State &s, std::unique_lock<std::mutex> &lock)
{
    const QByteArray name = QFile::encodeName(s.path);
    lock.unlock();
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
    const int err = errno;
    lock.lock();
    if (fd >= 0) {
        s.fd = fd;
        return true;
    }
    if (err != ENXIO)
        s.fail(errorText(err));
    return false;
}

void writerLoop(std::shared_ptr<RecordJournal::State> s)
{
    pthread_setname_np(pthread_self(), "journal writer");
    QByteArray unsent; // taken from pending, not yet in the file
    QElapsedTimer sinceSync;
    sinceSync.start();
    bool unsynced = false;
    std::unique_lock<std::mutex> lock(s->m);
    for (;;) {
        if (!s->finishRequested || !unsent.isEmpty())
            s->wake.wait_for(lock, std::chrono::milliseconds(RecordJournal::HandOverMs),
                             [&] { return s->finishRequested && unsent.isEmpty(); });
        if (unsent.isEmpty())
            std::swap(unsent, s->pending);
        else {
            unsent += s->pending;
            s->pending.clear();
        }
        if (s->failed) {
            s->tail.prepend(unsent); // the file took none of these
            unsent.clear();
        }
        // A burst (rows fed faster than a card sends them) leaves a large buffer: let it go.
        if (unsent.isEmpty() && unsent.capacity() > (1 << 20))
            unsent = QByteArray();
        if (!s->failed && !unsent.isEmpty() && s->fd < 0 && s->kind == RecordJournal::State::Kind::Output)
            openOutput(*s, lock);
        if (!s->failed && !unsent.isEmpty() && s->fd >= 0) {
            const int fd = s->fd;
            const qint64 base = s->fileBytes;
            lock.unlock();
            qint64 done = 0;
            int err = 0;
            while (done < unsent.size()) {
                const ssize_t n = ::write(fd, unsent.constData() + done, size_t(unsent.size() - done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 && errno == EAGAIN)
                    break; // a full pipe: the rest goes with the next hand-over
                if (n <= 0) {
                    err = n < 0 ? errno : ENOSPC;
                    break;
                }
                done += n;
            }
            qint64 keep = done;
            if (err != 0) {
                // The file ends on the last whole row it got, so it stays readable; the part of
                // a row that got through is kept in memory with the rest.
                const qsizetype lastRowEnd = done > 0 ? QByteArrayView(unsent).first(done).lastIndexOf('\n') : -1;
                keep = lastRowEnd + 1;
                [[maybe_unused]] const int r = ::ftruncate(fd, base + keep);
            }
            const qint64 lines = QByteArrayView(unsent).first(keep).count('\n');
            lock.lock();
            s->fileBytes += keep;
            s->fileLines += lines;
            unsent.remove(0, keep);
            unsynced = unsynced || keep > 0;
            if (err != 0)
                s->fail(errorText(err));
            if (s->failed) {
                s->tail.prepend(unsent);
                unsent.clear();
            }
            s->changed.notify_all();
        }
        if (!s->failed && unsynced && !s->syncBusy && sinceSync.elapsed() >= RecordJournal::SyncMs) {
            s->syncRequested = true;
            unsynced = false;
            sinceSync.restart();
            s->changed.notify_all();
        }
        if (s->finishRequested && unsent.isEmpty() && s->pending.isEmpty())
            break;
    }
    // The last sync, once the syncer is free, then an output is closed: its reader sees the end.
    s->changed.wait(lock, [&] { return !s->syncBusy && !s->syncRequested; });
    if (!s->failed && unsynced) {
        s->syncRequested = true;
        s->changed.notify_all();
        s->changed.wait(lock, [&] { return !s->syncBusy && !s->syncRequested; });
    }
    if (s->kind == RecordJournal::State::Kind::Output && s->fd >= 0) {
        ::close(s->fd);
        s->fd = -1;
    }
    s->syncerExit = true;
    s->finished = true;
    s->changed.notify_all();
    lock.unlock();
    threadDone(s);
}

} // namespace

RecordJournal::RecordJournal(QObject *parent)
    : QObject(parent)
    , m_state(std::make_shared<State>())
    , m_sync([](int fd) { return ::fsync(fd); })
{
    m_state->owner = this;
}

RecordJournal::~RecordJournal()
{
    finish();
    std::unique_lock<std::mutex> lock(m_state->m);
    m_state->owner = nullptr;
    // A writer still busy after this keeps the state alive and lets the file go when it is done.
    m_state->changed.wait_for(lock, std::chrono::milliseconds(m_closeWaitMs),
                              [this] { return m_state->threadsRunning == 0; });
}

void RecordJournal::startThreads()
{
    std::shared_ptr<State> s = m_state;
    s->sync = m_sync;
    s->threadsRunning = 2;
    std::thread(writerLoop, s).detach();
    std::thread(syncerLoop, s).detach();
}

void RecordJournal::setSyncFunction(SyncFunction sync)
{
    m_sync = std::move(sync);
}

void RecordJournal::beginDiscarding()
{
    std::lock_guard<std::mutex> lock(m_state->m);
    m_state->kind = State::Kind::Discard;
    m_state->finished = true;
}

void RecordJournal::beginInMemory()
{
    std::lock_guard<std::mutex> lock(m_state->m);
    m_state->kind = State::Kind::Memory;
    m_state->finished = true;
}

bool RecordJournal::beginJournal(const QString &folder, const QString &name)
{
    QString path;
    int fd = -1;
    int err = 0;
    if (!QDir().mkpath(folder)) {
        err = EACCES;
    } else {
        const QString base = name.endsWith(QLatin1String(".csv")) ? name.chopped(4) : name;
        for (int n = 1; n <= 1000 && fd < 0; ++n) {
            path = QDir(folder).filePath(n == 1 ? base + ".csv" : QString("%1_%2.csv").arg(base).arg(n));
            fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            err = errno;
            if (fd < 0 && err != EEXIST)
                break;
        }
    }
    std::lock_guard<std::mutex> lock(m_state->m);
    m_state->path = path;
    if (fd < 0) {
        m_state->kind = State::Kind::Memory;
        m_state->finished = true;
        m_state->fail(errorText(err));
        return false;
    }
    // Brand new, so nobody holds it yet but, at most for a moment, an instance looking around.
    ::flock(fd, LOCK_EX);
    m_state->kind = State::Kind::Journal;
    m_state->fd = fd;
    startThreads();
    return true;
}

void RecordJournal::beginOutput(const QString &path)
{
    std::lock_guard<std::mutex> lock(m_state->m);
    m_state->kind = State::Kind::Output;
    m_state->path = path;
    startThreads();
}

bool RecordJournal::adopt(const QString &path, JournalCheck *check)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Locked first, looked at second: nobody can take it between the two.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    *check = checkJournal(path);
    if (!check->hasRows()) {
        ::close(fd);
        return false;
    }
    const qint64 end = check->end;
    std::lock_guard<std::mutex> lock(m_state->m);
    m_state->kind = State::Kind::Journal;
    m_state->path = path;
    m_state->fd = fd;
    m_state->fileBytes = end;
    m_state->appended = end;
    m_state->finished = true;
    return true;
}

void RecordJournal::append(QByteArrayView bytes)
{
    std::lock_guard<std::mutex> lock(m_state->m);
    State &s = *m_state;
    s.appended += bytes.size();
    if (s.kind == State::Kind::Discard)
        s.discarded += bytes.size();
    else if (s.failed || s.finished || s.kind == State::Kind::Memory || s.kind == State::Kind::None)
        s.tail.append(bytes);
    else
        s.pending.append(bytes);
}

void RecordJournal::finish()
{
    std::lock_guard<std::mutex> lock(m_state->m);
    m_state->finishRequested = true;
    m_state->wake.notify_all();
}

RecordJournal::Reader RecordJournal::reader() const
{
    Reader r;
    r.m_state = m_state;
    return r;
}

bool RecordJournal::Reader::waitDrained(int ms) const
{
    std::unique_lock<std::mutex> lock(m_state->m);
    auto drained = [this] { return m_state->drained(); };
    if (ms < 0) {
        m_state->changed.wait(lock, drained);
        return true;
    }
    return m_state->changed.wait_for(lock, std::chrono::milliseconds(ms), drained);
}

bool RecordJournal::waitFinished(int ms) const
{
    std::unique_lock<std::mutex> lock(m_state->m);
    auto finished = [this] { return m_state->finished || m_state->kind == State::Kind::None; };
    if (ms < 0) {
        m_state->changed.wait(lock, finished);
        return true;
    }
    return m_state->changed.wait_for(lock, std::chrono::milliseconds(ms), finished);
}

void RecordJournal::remove()
{
    QString path;
    {
        std::lock_guard<std::mutex> lock(m_state->m);
        if (m_state->kind != State::Kind::Journal)
            return;
        path = m_state->path;
        m_state->tail.clear();
        m_state->fileBytes = 0;
        m_state->appended = 0;
    }
    QFile::remove(path);
}

qint64 RecordJournal::linesInFile() const
{
    std::lock_guard<std::mutex> lock(m_state->m);
    return m_state->fileLines;
}

QString RecordJournal::path() const
{
    std::lock_guard<std::mutex> lock(m_state->m);
    return m_state->path;
}

bool RecordJournal::isJournal() const
{
    std::lock_guard<std::mutex> lock(m_state->m);
    return m_state->kind == State::Kind::Journal;
}

bool RecordJournal::hasFailed() const
{
    std::lock_guard<std::mutex> lock(m_state->m);
    return m_state->failed;
}

qint64 RecordJournal::Reader::size() const
{
    std::lock_guard<std::mutex> lock(m_state->m);
    return m_state->appended;
}

bool RecordJournal::Reader::forEachPiece(qint64 from, qint64 to, WorkerProgress *progress,
                                         const std::function<bool(const char *, qint64)> &take) const
{
    qint64 fileBytes = 0;
    int source = -1;
    QByteArray tail;
    QString closedOutput;
    {
        std::lock_guard<std::mutex> lock(m_state->m);
        fileBytes = m_state->fileBytes;
        source = m_state->fd;
        tail = m_state->tail; // shared, not copied: nothing appends while a recording is read back
        if (m_state->kind == State::Kind::Output)
            closedOutput = m_state->path;
    }
    // An output is open for writing only (a FIFO must see its reader go), and closed once
    // finished: it is read back by its name.
    QFile reopened;
    if (!closedOutput.isEmpty() && fileBytes > from) {
        reopened.setFileName(closedOutput);
        if (!reopened.open(QIODevice::ReadOnly))
            return false;
        source = reopened.handle();
    }
    to = std::min(to, fileBytes + tail.size());
    QByteArray buffer(int(std::min<qint64>(1 << 20, std::max<qint64>(0, std::min(to, fileBytes) - from))),
                      Qt::Uninitialized);
    for (qint64 at = from; at < std::min(to, fileBytes);) {
        if (progress && progress->cancel)
            return false;
        const ssize_t n = ::pread(source, buffer.data(), size_t(std::min<qint64>(buffer.size(), std::min(to, fileBytes) - at)), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !take(buffer.constData(), n))
            return false;
        at += n;
        if (progress)
            progress->done += n;
    }
    const qint64 tailFrom = std::max<qint64>(0, from - fileBytes);
    const qint64 tailTo = std::max<qint64>(0, to - fileBytes);
    if (tailFrom < tailTo) {
        if (!take(tail.constData() + tailFrom, tailTo - tailFrom))
            return false;
        if (progress)
            progress->done += tailTo - tailFrom;
    }
    return true;
}

bool RecordJournal::Reader::copyTo(int fd, qint64 from, WorkerProgress *progress) const
{
    return forEachPiece(from, size(), progress, [fd](const char *p, qint64 n) { return writeAll(fd, p, n); });
}

QByteArray RecordJournal::read(qint64 from, qint64 n) const
{
    QByteArray out;
    reader().forEachPiece(from, from + n, nullptr, [&out](const char *p, qint64 k) {
        out.append(p, k);
        return true;
    });
    return out;
}

namespace {

bool isRowByte(char c)
{
    return (c >= '0' && c <= '9') || c == ',' || c == ':' || c == '-';
}

// A whole row: row bytes only, ending with a comma.
bool isRow(QByteArrayView line)
{
    return !line.isEmpty() && line.back() == ',' && std::all_of(line.begin(), line.end(), isRowByte);
}

} // namespace

JournalCheck checkJournal(const QString &path)
{
    JournalCheck check;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return check;
    const QByteArray start = file.read(4096);
    const qsizetype headerEnd = start.indexOf('\n');
    if (headerEnd < 0) {
        check.cut = !start.isEmpty();
        return check;
    }
    check.headerSensors = recordHeaderSensorCount(QByteArrayView(start).first(headerEnd));
    if (check.headerSensors < 0)
        return check;
    check.headerBytes = headerEnd + 1;
    check.end = check.headerBytes;
    const qint64 size = file.size();
    check.cut = size > check.end;

    // Back from the end: past a block of zeros a power cut can leave, then to the last line that
    // is a whole row. A row is under 400 bytes, so a window of a few KiB holds several.
    constexpr qint64 Window = 1 << 16;
    qint64 last = size; // content ends before here
    QByteArray block;
    while (last > check.headerBytes) {
        const qint64 from = std::max(check.headerBytes, last - Window);
        file.seek(from);
        block = file.read(last - from);
        qsizetype i = block.size();
        while (i > 0 && block.at(i - 1) == '\0')
            --i;
        if (i > 0) {
            last = from + i;
            break;
        }
        last = from;
    }
    if (last <= check.headerBytes)
        return check;
    const qint64 from = std::max(check.headerBytes, last - Window);
    file.seek(from);
    block = file.read(last - from);
    // Only lines that begin inside the window can be judged; each candidate ends at a line feed.
    for (qsizetype nl = block.lastIndexOf('\n'); nl >= 0; nl = block.lastIndexOf('\n', nl - 1)) {
        const qsizetype begin = nl > 0 ? block.lastIndexOf('\n', nl - 1) + 1 : 0;
        if (begin == 0 && from > check.headerBytes)
            break;
        if (isRow(QByteArrayView(block).sliced(begin, nl - begin))) {
            check.end = from + nl + 1;
            break;
        }
        if (nl == 0)
            break;
    }
    check.cut = size > check.end;
    return check;
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

// Held by a running instance: it keeps an exclusive lock for as long as the journal is its own.
bool heldElsewhere(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

// Newest recording first: the start time in the name, then the number a name taken twice got.
struct JournalOrder
{
    QString start;
    int number = 1;
};

JournalOrder journalOrder(const QFileInfo &info)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d-\\d{3})(?:_(\\d+))?\\.csv$"));
    const QRegularExpressionMatch m = pattern.match(info.fileName());
    if (!m.hasMatch())
        return {info.lastModified().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz")), 0};
    return {m.captured(1), m.captured(2).isEmpty() ? 1 : m.captured(2).toInt()};
}

} // namespace

QStringList journalFiles(const QString &folder)
{
    QList<std::pair<JournalOrder, QString>> found;
    const QFileInfoList infos = QDir(folder).entryInfoList({QStringLiteral("*.csv")}, QDir::Files);
    for (const QFileInfo &info : infos)
        if (holdsARow(info.absoluteFilePath()) && !heldElsewhere(info.absoluteFilePath()))
            found.append({journalOrder(info), info.absoluteFilePath()});
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        return a.first.start != b.first.start ? a.first.start > b.first.start : a.first.number > b.first.number;
    });
    QStringList files;
    for (const auto &f : found)
        files.append(f.second);
    return files;
}
