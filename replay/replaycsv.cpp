#include "replaycsv.h"

#include "recordformat.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Ok: the field and its separator were read. End: the bytes ran out, and all of them so far
// could still begin a valid row. Bad: no row the record window writes begins like this.
enum class Scan { Ok, End, Bad };

struct Cursor
{
    const char *p;
    const char *end;
    ReplayFault fault = ReplayFault::None;

    bool atEnd() const { return p == end; }
    Scan bad(ReplayFault why)
    {
        fault = why;
        return Scan::Bad;
    }
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

Scan separator(Cursor &c, char sep)
{
    if (c.atEnd())
        return Scan::End;
    if (*c.p != sep)
        return c.bad(ReplayFault::NotANumber);
    ++c.p;
    return Scan::Ok;
}

// Unsigned decimal without leading zeros, at most max, then sep.
Scan scanUInt(Cursor &c, uint32_t max, char sep, uint32_t &out)
{
    if (c.atEnd())
        return Scan::End;
    if (!isDigit(*c.p))
        return c.bad(ReplayFault::NotANumber);
    uint64_t v = 0;
    if (*c.p == '0') {
        ++c.p;
        if (!c.atEnd() && isDigit(*c.p))
            return c.bad(ReplayFault::NotANumber);
    } else {
        while (!c.atEnd() && isDigit(*c.p)) {
            v = v * 10 + uint64_t(*c.p - '0');
            if (v > max)
                return c.bad(ReplayFault::OutOfRange);
            ++c.p;
        }
    }
    const Scan s = separator(c, sep);
    if (s == Scan::Ok)
        out = uint32_t(v);
    return s;
}

// Signed 16-bit decimal as the writer prints it (no "+", no "-0", no leading zeros), then ",".
Scan scanInt16(Cursor &c, int16_t &out)
{
    if (c.atEnd())
        return Scan::End;
    const bool negative = *c.p == '-';
    if (negative && ++c.p == c.end)
        return Scan::End;
    if (!isDigit(*c.p))
        return c.bad(ReplayFault::NotANumber);
    int32_t v = 0;
    if (*c.p == '0') {
        ++c.p;
        if (negative || (!c.atEnd() && isDigit(*c.p)))
            return c.bad(ReplayFault::NotANumber);
    } else {
        const int32_t limit = negative ? 32768 : 32767;
        while (!c.atEnd() && isDigit(*c.p)) {
            v = v * 10 + (*c.p - '0');
            if (v > limit)
                return c.bad(ReplayFault::OutOfRange);
            ++c.p;
        }
    }
    const Scan s = separator(c, ',');
    if (s == Scan::Ok)
        out = int16_t(negative ? -v : v);
    return s;
}

// Field 1 of a row and the start its field 2 implies.
struct RowTime
{
    uint32_t ms = 0;
    uint32_t start = 0;
};

struct Row : RowTime
{
    int triples = 0;
    Axit_t values[16];
};

// One row's fields. With previous set, field 1 must not go back and the start must agree.
Scan scanRow(Cursor &c, int sensors, const RowTime *previous, Row &row)
{
    Scan s = scanUInt(c, MsPerDay - 1, ',', row.ms);
    if (s != Scan::Ok)
        return s;
    if (previous && row.ms < previous->ms)
        return c.bad(ReplayFault::Backwards);
    uint32_t h = 0, m = 0, sec = 0, msec = 0;
    if ((s = scanUInt(c, 23, ':', h)) != Scan::Ok || (s = scanUInt(c, 59, ':', m)) != Scan::Ok
        || (s = scanUInt(c, 59, ':', sec)) != Scan::Ok || (s = scanUInt(c, 999, ',', msec)) != Scan::Ok)
        return s;
    // Field 1 counts from the start the recording was synchronised to, field 2 is the card's
    // time of day: their difference is that start, the same on every row.
    row.start = (timeOfDayMs(h, m, sec, msec) + MsPerDay - row.ms) % MsPerDay;
    if (previous && row.start != previous->start)
        return c.bad(ReplayFault::TimeOfDay);
    row.triples = 0;
    while (!c.atEnd()) {
        if (row.triples == sensors)
            return c.bad(ReplayFault::TooManyTriples);
        Axit_t &a = row.values[row.triples];
        if ((s = scanInt16(c, a.x)) != Scan::Ok || (s = scanInt16(c, a.y)) != Scan::Ok
            || (s = scanInt16(c, a.z)) != Scan::Ok)
            return s;
        ++row.triples;
    }
    return Scan::Ok;
}

// The longest header; every valid header is one of its prefixes ending after a sensor's "z",
// field (or after "time stamp,").
const QByteArray &fullHeader()
{
    static const QByteArray full = recordHeader(16).chopped(1);
    return full;
}

int headerSensors(QByteArrayView content)
{
    static const QList<qsizetype> lengths = [] {
        QList<qsizetype> l;
        for (int n = 0; n <= 16; ++n)
            l.append(recordHeader(n).size() - 1);
        return l;
    }();
    const qsizetype n = lengths.indexOf(content.size());
    return n >= 0 && fullHeader().startsWith(content) ? int(n) : -1;
}

} // namespace

