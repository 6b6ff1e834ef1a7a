// The tool and tactilon-record publishing what they take from the card, to Debian's broker.
#include "fakelink.h"
#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "mosquittobroker.h"
#include "mqttdialog.h"
#include "mqttpublisher.h"
#include "myserialport.h"
#include "ptycardserver.h"
#include "recordformat.h"
#include "recordingsession.h"
#include "recordwindow.h"
#include "tempfolder.h"
#include "userinput.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <csignal>

namespace {

constexpr int LongWaitMs = 20000;

QJsonObject json(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

// Each message's raw values are the next frames of the card's, in order and none twice; returns
// how many messages matched so.
int matchInOrder(const QList<MqttMessage> &messages, const QList<SimStreamRecord> &sent)
{
    qsizetype next = 0;
    qint64 lastSeq = 0;
    int matched = 0;
    for (const MqttMessage &m : messages) {
        const QJsonObject o = json(m.payload);
        if (o["seq"].toInteger() <= lastSeq)
            return matched; // back or twice
        lastSeq = o["seq"].toInteger();
        const QJsonArray raw = o["raw"].toArray();
        while (next < sent.size()) {
            const SimStreamRecord &r = sent[next++];
            QJsonArray expected;
            for (const SimSample &s : r.samples)
                expected << s.x << s.y << s.z;
            if (expected == raw) {
                ++matched;
                break;
            }
        }
    }
    return matched;
}

} // namespace

class TestPublishTool : public QObject
{
    Q_OBJECT

private slots:
    void toolPublishesAndRecordsThroughABrokerOutage();
    void recorderPublishesWithAndWithoutAFile_data();
    void recorderPublishesWithAndWithoutAFile();
};

void TestPublishTool::toolPublishesAndRecordsThroughABrokerOutage()
{
    TemporaryWorkingFolder folder;
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub;
    QVERIFY(sub.subscribe(broker.port(), "station1/#"));
    const QString path = folder.filePath("card");
    PtyCardServer card(5);
    card.card().setSensorCount(16);
    card.card().receive(cardFrame(0x83, QByteArray(1, 4)), 0); // 200 Hz
    card.card().takeOutput();
    QVERIFY(card.setLinkPath(path) && card.start());
    qputenv("TACTILON_EXTRA_PORTS", path.toLocal8Bit());
    MainWindow w;
    w.show();

    // 通信 → MQTT 发布…: the user ticks publishing and names the broker.
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<MqttDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QString("MQTT 发布"));
        typeInto(dialog->findChild<QLineEdit *>("lineMqttHost"), "127.0.0.1", false);
        typeInto(dialog->findChild<QLineEdit *>("lineMqttTopic"), "station1", false);
        QSpinBox *port = dialog->findChild<QSpinBox *>("spinMqttPort");
        port->selectAll();
        QTest::keyClicks(port, QString::number(broker.port()));
        QTest::mouseClick(dialog->findChild<QCheckBox *>("chkMqttEnable"), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    w.findChild<QAction *>("actMqtt")->trigger();
    auto *state = w.findChild<QLabel *>("labMqtt");
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QString("MQTT 已连接"), LongWaitMs);

