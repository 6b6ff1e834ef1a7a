#include "tablestyle.h"

QString tableStyleSheet()
{
    return QStringLiteral(
        "QTableView {background-color:rgb(255,255,255);alternate-background-color:rgb(233,233,233);"
        "gridline-color:#B0B0B0;selection-color:#FF6347;selection-background-color:#6495ED;}"
        "QHeaderView::section {background-color:#33A1C9;border-bottom:1px solid #E0DDDC;height:30px;}");
}
