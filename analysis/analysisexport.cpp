#include "analysisexport.h"

#include "replacingfile.h"
#include "replaycsv.h"

#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Rows are gathered into blocks of about this size before each write and cancel check.
constexpr qsizetype BlockBytes = 1 << 20;

template <typename RowAt>
ExportResult writeRows(ReplacingFile &file, qsizetype count, RowAt rowAt, const std::atomic<bool> *cancel,
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
    return ExportResult::Written;
}

} // namespace

ExportResult writeRecordingAnalysis(ReplacingFile &file, const ReplayTable &table, float share,
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

ExportResult writeAnalysisRows(ReplacingFile &file, const std::deque<AnalysisRow> &rows,
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
