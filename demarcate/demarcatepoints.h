#pragma once

#include "slavetypes.h"

#include <QList>
#include <QString>
#include <cstdint>

// One array demarcation point as the card reports it: one reading per sensor for one axis.
struct arrayDemarcateInfo_t
{
    int16_t count = 0;    // values in the card's answer; at most 16 of them are kept
    int16_t pressure = 0; // hundredths
    int16_t values[16] = {};
};

// Both lists stay in ascending pressure with one point per pressure: an equal pressure
// replaces the readings, otherwise the point goes before the first higher pressure.
void addArrayPoint(QList<arrayDemarcateInfo_t> &list, const arrayDemarcateInfo_t &point);
void addSinglePoint(QList<singleDemarcateInfoUnit_t> &list, const singleDemarcateInfoUnit_t &point);
// False when no point has that pressure.
bool removeSinglePoint(QList<singleDemarcateInfoUnit_t> &list, short pressure);

// Pressure in hundredths as shown in the read table ("12.34").
QString hundredthsText(int pressure);

// The single-point CSV file: the header and one line per point, both without line feed.
// The label columns put the pressure on the axis the point was demarcated for.
QString singlePointCsvHeader();
QString singlePointCsvLine(const singleDemarcateInfoUnit_t &point, int xyz);
