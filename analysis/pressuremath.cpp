#include "pressuremath.h"

#include "curvemath.h"
#include "viewmath.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int maxSensors = 16;

// Cell centres per sensor count, read off the plane view's own layout once.
using CellCentres = std::array<std::array<QPointF, maxSensors>, maxSensors + 1>;

CellCentres makeCellCentres()
{
    CellCentres table{};
    const PlaneGeometry plane;
    for (int n = 1; n <= maxSensors; ++n) {
        const CellSize cell = planeCellSize(n, plane);
        const QList<QPointF> corners = planeCellCorners(n, n, cell, plane);
        for (qsizetype i = 0; i < corners.size(); ++i) {
            const QPointF d = corners.at(i) - corners.first();
            // The view's y grows upwards; rows count downwards.
            table[size_t(n)][size_t(i)] = QPointF(std::round(d.x() / (cell.width + plane.gap)),
                                                  std::round(-d.y() / (cell.height + plane.gap)));
        }
    }
    return table;
}

const CellCentres &cellCentres()
{
    static const CellCentres table = makeCellCentres();
    return table;
}

qint32 hundredths(double v)
{
    return qint32(std::llround(v * 100.0));
}

QString fixed2(double v)
{
    // Through the same rounding as the export, so a label never shows "-0.00".
    const qint32 h = hundredths(v);
    return QStringLiteral("%1%2.%3")
        .arg(h < 0 ? QStringLiteral("-") : QString())
        .arg(std::abs(h) / 100)
        .arg(std::abs(h) % 100, 2, 10, QLatin1Char('0'));
}

void appendHundredths(QByteArray &out, qint32 h)
{
    if (h < 0)
        out += '-';
    const qint64 a = std::abs(qint64(h));
    out += QByteArray::number(a / 100);
    out += '.';
    out += char('0' + a % 100 / 10);
    out += char('0' + a % 10);
}

} // namespace

float contactShare(int percent)
{
    return float(percent) / 100.0f;
}

bool inContact(const QVector3D &vector, float share)
{
    // forceColour's own arithmetic, so the count matches the tinted cells to the last bit.
    const float m = vector.length() / 1.732f;
    return m >= share;
}

QPointF sensorCellCentre(int sensorCount, int sensor)
{
    const int n = std::clamp(sensorCount, 0, maxSensors);
    if (sensor < 0 || sensor >= n)
        return {};
    return cellCentres()[size_t(n)][size_t(sensor)];
}

PressureSummary summarisePressure(const QList<Axit_t> &frame, int sensorCount, int dataMode, float share)
{
    PressureSummary s;
    const int layout = std::clamp(sensorCount, 0, maxSensors);
    s.sensors = int(std::min<qsizetype>(layout, frame.size()));
    const auto &centres = cellCentres()[size_t(layout)];
    double weight = 0, weightedX = 0, weightedY = 0;
    for (int i = 0; i < s.sensors; ++i) {
        const CurveSample sample = curveSample(frame.at(i), dataMode);
        const double fx = sample.value.x, fy = sample.value.y, fz = sample.value.z;
        s.totalFz += fz;
        s.shearX += fx;
        s.shearY += fy;
        const double magnitude = std::sqrt(fx * fx + fy * fy + fz * fz);
        if (s.peakSensor < 0 || magnitude > s.peak) {
            s.peakSensor = i;
            s.peak = magnitude;
        }
        if (!inContact(sample.vector, share))
            continue;
        ++s.contact;
        if (fz > 0) {
            weight += fz;
            weightedX += fz * centres[size_t(i)].x();
            weightedY += fz * centres[size_t(i)].y();
        }
    }
    s.shear = std::hypot(s.shearX, s.shearY);
    if (weight > 0) {
        s.hasCop = true;
        s.cop = QPointF(weightedX / weight, weightedY / weight);
    }
    return s;
}

PressureTexts pressureTexts(const PressureSummary &s)
{
    const QString none = QStringLiteral("—");
    if (s.sensors == 0)
        return {none, none, none, none, none};
    PressureTexts t;
    t.totalForce = fixed2(s.totalFz);
    t.shear = QStringLiteral("%1 (X %2, Y %3)").arg(fixed2(s.shear), fixed2(s.shearX), fixed2(s.shearY));
    t.contact = QStringLiteral("%1 / %2 (%3 %)")
                    .arg(s.contact)
                    .arg(s.sensors)
                    .arg(QString::number(100.0 * s.contact / s.sensors, 'f', 1));
    t.cop = s.hasCop ? QStringLiteral("(%1, %2)").arg(fixed2(s.cop.x()), fixed2(s.cop.y())) : none;
    t.peak = QStringLiteral("Sensor%1: %2").arg(s.peakSensor).arg(fixed2(s.peak));
    return t;
}

AnalysisRow analysisRow(qint64 ms, const PressureSummary &s)
{
    AnalysisRow r;
    r.ms = ms;
    r.totalFz = hundredths(s.totalFz);
    r.shearX = hundredths(s.shearX);
    r.shearY = hundredths(s.shearY);
    r.shear = hundredths(s.shear);
    r.contact = qint8(s.contact);
    r.hasCop = s.hasCop;
    r.copX = s.hasCop ? hundredths(s.cop.x()) : 0;
    r.copY = s.hasCop ? hundredths(s.cop.y()) : 0;
    r.peakSensor = qint8(s.peakSensor);
    r.peak = hundredths(s.peak);
    return r;
}

QByteArray analysisCsvHeader()
{
    return QByteArrayLiteral("millisecond,total_fz,shear_x,shear_y,shear,contact,cop_x,cop_y,peak_sensor,peak\n");
}

void appendAnalysisCsvRow(QByteArray &out, const AnalysisRow &row, qint64 ms)
{
    out += QByteArray::number(ms);
    for (qint32 h : {row.totalFz, row.shearX, row.shearY, row.shear}) {
        out += ',';
        appendHundredths(out, h);
    }
    out += ',';
    out += QByteArray::number(row.contact);
    out += ',';
    if (row.hasCop)
        appendHundredths(out, row.copX);
    out += ',';
    if (row.hasCop)
        appendHundredths(out, row.copY);
    out += ',';
    if (row.peakSensor >= 0) {
        out += QByteArray::number(row.peakSensor);
        out += ',';
        appendHundredths(out, row.peak);
    } else {
        out += ',';
    }
    out += '\n';
}