uint ReplayTable::timeOfDayAt(qsizetype row) const
{
    return (m_startTime + msAt(row)) % MsPerDay;
}

int ReplayTable::tripleCount(qsizetype row) const
{
    return int(m_firstTriple[size_t(row) + 1] - m_firstTriple[size_t(row)]);
}

void ReplayTable::frameAt(qsizetype row, QList<Axit_t> &out) const
{
    out.clear();
    const size_t first = m_firstTriple[size_t(row)];
    const size_t last = m_firstTriple[size_t(row) + 1];
    for (size_t i = first; i < last; ++i)
        out.append(triple(i));
}

qsizetype ReplayTable::rowAtMs(uint ms) const
{
    const auto after = std::upper_bound(m_ms.begin(), m_ms.end(), ms);
    return after == m_ms.begin() ? 0 : qsizetype(after - m_ms.begin()) - 1;
}

qsizetype ReplayTable::memoryBytes() const
{
    size_t bytes = m_ms.capacity() * sizeof(uint32_t) + m_firstTriple.capacity() * sizeof(uint32_t)
                   + m_blocks.capacity() * sizeof(m_blocks[0]);
    for (const std::vector<Axit_t> &block : m_blocks)
        bytes += block.capacity() * sizeof(Axit_t);
    return qsizetype(bytes);
}

void ReplayTable::appendRow(uint ms, const Axit_t *triples, int count)
{
    for (int i = 0; i < count; ++i) {
        if (m_blocks.empty() || m_blocks.back().size() == BlockTriples) {
            m_blocks.emplace_back();
            m_blocks.back().reserve(BlockTriples);
        }
        m_blocks.back().push_back(triples[i]);
    }
    m_ms.push_back(ms);
    m_firstTriple.push_back(m_firstTriple.back() + uint32_t(count));
}

QString replayErrorText(const ReplayLoad &load)
{
    switch (load.status) {
    case ReplayStatus::CannotRead:
        return QStringLiteral("文件无法读取");
    case ReplayStatus::BadLine:
        return QStringLiteral("文件格式错误：第%1行").arg(load.line);
    case ReplayStatus::NoRows:
        return QStringLiteral("文件中没有记录");
    case ReplayStatus::Ok:
    case ReplayStatus::Cancelled:
        break;
    }
    return {};
}

ReplayParser::ReplayParser()
    : m_table(std::make_unique<ReplayTable>())
{
}

ReplayParser::~ReplayParser() = default;

bool ReplayParser::fail(ReplayFault fault)
{
    m_failed = true;
    m_fault = fault;
    m_carry.clear();
    return false;
}