    auto *ports = w.findChild<QComboBox *>("SerialPortSelect");
    ports->setCurrentIndex(ports->findText(path));
    QTest::mouseClick(w.findChild<QPushButton *>("btnSerialOpen"), Qt::LeftButton);
    QTRY_VERIFY(w.deviceLink()->isPortOpen());
    RecordWindow *record = w.recordingWindow();
    ModalDialogHelper dialogs;
    record->findChild<QPushButton *>("btnRecordStart")->click();
    QTRY_COMPARE(record->recordingState(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(sub.count("station1/frames") >= 300, LongWaitMs);

    // The broker goes for two seconds: the tool takes every frame all the same.
    broker.stop();
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QString("MQTT 未连接"), LongWaitMs);
    QTest::qWait(2000);
    QVERIFY(broker.start());
    QTRY_COMPARE_WITH_TIMEOUT(state->text(), QString("MQTT 已连接"), LongWaitMs);
    const int before = sub.count("station1/frames");
    QTRY_VERIFY_WITH_TIMEOUT(sub.count("station1/frames") >= before + 300, LongWaitMs);
    record->findChild<QPushButton *>("btnRecordStop")->click();
    QTRY_COMPARE(record->recordingState(), 0);
    card.card().setStreaming(false);
    QTest::qWait(300);

    QList<SimStreamRecord> stamped;
    for (const SimStreamRecord &r : card.card().streamLog())
        if (r.type == 2)
            stamped.append(r);
    QCOMPARE(record->session()->rowCount(), stamped.size()); // the recording lost nothing
    MqttPublisher *mqtt = w.publisher();
    const quint64 decoded = w.deviceLink()->health().framesDecoded;
    // Every sample frame the link took, published or counted as not: all frames but the answers
    // (the frequency was set before the link was there).
    QTRY_COMPARE(mqtt->published() + mqtt->dropped(), decoded - quint64(card.card().commandLog().size() - 1));
    QVERIFY(mqtt->dropped() > 0);
    const QList<MqttMessage> frames = sub.messages("station1/frames");
    QCOMPARE(matchInOrder(frames, card.card().streamLog()), frames.size());

    // The retained status says where the station stands.
    MqttSubscriber late;
    QVERIFY(late.subscribe(broker.port(), "station1/status"));
    QVERIFY(late.waitForCount(1, "station1/status"));
    const QJsonObject status = json(late.messages("station1/status").first().payload);
    QVERIFY(late.messages("station1/status").first().retained);
    QCOMPARE(status["online"].toBool(), true);
    QCOMPARE(status["port"].toString(), path);
    QCOMPARE(status["link"].toString(), QString("open"));
    QCOMPARE(status["recording"].toBool(), false);
    QVERIFY(status["checksum_errors"].toInteger(-1) == 0 && status["outages"].toInteger(-1) == 0);
    dialogs.answerNext(QMessageBox::Yes); // not exported, and closed all the same
    QVERIFY(w.close());
    QTRY_COMPARE(json(late.messages("station1/status").last().payload), json("{\"online\":false}"));

    // Publishing was on when the tool closed: the next start publishes again by itself, and so
    // does a tool taken down without closing.
    {
        MainWindow again;
        QTRY_COMPARE_WITH_TIMEOUT(again.findChild<QLabel *>("labMqtt")->text(), QString("MQTT 已连接"), LongWaitMs);
        QTRY_COMPARE(json(late.messages("station1/status").last().payload)["online"].toBool(), true);
    }
    QTRY_COMPARE(json(late.messages("station1/status").last().payload), json("{\"online\":false}"));

    // The tool killed outright, in a process of its own: the broker gives its last will.
    QProcess tool;
    tool.setWorkingDirectory(folder.path()); // where publishing is remembered
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", folder.filePath("child-data"));
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QCoreApplication::applicationFilePath(), {"--tool"});
    QTRY_VERIFY_WITH_TIMEOUT(json(late.messages("station1/status").last().payload)["online"].toBool(), LongWaitMs);
    ::kill(pid_t(tool.processId()), SIGKILL);
    QVERIFY(tool.waitForFinished(LongWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(json(late.messages("station1/status").last().payload), json("{\"online\":false}"),
                              LongWaitMs);
}

void TestPublishTool::recorderPublishesWithAndWithoutAFile_data()
{
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<bool>("brokerLate");
    QTest::newRow("a bridge from the card to the broker") << false << false;
    QTest::newRow("recording and publishing") << true << false;
    QTest::newRow("the broker comes after the start") << true << true;
}

void TestPublishTool::recorderPublishesWithAndWithoutAFile()
{
    QFETCH(bool, withFile);
    QFETCH(bool, brokerLate);
    TemporaryWorkingFolder folder;
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    MqttSubscriber sub;
    QVERIFY(sub.subscribe(broker.port(), "rig/#"));
    PtyCardServer card(7);
    card.card().setSensorCount(16);
    QVERIFY(card.start());
    QStringList args{"--port", card.slavePath(), "--frequency", "200", "--mqtt-host", "127.0.0.1", "--mqtt-port",
                     QString::number(broker.port()), "--mqtt-topic", "rig"};
    if (withFile)
        args << "--output" << folder.filePath("out.csv");
    QProcess recorder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TACTILON_RECORD_STOP_WAIT_MS", "10000"); // the card answers from this busy thread
    recorder.setProcessEnvironment(env);
    if (brokerLate)
        broker.stop(); // the subscriber comes back with it
    recorder.start(TACTILON_RECORD, args);
    QVERIFY(recorder.waitForStarted());
    if (brokerLate) {
        // Said on standard error, and the recording goes on meanwhile.
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += recorder.readAllStandardError()).contains("cannot reach the MQTT broker"),
                                 LongWaitMs);
        QVERIFY(broker.start());
    }
    QTRY_VERIFY_WITH_TIMEOUT(sub.count("rig/frames") >= 400, LongWaitMs);
    if (!withFile) {
        // A kill leaves the broker's last will: the station is offline.
        ::kill(pid_t(recorder.processId()), SIGKILL);
        QVERIFY(recorder.waitForFinished(LongWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(json(sub.messages("rig/status").last().payload), json("{\"online\":false}"),
                                  LongWaitMs);
        MqttSubscriber late;
        QVERIFY(late.subscribe(broker.port(), "rig/status"));
        QVERIFY(late.waitForCount(1, "rig/status"));
        QVERIFY(late.messages("rig/status").first().retained);
        QVERIFY(!QFile::exists(folder.filePath("out.csv")));
    } else {
        ::kill(pid_t(recorder.processId()), SIGINT);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.state() == QProcess::NotRunning, LongWaitMs);
        QVERIFY2(recorder.exitCode() == 0, recorder.readAllStandardError().constData());
    }
    QTest::qWait(200);
    card.card().setStreaming(false);
    QList<SimStreamRecord> stamped;
    for (const SimStreamRecord &r : card.card().streamLog())
        if (r.type == 2)
            stamped.append(r);
    QList<MqttMessage> frames;
    for (const MqttMessage &m : sub.messages("rig/frames"))
        if (json(m.payload)["type"].toInt() == 2)
            frames.append(m);
    QCOMPARE(matchInOrder(frames, stamped), frames.size());
    if (withFile) {
        QFile out(folder.filePath("out.csv"));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll().count('\n') - 1, stamped.size());
        QCOMPARE(json(sub.messages("rig/status").last().payload), json("{\"online\":false}")); // a normal end
    }
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--tool") == 0) {
        // The child: the tool as a user starts it, publishing as remembered, until it is killed.
        MainWindow w;
        w.show();
        return app.exec();
    }
    TestPublishTool test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_publishtool.moc"
