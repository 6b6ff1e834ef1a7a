#pragma once

#include "slavetypes.h"

#include <QList>
#include <QModelIndex>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QStandardItemModel;
class SlaveProtocol;

namespace Ui {
class Calibration;
}

// Text of the write-result box for a result code of the link.
QString checkDataWriteResultText(int res);

// The card's per-sensor baseline: read it, acquire it from the live stream, edit it and
// write the ticked rows back.
class Calibration : public QWidget
{
    Q_OBJECT

public:
    explicit Calibration(QWidget *parent = nullptr);
    ~Calibration() override;

    void setLink(SlaveProtocol *link);
    void setSensorCount(int count);

signals:
    void checkDataWrite(QList<AxitSingle_t> &axit);

public slots:
    void checkDataWriteResult(int res);
    void CheckDataReadResult(bool ok);
    void TableViewCellDataChange(QModelIndex topLeft, QModelIndex bottomRight, QList<int> roles);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_btnRead_clicked();
    void on_btnCheck_clicked();
    void on_btnWrite_clicked();

private:
    bool linkOpen() const;
    void invokeSetChecking(bool check);
    // Replaces every row; values null means all zeros. Clears the ticks.
    void buildRows(const CheckData_t *values);
    void fillFromLink();

    Ui::Calibration *ui;
    QTimer m_tickTimer;
    QStandardItemModel *m_model = nullptr;
    QStringList m_headerLabels;
    SlaveProtocol *m_link = nullptr;
    int m_tickCount = 0;
    int m_rowCount = 0;
};
