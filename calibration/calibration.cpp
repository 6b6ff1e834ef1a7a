#include "calibration.h"
#include "ui_calibration.h"

#include "acquisition.h"
#include "checkboxdelegate.h"
#include "slaveprotocol.h"
#include "unfinishedinput.h"

#include <QHeaderView>
#include <QMessageBox>
#include <QStandardItemModel>

namespace {

enum : int { ColumnId, ColumnTick, ColumnX, ColumnY, ColumnZ, ColumnCount };
enum : int { TickMs = 50, FullProgress = 100 };

int16_t cellValue(const QStandardItem *item)
{
    bool ok = false;
    const int value = item ? item->text().toInt(&ok, 10) : 0;
    return ok ? static_cast<int16_t>(value) : 0;
}

} // namespace

QString checkDataWriteResultText(int res)
{
    switch (res) {
    case 0: return QStringLiteral("写入成功");
    case 1: return QStringLiteral("失败失败");
    default: return QStringLiteral("通信超时");
    }
}

Calibration::Calibration(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Calibration)
{
    ui->setupUi(this);

    m_tickTimer.setParent(this);
    m_tickTimer.setObjectName("tickTimer");
    m_tickTimer.setInterval(TickMs);
    connect(&m_tickTimer, &QTimer::timeout, this, [this] { ++m_tickCount; });

    m_headerLabels << "ID" << "选择" << "X轴" << "Y轴" << "Z轴";
    m_model = new QStandardItemModel(ui->tableView);
    m_model->setColumnCount(ColumnCount);
    m_model->setHorizontalHeaderLabels(m_headerLabels);
    connect(m_model, &QStandardItemModel::dataChanged, this, &Calibration::TableViewCellDataChange);

    QTableView *view = ui->tableView;
    view->setModel(m_model);
    view->horizontalHeader()->setDefaultSectionSize(100);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setColumnWidth(ColumnId, 50);
    view->setColumnWidth(ColumnTick, 70);
    view->verticalHeader()->hide();
    view->setEditTriggers(QAbstractItemView::DoubleClicked);
    view->setItemDelegateForColumn(ColumnTick, new CheckBoxDelegate(0, this));
}

Calibration::~Calibration()
{
    disconnectChildren(this);
    delete ui;
}

void Calibration::closeEvent(QCloseEvent *event)
{
    dropOpenEditors(this);
    QWidget::closeEvent(event);
}

void Calibration::setLink(SlaveProtocol *link)
{
    if (m_link) {
        disconnect(m_link, nullptr, this, nullptr);
        disconnect(this, nullptr, m_link, nullptr);
    }
    m_link = link;
    if (!link)
        return;
    connect(link, &SlaveProtocol::slaveCheckRec, this, &Calibration::CheckDataReadResult);
    connect(this, &Calibration::checkDataWrite, link, &SlaveProtocol::checkDataWrite);
    connect(link, &SlaveProtocol::calibrationDataWriteResult, this, &Calibration::checkDataWriteResult);
}

void Calibration::setSensorCount(int count)
{
    if (count == m_rowCount)
        return;
    m_rowCount = count;
    buildRows(nullptr);
}

void Calibration::buildRows(const CheckData_t *values)
{
    m_model->setRowCount(m_rowCount);
    for (int row = 0; row < m_rowCount; ++row) {
        auto *id = new QStandardItem(QString::number(row));
        id->setEditable(false);
        m_model->setItem(row, ColumnId, id);

        auto *tick = new QStandardItem(QString());
        tick->setEditable(false);
        tick->setSelectable(false);
        m_model->setItem(row, ColumnTick, tick);

        const CheckData_t v = values ? values[row] : CheckData_t{};
        m_model->setItem(row, ColumnX, new QStandardItem(QString::number(v.x)));
        m_model->setItem(row, ColumnY, new QStandardItem(QString::number(v.y)));
        m_model->setItem(row, ColumnZ, new QStandardItem(QString::number(v.z)));
    }
    for (int row = 0; row < m_rowCount; ++row) {
        for (int column : {int(ColumnId), int(ColumnX), int(ColumnY), int(ColumnZ)}) {
            if (QStandardItem *item = m_model->item(row, column))
                item->setTextAlignment(Qt::AlignCenter);
        }
    }
}

