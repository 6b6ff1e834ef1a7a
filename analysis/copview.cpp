#include "copview.h"

#include "pressuremath.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>

CopView::CopView(QWidget *parent)
    : QWidget(parent)
{
    setMinimumSize(160, 140);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CopView::setPicture(int sensorCount, const QList<QPolygonF> &trail, std::optional<QPointF> cop)
{
    m_sensorCount = sensorCount;
    m_trail = trail;
    m_cop = cop;
    update();
}

void CopView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(250, 250, 250));
    if (m_sensorCount <= 0)
        return;

    double cols = 1, rows = 1;
    for (int i = 0; i < m_sensorCount; ++i) {
        const QPointF c = sensorCellCentre(m_sensorCount, i);
        cols = std::max(cols, c.x() + 1);
        rows = std::max(rows, c.y() + 1);
    }
    const double margin = 10;
    const double pitch = std::max(1.0, std::min((width() - 2 * margin) / cols, (height() - 2 * margin) / rows));
    const QPointF origin((width() - pitch * cols) / 2 + pitch / 2, (height() - pitch * rows) / 2 + pitch / 2);
    auto toPixels = [&](const QPointF &cell) { return origin + cell * pitch; };

    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(150, 150, 150), 1));
    p.setBrush(QColor(230, 230, 230));
    const double half = 0.44 * pitch;
    for (int i = 0; i < m_sensorCount; ++i) {
        const QPointF c = toPixels(sensorCellCentre(m_sensorCount, i));
        p.drawRect(QRectF(c.x() - half, c.y() - half, 2 * half, 2 * half));
        p.drawText(QRectF(c.x() - half + 3, c.y() - half + 1, 2 * half, 2 * half), Qt::AlignLeft | Qt::AlignTop,
                   QString::number(i));
    }

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(65, 105, 225, 170), 1.5));
    for (const QPolygonF &piece : m_trail) {
        QPolygonF pixels;
        pixels.reserve(piece.size());
        for (const QPointF &pt : piece)
            pixels.append(toPixels(pt));
        p.drawPolyline(pixels);
    }
    if (m_cop) {
        p.setPen(QPen(Qt::white, 1.5));
        p.setBrush(QColor(220, 20, 60));
        p.drawEllipse(toPixels(*m_cop), 6, 6);
    }
}
