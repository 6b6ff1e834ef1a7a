// Fuzzing of the recording reader: whatever the bytes, it must not crash, must give the same
// answer however the file is split into reads, and every row it accepts must be exactly the
// row the record window writes for the values read back (so it never takes a row the export
// would not write). ASan/UBSan catch any access outside the buffers.
#include "recordformat.h"
#include "replaycsv.h"

#include <QByteArray>
#include <QList>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void failWith(const char *what, const QByteArray &detail = {})
{
    std::fprintf(stderr, "%s\n%s\n", what, detail.constData());
    std::abort();
}

QByteArray withoutCr(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const ReplayLoad load = parseReplayCsv(bytes);

    // The same bytes in pieces of 1 to 64 bytes, from a sequence seeded by the size.
    ReplayParser pieces;
    unsigned step = unsigned(size);
    for (qsizetype pos = 0; pos < bytes.size();) {
        step = step * 1103515245u + 12345u;
        const qsizetype n = std::min<qsizetype>(1 + (step >> 16) % 64, bytes.size() - pos);
        pieces.feed(bytes.constData() + pos, n);
        pos += n;
    }
    const ReplayLoad again = pieces.finish();
    if (again.status != load.status || again.line != load.line || again.fault != load.fault
        || again.droppedLastLine != load.droppedLastLine
        || (load.table && again.table->rowCount() != load.table->rowCount()))
        failWith("reading in pieces gave another answer");

    const QList<QByteArray> lines = bytes.split('\n');
    // The last element is what follows the last line feed: empty, or a line without one.
    const QByteArray tail = lines.last();
    const qsizetype endedLines = lines.size() - 1;
    switch (load.status) {
    case ReplayStatus::BadLine:
        if (load.line < 1 || load.line > lines.size() || load.fault == ReplayFault::None || load.table)
            failWith("bad line outside the file");
        return 0;
    case ReplayStatus::NoRows:
        if (endedLines > 1)
            failWith("rows not read", bytes.left(400));
        return 0;
    case ReplayStatus::CannotRead:
    case ReplayStatus::Cancelled:
        failWith("a buffer cannot be unreadable or cancelled");
    case ReplayStatus::Ok:
        break;
    }

    const ReplayTable &table = *load.table;
    if (withoutCr(lines.first()) + '\n' != recordHeader(table.sensorCount()))
        failWith("accepted a header the export does not write", lines.first().left(400));
    const bool tailKept = !tail.isEmpty() && !load.droppedLastLine;
    if (load.droppedLastLine && tail.isEmpty())
        failWith("dropped a line that ended");
    if (table.rowCount() != endedLines - 1 + (tailKept ? 1 : 0))
        failWith("row count does not match the lines");
    const uint start = (table.timeOfDayAt(0) + MsPerDay - table.msAt(0)) % MsPerDay;
    QList<Axit_t> frame;
    QByteArray row;
    for (qsizetype i = 0; i < table.rowCount(); ++i) {
        table.frameAt(i, frame);
        if (frame.size() > table.sensorCount() || table.tripleCount(i) != frame.size())
            failWith("more triples than the header");
        if (i > 0 && table.msAt(i) < table.msAt(i - 1))
            failWith("field 1 went backwards");
        row.clear();
        appendRecordRow(row, table.timeOfDayAt(i), start, frame);
        const QByteArray line = withoutCr(lines.at(i + 1)) + '\n';
        if (row != line)
            failWith("accepted a row the export writes otherwise", line.left(400) + "\nwritten:\n" + row);
    }
    if (table.rowAtMs(table.msAt(table.rowCount() - 1)) != table.rowCount() - 1)
        failWith("the last row is not found at its time");
    return 0;
}
