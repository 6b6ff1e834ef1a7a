#pragma once

#include "slavetypes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// A recording as the record window exports it, held compactly: field 1 of every row and the
// row's x, y, z triples as 16-bit values. Field 2 is not stored: the reader has checked that
// every row's time of day is the recording's start plus field 1.
class ReplayTable
{
public:
    // The largest number of sensors among the rows, whatever the header names.
    int sensorCount() const { return m_sensors; }
    qsizetype rowCount() const { return qsizetype(m_ms.size()); }
    // Field 1: milliseconds since the recording started, counted on over day boundaries.
    uint msAt(qsizetype row) const { return m_ms[size_t(row)]; }
    // Field 2, as milliseconds since midnight.
    uint timeOfDayAt(qsizetype row) const;
    int tripleCount(qsizetype row) const;
    void frameAt(qsizetype row, QList<Axit_t> &out) const;
    // The last row whose field 1 is at most ms; the first row for anything earlier.
    qsizetype rowAtMs(uint ms) const;
    // Bytes allocated for the rows.
    qsizetype memoryBytes() const;

private:
    friend class ReplayParser;
    // Fixed blocks: a long recording never moves or doubles one huge array while it loads.
    enum : size_t { BlockTriples = size_t(1) << 15 };

    const Axit_t &triple(size_t index) const { return m_blocks[index / BlockTriples][index % BlockTriples]; }
    void appendRow(uint ms, const Axit_t *triples, int count);

    int m_sensors = 0;
    int m_headerSensors = 0;
    uint m_startTime = 0;
    std::vector<uint32_t> m_ms;
    // Index of each row's first triple, plus one entry past the last row.
    std::vector<uint32_t> m_firstTriple{0};
    // Each block reserved whole at once; only what is used of it is touched.
    std::vector<std::vector<Axit_t>> m_blocks;
};

enum class ReplayStatus { Ok, CannotRead, BadLine, NoRows, Cancelled };

// Why a line was refused: the box says which line, its second line says why.
enum class ReplayFault {
    None,
    Header,           // not the header the record window writes
    NoSensors,        // a header naming no sensor
    NotANumber,       // a field that is not a decimal as written (field says which)
    NotATime,         // field 2 is not hours:minutes:seconds:milliseconds
    OutOfRange,       // a value outside -32768..32767
    FieldOneRange,    // field 1 beyond a day
    TimeRange,        // a clock field beyond its range
    IncompleteTriple, // a sensor without all of x, y and z
    TooManyTriples,   // more than 16 sensors
    Backwards,        // field 1 smaller than in the row before, by less than a day boundary
    TimeOfDay,        // field 2 is not the recording's start plus field 1
    TooLong,          // longer than any line the record window writes
    EmptyLine,        // an empty line with rows after it
    StrayBytes        // bytes no row holds, or more after a tail of zeros
};

struct ReplayLoad
{
    ReplayStatus status = ReplayStatus::CannotRead;
    qsizetype line = 0; // first bad line, counted from 1
    ReplayFault fault = ReplayFault::None;
    int field = 0; // the field of a NotANumber fault, counted from 1
    // The file ended in a row cut short, which was left out.
    bool droppedLastLine = false;
    std::shared_ptr<const ReplayTable> table;
};

// The message for a failed load; empty for a loaded or cancelled one.
QString replayErrorText(const ReplayLoad &load);
// Why the line was refused, for the message's second line; empty when there is no bad line.
QString replayErrorReason(const ReplayLoad &load);

// Reads the CSV incrementally: bytes in any chunks, then finish() at the end of the file.
class ReplayParser
{
public:
    // No line the record window writes comes near this (a row of 16 sensors is under 400 bytes).
    enum : qsizetype { MaxLineBytes = 1024 };

    ReplayParser();
    ~ReplayParser();

    // False once a bad line has been found; later bytes are ignored.
    bool feed(const char *data, qsizetype size);
    ReplayLoad finish();

private:
    bool takeLine(const char *begin, const char *end, bool complete);
    bool takeRow(QByteArrayView line, bool complete);
    bool fail(ReplayFault fault, int field = 0);
    bool takeZeros(const char *p, const char *end);

    std::unique_ptr<ReplayTable> m_table;
    QByteArray m_carry; // the start of a line whose end has not arrived yet
    qsizetype m_line = 0;
    bool m_haveHeader = false;
    bool m_failed = false;
    bool m_dropped = false;
    bool m_tooLarge = false;
    ReplayFault m_fault = ReplayFault::None;
    int m_faultField = 0;
    qsizetype m_firstEmptyLine = 0; // empty lines are fine at the end only
    bool m_inZeros = false;         // past a zero byte: only zeros may follow
    uint m_dayOffset = 0;           // field 1 counted on over day boundaries
    uint m_lastFieldOne = 0;
};

ReplayLoad parseReplayCsv(QByteArrayView bytes);
// Reads the file in chunks; cancel is polled between chunks, bytesRead counts what was read.
ReplayLoad readReplayFile(const QString &path, const std::atomic<bool> *cancel = nullptr,
                          std::atomic<qint64> *bytesRead = nullptr);
