#include "mycurvegraphic.h"

#include <QAction>
#include <QCursor>
#include <QMenu>

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
