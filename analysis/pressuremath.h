#pragma once

#include "slavetypes.h"

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QString>
#include <QVector3D>
#include <QtGlobal>

// What the pressure analysis makes of one frame, free of widgets so tests, the export worker and
// the window all compute it the same way.

// The contact threshold is a share of the plane view's full tint (|v| / 1.732 = 1 is fully red),
// so it means the same for demarcated and source data; 10 % is where that view leaves grey.
constexpr int DefaultContactPercent = 10;
float contactShare(int percent);

// Whether the plane view tints this force vector at the given share of its full tint; at the
// default share exactly the cells whose colour leaves the idle grey.
bool inContact(const QVector3D &vector, float share);

// Centre of a sensor's cell in the plane view's layout, in cells from the top-left cell's centre:
// four columns, or the U of six for six sensors.
QPointF sensorCellCentre(int sensorCount, int sensor);

struct PressureSummary
{
    int sensors = 0; // sensors of the frame taken, at most the count shown
    double totalFz = 0;
    double shearX = 0;
    double shearY = 0;
    double shear = 0;
    int contact = 0;
    bool hasCop = false; // no contact sensor with Fz > 0: no centre of pressure
    QPointF cop;
    int peakSensor = -1; // -1 when no sensor was taken
    double peak = 0;
};

// The sensors shown of a frame (at most sensorCount of it), each as the graph window has it:
// demarcated data (dataMode 0) converted to force, source data as received.
PressureSummary summarisePressure(const QList<Axit_t> &frame, int sensorCount, int dataMode, float share);

// The label texts of a summary; "—" where a number is undefined (all of them without a sensor).
struct PressureTexts
{
    QString totalForce, shear, contact, cop, peak;
};
PressureTexts pressureTexts(const PressureSummary &s);

// One exported row, held compactly for an hour of frames: forces and positions in hundredths,
// rounded as they are written.
struct AnalysisRow
{
    qint64 ms = 0;
    qint32 totalFz = 0, shearX = 0, shearY = 0, shear = 0, copX = 0, copY = 0, peak = 0;
    qint8 contact = 0;
    qint8 peakSensor = -1;
    bool hasCop = false;
};
AnalysisRow analysisRow(qint64 ms, const PressureSummary &s);

QByteArray analysisCsvHeader();
// Empty fields where undefined; ms is written as given.
void appendAnalysisCsvRow(QByteArray &out, const AnalysisRow &row, qint64 ms);
