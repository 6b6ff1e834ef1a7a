#include "replaycsv.h"

#include "recordformat.h"

#include <QFile>
#include <QVarLengthArray>
#include <algorithm>
#include <cstring>
#include <limits>

namespace {

enum class Parse { Ok, NotANumber, OutOfRange };

// Unsigned decimal as the writer prints it: digits, no leading zeros. With partial set, the
// text may be cut short anywhere (the last line of a recording that was interrupted).
Parse parseUInt(QByteArrayView t, uint32_t max, uint32_t &out, bool partial = false)
{
    if (t.isEmpty())
        return partial ? Parse::Ok : Parse::NotANumber;
    if (t.size() > 1 && t.front() == '0')
        return Parse::NotANumber;
    uint64_t v = 0;
    for (char c : t) {
        const unsigned d = unsigned(c) - '0';
        if (d > 9)
            return Parse::NotANumber;
        v = v * 10 + d;
        if (v > max)
            return Parse::OutOfRange;
    }
    out = uint32_t(v);
    return Parse::Ok;
}

// Signed 16-bit decimal as the writer prints it (no "+", no "-0", no leading zeros).
Parse parseInt16(QByteArrayView t, int16_t &out, bool partial = false)
{
    const char *p = t.data();
    const char *const end = p + t.size();
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    if (p == end)
        return partial ? Parse::Ok : Parse::NotANumber;
    if (*p == '0') {
        if (negative || end - p > 1)
            return Parse::NotANumber;
        out = 0;
        return Parse::Ok;
    }
    const int32_t limit = negative ? 32768 : 32767;
    int32_t v = 0;
    for (; p < end; ++p) {
        const unsigned d = unsigned(*p) - '0';
        if (d > 9)
            return Parse::NotANumber;
        v = v * 10 + int32_t(d);
        if (v > limit)
            return Parse::OutOfRange;
    }
    out = int16_t(negative ? -v : v);
    return Parse::Ok;
}

// h:m:s:ms, each as an unsigned decimal within its range.
ReplayFault parseTime(QByteArrayView t, uint32_t &tod, bool partial = false)
{
    static const uint32_t limits[4] = {23, 59, 59, 999};
    uint32_t parts[4] = {0, 0, 0, 0};
    int n = 0;
    qsizetype from = 0;
    for (;;) {
        const qsizetype colon = t.indexOf(':', from);
        const QByteArrayView part = t.sliced(from, (colon < 0 ? t.size() : colon) - from);
        if (n == 4)
            return ReplayFault::NotATime;
        const bool last = colon < 0;
        const Parse p = parseUInt(part, limits[n], parts[n], partial && last);
        if (p == Parse::NotANumber)
            return ReplayFault::NotATime;
        if (p == Parse::OutOfRange)
            return ReplayFault::TimeRange;
        ++n;
        if (last)
            break;
        from = colon + 1;
    }
    if (n < 4 && !partial)
        return ReplayFault::NotATime;
    tod = timeOfDayMs(parts[0], parts[1], parts[2], parts[3]);
    return ReplayFault::None;
}

// The fields of a line as a spreadsheet may have saved them: without the surrounding double
// quotes it may add, and without empty fields at the end (the writer's last comma, or padding).
// -1 when the quotes are not where a field's text begins and ends, else the field count.
int splitFields(QByteArrayView line, QVarLengthArray<QByteArrayView, 56> &fields, int &quoteField)
{
    fields.clear();
    const char *p = line.data();
    const char *const end = p + line.size();
    const bool quoted = !line.isEmpty() && std::memchr(p, '"', size_t(line.size()));
    for (;;) {
        // Fields are a few bytes long: a plain loop finds their end sooner than a call would.
        const char *comma = p;
        while (comma < end && *comma != ',')
            ++comma;
        QByteArrayView f(p, comma - p);
        if (comma == end)
            comma = nullptr;
        if (quoted && f.contains('"')) {
            if (f.size() < 2 || f.front() != '"' || f.back() != '"' || f.sliced(1, f.size() - 2).contains('"')) {
                quoteField = int(fields.size()) + 1;
                return -1;
            }
            f = f.sliced(1, f.size() - 2);
        }
        fields.append(f);
        if (!comma)
            break;
        p = comma + 1;
    }
    while (!fields.isEmpty() && fields.back().isEmpty())
        fields.removeLast();
    return int(fields.size());
}

int headerSensors(const QVarLengthArray<QByteArrayView, 56> &fields)
{
    if (fields.size() < 2 || (fields.size() - 2) % 3 != 0 || fields.size() > 2 + 3 * 16)
        return -1;
    const int n = int(fields.size() - 2) / 3;
    QByteArray expected = recordHeader(n);
    expected.chop(2); // the last comma and the line feed
    QByteArray joined;
    for (qsizetype i = 0; i < fields.size(); ++i)
        joined += (i ? "," : "") + QByteArray(fields[i].data(), fields[i].size());
    return joined == expected ? n : -1;
}

bool onlyZeros(const char *p, const char *end)
{
    return std::all_of(p, end, [](char c) { return c == '\0'; });
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

QString replayErrorReason(const ReplayLoad &load)
{
    if (load.status != ReplayStatus::BadLine)
        return {};
    switch (load.fault) {
    case ReplayFault::Header:
        return QStringLiteral("不是记录文件的表头");
    case ReplayFault::NoSensors:
        return QStringLiteral("表头中没有传感器");
    case ReplayFault::NotANumber:
        return QStringLiteral("第%1个字段不是整数").arg(load.field);
    case ReplayFault::NotATime:
        return QStringLiteral("第2个字段不是时间（时:分:秒:毫秒）");
    case ReplayFault::OutOfRange:
        return QStringLiteral("数值超出范围 -32768~32767");
    case ReplayFault::FieldOneRange:
        return QStringLiteral("第1个字段超出范围 0~86399999");
    case ReplayFault::TimeRange:
        return QStringLiteral("时间超出范围");
    case ReplayFault::IncompleteTriple:
        return QStringLiteral("最后一个传感器的x、y、z不全");
    case ReplayFault::TooManyTriples:
        return QStringLiteral("字段数多于16个传感器");
    case ReplayFault::Backwards:
        return QStringLiteral("时间倒退");
    case ReplayFault::TimeOfDay:
        return QStringLiteral("第2个字段与第1个字段不符");
    case ReplayFault::TooLong:
        return QStringLiteral("行过长");
    case ReplayFault::EmptyLine:
        return QStringLiteral("空行");
    case ReplayFault::StrayBytes:
        return QStringLiteral("含有无法识别的字符");
    case ReplayFault::None:
        break;
    }
    return {};
}

ReplayParser::ReplayParser()
    : m_table(std::make_unique<ReplayTable>())
{
}

ReplayParser::~ReplayParser() = default;

bool ReplayParser::fail(ReplayFault fault, int field)
{
    m_failed = true;
    m_fault = fault;
    m_faultField = field;
    m_carry.clear();
    return false;
}

// Past the first zero byte only zeros may follow: a file copied while it was written, or the
// blocks a crash left. The line the zeros began in was cut short.
bool ReplayParser::takeZeros(const char *p, const char *end)
{
    return onlyZeros(p, end) || fail(ReplayFault::StrayBytes);
}

bool ReplayParser::feed(const char *data, qsizetype size)
{
    if (m_failed)
        return false;
    const char *p = data;
    const char *end = data + size;
    if (m_inZeros)
        return takeZeros(p, end);
    const char *zero = static_cast<const char *>(std::memchr(p, '\0', size_t(size)));
    if (zero)
        end = zero;
    if (!m_carry.isEmpty() && p < end) {
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const qsizetype take = (nl ? nl : end) - p;
        if (m_carry.size() + take > MaxLineBytes) {
            ++m_line;
            return fail(ReplayFault::TooLong);
        }
        m_carry.append(p, take);
        if (nl) {
            const QByteArray line = std::move(m_carry);
            m_carry.clear();
            if (!takeLine(line.constData(), line.constData() + line.size(), true))
                return false;
            p = nl + 1;
        } else {
            p = end;
        }
    }
    while (p < end) {
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if ((nl ? nl : end) - p > MaxLineBytes) {
            ++m_line;
            return fail(ReplayFault::TooLong);
        }
        if (!nl) {
            m_carry.append(p, end - p);
            break;
        }
        if (!takeLine(p, nl, true))
            return false;
        p = nl + 1;
    }
    if (!zero)
        return true;
    ++m_line; // the line the zeros cut short: left out
    m_dropped = m_dropped || !m_carry.isEmpty();
    m_carry.clear();
    m_inZeros = true;
    return takeZeros(zero, data + size);
}

bool ReplayParser::takeLine(const char *begin, const char *end, bool complete)
{
    ++m_line;
    // CR LF line ends; a last line may also have been cut between the two.
    if (end > begin && end[-1] == '\r')
        --end;
    QByteArrayView line(begin, end - begin);
    if (m_line == 1 && line.startsWith("\xEF\xBB\xBF"))
        line = line.sliced(3); // a spreadsheet's byte-order mark
    if (!m_haveHeader) {
        QVarLengthArray<QByteArrayView, 56> fields;
        int quote = 0;
        const int n = splitFields(line, fields, quote) < 0 ? -1 : headerSensors(fields);
        if (n == 0)
            return fail(ReplayFault::NoSensors);
        if (n < 0)
            return fail(ReplayFault::Header);
        m_table->m_headerSensors = n;
        m_haveHeader = true;
        return true;
    }
    return takeRow(line, complete);
}

bool ReplayParser::takeRow(QByteArrayView line, bool complete)
{
    QVarLengthArray<QByteArrayView, 56> fields;
    int quote = 0;
    if (splitFields(line, fields, quote) < 0)
        return complete ? fail(ReplayFault::NotANumber, quote) : (m_dropped = true);
    if (fields.isEmpty()) {
        // Empty lines are what a spreadsheet may leave at the end; anywhere else they are wrong.
        if (complete && m_firstEmptyLine == 0)
            m_firstEmptyLine = m_line;
        return true;
    }
    if (m_firstEmptyLine != 0) {
        m_line = m_firstEmptyLine;
        return fail(ReplayFault::EmptyLine);
    }
    // A last line without its line feed may have been cut anywhere: its last field only has to
    // be the start of one, and it is left out unless it holds every sensor the header names.
    const int last = int(fields.size()) - 1;
    auto partial = [&](int i) { return !complete && i == last; };
    uint32_t ms = 0;
    switch (parseUInt(fields[0], MsPerDay - 1, ms, partial(0))) {
    case Parse::NotANumber:
        return fail(ReplayFault::NotANumber, 1);
    case Parse::OutOfRange:
        return fail(ReplayFault::FieldOneRange);
    case Parse::Ok:
        break;
    }
    if (fields.size() < 2)
        return complete ? fail(ReplayFault::NotATime) : (m_dropped = true);
    uint32_t tod = 0;
    if (const ReplayFault f = parseTime(fields[1], tod, partial(1)); f != ReplayFault::None)
        return fail(f);
    const int values = int(fields.size()) - 2;
    if (values > 3 * 16)
        return fail(ReplayFault::TooManyTriples);
    Axit_t samples[16];
    for (int i = 0; i < values; ++i) {
        int16_t &v = i % 3 == 0 ? samples[i / 3].x : i % 3 == 1 ? samples[i / 3].y : samples[i / 3].z;
        switch (parseInt16(fields[i + 2], v, partial(i + 2))) {
        case Parse::NotANumber:
            return fail(ReplayFault::NotANumber, i + 3);
        case Parse::OutOfRange:
            return fail(ReplayFault::OutOfRange);
        case Parse::Ok:
            break;
        }
    }
    const int triples = values / 3;
    if (!complete) {
        // Whole only if it ends as the writer ends a row (a value cut after a digit looks like a
        // shorter one) and no sensor the header names is missing.
        uint32_t u = 0;
        int16_t v = 0;
        const bool lastWhole = last == 0   ? parseUInt(fields[0], MsPerDay - 1, u) == Parse::Ok
                               : last == 1 ? parseTime(fields[1], u) == ReplayFault::None
                                           : parseInt16(fields[last], v) == Parse::Ok;
        if (!lastWhole || !line.endsWith(',') || values % 3 != 0 || triples < m_table->m_headerSensors) {
            m_dropped = true;
            return true;
        }
    }
    if (values % 3 != 0)
        return fail(ReplayFault::IncompleteTriple);

    // Field 1 counts from the start the recording was synchronised to, field 2 is the card's time
    // of day: their difference is that start, the same on every row.
    const uint32_t start = (tod + MsPerDay - ms) % MsPerDay;
    const bool first = m_table->m_ms.empty();
    if (!first) {
        if (start != m_table->m_startTime)
            return fail(ReplayFault::TimeOfDay);
        if (!fieldOneFollows(m_lastFieldOne, ms))
            return fail(ReplayFault::Backwards);
        // A recording longer than a day: field 1 wrapped with the time of day and counts on.
        if (ms < m_lastFieldOne)
            m_dayOffset += MsPerDay;
    }
    if (size_t(m_table->m_firstTriple.back()) + size_t(triples) > std::numeric_limits<uint32_t>::max()
        || uint64_t(ms) + m_dayOffset > std::numeric_limits<uint32_t>::max()) {
        m_tooLarge = true;
        return fail(ReplayFault::None);
    }
    if (first)
        m_table->m_startTime = start;
    m_lastFieldOne = ms;
    m_table->m_sensors = std::max(m_table->m_sensors, triples);
    m_table->appendRow(ms + m_dayOffset, samples, triples);
    return true;
}

ReplayLoad ReplayParser::finish()
{
    if (!m_failed && !m_carry.isEmpty()) {
        const QByteArray line = std::move(m_carry);
        m_carry.clear();
        takeLine(line.constData(), line.constData() + line.size(), false);
    }
    ReplayLoad load;
    if (m_tooLarge)
        return load;
    // An empty file, or one holding only part of a header, is no recording.
    if (!m_failed && !m_haveHeader) {
        m_line = 1;
        fail(ReplayFault::Header);
    }
    if (m_failed) {
        load.status = ReplayStatus::BadLine;
        load.line = m_line;
        load.fault = m_fault;
        load.field = m_faultField;
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
