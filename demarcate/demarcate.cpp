#include "demarcate.h"
#include "ui_demarcate.h"

#include "acquisition.h"
#include "cardcommands.h"
#include "checkboxdelegate.h"
#include "config.h"
#include "tablestyle.h"
#include "unfinishedinput.h"

#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStandardItemModel>
#include <QTextStream>
#include <QThread>
#include <QTimer>

namespace {

const char *const AxisNames[3] = {"X", "Y", "Z"};
constexpr int ValueLimit = 32767;
constexpr double PressureLimit = 327.0;

const char *const ValueRangeText = "允许输入范围：-32767~32767";
const char *const PressureRangeText = "允许输入范围：-327.00~327.00";

QStandardItem *tickItem()
{
    auto *item = new QStandardItem;
    item->setFlags(item->flags() & ~(Qt::ItemIsEditable | Qt::ItemIsSelectable));
    return item;
}

QStandardItem *centredItem(const QString &text)
{
    auto *item = new QStandardItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

// A base-10 integer the card can take as a 16-bit value.
bool parseValue(const QString &text, int &value)
{
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok && value >= -ValueLimit && value <= ValueLimit;
}

bool parsePressure(const QString &text, double &value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    // Written so that a NaN fails as well.
    return ok && value >= -PressureLimit && value <= PressureLimit;
}

} // namespace

Demarcate::Demarcate(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Demarcate)
{
    ui->setupUi(this);
    m_settings = std::make_unique<Config>("Demarcateconfig.ini");
    saveFileName = [](QWidget *p, const QString &caption, const QString &dir, const QString &filter) {
        return QFileDialog::getSaveFileName(p, caption, dir, filter);
    };
    m_currentPointList = &m_pointLists[0];
    m_currentSingleList = &m_singleStore[0][0];

    m_readModel = new QStandardItemModel(ui->readTable);
    m_readModel->setHorizontalHeaderLabels({"选择", "压力", "0"});
    ui->readTable->setModel(m_readModel);
    ui->readTable->horizontalHeader()->setStretchLastSection(true);
    ui->readTable->setColumnWidth(0, 70);
    ui->readTable->verticalHeader()->hide();
    ui->readTable->setItemDelegateForColumn(0, new CheckBoxDelegate(0, this));

    m_writeModel = new QStandardItemModel(ui->writeTable);
    m_writeModel->setHorizontalHeaderLabels({"压力", "0"});
    m_writeModel->setRowCount(1);
    ui->writeTable->setModel(m_writeModel);
    ui->writeTable->horizontalHeader()->setStretchLastSection(true);
    ui->writeTable->setColumnWidth(0, 100);
    ui->writeTable->verticalHeader()->hide();
    ui->writeTable->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ui->writeTable->setEditTriggers(QAbstractItemView::DoubleClicked);
    connect(m_writeModel, &QStandardItemModel::dataChanged, this, &Demarcate::writeTableCellDataChange);

    m_singleModel = new QStandardItemModel(ui->singleReadTable);
    m_singleModel->setHorizontalHeaderLabels({"选择", "压力", "X", "Y", "Z"});
    ui->singleReadTable->setModel(m_singleModel);
    ui->singleReadTable->horizontalHeader()->setStretchLastSection(true);
    ui->singleReadTable->setColumnWidth(0, 70);
    ui->singleReadTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->singleReadTable->setAlternatingRowColors(true);
    ui->singleReadTable->setStyleSheet(tableStyleSheet());
    ui->singleReadTable->setItemDelegateForColumn(0, new CheckBoxDelegate(0, this));

    // Filling the combo boxes runs the selection slots, which set the titles and lists.
    ui->comAxitSelect->addItems({"X", "Y", "Z"});
    ui->comSingleAxitSelect->addItems({"X", "Y", "Z"});
    ui->sensorIdSelect->addItem("1");
    ui->writtenGroupBox->setTitle("X轴已写入数据");
    m_currentPointList = &m_pointLists[0];

    m_progressTimer = std::make_unique<QTimer>();
    m_progressTimer->setSingleShot(true);
    // A coarse timer of 10 s may fire half a second early.
    m_progressTimer->setTimerType(Qt::PreciseTimer);
    connect(m_progressTimer.get(), &QTimer::timeout, this, &Demarcate::demarcateProgressTimerout);
    // btnSingleRead stays visible: it is how the user asks the card again for its stored points.
}

Demarcate::~Demarcate()
{
    disconnectChildren(this);
    delete ui;
}

void Demarcate::closeEvent(QCloseEvent *event)
{
    m_closing = true;
    dropOpenEditors(this);
    QWidget::closeEvent(event);
}

void Demarcate::showEvent(QShowEvent *event)
{
    m_closing = false;
    QWidget::showEvent(event);
}

void Demarcate::setLink(SlaveProtocol *link)
{
    if (m_link) {
        disconnect(m_link, nullptr, this, nullptr);
        disconnect(this, nullptr, m_link, nullptr);
    }
    m_link = link;
    if (!link)
        return;
    connect(link, &SlaveProtocol::demarcateInfo, this, &Demarcate::demarcateInfoReadResult);
    connect(link, &SlaveProtocol::demarcateOperationResult, this, &Demarcate::demarcateOperationResult);
    connect(link, &SlaveProtocol::demarcateRemoveResult, this, &Demarcate::demarcateRemoveResult);
    connect(link, &SlaveProtocol::demarcateSingleRemoveResult, this, &Demarcate::demarcateSingleRemoveResult);
    connect(link, &SlaveProtocol::demarcateSingleReadInfo, this, &Demarcate::demarcateSingleReadResult);
    connect(this, &Demarcate::demarcateSingleRemove, link, &SlaveProtocol::demarcateSingleRemove);
}

void Demarcate::setSensorCount(int count)
{
    if (count < 1 || count > SlaveProtocol::MaxSensors)
        return;
    auto adjust = [count](QStandardItemModel *model, int firstSensorColumn, int &columns) {
        model->setColumnCount(firstSensorColumn + count);
        for (int i = columns; i < count; ++i)
            model->setHorizontalHeaderItem(firstSensorColumn + i, new QStandardItem(QString::number(i)));
        columns = count;
    };
    adjust(m_writeModel, 1, m_writeSensorColumns);
    adjust(m_readModel, 2, m_readSensorColumns);

    QComboBox *sensors = ui->sensorIdSelect;
    while (sensors->count() < count)
        sensors->addItem(QString::number(sensors->count() + 1));
    while (sensors->count() > count)
        sensors->removeItem(sensors->count() - 1);
}

bool Demarcate::linkOpen() const
{
    return m_link && m_link->isPortOpen();
}

Qt::ConnectionType Demarcate::blockingCall() const
{
    return blockingCallTo(m_link);
}

Demarcate::SingleList *Demarcate::singleListFor(int xyz, int sensorId)
{
    if (xyz < 0 || xyz > 2 || sensorId < 0 || sensorId >= SlaveProtocol::MaxSensors)
        return nullptr;
    return &m_singleStore[xyz][sensorId];
}

void Demarcate::demarcateSingleReadResult(int xyz, int sensorId, QList<singleDemarcateInfoUnit_t> &list)
{
    if (xyz < 0 || xyz > 2) {
        QMessageBox::information(this, "错误信息", "单点数据读取有误");
        return;
    }
    SingleList *target = singleListFor(xyz, sensorId);
    if (!target)
        return;
    *target = list;
    redrawSingleTable(*m_currentSingleList);
}

void Demarcate::demarcateRemoveResult(int res, int xyz, QList<short> &list)
{
    Q_UNUSED(xyz)
    Q_UNUSED(list)
    // On success the points stay listed until the next read.
    if (res != 0)
        QMessageBox::information(this, "错误信息", "删除驱动卡指定的标定数据失败");
}

void Demarcate::demarcateSingleRemoveResult(int res, int xyz, int sensorId, QList<short> &list)
{
    if (res != 0) {
        QMessageBox::information(this, "错误信息", "删除驱动卡指定的标定数据失败");
    } else {
        SingleList *target = singleListFor(xyz, sensorId);
        removeSinglePressures(target ? *target : *m_currentSingleList, list);
    }
    redrawSingleTable(*m_currentSingleList);
}

void Demarcate::demarcateInfoReadResult(int type, short pressure, QList<short> &info)
{
    if (type < 0 || type > 2) {
        QMessageBox::warning(this, "提示", "指定轴有误");
        return;
    }
    QList<arrayDemarcateInfo_t> &list = m_pointLists[type];
    if (!info.isEmpty()) {
        arrayDemarcateInfo_t point;
        point.count = int16_t(info.size());
        point.pressure = pressure;
        for (int i = 0; i < info.size() && i < SlaveProtocol::MaxSensors; ++i)
            point.values[i] = info[i];
        addArrayPoint(list, point);
    }
    redrawReadTable(type);
}

void Demarcate::demarcateOperationResult(int option, int res, int param)
{
    Q_UNUSED(param)
    switch (option) {
    case RemoveAllDemarcationPoints:
        // A refusal by the card is a failure as much as no answer at all.
        if (res != 0) {
            QMessageBox::information(this, "错误信息", "删除驱动卡标定数据失败");
            return;
        }
        for (auto &list : m_pointLists)
            list.clear();
        redrawReadTable(ui->comAxitSelect->currentIndex());
        return;
    case WriteSinglePoint: {
        if (m_singleWrites.isEmpty())
            return; // nothing of ours was on its way
        const SingleWrite written = m_singleWrites.takeFirst();
        if (res == 0) {
            addSinglePoint(*written.target, written.point);
            redrawSingleTable(*m_currentSingleList);
        }
        // The next point goes out before a message waits for the user; with the link gone the
        // points still queued cannot be written.
        bool restLost = false;
        if (!m_singleWrites.isEmpty()) {
            if (linkOpen()) {
                sendSingleWrite();
            } else {
                m_singleWrites.clear();
                restLost = true;
            }
        }
        if (res == 2)
            QMessageBox::information(this, "错误信息", "标定数据空间已写满，请先删除，再写入");
        else if (res != 0 || restLost)
            QMessageBox::information(this, "错误信息", "标定数据写入失败");
        return;
    }
    case RemoveAllSinglePoints: {
        SingleList *target = m_singleRemoveAllTarget ? m_singleRemoveAllTarget : m_currentSingleList;
        m_singleRemoveAllTarget = nullptr;
        if (res != 0) {
            QMessageBox::information(this, "错误信息", "删除驱动卡标定数据失败");
            return;
        }
        target->clear();
        redrawSingleTable(*m_currentSingleList);
        return;
    }
    default:
        return;
    }
}

void Demarcate::checkValueCell(QStandardItemModel *model, const QModelIndex &index, bool centred)
{
    int value = 0;
    if (parseValue(index.data().toString(), value))
        return;
    warnAfterEdit(this, model, index, "提示", ValueRangeText,
                  centred ? +[] { return centredItem("0"); } : +[] { return new QStandardItem("0"); });
}

void Demarcate::readTableCellDataChange(QModelIndex topLeft, QModelIndex bottomRight, QList<int> roles)
{
    Q_UNUSED(bottomRight)
    Q_UNUSED(roles)
    if (!topLeft.isValid() || topLeft.column() == 0)
        return;
    if (topLeft.column() == 1) {
        double pressure = 0;
        if (parsePressure(topLeft.data().toString(), pressure))
            return;
        QMessageBox::warning(this, "提示", PressureRangeText);
        m_readModel->setItem(topLeft.row(), 1, centredItem("0.00"));
        return;
    }
    checkValueCell(m_readModel, topLeft, false);
}

void Demarcate::writeTableCellDataChange(QModelIndex topLeft, QModelIndex bottomRight, QList<int> roles)
{
    Q_UNUSED(bottomRight)
    Q_UNUSED(roles)
    if (!topLeft.isValid())
        return;
    if (topLeft.column() != 0) {
        checkValueCell(m_writeModel, topLeft, false);
        return;
    }
    const QString text = topLeft.data().toString();
    double pressure = 0;
    if (!parsePressure(text, pressure)) {
        warnAfterEdit(this, m_writeModel, topLeft, "提示", PressureRangeText, [] { return centredItem("0.000"); });
        return;
    }
    const int dot = text.indexOf('.', 1);
    if (dot > 0 && text.size() - dot - 1 >= 3) {
        const QString shown = QString::number(pressure, 'f', 3);
        // Replacing the cell runs this check again; an unchanged text must end it.
        if (shown != text)
            m_writeModel->setItem(topLeft.row(), 0, new QStandardItem(shown));
    }
}

void Demarcate::singleReadTableCellDataChange(QModelIndex topLeft, QModelIndex bottomRight, QList<int> roles)
{
    Q_UNUSED(bottomRight)
    Q_UNUSED(roles)
    if (!topLeft.isValid() || topLeft.column() == 0)
        return;
    checkValueCell(m_singleModel, topLeft, topLeft.column() == 1);
}

void Demarcate::demarcateProgressTimerout()
{
    if (m_progressDialog)
        m_progressDialog->cancel();
}

Demarcate::Acquired Demarcate::acquire(const QString &title, const QString &failure, QList<CheckData_t> &readings)
{
    if (!m_link || m_acquiring)
        return Acquired::Failed;
    m_acquiring = true;
    m_progressCount = 0;
    m_progressTimer->start(AcquireWatchdogMs);

    // Twenty source frames, summed on the link thread meanwhile.
    Acquisition acquisition;
    acquisition.title = title;
    acquisition.total = AcquireFrames;
    acquisition.pollMs = PollMs;
    acquisition.begin = [this] {
        QMetaObject::invokeMethod(m_link, "demarcateStart", Qt::QueuedConnection, Q_ARG(uint, uint(AcquireFrames)));
        // demarcateStart sets the remaining count before it waits for the card in a local loop,
        // and that loop runs this empty call: the first poll already sees the new count.
        QMetaObject::invokeMethod(m_link, [] {}, blockingCall());
    };
    acquisition.progress = [this] { return m_progressCount = AcquireFrames - int(m_link->demarcateRemain()); };
    acquisition.end = [this] { QMetaObject::invokeMethod(m_link, "demarcateStop", blockingCall()); };
    const bool acquired = acquisition.run(this, m_link, &m_progressDialog);

    m_progressTimer->stop();
    Acquired result = Acquired::NoSensors;
    if (!acquired) {
        QMessageBox::warning(this, "提示", failure);
        result = Acquired::Failed;
    } else if (m_link->axitNum() > 0) {
        // The table is final: the blocking demarcateStop has returned.
        const CheckData_t *sums = m_link->checkData();
        const int sensors = qMin(m_link->axitNum(), int(SlaveProtocol::MaxSensors));
        readings.clear();
        for (int i = 0; i < sensors; ++i)
            readings.append(CheckData_t{sums[i].x / AcquireFrames, sums[i].y / AcquireFrames,
                                        sums[i].z / AcquireFrames});
        result = Acquired::Done;
    }
    m_acquiring = false;
    return result;
}

void Demarcate::on_comAxitSelect_currentIndexChanged(int index)
{
    if (index < 0 || index > 2)
        return;
    ui->writtenGroupBox->setTitle(QString(AxisNames[index]) + "轴已写入数据");
    m_currentPointList = &m_pointLists[index];
}

void Demarcate::on_btnRead_clicked()
{
    m_currentPointList->clear();
    // A card without points of this axis sends nothing that would clear the table.
    redrawReadTable(ui->comAxitSelect->currentIndex());
    if (m_link)
        QMetaObject::invokeMethod(m_link, "readDemarcateInfo", Qt::QueuedConnection,
                                  Q_ARG(int, ui->comAxitSelect->currentIndex()));
}

void Demarcate::on_btnRemove_clicked()
{
    // The ticks belong to the rows on screen, which may show another axis than the one selected.
    const QList<arrayDemarcateInfo_t> &shown = m_pointLists[m_readTableAxis];
    QList<short> pressures;
    for (int i = 0; i < shown.size(); ++i) {
        if (m_readModel->index(i, 0).data(Qt::UserRole).toBool())
            pressures.append(shown.at(i).pressure);
    }
    if (m_link)
        QMetaObject::invokeMethod(m_link, "demarcateRemove", Qt::QueuedConnection, Q_ARG(int, m_readTableAxis),
                                  Q_ARG(QList<short>&, pressures));
}

void Demarcate::on_btnRemoveAll_clicked()
{
    if (m_link)
        QMetaObject::invokeMethod(m_link, "demarcateRemoveAll", Qt::QueuedConnection);
}

void Demarcate::on_btnWrite_clicked()
{
    // The card has no command that takes an array point.
}

void Demarcate::on_btnDemarcate_clicked()
{
    QList<CheckData_t> readings;
    if (acquire("校准", "标定失败！！！", readings) != Acquired::Done)
        return;
    const int axis = ui->comAxitSelect->currentIndex();
    QList<int> row{0};
    for (const CheckData_t &r : readings)
        row.append(axis == 0 ? r.x : axis == 1 ? r.y : r.z);
    // The row has the write table's shape: the readings go below their sensors, the pressure
    // the user typed stays.
    for (int i = 1; i < row.size() && i <= m_writeSensorColumns; ++i)
        m_writeModel->setItem(0, i, new QStandardItem(QString::number(row[i])));
    QMessageBox::information(this, "系统提示", "标定成功");
}

void Demarcate::redrawReadTable(int xyz)
{
    m_readTableAxis = xyz;
    const QList<arrayDemarcateInfo_t> &list = m_pointLists[xyz];
    m_readModel->setRowCount(int(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        const arrayDemarcateInfo_t &point = list[i];
        m_readModel->setItem(i, 0, tickItem());
        m_readModel->setItem(i, 1, new QStandardItem(hundredthsText(point.pressure)));
        // Only the configured sensors have columns; a cell past the point's values must not
        // keep a value of the point drawn in this row before.
        const int values = qMin<int>(point.count, SlaveProtocol::MaxSensors);
        for (int s = 0; s < m_readSensorColumns; ++s)
            m_readModel->setItem(i, 2 + s, new QStandardItem(s < values ? QString::number(point.values[s]) : QString()));
    }
}

void Demarcate::selectSingle(int xyz, int sensorId)
{
    SingleList *list = singleListFor(xyz, sensorId);
    if (list) {
        m_currentSingleList = list;
        m_singleXyz = xyz;
        m_singleSensor = sensorId;
    }
    ui->singleReadGroupBox->setTitle("传感器" + ui->sensorIdSelect->currentText() + "-" +
                                     ui->comSingleAxitSelect->currentText() + "轴已写入标定信息");
    redrawSingleTable(*m_currentSingleList);
    // The card keeps the points of each sensor and axis; show what it holds.
    if (list && linkOpen())
        QMetaObject::invokeMethod(m_link, "demarcateSingleRead", Qt::QueuedConnection, Q_ARG(int, xyz),
                                  Q_ARG(int, sensorId));
}

void Demarcate::on_sensorIdSelect_currentIndexChanged(int index)
{
    selectSingle(ui->comSingleAxitSelect->currentIndex(), index);
}

void Demarcate::on_comSingleAxitSelect_currentIndexChanged(int index)
{
    selectSingle(index, ui->sensorIdSelect->currentIndex());
}

void Demarcate::on_btnSingleDemarcate_clicked()
{
    QList<CheckData_t> readings;
    if (acquire("单点标定", "单点标定失败！！！", readings) != Acquired::Done)
        return;
    const int sensor = ui->sensorIdSelect->currentIndex();
    const CheckData_t r = sensor >= 0 && sensor < readings.size() ? readings[sensor] : CheckData_t{};
    ui->ltxtSingleDemarcateX->setText(QString::number(r.x));
    ui->ltxtSingleDemarcateY->setText(QString::number(r.y));
    ui->ltxtSingleDemarcateZ->setText(QString::number(r.z));
    QMessageBox::information(this, "系统提示", "单点标定成功");
}

void Demarcate::on_btnSingleWrite_clicked()
{
    QLineEdit *const edits[4] = {ui->ltxtSingleDemarcateX, ui->ltxtSingleDemarcateY, ui->ltxtSingleDemarcateZ,
                                 ui->ltxtSinglePressure};
    int16_t *const fields[4] = {&m_pendingPoint.x, &m_pendingPoint.y, &m_pendingPoint.z, &m_pendingPoint.pressure};
    for (int k = 0; k < 4; ++k) {
        bool ok = false;
        const int value = edits[k]->text().toInt(&ok, 10);
        if (!ok) {
            QMessageBox::information(this, "提示", k < 3 ? "请“单点标定”后再写入" : "请输入标定的压力值");
            return;
        }
        // Cut to 16 bits the value would be another one.
        if (value < -ValueLimit || value > ValueLimit) {
            QMessageBox::warning(this, "提示", ValueRangeText);
            edits[k]->setText("0");
            return;
        }
        *fields[k] = int16_t(value);
    }
    if (linkOpen()) {
        // The point joins the list when the card confirms it (demarcateOperationResult).
        m_singleWrites.append({m_currentSingleList, m_singleXyz, m_singleSensor, m_pendingPoint});
        if (m_singleWrites.size() == 1)
            sendSingleWrite();
        return;
    }
    addSinglePoint(*m_currentSingleList, m_pendingPoint);
    redrawSingleTable(*m_currentSingleList);
}

void Demarcate::sendSingleWrite()
{
    const SingleWrite &w = m_singleWrites.first();
    QMetaObject::invokeMethod(m_link, "demarcateSingleWrite", Qt::QueuedConnection, Q_ARG(int, w.xyz),
                              Q_ARG(int, w.sensorId), Q_ARG(short, w.point.pressure), Q_ARG(short, w.point.x),
                              Q_ARG(short, w.point.y), Q_ARG(short, w.point.z));
}

void Demarcate::on_btnSingleRead_clicked()
{
    if (!linkOpen()) {
        QMessageBox::information(this, "提示", "请打开通信接口");
        return;
    }
    QMetaObject::invokeMethod(m_link, "demarcateSingleRead", Qt::QueuedConnection, Q_ARG(int, m_singleXyz),
                              Q_ARG(int, m_singleSensor));
}

void Demarcate::on_btnSingleRemove_clicked()
{
    QList<short> pressures;
    for (int i = 0; i < m_currentSingleList->size(); ++i) {
        if (m_singleModel->index(i, 0).data(Qt::UserRole).toBool())
            pressures.append(m_currentSingleList->at(i).pressure);
    }
    if (linkOpen()) {
        if (!pressures.isEmpty())
            emit demarcateSingleRemove(m_singleXyz, m_singleSensor, pressures);
        return;
    }
    removeSinglePressures(*m_currentSingleList, pressures);
    redrawSingleTable(*m_currentSingleList);
}

void Demarcate::on_btnSingleRemoveAll_clicked()
{
    if (linkOpen()) {
        m_singleRemoveAllTarget = m_currentSingleList;
        QMetaObject::invokeMethod(m_link, "demarcateSingleRemoveAll", Qt::QueuedConnection,
                                  Q_ARG(int, m_singleXyz), Q_ARG(int, m_singleSensor));
        return;
    }
    m_currentSingleList->clear();
    redrawSingleTable(*m_currentSingleList);
}

void Demarcate::removeSinglePressures(SingleList &list, const QList<short> &pressures)
{
    for (short pressure : pressures) {
        if (!removeSinglePoint(list, pressure))
            QMessageBox::information(this, "错误信息", "标定压力值“" + QString::number(pressure) + "”删除失败");
    }
}

void Demarcate::redrawSingleTable(const SingleList &list)
{
    m_singleModel->setRowCount(int(list.size()));
    for (int i = 0; i < list.size(); ++i) {
        const singleDemarcateInfoUnit_t &p = list[i];
        qDebug() << "single read Table:" << i << p.pressure << p.x << p.y << p.z;
        m_singleModel->setItem(i, 0, tickItem());
        m_singleModel->setItem(i, 1, centredItem(QString::number(p.pressure)));
        m_singleModel->setItem(i, 2, centredItem(QString::number(p.x)));
        m_singleModel->setItem(i, 3, centredItem(QString::number(p.y)));
        m_singleModel->setItem(i, 4, centredItem(QString::number(p.z)));
    }
}

void Demarcate::checkLineEdit(QLineEdit *edit)
{
    // The warning takes the focus, which may finish the editing once more.
    if (m_checkingLineEdit || m_closing)
        return;
    int value = 0;
    if (parseValue(edit->text(), value))
        return;
    m_checkingLineEdit = true;
    QMessageBox::warning(this, "提示", ValueRangeText);
    edit->setText("0");
    m_checkingLineEdit = false;
}

void Demarcate::on_ltxtSingleDemarcateX_editingFinished()
{
    checkLineEdit(ui->ltxtSingleDemarcateX);
}

void Demarcate::on_ltxtSinglePressure_editingFinished()
{
    checkLineEdit(ui->ltxtSinglePressure);
}

void Demarcate::on_btnSingleExport_clicked()
{
    const QString fileName = saveFileName(this, "选择文件", exportStartFolder(*m_settings, "Demarcateconfig"), "*.csv");
    if (fileName.isEmpty())
        return;
    m_settings->remove("Demarcateconfig", "path");
    m_settings->setValue("Demarcateconfig", "path", fileName);

    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)) {
        QMessageBox::warning(this, "错误", "文件无法创建");
        return;
    }
    const int axis = ui->comSingleAxitSelect->currentIndex();
    QTextStream out(&file);
    out << singlePointCsvHeader() << "\n";
    for (const singleDemarcateInfoUnit_t &point : *m_currentSingleList)
        out << singlePointCsvLine(point, axis) << "\n";
    out.flush();
    file.close();
    // A full disk or a vanished drive must not pass as a successful export.
    if (out.status() != QTextStream::Ok || file.error() != QFileDevice::NoError) {
        QMessageBox::warning(this, "错误", "文件写入失败");
        return;
    }
    QMessageBox::information(this, "导出文件", "文件导出成功");
}

void Demarcate::on_ltxtSingleDemarcateY_editingFinished()
{
    checkLineEdit(ui->ltxtSingleDemarcateY);
}

void Demarcate::on_ltxtSingleDemarcateZ_editingFinished()
{
    checkLineEdit(ui->ltxtSingleDemarcateZ);
}
