#pragma once

#include "pressuremath.h"

#include <QByteArrayView>
#include <QString>
#include <atomic>
#include <deque>
#include <memory>

class ReplacingFile;
class ReplayTable;

enum class ExportResult { Written, Failed, Cancelled };
// The writers below write the rows; the caller commits the file (synced, then put in place).

// The rows of a recording computed from the whole file: field 1 as millisecond, demarcated data,
// its own sensor count.
ExportResult writeRecordingAnalysis(ReplacingFile &file, const ReplayTable &table, float share,
                                    const std::atomic<bool> *cancel = nullptr, std::atomic<qint64> *done = nullptr);

// Rows taken live; millisecond counts from the first of them.
ExportResult writeAnalysisRows(ReplacingFile &file, const std::deque<AnalysisRow> &rows,
                               const std::atomic<bool> *cancel = nullptr, std::atomic<qint64> *done = nullptr);
