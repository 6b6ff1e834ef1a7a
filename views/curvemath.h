#pragma once

#include "slavetypes.h"

#include <QColor>
#include <QVector3D>
#include <cstdint>

// Arithmetic of the graph window, kept apart so tests can call it directly.

// Truncates toward zero and keeps the low 16 bits (signed), as the stored samples do.
int16_t wrapToInt16(double value);

// The card's demarcated readings of one sensor turned into force by the fixed second-order
// polynomial, evaluated term by term from left to right in double precision.
Axit_t convertDemarcated(const Axit_t &raw);

// What one sensor of a frame becomes: the value plotted and tabled, and the force vector for
// the 3D views (converted force / 1000 for demarcated data, raw / 10000 for source data).
struct CurveSample
{
    Axit_t value;
    QVector3D vector;
};
CurveSample curveSample(const Axit_t &raw, int dataMode);

// The X span to keep after the user may have zoomed: a span of 51..999 frames stays, anything
// else brings the previous span back.
int keptXRange(double lower, double upper, int xRange);

// Curve colour of a sensor (0..15) and axis (0 = X, 1 = Y, 2 = Z).
QColor axisColour(int sensor, int axis);
