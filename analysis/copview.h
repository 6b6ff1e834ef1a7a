#pragma once

#include <QList>
#include <QPointF>
#include <QWidget>
#include <optional>

// The array's outline in the plane view's layout with the centre of pressure and its recent trail,
// painted with QPainter: a few rectangles and a polyline need no OpenGL.
class CopView : public QWidget
{
    Q_OBJECT

public:
    explicit CopView(QWidget *parent = nullptr);

    // Positions in cells from the top-left cell's centre; the trail breaks where it has a gap.
    void setPicture(int sensorCount, const QList<QPolygonF> &trail, std::optional<QPointF> cop);

    int sensorCount() const { return m_sensorCount; }
    const QList<QPolygonF> &trail() const { return m_trail; }
    std::optional<QPointF> cop() const { return m_cop; }

    QSize sizeHint() const override { return {260, 220}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_sensorCount = 0;
    QList<QPolygonF> m_trail;
    std::optional<QPointF> m_cop;
};
