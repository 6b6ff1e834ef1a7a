#pragma once

#include "slavetypes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// Times are milliseconds in unsigned 32-bit integers; a time of day is 0..MsPerDay-1.
constexpr uint MsPerDay = 86400000u;

struct TimeOfDay
{
    uint hour = 0;
    uint minute = 0;
    uint second = 0;
    uint msec = 0;
};

// Splits a time stamp (taken modulo one day) into its clock fields.
TimeOfDay splitTimeOfDay(uint ms);
uint timeOfDayMs(uint hour, uint minute, uint second, uint msec);
// Milliseconds from startTime to the sample's time of day, wrapping once over midnight.
uint msSinceStart(uint timeStamp, uint startTime);

// One CSV row: ms since start, time of day as h:m:s:ms, then x,y,z per delivered entry;
// every field ends with a comma, the row with a line feed.
void appendRecordRow(QByteArray &out, uint timeStamp, uint startTime, const QList<Axit_t> &samples);
QByteArray recordRow(uint timeStamp, uint startTime, const QList<Axit_t> &samples);
QByteArray recordHeader(int sensorCount);
// The sensor count a header line (without its line feed) names; -1 when it is no header.
int recordHeaderSensorCount(QByteArrayView line);
// Whether a time-stamped frame that arrives while the clock sync is still unanswered was stamped
// by the synchronised clock: it cannot run ahead of our own clock since the request by much.
bool stampedAfterSync(uint timeStamp, uint startTime, qint64 msSinceRequest);

// Field 1 of the next row may follow field 1 of the previous one: it does not go back, except at a
// day boundary of a recording longer than a day, where it wraps with the time of day (a drop of
// more than 23 hours). Anything else was stamped before the synchronised clock took effect.
bool fieldOneFollows(uint previous, uint next);
constexpr uint DayBoundaryDropMs = 23u * 3600000u;

// Decimal with leading zeros up to width digits (the clock display).
QString zeroPadded(uint value, int width);
