#pragma once

#include <QList>
#include <QMetaType>
#include <cstdint>

// One sensor's sample as the card sends it: demarcated or source values, no scaling.
struct Axit_t
{
    int16_t x = 0;
    int16_t y = 0;
    int16_t z = 0;
};

// One sensor's baseline record for writing to the card; only the low byte of id goes on the wire.
struct AxitSingle_t
{
    uint16_t id = 0;
    int16_t x = 0;
    int16_t y = 0;
    int16_t z = 0;
};

// One single-point demarcation point, in wire order.
struct singleDemarcateInfoUnit_t
{
    int16_t pressure = 0;
    int16_t x = 0;
    int16_t y = 0;
    int16_t z = 0;
};

// Per-sensor baseline sums or averages held by the link.
struct CheckData_t
{
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;
};

Q_DECLARE_METATYPE(Axit_t)
Q_DECLARE_METATYPE(AxitSingle_t)
Q_DECLARE_METATYPE(singleDemarcateInfoUnit_t)

// Registers the list types under their plain names and under the reference spellings that
// signal and slot signatures use, so string connections and by-name calls can queue them.
// Safe to call more than once.
void registerLinkMetaTypes();
