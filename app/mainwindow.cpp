#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "analysiswindow.h"
#include "calibration.h"
#include "config.h"
#include "curvegraphic.h"
#include "demarcate.h"
#include "framerouter.h"
#include "mqttdialog.h"
#include "mqttpublisher.h"
#include "myserialport.h"
#include "recordjournal.h"
#include "recordwindow.h"
#include "replaywindow.h"

#include <QCloseEvent>
#include <QDebug>
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
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

namespace {

const QString MainGroup = QStringLiteral("Mainconfig");
const QString AutoReconnectKey = QStringLiteral("autoReconnect");

} // namespace

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
    analysisWindow = new AnalysisWindow;
    router = new FrameRouter(curveGraphic, this);

    link = new MySerialport;
    linkThread = new QThread;
    link->moveToThread(linkThread);

    router->setLink(link);
    router->setReplay(replayWindow);
    router->setAnalysis(analysisWindow);

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

    mainConfig = std::make_unique<Config>("Mainconfig.ini");
    const QVariant autoReconnect = mainConfig->value(MainGroup, AutoReconnectKey);
    ui->actAutoReconnect->setChecked(!autoReconnect.isValid() || autoReconnect.toBool());
    portWatcher = new PortWatcher(this);
    connect(portWatcher, &PortWatcher::portBack, this, &MainWindow::portBack);
    labLinkHealth = new QLabel(this);
    labLinkHealth->setObjectName("labLinkHealth");
    statusBar()->addPermanentWidget(labLinkHealth);
    healthTimer = new QTimer(this);
    connect(healthTimer, &QTimer::timeout, this, &MainWindow::showLinkHealth);

    // The live stream for other programs: started now if it was on when the tool last closed.
    mqtt = new MqttPublisher(this);
    mqtt->attach(link);
    mqttDialog = new MqttDialog(this);
    labMqtt = new QLabel(this);
    labMqtt->setObjectName("labMqtt");
    statusBar()->addPermanentWidget(labMqtt);
    connect(mqtt, &MqttPublisher::connectedChanged, this, &MainWindow::showMqttState);
    if (mqttDialog->publishEnabled())
        mqtt->start(mqttDialog->settings());
    showMqttState();
    connect(recordWindow->session(), &RecordingSession::started, mqtt, [this] { mqtt->setRecording(true); });
    connect(recordWindow->session(), &RecordingSession::stopped, mqtt, [this] { mqtt->setRecording(false); });

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
    if (mqtt)
        mqtt->stop(); // the retained status says the station went offline
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
    if (mqtt) {
        // Its goodbye (connectedChanged) must not reach a window that is being taken apart.
        mqtt->disconnect(this);
        mqtt->attach(nullptr);
        mqtt->stop();
    }
    if (linkThread) {
        // The link is deleted on its own thread as the thread finishes.
        linkThread->quit();
        linkThread->wait();
        delete linkThread;
        linkThread = nullptr;
        link = nullptr;
    }
    if (portWatcher)
        portWatcher->stop();
    if (healthTimer)
        healthTimer->stop();
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
    delete analysisWindow;
    analysisWindow = nullptr;
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
    // 关闭 while the lost port is awaited: the user gives up on it.
    if (waitingForPort) {
        stopWaitingForPort();
        return;
    }
    if (ui->SerialPortSelect->count() == 0) {
        QMessageBox::critical(this, "错误信息", "没有检测到串口");
        return;
    }
    // Live frames must not mix with replayed ones: opening ends the replay.
    if (replayWindow && link && !link->isPortOpen())
        replayWindow->close();
    const int row = qBound(0, portIndex, ui->SerialPortSelect->count() - 1);
    const QString port = ui->SerialPortSelect->itemText(row);
    const int baud = baudRates.value(bandIndex, baudRates.first());
    if (link && !link->isPortOpen()) {
        openedPort = port;
        openedBaud = baud;
        openedIdentity = identifyPort(port);
        outages = 0;
        healthBefore = LinkHealth();
        reconnecting = false;
        mqtt->setPort(port);
        mqtt->linkOpened();
    }
    emit serialOpen(port, baud);
}

void MainWindow::portOpenFailed()
{
    if (!linkThread)
        return; // a result queued before shutdown
    if (reconnecting) {
        // Back, but not ready to be opened yet (a device settling): keep watching.
        reconnecting = false;
        waitingForPort = true;
        portWatcher->watch(openedIdentity);
        WidgetViewFlush();
        return;
    }
    QMessageBox::critical(this, "错误信息", "串口打开失败");
}

void MainWindow::WidgetViewFlush()
{
    const bool open = link && link->isPortOpen();
    // While the lost port is awaited the panel stays as if open: 关闭 then stops the waiting.
    const bool inUse = open || waitingForPort;
    ui->btnSerialOpen->setText(inUse ? "关闭" : "打开");
    ui->SampleFreSelect->setEnabled(open);
    ui->BandSelect->setEnabled(!inUse);
    ui->SerialPortSelect->setEnabled(!inUse);
    if (router)
        router->setLinkOpen(open);
    if (mqtt)
        mqtt->setLinkState(open ? MqttLinkState::Open : waitingForPort ? MqttLinkState::Lost : MqttLinkState::Closed);
    if (healthTimer && open && !healthTimer->isActive()) {
        lastDecoded = link->health().framesDecoded;
        healthClock.start();
        healthTimer->start(1000);
    } else if (healthTimer && !open) {
        healthTimer->stop();
        labLinkHealth->clear();
    }
    // The card is back: a recording that ran goes on once its clock is set again.
    if (open && reconnecting && recordWindow)
        recordWindow->session()->linkBack();
}

