#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "myserialport.h"

#include <QCloseEvent>
#include <QDebug>
#include <QFileInfo>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QThread>
#include <QTimer>

const QStringList MainWindow::baudTable{"115200", "460800", "921600"};
const QList<int> MainWindow::baudRates{115200, 460800, 921600};
const QStringList MainWindow::sampleFreTable{"10", "20", "50", "100", "200"};
const QStringList MainWindow::infoTypeTable{"标定数据", "源数据"};

static const char versionText[] = "1.7.01";

QStringList availablePortNames()
{
    QStringList names;
    const QString extra = qEnvironmentVariable("TACTILON_EXTRA_PORTS");
    for (const QString &path : extra.split(':', Qt::SkipEmptyParts)) {
        if (QFileInfo::exists(path))
            names.append(path);
    }
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        names.append(info.portName());
    return names;
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this); // binds the on_<object>_<signal> slots by name
    ui->SampleFreSelect->setCurrentIndex(-1);
    setWindowIcon(QIcon(":/Images/Palmex.ico"));

    link = new MySerialport;
    linkThread = new QThread;
    link->moveToThread(linkThread);

    connect(link, &MySerialport::portLost, this, &MainWindow::serialPortLostHandle);
    connect(link, &SlaveProtocol::sampleFreResult, this, &MainWindow::SampleFreResult);
    connect(this, &MainWindow::serialOpen, link, &MySerialport::openPort);
    connect(this, &MainWindow::serialClose, link, &MySerialport::closePort);
    connect(link, &MySerialport::flushMainwindowsSerialView, this, &MainWindow::WidgetViewFlush);
    connect(this, &MainWindow::setSampleFre, link, &SlaveProtocol::setSampleFre);
    connect(link, &SlaveProtocol::DataTypeSetResult, this, &MainWindow::InfoTypeSetResult);
    connect(linkThread, &QThread::finished, link, &QObject::deleteLater);
    connect(link, &MySerialport::portOpenFailed, this, &MainWindow::portOpenFailed);

    linkThread->start();

    scanTimer = new QTimer;
    infoTypeTimer = new QTimer;
    connect(scanTimer, &QTimer::timeout, this, &MainWindow::scanPorts, Qt::DirectConnection);
    connect(infoTypeTimer, &QTimer::timeout, this, &MainWindow::readInfoType, Qt::DirectConnection);

    for (const QString &text : baudTable)
        ui->BandSelect->addItem(QIcon(), text);
    ui->BandSelect->setCurrentIndex(0);
    bandIndex = 0;
    for (const QString &text : sampleFreTable)
        ui->SampleFreSelect->addItem(QIcon(), text);
    sampleFreIndex = 0;
    for (const QString &text : infoTypeTable)
        ui->InfoTypeSelect->addItem(QIcon(), text);
    infoType = 0;

    scanPorts();
    WidgetViewFlush();
    ui->txtVersion->setText(QString("Version:") + versionText + " ");
    scanTimer->start(2000);
}

MainWindow::~MainWindow()
{
    shutdown();
    // The form goes last: queued results may still reach the slots until the link has stopped.
    delete ui;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    shutdown();
    event->accept();
}

void MainWindow::shutdown()
{
    if (linkThread) {
        // The link is deleted on its own thread as the thread finishes.
        linkThread->quit();
        linkThread->wait();
        delete linkThread;
        linkThread = nullptr;
        link = nullptr;
    }
    delete scanTimer;
    scanTimer = nullptr;
    delete infoTypeTimer;
    infoTypeTimer = nullptr;
}

void MainWindow::scanPorts()
{
    const QStringList names = availablePortNames();
    if (names.size() == ui->SerialPortSelect->count())
        return;
    ui->SerialPortSelect->clear();
    ui->SerialPortSelect->addItems(names);
    if (ui->SerialPortSelect->count() == 1) {
        portIndex = 0;
        ui->SerialPortSelect->setCurrentIndex(0);
    }
}

void MainWindow::on_btnSerialOpen_clicked()
{
    qDebug().noquote().nospace() << "com band indedx : " << bandIndex;
    if (ui->SerialPortSelect->count() == 0) {
        QMessageBox::critical(this, "错误信息", "没有检测到串口");
        return;
    }
    const int row = qBound(0, portIndex, ui->SerialPortSelect->count() - 1);
    emit serialOpen(ui->SerialPortSelect->itemText(row), baudRates.value(bandIndex, baudRates.first()));
}

void MainWindow::portOpenFailed()
{
    QMessageBox::critical(this, "错误信息", "串口打开失败");
}

void MainWindow::WidgetViewFlush()
{
    const bool open = link && link->isPortOpen();
    ui->btnSerialOpen->setText(open ? "关闭" : "打开");
    ui->SampleFreSelect->setEnabled(open);
    ui->BandSelect->setEnabled(!open);
    ui->SerialPortSelect->setEnabled(!open);
}

void MainWindow::serialPortLostHandle()
{
    emit serialClose();
    WidgetViewFlush();
    QMessageBox::critical(this, "错误信息", "串口丢失");
}

void MainWindow::on_SerialPortSelect_currentIndexChanged(int index)
{
    portIndex = index;
}

void MainWindow::on_BandSelect_currentIndexChanged(int index)
{
    bandIndex = index;
}

void MainWindow::on_SampleFreSelect_currentIndexChanged(int index)
{
    if (!link || !link->isPortOpen() || index == link->freIndex())
        return;
    sampleFreIndex = index;
    emit setSampleFre(uint(index), 3000);
}

void MainWindow::SampleFreResult(int option, int res, int param)
{
    if (option == 0) {
        // An index the table does not have is as useless as no answer.
        if (res < 0 || param < 0 || param >= sampleFreTable.size()) {
            QMessageBox::critical(this, "错误信息", "获取驱动卡采样频率失败");
            return;
        }
        sampleFreIndex = param;
        ui->SampleFreSelect->setCurrentText(sampleFreTable.at(param));
        infoTypeTimer->start(500);
    } else if (option == 1) {
        if (res == 0)
            QMessageBox::information(this, "提示", "采样频率设置成功");
        else if (res == 1)
            QMessageBox::information(this, "提示", "采样频率设置失败");
        else
            QMessageBox::information(this, "提示", "通信超时");
    }
}

void MainWindow::readInfoType()
{
    infoTypeTimer->stop();
    infoType = link ? link->recvInfoType() : 0;
    qDebug().noquote().nospace() << "infotype=" << infoType;
    if (infoType == 2)
        infoType = 0;
    ui->InfoTypeSelect->setCurrentIndex(infoType);
}

void MainWindow::on_InfoTypeSelect_currentIndexChanged(int index)
{
    if (!link || !link->isPortOpen() || index == int(link->recvInfoType()))
        return;
    infoType = index;
    QMetaObject::invokeMethod(link, "setInfoType", Qt::AutoConnection, Q_ARG(uchar, uchar(index)), Q_ARG(int, 1));
}

void MainWindow::InfoTypeSetResult(int res, int id)
{
    if (id != 1)
        return;
    if (res == 0)
        QMessageBox::information(this, "提示", "数据类型设置成功");
    else
        QMessageBox::information(this, "提示", "数据类型设置失败");
}

void MainWindow::on_lineSensorSum_editingFinished()
{
    bool ok = false;
    const QString text = ui->lineSensorSum->text();
    const int value = text.toInt(&ok, 10);
    qDebug().noquote() << text;
    if (!ok || value < 1 || value > 16) {
        QMessageBox::warning(this, "提示", "允许输入范围：1~16");
        ui->lineSensorSum->setText("1");
        return;
    }
    sensorSum = value;
}