void Calibration::fillFromLink()
{
    // The link's table has room for 16 sensors only.
    const int count = qMin(m_link->axitNum(), int(SlaveProtocol::MaxSensors));
    if (count <= 0)
        return;
    m_rowCount = count;
    buildRows(m_link->checkData());
}

bool Calibration::linkOpen() const
{
    return m_link && m_link->isPortOpen();
}

void Calibration::invokeSetChecking(bool check)
{
    QMetaObject::invokeMethod(m_link, "setChecking", blockingCallTo(m_link), Q_ARG(bool, check));
}

void Calibration::checkDataWriteResult(int res)
{
    QMessageBox::information(this, "提示", checkDataWriteResultText(res));
}

void Calibration::CheckDataReadResult(bool ok)
{
    if (!ok) {
        QMessageBox::information(this, "系统提示", "基准数据读取失败");
        return;
    }
    fillFromLink();
    QMessageBox::information(this, "系统提示", "基准数据读取成功");
}

void Calibration::TableViewCellDataChange(QModelIndex topLeft, QModelIndex bottomRight, QList<int> roles)
{
    Q_UNUSED(bottomRight);
    Q_UNUSED(roles);
    if (!topLeft.isValid() || topLeft.column() == ColumnTick)
        return;
    const int row = topLeft.row();
    const int column = topLeft.column();
    const QStandardItem *item = m_model->item(row, column);
    if (!item)
        return;
    bool ok = false;
    const int value = item->text().toInt(&ok, 10);
    if (ok && value >= -32767 && value <= 32767)
        return;
    warnAfterEdit(this, m_model, topLeft, "提示", "允许输入范围：-32767~32767", [] { return new QStandardItem("0"); });
}

void Calibration::on_btnRead_clicked()
{
    if (!linkOpen()) {
        QMessageBox::information(this, "提示", "请打开通信接口");
        return;
    }
    QMetaObject::invokeMethod(m_link, "readCheckData", Qt::QueuedConnection);
}

void Calibration::on_btnCheck_clicked()
{
    if (!linkOpen()) {
        QMessageBox::information(this, "提示", "请打开通信接口");
        return;
    }
    m_tickCount = 0;
    m_tickTimer.start(TickMs);
    ui->btnRead->setEnabled(false);
    ui->btnWrite->setEnabled(false);

    // Five seconds of the card's source values, summed on the link thread meanwhile.
    Acquisition acquisition;
    acquisition.title = "校准";
    acquisition.total = FullProgress;
    acquisition.pollMs = TickMs;
    acquisition.begin = [this] { invokeSetChecking(true); };
    acquisition.progress = [this] { return m_tickCount; };
    acquisition.end = [this] { invokeSetChecking(false); };
    const bool acquired = acquisition.run(this, m_link);
    // Also on failure: a timer left running would tick on for nothing.
    m_tickTimer.stop();

    if (!acquired) {
        QMessageBox::warning(this, "提示", "校准数据获取失败");
    } else {
        fillFromLink();
        QMessageBox::information(this, "系统提示", "校准数据获取完成");
    }
    ui->btnRead->setEnabled(true);
    ui->btnWrite->setEnabled(true);
}

void Calibration::on_btnWrite_clicked()
{
    if (!linkOpen()) {
        QMessageBox::information(this, "提示", "请打开通信接口");
        return;
    }
    if (QMessageBox::question(this, "提示", "确定写入吗?", QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return;

    QList<AxitSingle_t> list;
    for (int row = 0; row < m_rowCount; ++row) {
        const QStandardItem *tick = m_model->item(row, ColumnTick);
        if (!tick || !tick->data(Qt::UserRole).toBool())
            continue;
        AxitSingle_t record;
        record.id = static_cast<uint16_t>(row);
        record.x = cellValue(m_model->item(row, ColumnX));
        record.y = cellValue(m_model->item(row, ColumnY));
        record.z = cellValue(m_model->item(row, ColumnZ));
        list.append(record);
    }
    if (list.isEmpty()) {
        QMessageBox::information(this, "提示", "没有选择要校准的传感器");
        return;
    }
    emit checkDataWrite(list);
}
