#include "recordformat.h"

#include <algorithm>

namespace {

// Longest text of one field: "-32768," or "4294967295,".
constexpr int FieldMax = 11;

char *putUInt(char *p, uint32_t v)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

char *putInt(char *p, int v)
{
    if (v < 0) {
        *p++ = '-';
        return putUInt(p, uint32_t(-int64_t(v)));
    }
    return putUInt(p, uint32_t(v));
}

qsizetype maxRowBytes(qsizetype entries)
{
    return 2 * FieldMax + 6 + entries * 3 * FieldMax + 1;
}

} // namespace

TimeOfDay splitTimeOfDay(uint ms)
{
    const uint t = ms % MsPerDay;
    return {t / 3600000u, t % 3600000u / 60000u, t % 60000u / 1000u, t % 1000u};
}

uint timeOfDayMs(uint hour, uint minute, uint second, uint msec)
{
    return ((hour * 60u + minute) * 60u + second) * 1000u + msec;
}

uint msSinceStart(uint timeStamp, uint startTime)
{
    const uint t = timeStamp % MsPerDay;
    return t >= startTime ? t - startTime : t + MsPerDay - startTime;
}

void appendRecordRow(QByteArray &out, uint timeStamp, uint startTime, const QList<Axit_t> &samples)
{
    const qsizetype begin = out.size();
    out.resize(begin + maxRowBytes(samples.size()));
    char *const first = out.data() + begin;
    char *p = first;

    p = putUInt(p, msSinceStart(timeStamp, startTime));
    *p++ = ',';
    const TimeOfDay tod = splitTimeOfDay(timeStamp);
    p = putUInt(p, tod.hour);
    *p++ = ':';
    p = putUInt(p, tod.minute);
    *p++ = ':';
    p = putUInt(p, tod.second);
    *p++ = ':';
    p = putUInt(p, tod.msec);
    *p++ = ',';
    for (const Axit_t &a : samples) {
        p = putInt(p, a.x);
        *p++ = ',';
        p = putInt(p, a.y);
        *p++ = ',';
        p = putInt(p, a.z);
        *p++ = ',';
    }
    *p++ = '\n';
    out.truncate(begin + (p - first));
}

QByteArray recordRow(uint timeStamp, uint startTime, const QList<Axit_t> &samples)
{
    QByteArray row;
    appendRecordRow(row, timeStamp, startTime, samples);
    return row;
}

QByteArray recordHeader(int sensorCount)
{
    QByteArray header("millisecond,time stamp,");
    for (int n = 1; n <= sensorCount; ++n) {
        const QByteArray num = QByteArray::number(n);
        header += "X" + num + ",y" + num + ",z" + num + ",";
    }
    header += '\n';
    return header;
}

int recordHeaderSensorCount(QByteArrayView line)
{
    const qsizetype commas = line.count(',');
    if (commas < 2 || (commas - 2) % 3 != 0)
        return -1;
    const int n = int((commas - 2) / 3);
    if (n > 16)
        return -1;
    QByteArray header = recordHeader(n);
    header.chop(1);
    return QByteArrayView(header) == line ? n : -1;
}

bool stampedAfterSync(uint timeStamp, uint startTime, qint64 msSinceRequest)
{
    constexpr qint64 SyncSlackMs = 1000;
    return msSinceStart(timeStamp, startTime) <= uint(msSinceRequest + SyncSlackMs);
}

bool fieldOneFollows(uint previous, uint next)
{
    return next >= previous || previous - next > DayBoundaryDropMs;
}

QString zeroPadded(uint value, int width)
{
    return QString::number(value).rightJustified(width, QLatin1Char('0'));
}

