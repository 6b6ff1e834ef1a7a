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