void MainWindow::serialPortLostHandle()
{
    if (!linkThread)
        return; // a result queued before shutdown
    emit serialClose();
    if (!ui->actAutoReconnect->isChecked()) {
        WidgetViewFlush();
        router->setLinkOpen(false);
        QMessageBox::critical(this, "错误信息", "串口丢失");
        return;
    }
    // No box that waits for a person: the tool watches for the card and carries on by itself.
    healthBefore += link->health();
    if (!reconnecting) {
        wantedFreIndex = sampleFreIndex;
        wantedInfoType = infoType;
    }
    reconnecting = false;
    waitingForPort = true;
    ++outages;
    recordWindow->session()->linkLost();
    WidgetViewFlush();
    router->setLinkOpen(false);
    statusBar()->showMessage("串口丢失，等待重连…");
    portWatcher->watch(openedIdentity);
}

void MainWindow::stopWaitingForPort()
{
    portWatcher->stop();
    waitingForPort = false;
    reconnecting = false;
    statusBar()->clearMessage();
    WidgetViewFlush();
}

void MainWindow::portBack(const QString &path)
{
    if (!waitingForPort || !link)
        return;
    waitingForPort = false;
    reconnecting = true;
    emit serialOpen(path, openedBaud);
}

// The usual open sequence has run: the card's frequency and data type are the user's again.
void MainWindow::reconnected()
{
    reconnecting = false;
    statusBar()->showMessage(QString("已重连（断线 %1 次）").arg(outages));
}

void MainWindow::showLinkHealth()
{
    if (!link || !link->isPortOpen())
        return;
    const LinkHealth now = link->health();
    const double seconds = std::max<qint64>(1, healthClock.restart()) / 1000.0;
    const double rate = (now.framesDecoded - lastDecoded) / seconds;
    lastDecoded = now.framesDecoded;
    LinkHealth h = healthBefore;
    h += now;
    labLinkHealth->setText(QString("接收 %1 帧/秒 · 校验错误 %2 · 丢弃 %3 字节 · 断线 %4 次")
                               .arg(qRound(rate))
                               .arg(h.framesDropped)
                               .arg(h.bytesDiscarded)
                               .arg(outages));
    mqtt->setExtraCounts({{"frames", qint64(h.framesDecoded)},
                          {"checksum_errors", qint64(h.framesDropped)},
                          {"discarded_bytes", qint64(h.bytesDiscarded)},
                          {"gaps", qint64(h.gaps)},
                          {"outages", outages}});
}

void MainWindow::on_actAutoReconnect_toggled(bool checked)
{
    if (mainConfig)
        mainConfig->setValue(MainGroup, AutoReconnectKey, checked);
    if (!checked && waitingForPort)
        stopWaitingForPort();
}

void MainWindow::on_actMqtt_triggered()
{
    if (mqttDialog->exec() != QDialog::Accepted)
        return;
    mqtt->stop();
    if (mqttDialog->publishEnabled())
        mqtt->start(mqttDialog->settings());
    showMqttState();
}

void MainWindow::showMqttState()
{
    labMqtt->setVisible(mqtt->isStarted());
    labMqtt->setText(mqtt->isConnected() ? "MQTT 已连接" : "MQTT 未连接");
}

void MainWindow::on_actAnalysis_triggered()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    showToolWindow(analysisWindow, (screen.width() - analysisWindow->width()) / 2, screen.height() / 3, "压力分析");
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
    if (option == 0 && reconnecting) {
        // The card that came back may have its defaults: the user's frequency again, quietly.
        if (res >= 0 && wantedFreIndex >= 0 && param != wantedFreIndex) {
            applyingFrequency = true;
            emit setSampleFre(uint(wantedFreIndex), 3000);
        }
        infoTypeTimer->start(500);
        return;
    }
    if (option == 1 && applyingFrequency) {
        applyingFrequency = false;
        if (res != 0)
            statusBar()->showMessage("重连后采样频率设置失败");
        return;
    }
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
    if (reconnecting) {
        // A recording sets the card's type by its clock sync; otherwise the user's type again.
        const int cardType = link ? (link->recvInfoType() == 2 ? 0 : link->recvInfoType()) : 0;
        if (recordWindow->recordingState() == 0 && cardType != wantedInfoType) {
            applyingInfoType = true;
            QMetaObject::invokeMethod(link, "setInfoType", Qt::AutoConnection, Q_ARG(uchar, uchar(wantedInfoType)),
                                      Q_ARG(int, 1));
        }
        reconnected();
        return;
    }
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
    if (applyingInfoType) {
        applyingInfoType = false;
        if (res != 0)
            statusBar()->showMessage("重连后数据类型设置失败");
        return;
    }
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
