#include "mycurvegraphic.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QtMath>

// The form places the plot in a splitter, which adopts it; the parent is not passed on.
MyCurveGraphic::MyCurveGraphic(QWidget *parent)
    : QCustomPlot(nullptr)
    , contextMenu(new QMenu)
    , actionXRange(new QAction(QStringLiteral("修改X轴范围"), this))
    , actionYMax(new QAction(QStringLiteral("设置Y轴最大值"), this))
    , actionYMin(new QAction(QStringLiteral("设置Y轴最小值"), this))
{
    Q_UNUSED(parent)
    contextMenu->addAction(actionXRange);
    contextMenu->addAction(actionYMax);
    contextMenu->addAction(actionYMin);
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

MyCurveGraphic::~MyCurveGraphic()
{
    delete contextMenu;
}

void MyCurveGraphic::contextMenuEvent(QContextMenuEvent *event)
{
    Q_UNUSED(event)
    contextMenu->exec(QCursor::pos());
}

CachedLegendItem::CachedLegendItem(QCPLegend *legend, QCPAbstractPlottable *plottable)
    : QCPPlottableLegendItem(legend, plottable)
{
}

QSize CachedLegendItem::minimumOuterSizeHint() const
{
    if (!mPlottable)
        return QCPPlottableLegendItem::minimumOuterSizeHint();
    const Measure measure{mPlottable->name(), getFont(), mParentLegend->iconSize(), mParentLegend->iconTextPadding(),
                          mMargins};
    if (!(measure == m_measure) || !m_size.isValid()) {
        m_size = QCPPlottableLegendItem::minimumOuterSizeHint();
        m_measure = measure;
    }
    return m_size;
}

void CachedLegendItem::draw(QCPPainter *painter)
{
    const QRect r = rect();
    if (!mPlottable || r.isEmpty())
        return;
    const QTransform &t = painter->worldTransform();
    if (t.type() > QTransform::TxTranslate || painter->modes().testFlag(QCPPainter::pmVectorized)
        || painter->modes().testFlag(QCPPainter::pmNoCaching)) {
        QCPPlottableLegendItem::draw(painter);
        return;
    }
    // Antialiased painters are shifted by half a pixel; the picture is drawn with the same
    // fraction and placed at the whole pixels, so its pixels are those of a fresh drawing.
    const QPointF shift(t.dx(), t.dy());
    const QPoint whole(qFloor(shift.x()), qFloor(shift.y()));
    Look look;
    look.size = r.size();
    look.fraction = shift - whole;
    look.text = mPlottable->name();
    look.textColour = getTextColor();
    look.font = getFont();
    look.pen = mPlottable->pen();
    look.brush = mPlottable->brush();
    look.selected = mSelected;
    look.hints = painter->renderHints();
    look.antialiased = painter->antialiasing();
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    if (!(look == m_look) || m_picture.isNull() || m_picture.devicePixelRatio() != ratio) {
        const QPoint margin(1, 1);
        m_picture = QImage((r.size() + QSize(2, 2)) * ratio, QImage::Format_ARGB32_Premultiplied);
        m_picture.setDevicePixelRatio(ratio);
        m_picture.fill(Qt::transparent);
        QCPPainter p(&m_picture);
        p.setModes(painter->modes());
        p.setRenderHints(look.hints & ~QPainter::Antialiasing);
        const QPointF toPicture = look.fraction - r.topLeft() + margin;
        p.translate(look.antialiased ? toPicture - QPointF(0.5, 0.5) : toPicture);
        p.setAntialiasing(look.antialiased); // sets the hint and the painter's own half-pixel shift
        p.setRenderHints(look.hints);
        QCPPlottableLegendItem::draw(&p);
        m_look = look;
    }
    painter->save();
    painter->setWorldTransform(QTransform());
    painter->drawImage(r.topLeft() + whole - QPoint(1, 1), m_picture);
    painter->restore();
}
