#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "calibration.h"
#include "curvegraphic.h"
#include "demarcate.h"
#include "framerouter.h"
#include "myserialport.h"
#include "recordjournal.h"
#include "recordwindow.h"
#include "replaywindow.h"

#include <QCloseEvent>
#include <QDebug>
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QScreen>
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

    curveGraphic = new CurveGraphic;
    demarcate = new Demarcate;
    calibration = new Calibration;
    recordWindow = new RecordWindow;
    recordWindow->setJournalFolder(defaultJournalFolder());
    replayWindow = new ReplayWindow;
    router = new FrameRouter(curveGraphic, this);

    link = new MySerialport;
    linkThread = new QThread;
    link->moveToThread(linkThread);

    router->setLink(link);
    router->setReplay(replayWindow);

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
    demarcate->setLink(link);
    calibration->setLink(link);
    recordWindow->setLink(link);

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
    demarcate->setSensorCount(sensorSum);
    router->setSensorCount(sensorSum);
    calibration->setSensorCount(sensorSum);
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
    // A tool window in the middle of an acquisition or a message still has its code on the
    // stack: end that first, then close.
    if (!finishModalEpisodes()) {
        event->ignore();
        QTimer::singleShot(100, this, &QWidget::close);
        return;
    }
    // An entry the user had not finished is dropped, not applied or warned about: the question
    // below and the hiding window take the focus from it.
    closing = true;
    // A recording that was never exported lives only in memory; closing would lose it.
    if (recordWindow && recordWindow->hasUnexportedRecording()
        && QMessageBox::question(this, "提示", "记录数据尚未导出，确定退出吗?", QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No)
               != QMessageBox::Yes) {
        closing = false;
        event->ignore();
        return;
    }
    // Whatever the answer was, the user chose to close: the journal has done its work.
    if (recordWindow)
        recordWindow->discardJournal();
    shutdown();
    event->accept();
}

void MainWindow::offerRecovery()
{
    if (recoveryOffered || !recordWindow)
        return;
    recoveryOffered = true;
    const QStringList journals = journalFiles(defaultJournalFolder());
    if (journals.isEmpty())
        return;
    if (QMessageBox::question(this, "提示", "发现未导出的记录，是否恢复?", QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Yes)
        != QMessageBox::Yes)
        return; // a misclick must never cost a recording: the journals stay
    for (const QString &path : journals) {
        if (recordWindow->recoverJournal(path)) {
            on_pushRecord_clicked();
            return;
        }
    }
}

bool MainWindow::finishModalEpisodes()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return true;
    if (auto *progress = qobject_cast<QProgressDialog *>(modal))
        progress->cancel();
    return false;
}

void MainWindow::shutdown()
{
    closing = true;
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
    delete replayWindow;
    replayWindow = nullptr;
    if (curveGraphic) {
        curveGraphic->close(); // stops its refresh and the views' timers
        delete curveGraphic;
        curveGraphic = nullptr;
    }
    delete demarcate;
    demarcate = nullptr;
    delete calibration;
    calibration = nullptr;
    delete recordWindow;
    recordWindow = nullptr;
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
    // Live frames must not mix with replayed ones: opening ends the replay.
    if (replayWindow && link && !link->isPortOpen())
        replayWindow->close();
    const int row = qBound(0, portIndex, ui->SerialPortSelect->count() - 1);
    emit serialOpen(ui->SerialPortSelect->itemText(row), baudRates.value(bandIndex, baudRates.first()));
}

void MainWindow::portOpenFailed()
{
    if (!linkThread)
        return; // a result queued before shutdown
    QMessageBox::critical(this, "错误信息", "串口打开失败");
}

void MainWindow::WidgetViewFlush()
{
    const bool open = link && link->isPortOpen();
    ui->btnSerialOpen->setText(open ? "关闭" : "打开");
    ui->SampleFreSelect->setEnabled(open);
    ui->BandSelect->setEnabled(!open);
    ui->SerialPortSelect->setEnabled(!open);
    if (router)
        router->setLinkOpen(open);
}

void MainWindow::serialPortLostHandle()
{
    if (!linkThread)
        return; // a result queued before shutdown
    emit serialClose();
    WidgetViewFlush();
    router->setLinkOpen(false);
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
    if (!linkThread)
        return; // a result queued before shutdown
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
    router->setDataMode(infoType);
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
    if (!linkThread)
        return; // a result queued before shutdown
    if (id != 1)
        return;
    if (res == 0) {
        QMessageBox::information(this, "提示", "数据类型设置成功");
        router->setDataMode(infoType);
    } else
        QMessageBox::information(this, "提示", "数据类型设置失败");
}

void MainWindow::on_lineSensorSum_editingFinished()
{
    if (closing)
        return;
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
    demarcate->setSensorCount(value);
    router->setSensorCount(value);
    calibration->setSensorCount(value);
}

void MainWindow::showToolWindow(QWidget *window, int x, int y, const QString &title)
{
    // A shown window stays where the user put it.
    if (!window->isHidden())
        return;
    window->setGeometry(x, y, window->width(), window->height());
    window->setWindowTitle(title);
    window->show();
}

void MainWindow::on_btnGraphic_clicked(bool)
{
    showToolWindow(curveGraphic, 0, 0, "Graph");
}

void MainWindow::on_actDemarcate_clicked()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    showToolWindow(demarcate, 20, screen.height() / 2, "标定");
}

void MainWindow::on_btnCalibration_clicked()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    showToolWindow(calibration, screen.width() - calibration->width() - 20, screen.height() / 2, "校准");
}

void MainWindow::on_pushRecord_clicked()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    showToolWindow(recordWindow, (screen.width() - recordWindow->width()) / 2, 50, "记录");
}

void MainWindow::on_actReplay_triggered()
{
    if (link && link->isPortOpen()) {
        QMessageBox::information(this, "提示", "请先关闭通信接口");
        return;
    }
    if (!replayWindow || !replayWindow->chooseAndOpen(this) || !curveGraphic)
        return;
    showToolWindow(curveGraphic, 0, 0, "Graph");
    showToolWindow(replayWindow, 0, curveGraphic->frameGeometry().bottom() + 1, "回放");
}
