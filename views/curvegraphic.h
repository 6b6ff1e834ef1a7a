#pragma once

#include "slavetypes.h"

#include <QList>
#include <qcustomplot.h>
#include <QStringList>
#include <QVector3D>
#include <QWidget>
#include <functional>
#include <memory>

class QCPAbstractLegendItem;
class QCPLegend;
class QListWidgetItem;
class QMouseEvent;
class QStandardItemModel;
class QTimer;
class MyCurveGraphic;
class PlaneGraph;
class VectorGraph;
class CoordinateSystem;

namespace Ui {
class CurveGraphic;
}

// History of one sensor: converted X, Y, Z and the frame counter of each point, always of
// equal length and at most maxPoints long.
struct SensorSeries
{
    static constexpr int maxPoints = 1000;
    std::unique_ptr<QList<double>> x = std::make_unique<QList<double>>();
    std::unique_ptr<QList<double>> y = std::make_unique<QList<double>>();
    std::unique_ptr<QList<double>> z = std::make_unique<QList<double>>();
    std::unique_ptr<QList<double>> key = std::make_unique<QList<double>>();
};

// The graph window: live curves of every sensor axis, the latest values in a table and the
// plane and vector views, fed with every frame of the device link.
class CurveGraphic : public QWidget
{
    Q_OBJECT

public:
    static constexpr int maxSensors = 16;

    // Asks for an integer as QInputDialog::getInt does; false when the user cancels.
    using IntDialog = std::function<bool(QWidget *parent, const QString &title, const QString &label,
                                         int value, int min, int max, int step, int *result)>;

    explicit CurveGraphic(QWidget *parent = nullptr);
    ~CurveGraphic() override;

    void setSensorNum(uint num);
    // Gates only the refresh: frames are still taken while stopped.
    void setStopped(bool stopped) { m_stopped = stopped; }
    // 0: demarcated data, converted; any other value: source data as received.
    void setDataMode(int type)
    {
        m_dataMode = type;
        m_refreshDue = true;
    }
    void setSensorChecked(int sensorIndex, bool checked);
    void setIntDialog(IntDialog dialog) { m_intDialog = std::move(dialog); }

    uint sensorNum() const { return m_sensorNum; }
    int dataMode() const { return m_dataMode; }
    bool isStopped() const { return m_stopped; }
    double sampleCount() const { return m_sampleCount; }
    const SensorSeries &series(int sensor) const { return m_series[sensor]; }
    const QList<Axit_t> &latestFrame() const { return m_latestFrame; }
    QColor axisColors(int sensor, int axis) const { return m_axisColors[sensor][axis]; }
    const QTimer *refreshTimer() const { return m_refreshTimer.get(); }
    MyCurveGraphic *plot() const;
    VectorGraph *vectorGraph() const;
    PlaneGraph *planeGraph() const;
    CoordinateSystem *coordinateSystem() const;
    QStandardItemModel *tableModel() const { return m_tableModel; }
    QStringList headerLabels() const { return m_headerLabels; }

public slots:
    void setItemData(QList<Axit_t> &axit, uint num);
    void setItemData(QList<Axit_t> &axit, uint num, uint timeStamp);
    void actionSetXRange(bool checked);
    void actionSetYMaxRange(bool checked);
    void actionSetYMinRange(bool checked);
    void on_sensorList_itemClicked(QListWidgetItem *item);
    void plotlegendClickslot(QCPLegend *legend, QCPAbstractLegendItem *item, QMouseEvent *event);
    void refreshPlot();
    // The frames to come do not follow the ones shown (a jump in a recording): the histories
    // start afresh and the next frames show at once.
    void clearHistory();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void setupPlot();
    void setupTable();
    void applyCurveColour(int graphIndex, const QColor &colour);
    void setTableValue(int row, int column, int value);
    bool askInt(const QString &title, int value, int min, int max, int step, int *result);

    std::unique_ptr<Ui::CurveGraphic> ui;
    SensorSeries m_series[maxSensors];
    QColor m_axisColors[maxSensors][3];
    std::unique_ptr<QTimer> m_refreshTimer;
    QStringList m_headerLabels;
    QStandardItemModel *m_tableModel = nullptr;
    QList<Axit_t> m_latestFrame;
    double m_sampleCount = 0;
    // Whether a refresh has anything new to draw, and where it left the axes.
    bool m_refreshDue = true;
    QCPRange m_refreshedX;
    QCPRange m_refreshedY;
    uint m_sensorNum = 0;
    int m_dataMode = 0;
    bool m_stopped = true;
    bool m_splitShown = false;
    IntDialog m_intDialog;
};
