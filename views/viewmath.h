#pragma once

#include <QColor>
#include <QList>
#include <QPointF>
#include <QPolygonF>
#include <QSize>
#include <QString>
#include <QVector3D>

// Geometry and colours of the three OpenGL views, kept free of GL so tests can call them.

// The plane view's panel in scene units.
struct PlaneGeometry
{
    float width = 6.18f;
    float height = 10.0f;
    float marginX = 0.8f;
    float marginY = 1.29f;
    float gap = 0.3f;
};

struct CellSize
{
    float width = 0.92f;
    float height = 1.63f;
};

// Cells of the plane view are tinted by force: light grey at rest, red from |v| = |(1,1,1)| on.
QColor forceColour(const QVector3D &v);

// Six sensors use two rows of three; every other count rows of four.
CellSize planeCellSize(int sensorNum, const PlaneGeometry &plane = PlaneGeometry());

// Top-left corner (x, y) of the cell for each drawn vector, in vector order. Six sensors run
// along a U (top row left to right, bottom row right to left); otherwise one cell per vector,
// four to a row.
QList<QPointF> planeCellCorners(int sensorNum, int vectorCount, const CellSize &cell,
                                const PlaneGeometry &plane = PlaneGeometry());

// Z force points up (GL Y); X and Y forces lie in the floor plane, negated; each component
// is clamped to -5..5 and forces of length up to 0.01 show nothing.
QVector3D displayVector(const QVector3D &force);

struct BoxSize
{
    float width = 1.5f;  // along X
    float depth = 1.5f;  // along Z
    float height = 1.5f; // along Y
};

struct SensorBox
{
    QVector3D corner; // minimum corner before the pan offset
    QColor colour;
};

QColor boxColourA();
QColor boxColourB();
QColor labelColour();
QColor arrowColour();

// The vector view's boxes: a U of six, or rows of four in a checkerboard (at most 16).
QList<SensorBox> sensorBoxes(int sensorNum, const BoxSize &box = BoxSize());

// The darker edge of a box face: 0.2 less on each channel (0..1 scale), not below 0.
QColor shadedColour(const QColor &c);

// The arrowhead is drawn along +Y in the XY plane, then turned by `elevation` degrees about X
// and by -`heading` degrees about Z, so that it points along the direction.
struct ArrowAngles
{
    double heading = 0;
    double elevation = 0;
};
ArrowAngles arrowAngles(const QVector3D &direction);

// Maps a pointer position (widget pixels, y downwards as reported) to a plane parallel to the
// screen at a fixed distance in front of the vector view's camera. At that distance a drag
// across the view's height gives about 1.24 units, so the drag multipliers (100 degrees,
// 10 pan units) turn about 124 degrees per view height and pan the scene's origin with the
// pointer at the default camera distance.
QPointF pointerToScene(const QPointF &pos, const QSize &viewSize);
constexpr float pointerPlaneDistance = 1.5f;

// Outline loops of the text in font pixels (y downwards, baseline at 0), as
// QPainterPath::toSubpathPolygons gives them; cached per text and size.
const QList<QPolygonF> &textOutline(const QString &text, int pointSize);

// Scene vertices of the outline text at a position: 0.1 unit per font pixel, y upwards,
// lifted 0.02 towards the viewer so the text stays in front of the face it stands on.
QList<QList<QVector3D>> textLoops(const QVector3D &position, const QString &text, int pointSize);
