#pragma once

#include <qcustomplot.h>

class QAction;
class QMenu;

// The curve plot of the graph window, with a context menu for the axis limits. The graph
// window runs the menu's dialogs and keeps the limits here.
class MyCurveGraphic : public QCustomPlot
{
    Q_OBJECT

public:
    explicit MyCurveGraphic(QWidget *parent = nullptr);
    ~MyCurveGraphic() override;

    QMenu *contextMenu;
    QAction *actionXRange;
    QAction *actionYMax;
    QAction *actionYMin;
    int xRange = 100; // visible X span in frames
    int yMax = 5000;
    int yMin = -5000;

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
};

// A legend entry that keeps its picture and its size: laying out and drawing 48 entries of text
// costs a quarter of every refresh, yet they change only when a curve is shown, hidden or
// renamed. Drawn from the kept picture, the entry looks exactly as drawn afresh.
class CachedLegendItem : public QCPPlottableLegendItem
{
    Q_OBJECT

public:
    CachedLegendItem(QCPLegend *legend, QCPAbstractPlottable *plottable);

    QSize minimumOuterSizeHint() const override;

protected:
    void draw(QCPPainter *painter) override;

private:
    struct Measure
    {
        QString text;
        QFont font;
        QSize iconSize;
        int iconTextPadding = 0;
        QMargins margins;
        bool operator==(const Measure &o) const
        {
            return text == o.text && font == o.font && iconSize == o.iconSize
                   && iconTextPadding == o.iconTextPadding && margins == o.margins;
        }
    };
    mutable Measure m_measure;
    mutable QSize m_size;

    struct Look
    {
        QSize size;
        QPointF fraction;
        QString text;
        QColor textColour;
        QFont font;
        QPen pen;
        QBrush brush;
        bool selected = false;
        bool antialiased = false;
        QPainter::RenderHints hints;
        bool operator==(const Look &o) const
        {
            return size == o.size && fraction == o.fraction && antialiased == o.antialiased && text == o.text && textColour == o.textColour && font == o.font
                   && pen == o.pen && brush == o.brush && selected == o.selected && hints == o.hints;
        }
    };
    QImage m_picture;
    Look m_look;
};
