#include "demarcatepoints.h"

#include <QtMath>

namespace {

template <typename Point, typename Replace>
void addSorted(QList<Point> &list, const Point &point, Replace replace)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].pressure == point.pressure) {
            replace(list[i], point);
            return;
        }
        if (list[i].pressure > point.pressure) {
            list.insert(i, point);
            return;
        }
    }
    list.append(point);
}

QString twoDecimals(double v)
{
    return QString::number(v, 'f', 2);
}

} // namespace

void addArrayPoint(QList<arrayDemarcateInfo_t> &list, const arrayDemarcateInfo_t &point)
{
    addSorted(list, point, [](arrayDemarcateInfo_t &old, const arrayDemarcateInfo_t &p) { old = p; });
}

void addSinglePoint(QList<singleDemarcateInfoUnit_t> &list, const singleDemarcateInfoUnit_t &point)
{
    addSorted(list, point, [](singleDemarcateInfoUnit_t &old, const singleDemarcateInfoUnit_t &p) {
        old.x = p.x;
        old.y = p.y;
        old.z = p.z;
    });
}

bool removeSinglePoint(QList<singleDemarcateInfoUnit_t> &list, short pressure)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].pressure == pressure) {
            list.removeAt(i);
            return true;
        }
    }
    return false;
}

QString hundredthsText(int pressure)
{
    return twoDecimals(pressure / 100.0);
}

QString singlePointCsvHeader()
{
    return QStringLiteral("pressure(kg),x,y,z,xlabel,ylabel,zlabel");
}

QString singlePointCsvLine(const singleDemarcateInfoUnit_t &point, int xyz)
{
    const int p = point.pressure;
    QString line = QString("%1,%2,%3,%4,").arg(p).arg(point.x).arg(point.y).arg(point.z);
    // 0.5 and 0.866 are sin 30 and cos 30: side-axis points are pressed at an angle.
    const QString along = twoDecimals(p * 0.5);
    const QString down = twoDecimals(qAbs(p) * 0.866);
    switch (xyz) {
    case 0:
        line += along + ",0," + down;
        break;
    case 1:
        line += "0," + along + "," + down;
        break;
    default:
        line += "0,0," + QString::number(p);
        break;
    }
    return line;
}