bool ReplayParser::feed(const char *data, qsizetype size)
{
    if (m_failed)
        return false;
    const char *p = data;
    const char *const end = data + size;
    if (!m_carry.isEmpty()) {
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const qsizetype take = (nl ? nl : end) - p;
        if (m_carry.size() + take > MaxLineBytes) {
            ++m_line;
            return fail(ReplayFault::TooLong);
        }
        m_carry.append(p, take);
        if (!nl)
            return true;
        const QByteArray line = std::move(m_carry);
        m_carry.clear();
        if (!takeLine(line.constData(), line.constData() + line.size(), true))
            return false;
        p = nl + 1;
    }
    while (p < end) {
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if ((nl ? nl : end) - p > MaxLineBytes) {
            ++m_line;
            return fail(ReplayFault::TooLong);
        }
        if (!nl) {
            m_carry = QByteArray(p, end - p);
            break;
        }
        if (!takeLine(p, nl, true))
            return false;
        p = nl + 1;
    }
    return true;
}

bool ReplayParser::takeLine(const char *begin, const char *end, bool complete)
{
    ++m_line;
    // CR LF line ends; a last line may also have been cut between the two.
    if (end > begin && end[-1] == '\r')
        --end;
    if (!m_haveHeader) {
        const QByteArrayView content(begin, end - begin);
        if (!complete)
            return fullHeader().startsWith(content) || fail(ReplayFault::Header);
        const int sensors = headerSensors(content);
        if (sensors < 0)
            return fail(ReplayFault::Header);
        m_table->m_sensors = sensors;
        m_haveHeader = true;
        return true;
    }

    Row row;
    const bool first = m_table->m_ms.empty();
    const RowTime previous{first ? 0u : m_table->m_ms.back(), m_table->m_startTime};
    Cursor c{begin, end};
    const Scan s = scanRow(c, m_table->m_sensors, first ? nullptr : &previous, row);
    if (s == Scan::Bad)
        return fail(c.fault);
    if (s == Scan::End && complete)
        return fail(ReplayFault::NotANumber);
    // A last line without its line feed was cut short unless it holds every sensor the
    // header names: then only the line feed is missing.
    if (!complete && (s == Scan::End || row.triples < m_table->m_sensors)) {
        m_dropped = true;
        return true;
    }
    // Four thousand million triples would need far more memory than any machine here has.
    if (size_t(m_table->m_firstTriple.back()) + size_t(row.triples) > std::numeric_limits<uint32_t>::max()) {
        m_tooLarge = true;
        return fail(ReplayFault::None);
    }
    if (first)
        m_table->m_startTime = row.start;
    m_table->appendRow(row.ms, row.values, row.triples);
    return true;
}

ReplayLoad ReplayParser::finish()
{
    if (!m_failed && !m_carry.isEmpty()) {
        const QByteArray line = std::move(m_carry);
        m_carry.clear();
        if (takeLine(line.constData(), line.constData() + line.size(), false) && !m_haveHeader)
            m_haveHeader = true; // a header cut short: nothing was recorded
    }
    ReplayLoad load;
    if (m_tooLarge)
        return load;
    if (m_failed) {
        load.status = ReplayStatus::BadLine;
        load.line = m_line;
        load.fault = m_fault;
        return load;
    }
    load.droppedLastLine = m_dropped;
    if (m_table->rowCount() == 0) {
        load.status = ReplayStatus::NoRows;
        return load;
    }
    load.status = ReplayStatus::Ok;
    load.table = std::move(m_table);
    m_table = std::make_unique<ReplayTable>();
    return load;
}

ReplayLoad parseReplayCsv(QByteArrayView bytes)
{
    ReplayParser parser;
    parser.feed(bytes.data(), bytes.size());
    return parser.finish();
}

ReplayLoad readReplayFile(const QString &path, const std::atomic<bool> *cancel, std::atomic<qint64> *bytesRead)
{
    QFile file(path);
    ReplayLoad load;
    if (!file.open(QIODevice::ReadOnly))
        return load;
    ReplayParser parser;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        if (cancel && cancel->load()) {
            load.status = ReplayStatus::Cancelled;
            return load;
        }
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0)
            return load;
        if (n == 0)
            break;
        if (bytesRead)
            bytesRead->fetch_add(n);
        // The first bad line ends the reading: the rest of the file cannot change the answer.
        if (!parser.feed(buffer.constData(), n))
            break;
    }
    return parser.finish();
}
