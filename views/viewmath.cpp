#include "viewmath.h"

#include <QFont>
#include <QHash>
#include <QPainterPath>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace {
constexpr double pi = 3.14159265358979323846;
constexpr int maxSensors = 16;

double degrees(double radians)
{
    return radians * 180.0 / pi;
}
}

QColor forceColour(const QVector3D &v)
{
    float m = v.length() / 1.732f;
    // Written as a negation so that a NaN force also shows the idle colour.
    if (!(m >= 0.1f))
        m = 0.0f;
    const int g = int(230.0f - std::min(m, 1.0f) * 230.0f);
    return QColor(230, g, g);
}

CellSize planeCellSize(int sensorNum, const PlaneGeometry &p)
{
    if (sensorNum == 6)
        return {(p.width - 2 * p.gap - 2 * p.marginX) / 3, (p.height - 3 * p.gap - 2 * p.marginY) / 2};
    return {(p.width - 3 * p.gap - 2 * p.marginX) / 4, (p.height - 3 * p.gap - 2 * p.marginY) / 4};
}

QList<QPointF> planeCellCorners(int sensorNum, int vectorCount, const CellSize &cell,
                                const PlaneGeometry &p)
{
    const float x0 = p.marginX - p.width / 2;
    const float y0 = p.height / 2 - p.marginY;
    const float stepX = cell.width + p.gap;
    QList<QPointF> corners;
    if (sensorNum == 6) {
        const float bottom = y0 - p.gap - cell.height;
        const QPointF u[6] = {{x0, y0}, {x0 + stepX, y0}, {x0 + 2 * stepX, y0},
                              {x0 + 2 * stepX, bottom}, {x0 + stepX, bottom}, {x0, bottom}};
        for (int i = 0; i < std::min(vectorCount, 6); ++i)
            corners.append(u[i]);
        return corners;
    }
    // More cells than the card has sensors would leave the panel.
    const int count = std::clamp(vectorCount, 0, maxSensors);
    for (int i = 0; i < count; ++i)
        corners.append({x0 + (i % 4) * stepX, y0 - (i / 4) * (cell.height + p.gap)});
    return corners;
}

QVector3D displayVector(const QVector3D &force)
{
    if (!(force.length() > 0.01f))
        return QVector3D();
    auto clamp5 = [](float c) { return std::clamp(c, -5.0f, 5.0f); };
    return QVector3D(clamp5(-5 * force.x()), clamp5(5 * std::fabs(force.z())), clamp5(-5 * force.y()));
}

QColor boxColourA() { return QColor(255, 97, 0); }
QColor boxColourB() { return QColor(106, 90, 205); }
QColor labelColour() { return QColor(230, 230, 230); }
QColor arrowColour() { return QColor(230, 230, 0); }

QList<SensorBox> sensorBoxes(int sensorNum, const BoxSize &b)
{
    QList<SensorBox> boxes;
    const float y0 = -b.height / 2;
    if (sensorNum == 6) {
        const float x0 = -1.5f * b.width;
        const float z0 = -b.depth;
        const QVector3D u[6] = {{x0, y0, z0}, {x0 + b.width, y0, z0}, {x0 + 2 * b.width, y0, z0},
                                {x0 + 2 * b.width, y0, z0 + b.depth}, {x0 + b.width, y0, z0 + b.depth},
                                {x0, y0, z0 + b.depth}};
        for (int i = 0; i < 6; ++i)
            boxes.append({u[i], i % 2 == 0 ? boxColourA() : boxColourB()});
        return boxes;
    }
    const int count = std::clamp(sensorNum, 0, maxSensors);
    float x0, z0;
    if (count < 4) {
        x0 = -count * b.width / 2;
        z0 = -b.depth / 2;
    } else {
        const int rows = (count + 3) / 4;
        x0 = -2 * b.width;
        z0 = -rows * b.depth / 2;
    }
    for (int i = 0; i < count; ++i) {
        const int col = i % 4, row = i / 4;
        boxes.append({QVector3D(x0 + col * b.width, y0, z0 + row * b.depth),
                      (col + row) % 2 == 0 ? boxColourA() : boxColourB()});
    }
    return boxes;
}

QColor shadedColour(const QColor &c)
{
    auto down = [](float v) { return std::max(0.0f, v - 0.2f); };
    return QColor::fromRgbF(down(c.redF()), down(c.greenF()), down(c.blueF()));
}

ArrowAngles arrowAngles(const QVector3D &d)
{
    ArrowAngles a;
    const double length = d.length();
    if (length == 0.0)
        return a;
    // atan2 is the quadrant-corrected atan(x / y); it also stays defined when the direction
    // has no X and no Y part, where x / y is 0 / 0.
    if (d.x() != 0.0f || d.y() != 0.0f)
        a.heading = degrees(std::atan2(double(d.x()), double(d.y())));
    const double cosine = std::clamp(double(d.z()) / length, -1.0, 1.0);
    a.elevation = 90.0 - degrees(std::acos(cosine));
    return a;
}

QPointF pointerToScene(const QPointF &pos, const QSize &viewSize)
{
    const double w = viewSize.width();
    const double h = viewSize.height() > 0 ? viewSize.height() : 1;
    const double halfHeight = pointerPlaneDistance * std::tan(22.5 * pi / 180.0);
    const double halfWidth = halfHeight * (w / h);
    const double nx = w > 0 ? 2.0 * pos.x() / w - 1.0 : 0.0;
    const double ny = 2.0 * pos.y() / h - 1.0;
    return QPointF(nx * halfWidth, ny * halfHeight);
}

const QList<QPolygonF> &textOutline(const QString &text, int pointSize)
{
    static QHash<QPair<QString, int>, QList<QPolygonF>> cache;
    const auto key = qMakePair(text, pointSize);
    auto it = cache.find(key);
    if (it == cache.end()) {
        QFont font(QStringLiteral("Microsoft YaHei UI"), pointSize);
        QPainterPath path;
        path.addText(0, 0, font, text);
        it = cache.insert(key, path.toSubpathPolygons(QTransform()));
    }
    return *it;
}

QList<QList<QVector3D>> textLoops(const QVector3D &position, const QString &text, int pointSize)
{
    QList<QList<QVector3D>> loops;
    for (const QPolygonF &polygon : textOutline(text, pointSize)) {
        QList<QVector3D> loop;
        loop.reserve(polygon.size());
        for (const QPointF &pt : polygon)
            loop.append(QVector3D(float(position.x() + 0.1 * pt.x()), float(position.y() - 0.1 * pt.y()),
                                  float(position.z() + 0.02)));
        loops.append(loop);
    }
    return loops;
}
