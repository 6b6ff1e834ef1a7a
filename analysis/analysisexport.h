#pragma once

#include "pressuremath.h"

#include <QByteArrayView>
#include <QString>
#include <atomic>
#include <deque>
#include <memory>

class ReplayTable;

// An export written to a new file beside its target and put in its place only when complete, so
// a cancelled or failed export never leaves a file that looks finished, nor truncates the old one.
class ExportFile
{
public:
    explicit ExportFile(const QString &target);
    ~ExportFile(); // removes the new file unless it was committed
    ExportFile(const ExportFile &) = delete;
    ExportFile &operator=(const ExportFile &) = delete;

    // False when the new file cannot be created, or the target is no regular file.
    bool open();
    // From any one thread at a time; false once anything failed.
    bool write(QByteArrayView bytes);
    // Flushes to the disk (fsync) and closes; false if any write or the sync failed.
    bool finish();
    // Puts the finished file in the target's place.
    bool commit();
    void discard();

    QString target() const { return m_target; }

private:
    QString m_target;
    QByteArray m_tempPath;
    int m_fd = -1;
    bool m_failed = false;
    bool m_committed = false;
};

enum class ExportResult { Written, Failed, Cancelled };

// The rows of a recording computed from the whole file: field 1 as millisecond, demarcated data,
// its own sensor count.
ExportResult writeRecordingAnalysis(ExportFile &file, const ReplayTable &table, float share,
                                    const std::atomic<bool> *cancel = nullptr, std::atomic<qint64> *done = nullptr);

// Rows taken live; millisecond counts from the first of them.
ExportResult writeAnalysisRows(ExportFile &file, const std::deque<AnalysisRow> &rows,
                               const std::atomic<bool> *cancel = nullptr, std::atomic<qint64> *done = nullptr);
