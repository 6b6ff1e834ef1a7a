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

    // Past a zero byte nothing counts: it is a tail a copy or a crash left.
    const qsizetype zero = bytes.indexOf('\0');
    const QList<QByteArray> lines = (zero < 0 ? bytes : bytes.left(zero)).split('\n');
    // The last element is what follows the last line feed: empty, or a line cut short.
    const qsizetype endedLines = lines.size() - 1;
    switch (load.status) {
    case ReplayStatus::BadLine:
        if (load.line < 1 || load.line > lines.size() || load.fault == ReplayFault::None || load.table
            || replayErrorReason(load).isEmpty())
            failWith("bad line outside the file, or without a reason");
        return 0;
    case ReplayStatus::NoRows:
        return 0;
    case ReplayStatus::CannotRead:
    case ReplayStatus::Cancelled:
        failWith("a buffer cannot be unreadable or cancelled");
    case ReplayStatus::Ok:
        break;
    }

    // Every line read as a row is the row the export writes for the values read back, once the
    // spreadsheet's changes are undone: its quotes, its missing or extra last commas.
    auto canonical = [](QByteArray line) {
        line = withoutCr(line);
        line.replace('"', "");
        while (line.endsWith(','))
            line.chop(1);
        return line + ",\n";
    };
    const ReplayTable &table = *load.table;
    QByteArray header = withoutCr(lines.first());
    if (header.startsWith("\xEF\xBB\xBF"))
        header.remove(0, 3);
    if (recordHeaderSensorCount(canonical(header).chopped(1)) < 1)
        failWith("accepted a header the export does not write", lines.first().left(400));
    const uint start = (table.timeOfDayAt(0) + MsPerDay - table.msAt(0)) % MsPerDay;
    QList<Axit_t> frame;
    QByteArray row;
    qsizetype i = 0;
    int most = 0;
    for (qsizetype l = 1; l < lines.size() && i < table.rowCount(); ++l) {
        if (canonical(lines.at(l)) == ",\n")
            continue; // an empty line at the end
        if (l == endedLines && load.droppedLastLine)
            failWith("kept rows past a dropped last line");
        table.frameAt(i, frame);
        most = std::max(most, int(frame.size()));
        if (frame.size() > 16 || table.tripleCount(i) != frame.size())
            failWith("more than 16 triples");
        if (i > 0 && table.msAt(i) < table.msAt(i - 1))
            failWith("field 1 went backwards");
        row.clear();
        appendRecordRow(row, table.timeOfDayAt(i), start, frame);
        if (row != canonical(lines.at(l)))
            failWith("accepted a row the export writes otherwise", lines.at(l).left(400) + "\nwritten:\n" + row);
        ++i;
    }
    if (i != table.rowCount())
        failWith("rows that are in no line");
    if (most != table.sensorCount())
        failWith("the sensor count is not the largest row's");
    if (table.rowAtMs(table.msAt(table.rowCount() - 1)) != table.rowCount() - 1)
        failWith("the last row is not found at its time");
    return 0;
}
