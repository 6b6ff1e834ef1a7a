#include "analysisexport.h"

#include "replaycsv.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Rows are gathered into blocks of about this size before each write and cancel check.
constexpr qsizetype BlockBytes = 1 << 20;

void syncFolder(const QByteArray &folder)
{
    // The rename is only durable once the folder is; a folder that cannot be synced is no error.
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

template <typename RowAt>
ExportResult writeRows(ExportFile &file, qsizetype count, RowAt rowAt, const std::atomic<bool> *cancel,
                       std::atomic<qint64> *done)
{
    QByteArray block = analysisCsvHeader();
    block.reserve(BlockBytes + 256);
    for (qsizetype i = 0; i < count; ++i) {
        rowAt(i, block);
        if (block.size() >= BlockBytes || i + 1 == count) {
            if (cancel && cancel->load())
                return ExportResult::Cancelled;
            if (!file.write(block))
                return ExportResult::Failed;
            block.clear();
            if (done)
                done->store(i + 1);
        }
    }
    if (!block.isEmpty() && !file.write(block))
        return ExportResult::Failed;
    if (cancel && cancel->load())
        return ExportResult::Cancelled;
    return file.finish() ? ExportResult::Written : ExportResult::Failed;
}

} // namespace

ExportFile::ExportFile(const QString &target)
    : m_target(target)
{
}

ExportFile::~ExportFile()
{
    if (!m_committed)
        discard();
}

bool ExportFile::open()
{
    QFileInfo info(m_target);
    // A symbolic link keeps pointing where it did; the file it names is what gets replaced.
    if (info.isSymLink())
        info = QFileInfo(info.symLinkTarget());
    // A device or a pipe cannot be replaced by renaming, and a read-only file is not ours to replace.
    if (info.exists() && (!info.isFile() || !info.isWritable()))
        return false;
    m_target = info.absoluteFilePath();
    const QByteArray base = QFile::encodeName(info.absolutePath() + QLatin1String("/.") + info.fileName());
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        const QByteArray name = base + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".part";
        m_fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            m_tempPath = name;
        else if (errno != EEXIST)
            return false;
    }
    return m_fd >= 0;
}

bool ExportFile::write(QByteArrayView bytes)
{
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (!m_failed && left > 0) {
        if (m_fd < 0) {
            m_failed = true;
            break;
        }
        const ssize_t n = ::write(m_fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            m_failed = true;
        else {
            p += n;
            left -= n;
        }
    }
    return !m_failed;
}

bool ExportFile::finish()
{
    if (m_fd < 0)
        return false;
    if (::fsync(m_fd) != 0)
        m_failed = true;
    if (::close(m_fd) != 0)
        m_failed = true;
    m_fd = -1;
    return !m_failed;
}

bool ExportFile::commit()
{
    if (m_failed || m_fd >= 0 || m_tempPath.isEmpty())
        return false;
    const QByteArray target = QFile::encodeName(m_target);
    if (::rename(m_tempPath.constData(), target.constData()) != 0)
        return false;
    m_committed = true;
    syncFolder(QFile::encodeName(QFileInfo(m_target).absolutePath()));
    return true;
}

void ExportFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.isEmpty() && !m_committed)
        ::unlink(m_tempPath.constData());
    m_tempPath.clear();
}

ExportResult writeRecordingAnalysis(ExportFile &file, const ReplayTable &table, float share,
                                    const std::atomic<bool> *cancel, std::atomic<qint64> *done)
{
    QList<Axit_t> frame;
    const int sensors = table.sensorCount();
    return writeRows(
        file, table.rowCount(),
        [&](qsizetype row, QByteArray &out) {
            table.frameAt(row, frame);
            // Recordings hold demarcated values, whatever the card is set to now.
            const PressureSummary s = summarisePressure(frame, sensors, 0, share);
            appendAnalysisCsvRow(out, analysisRow(table.msAt(row), s), table.msAt(row));
        },
        cancel, done);
}

ExportResult writeAnalysisRows(ExportFile &file, const std::deque<AnalysisRow> &rows,
                               const std::atomic<bool> *cancel, std::atomic<qint64> *done)
{
    const qint64 origin = rows.empty() ? 0 : rows.front().ms;
    return writeRows(
        file, qsizetype(rows.size()),
        [&](qsizetype i, QByteArray &out) {
            const AnalysisRow &r = rows[size_t(i)];
            appendAnalysisCsvRow(out, r, r.ms - origin);
        },
        cancel, done);
}
