#pragma once

#include "demarcatepoints.h"
#include "slaveprotocol.h"

#include <QList>
#include <QModelIndex>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class Config;
class QLineEdit;
class QProgressDialog;
class QStandardItemModel;
class QTimer;

namespace Ui {
class Demarcate;
}

// The force demarcation window: array points stored on the card per axis, single-sensor
// points per sensor and axis, and the 20-frame acquisition both tabs share.
class Demarcate : public QWidget
{
    Q_OBJECT

public:
    enum : int { AcquireFrames = 20, AcquireWatchdogMs = 10000, PollMs = 10 };

    explicit Demarcate(QWidget *parent = nullptr);
    ~Demarcate() override;

    void setLink(SlaveProtocol *link);
    void setSensorCount(int count);

    const QList<arrayDemarcateInfo_t> &pointList(int xyz) const { return m_pointLists[xyz]; }
    const QList<singleDemarcateInfoUnit_t> &singleList(int xyz, int sensorId) const
    {
        return m_singleStore[xyz][sensorId];
    }

    // The save dialog of the export; tests replace it.
    std::function<QString(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)>
        saveFileName;

signals:
    void demarcateSingleRemove(int xyz, int sensorId, QList<short> &list);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void demarcateSingleReadResult(int xyz, int sensorId, QList<singleDemarcateInfoUnit_t> &list);
    void demarcateRemoveResult(int res, int xyz, QList<short> &list);
    void demarcateSingleRemoveResult(int res, int xyz, int sensorId, QList<short> &list);
    void demarcateInfoReadResult(int type, short pressure, QList<short> &info);
    void demarcateOperationResult(int option, int res, int param);
    void readTableCellDataChange(QModelIndex topLeft, QModelIndex bottomRight, QList<int> roles);
    void writeTableCellDataChange(QModelIndex topLeft, QModelIndex bottomRight, QList<int> roles);
    void singleReadTableCellDataChange(QModelIndex topLeft, QModelIndex bottomRight, QList<int> roles);
    void demarcateProgressTimerout();
    void on_comAxitSelect_currentIndexChanged(int index);
    void on_btnRead_clicked();
    void on_btnRemove_clicked();
    void on_btnRemoveAll_clicked();
    void on_btnWrite_clicked();
    void on_btnDemarcate_clicked();
    void on_sensorIdSelect_currentIndexChanged(int index);
    void on_btnSingleDemarcate_clicked();
    void on_btnSingleWrite_clicked();
    void on_comSingleAxitSelect_currentIndexChanged(int index);
    void on_btnSingleRead_clicked();
    void on_btnSingleRemove_clicked();
    void on_btnSingleRemoveAll_clicked();
    void on_ltxtSingleDemarcateX_editingFinished();
    void on_ltxtSinglePressure_editingFinished();
    void on_btnSingleExport_clicked();
    void on_ltxtSingleDemarcateY_editingFinished();
    void on_ltxtSingleDemarcateZ_editingFinished();

private:
    enum class Acquired { Failed, NoSensors, Done };
    using SingleList = QList<singleDemarcateInfoUnit_t>;

    Acquired acquire(const QString &title, const QString &failure, QList<CheckData_t> &readings);
    bool linkOpen() const;
    Qt::ConnectionType blockingCall() const;
    void selectSingle(int xyz, int sensorId);
    void redrawReadTable(int xyz);
    void redrawSingleTable(const SingleList &list);
    void removeSinglePressures(SingleList &list, const QList<short> &pressures);
    SingleList *singleListFor(int xyz, int sensorId);
    void checkValueCell(QStandardItemModel *model, const QModelIndex &index, bool centred);
    void checkLineEdit(QLineEdit *edit);
    void sendSingleWrite();

    Ui::Demarcate *ui;
    SlaveProtocol *m_link = nullptr;
    QStandardItemModel *m_readModel = nullptr;
    QStandardItemModel *m_writeModel = nullptr;
    QStandardItemModel *m_singleModel = nullptr;
    int m_writeSensorColumns = 1;
    int m_readSensorColumns = 1;
    std::array<QList<arrayDemarcateInfo_t>, 3> m_pointLists;
    QList<arrayDemarcateInfo_t> *m_currentPointList = nullptr;
    // The axis whose points the read table shows. The selection may have moved on since the
    // table was drawn; removal acts on the rows the user sees, with their own axis.
    int m_readTableAxis = 0;
    int m_progressCount = 0;
    std::unique_ptr<QTimer> m_progressTimer;
    QPointer<QProgressDialog> m_progressDialog;
    std::array<std::array<SingleList, SlaveProtocol::MaxSensors>, 3> m_singleStore;
    SingleList *m_currentSingleList = nullptr;
    int m_singleXyz = 0;
    int m_singleSensor = 0;
    singleDemarcateInfoUnit_t m_pendingPoint;
    std::unique_ptr<Config> m_settings;

    // Single writes go to the card one at a time, the first one of the queue being on its way:
    // each answer then belongs to exactly one point, and the list it was written for (the
    // selection may change meanwhile).
    struct SingleWrite
    {
        SingleList *target;
        int xyz;
        int sensorId;
        singleDemarcateInfoUnit_t point;
    };
    QList<SingleWrite> m_singleWrites;
    // The list the card's answer to a remove-all belongs to.
    SingleList *m_singleRemoveAllTarget = nullptr;
    bool m_acquiring = false;
    bool m_checkingLineEdit = false;
    // From a close until the next show: a field losing the focus to the hiding window is not
    // checked (it is again when the user leaves it next time, and when the point is written).
    bool m_closing = false;
};
