#pragma once

#include "portwatcher.h"
#include "slaveprotocol.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <memory>

class AnalysisWindow;
class Calibration;
class Config;
class MqttDialog;
class MqttPublisher;
class QLabel;
class CurveGraphic;
class Demarcate;
class FrameRouter;
class MySerialport;
class QThread;
class QTimer;
class RecordWindow;
class ReplayWindow;

namespace Ui {
class MainWindow;
}

// The control window: serial and sensor panels, the link thread, and the function panel
// that reaches the tool windows.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    MySerialport *deviceLink() const { return link; }
    QThread *deviceLinkThread() const { return linkThread; }
    int sensorCount() const { return sensorSum; }
    CurveGraphic *graphWindow() const { return curveGraphic; }
    Demarcate *demarcateWindow() const { return demarcate; }
    Calibration *calibrationWindow() const { return calibration; }
    RecordWindow *recordingWindow() const { return recordWindow; }
    ReplayWindow *replayingWindow() const { return replayWindow; }
    AnalysisWindow *analysisingWindow() const { return analysisWindow; }
    MqttPublisher *publisher() const { return mqtt; }
    // The lost port is being watched for, to be opened again by itself.
    bool isWaitingForPort() const { return waitingForPort; }
    int outageCount() const { return outages; }
    FrameRouter *frameRouter() const { return router; }

    // Asks once per start whether to load the journal of an interrupted recording, if any.
    void offerRecovery();

    static const QStringList baudTable;
    static const QList<int> baudRates;
    static const QStringList sampleFreTable;
    static const QStringList infoTypeTable;

signals:
    void serialOpen(QString portName, int baudRat);
    void serialClose();
    void setSampleFre(uint freIndex, int mesc);

public slots:
    void serialPortLostHandle();
    void WidgetViewFlush();
    void SampleFreResult(int option, int res, int param);
    void InfoTypeSetResult(int res, int id);

private slots:
    void on_btnSerialOpen_clicked();
    void on_SerialPortSelect_currentIndexChanged(int index);
    void on_BandSelect_currentIndexChanged(int index);
    void on_lineSensorSum_editingFinished();
    void on_SampleFreSelect_currentIndexChanged(int index);
    void on_InfoTypeSelect_currentIndexChanged(int index);
    void portOpenFailed();
    void on_btnGraphic_clicked(bool checked);
    void on_actDemarcate_clicked();
    void on_btnCalibration_clicked();
    void on_pushRecord_clicked();
    void on_actReplay_triggered();
    void on_actAutoReconnect_toggled(bool checked);
    void on_actMqtt_triggered();
    void on_actAnalysis_triggered();
    void portBack(const QString &path);
    void showLinkHealth();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void scanPorts();
    void readInfoType();
    void shutdown();
    bool finishModalEpisodes();
    void showToolWindow(QWidget *window, int x, int y, const QString &title);
    void stopWaitingForPort();
    void reconnected();
    void showMqttState();

    Ui::MainWindow *ui = nullptr;
    int bandIndex = 0;
    int portIndex = -1;
    int sampleFreIndex = 0;
    int infoType = 0;
    int sensorSum = 6;
    QTimer *scanTimer = nullptr;
    QTimer *infoTypeTimer = nullptr;
    MySerialport *link = nullptr;
    QThread *linkThread = nullptr;
    CurveGraphic *curveGraphic = nullptr;
    Demarcate *demarcate = nullptr;
    Calibration *calibration = nullptr;
    RecordWindow *recordWindow = nullptr;
    // From the moment a close goes ahead: focus leaving a field then finishes nothing.
    bool closing = false;
    ReplayWindow *replayWindow = nullptr;
    FrameRouter *router = nullptr;
    AnalysisWindow *analysisWindow = nullptr;
    bool recoveryOffered = false;

    std::unique_ptr<Config> mainConfig;
    // What the user opened, so that a lost port is found and opened again the same way, and the
    // card given back the settings the user had.
    QString openedPort;
    int openedBaud = 0;
    PortIdentity openedIdentity;
    PortWatcher *portWatcher = nullptr;
    bool waitingForPort = false;
    bool reconnecting = false;
    bool applyingFrequency = false;
    bool applyingInfoType = false;
    int wantedFreIndex = -1;
    int wantedInfoType = 0;
    int outages = 0;

    // Counts of the link's earlier openings since the user opened it; the link counts its own.
    LinkHealth healthBefore;
    quint64 lastDecoded = 0;
    QElapsedTimer healthClock;
    QTimer *healthTimer = nullptr;
    QLabel *labLinkHealth = nullptr;
    QLabel *labMqtt = nullptr;

    MqttPublisher *mqtt = nullptr;
    MqttDialog *mqttDialog = nullptr;
};

// Serial port names to offer: the system's ports, preceded by the existing paths listed in
// TACTILON_EXTRA_PORTS (colon-separated), which is how pseudo-terminals such as the simulated
// card are offered, since the system's port list never includes them.
QStringList availablePortNames();
