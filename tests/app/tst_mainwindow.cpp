#include "curvegraphic.h"
#include "debugcapture.h"
#include "fakelink.h"
#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "myserialport.h"
#include "ptycardserver.h"
#include "ptypair.h"
#include "recordformat.h"
#include "recordingsession.h"
#include "recordwindow.h"
#include "scriptedcard.h"
#include "tempfolder.h"
#include "userinput.h"

#include <QAction>
#include <QComboBox>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

// Opens the main window's link on the pty and plays the card's answer to the frequency read.
void openOnPty(MainWindow &w, PtyPair &pty, int freIndex)
{
    auto *ports = child<QComboBox>(w, "SerialPortSelect");
    QTRY_VERIFY(ports->findText(pty.slavePath()) >= 0);
    ports->setCurrentIndex(ports->findText(pty.slavePath()));
    QTest::mouseClick(child<QPushButton>(w, "btnSerialOpen"), Qt::LeftButton);
    QCOMPARE(pty.read(4), hex("A502842B"));
    pty.write(cardFrame(0x84, QByteArray(1, char(freIndex))));
    QTRY_COMPARE(w.deviceLink()->freIndex(), freIndex);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void startsClosedWithFilledLists();
    void openWithoutPortsSaysSoAndSendsNothing();
    void rejectsSensorCountOutsideRange_data();
    void rejectsSensorCountOutsideRange();
    void showsSettingResults_data();
    void showsSettingResults();
    void resultsAfterShutdownAreIgnored_data();
    void resultsAfterShutdownAreIgnored();
    void portScanFollowsTheNumberOfPorts();
    void failedOpenIsReportedThenFrequencyReadFails();
    void cardStreamingTimeStampsIsShownAsDemarcatedData();
    void choosingFrequencySendsItOnlyWhenOpen();
    void cardHangUpClosesThePanel();
    void lostCardIsAwaitedAndOpenedAgain_data();
    void lostCardIsAwaitedAndOpenedAgain();
    void recordingGoesOnAcrossAnOutage();
    void closingWhileOpenStopsTheLinkThread();

private:
    QByteArray m_extraPorts;
    TemporaryWorkingFolder m_folder; // Mainconfig.ini and the others stay with this test
};

void TestMainWindow::init()
{
    qunsetenv("TACTILON_EXTRA_PORTS");
    QFile::remove("Mainconfig.ini"); // each test starts as on a first run
}

void TestMainWindow::startsClosedWithFilledLists()
{
    MainWindow w;
    QCOMPARE(child<QLabel>(w, "txtVersion")->text(), QString("Version:1.7.01 "));
    auto *baud = child<QComboBox>(w, "BandSelect");
    QCOMPARE(baud->count(), 3);
    QCOMPARE(baud->itemText(2), QString("921600"));
    QCOMPARE(baud->currentIndex(), 0);
    auto *fre = child<QComboBox>(w, "SampleFreSelect");
    QCOMPARE(fre->count(), 5);
    QCOMPARE(fre->itemText(4), QString("200"));
    QCOMPARE(child<QComboBox>(w, "InfoTypeSelect")->itemText(1), QString("源数据"));
    QCOMPARE(child<QPushButton>(w, "btnSerialOpen")->text(), QString("打开"));
    QVERIFY(!fre->isEnabled());
    QVERIFY(baud->isEnabled());
    QCOMPARE(child<QLineEdit>(w, "lineSensorSum")->text(), QString("6"));
    QCOMPARE(w.sensorCount(), 6);
    QCOMPARE(w.width(), 450);
}

void TestMainWindow::openWithoutPortsSaysSoAndSendsNothing()
{
    MainWindow w;
    QSignalSpy opened(&w, &MainWindow::serialOpen);
    child<QComboBox>(w, "SerialPortSelect")->clear();
    ModalDialogHelper dialogs;
    QTest::mouseClick(child<QPushButton>(w, "btnSerialOpen"), Qt::LeftButton);
    QVERIFY(dialogs.waitForCount(1));
    QCOMPARE(dialogs.records().first(), (DialogRecord{"critical", "错误信息", "没有检测到串口"}));
    QCOMPARE(opened.count(), 0);
}

void TestMainWindow::rejectsSensorCountOutsideRange_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0") << "0" << false;
    QTest::newRow("17") << "17" << false;
    QTest::newRow("abc") << "abc" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("16") << "16" << true;
    QTest::newRow("1") << "1" << true;
}

void TestMainWindow::rejectsSensorCountOutsideRange()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    MainWindow w;
    ModalDialogHelper dialogs;
    auto *edit = child<QLineEdit>(w, "lineSensorSum");
    typeInto(edit, text);
    if (accepted) {
        QTest::qWait(60);
        QCOMPARE(dialogs.count(), 0);
        QCOMPARE(w.sensorCount(), text.toInt());
    } else {
        QVERIFY(dialogs.waitForCount(1));
        QCOMPARE(dialogs.records().first(), (DialogRecord{"warning", "提示", "允许输入范围：1~16"}));
        QCOMPARE(edit->text(), QString("1"));
        QCOMPARE(w.sensorCount(), 6);
    }
}

void TestMainWindow::showsSettingResults_data()
{
    QTest::addColumn<int>("option");
    QTest::addColumn<int>("res");
    QTest::addColumn<int>("param");
    QTest::addColumn<bool>("dataType");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("frequency set") << 1 << 0 << 0 << false << "information" << "提示" << "采样频率设置成功";
    QTest::newRow("frequency refused") << 1 << 1 << 0 << false << "information" << "提示" << "采样频率设置失败";
    QTest::newRow("frequency timeout") << 1 << -1 << 0 << false << "information" << "提示" << "通信超时";
    QTest::newRow("frequency status 2") << 1 << 2 << 0 << false << "information" << "提示" << "通信超时";
    QTest::newRow("frequency read failed") << 0 << -1 << -1 << false << "critical" << "错误信息"
                                           << "获取驱动卡采样频率失败";
    QTest::newRow("frequency index out of range") << 0 << 0 << 5 << false << "critical" << "错误信息"
                                                  << "获取驱动卡采样频率失败";
    QTest::newRow("unknown option") << 5 << 0 << 0 << false << "" << "" << "";
    QTest::newRow("data type set") << 0 << 0 << 1 << true << "information" << "提示" << "数据类型设置成功";
    QTest::newRow("data type failed") << -1 << -1 << 1 << true << "information" << "提示" << "数据类型设置失败";
    QTest::newRow("record window's data type") << 0 << 0 << 0 << true << "" << "" << "";
}

// For data-type rows, `res` is the result and `param` the requester id.
void TestMainWindow::showsSettingResults()
{
    QFETCH(int, option);
    QFETCH(int, res);
    QFETCH(int, param);
    QFETCH(bool, dataType);
    QFETCH(QString, kind);
    QFETCH(QString, title);
    QFETCH(QString, text);
    MainWindow w;
    ModalDialogHelper dialogs;
    w.graphWindow()->setDataMode(7); // only a data type the card confirmed to us reaches it
    if (dataType)
        QMetaObject::invokeMethod(&w, "InfoTypeSetResult", Qt::QueuedConnection, Q_ARG(int, res), Q_ARG(int, param));
    else
        QMetaObject::invokeMethod(&w, "SampleFreResult", Qt::QueuedConnection, Q_ARG(int, option), Q_ARG(int, res),
                                  Q_ARG(int, param));
    if (kind.isEmpty()) {
        QTest::qWait(100);
        QCOMPARE(dialogs.count(), 0);
    } else {
        QVERIFY(dialogs.waitForCount(1));
        QCOMPARE(dialogs.records().first(), (DialogRecord{kind, title, text}));
    }
    QCOMPARE(w.graphWindow()->dataMode(), dataType && res == 0 && param == 1 ? 0 : 7);
}

void TestMainWindow::resultsAfterShutdownAreIgnored_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::newRow("frequency read") << "SampleFreResult" << 0 << 0 << 3;
    QTest::newRow("frequency set") << "SampleFreResult" << 1 << 0 << 0;
    QTest::newRow("data type set") << "InfoTypeSetResult" << 0 << 1 << 0;
    QTest::newRow("port lost") << "serialPortLostHandle" << 0 << 0 << 0;
    QTest::newRow("open failed") << "portOpenFailed" << 0 << 0 << 0;
}

// The link's results were queued before the close; they arrive with everything released.
void TestMainWindow::resultsAfterShutdownAreIgnored()
{
    QFETCH(QString, slot);
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    MainWindow w;
    w.show();
    QVERIFY(w.close());
    ModalDialogHelper dialogs;
    const QByteArray name = slot.toLatin1();
    if (slot == "SampleFreResult")
        QMetaObject::invokeMethod(&w, name, Qt::QueuedConnection, Q_ARG(int, a), Q_ARG(int, b), Q_ARG(int, c));
    else if (slot == "InfoTypeSetResult")
        QMetaObject::invokeMethod(&w, name, Qt::QueuedConnection, Q_ARG(int, a), Q_ARG(int, b));
    else
        QMetaObject::invokeMethod(&w, name, Qt::QueuedConnection);
    QTest::qWait(700); // past the data-type read a frequency result would start
    QCOMPARE(dialogs.count(), 0);
}

void TestMainWindow::portScanFollowsTheNumberOfPorts()
{
    // A port replaced by another keeps the count and is not picked up; one more is.
    QTemporaryDir dir;
    const QString a = dir.filePath("ttyA"), b = dir.filePath("ttyB");
    for (const QString &path : {a, b}) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    qputenv("TACTILON_EXTRA_PORTS", a.toLocal8Bit());
    MainWindow w;
    auto *ports = child<QComboBox>(w, "SerialPortSelect");
    QCOMPARE(ports->itemText(0), a);
    const int count = ports->count();
    qputenv("TACTILON_EXTRA_PORTS", b.toLocal8Bit());
    QTest::qWait(2500); // one scan at least
    QCOMPARE(ports->itemText(0), a);
    qputenv("TACTILON_EXTRA_PORTS", (a + ":" + b).toLocal8Bit());
    QTRY_COMPARE_WITH_TIMEOUT(ports->count(), count + 1, 5000);
    QCOMPARE(ports->itemText(1), b);
    qputenv("TACTILON_EXTRA_PORTS", b.toLocal8Bit());
    QTRY_COMPARE_WITH_TIMEOUT(ports->count(), count, 5000);
    QCOMPARE(ports->itemText(0), b);
}

void TestMainWindow::failedOpenIsReportedThenFrequencyReadFails()
{
    // A path that exists but is no serial port: listed, and the open fails.
    QTemporaryDir dir;
    const QString fake = dir.filePath("ttyFAKE");
    QFile file(fake);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("TACTILON_EXTRA_PORTS", fake.toLocal8Bit());

    MainWindow w;
    auto *ports = child<QComboBox>(w, "SerialPortSelect");
    QCOMPARE(ports->itemText(0), fake);
    QCOMPARE(ports->currentIndex(), 0);
    ModalDialogHelper dialogs;
    QSignalSpy opened(&w, &MainWindow::serialOpen);
    QTest::mouseClick(child<QPushButton>(w, "btnSerialOpen"), Qt::LeftButton);
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.first(), (QList<QVariant>{fake, 115200})); // the baud rate shown at start
    QVERIFY(dialogs.waitForCount(1));
    QCOMPARE(dialogs.records().at(0), (DialogRecord{"critical", "错误信息", "串口打开失败"}));
    QVERIFY(dialogs.waitForCount(2, 6000));
    QCOMPARE(dialogs.records().at(1), (DialogRecord{"critical", "错误信息", "获取驱动卡采样频率失败"}));
    QCOMPARE(child<QPushButton>(w, "btnSerialOpen")->text(), QString("打开"));
}

void TestMainWindow::cardStreamingTimeStampsIsShownAsDemarcatedData()
{
    PtyPair pty;
    qputenv("TACTILON_EXTRA_PORTS", pty.slavePath().toLocal8Bit());
    MainWindow w;
    ModalDialogHelper dialogs;
    DebugCapture capture;
    auto *type = child<QComboBox>(w, "InfoTypeSelect");
    type->setCurrentIndex(1); // row 1 while closed: nothing is sent
    openOnPty(w, pty, 0);
    QElapsedTimer sinceFrequency;
    sinceFrequency.start();
    pty.write(cardFrame(0x02, be32(1000) + QByteArray(6, 0)));
    // Found streaming type 2 while row 1 was shown: row 0 is selected and type 0 is sent, by the
    // data-type read half a second after the frequency answer.
    QTRY_COMPARE(type->currentIndex(), 0);
    QCOMPARE(pty.read(5), cardFrame(0x82, hex("00")));
    QVERIFY2(sinceFrequency.elapsed() >= 400, qPrintable(QString::number(sinceFrequency.elapsed())));
    pty.write(cardFrame(0x82, hex("00")));
    QVERIFY(dialogs.waitForCount(1));
    QCOMPARE(dialogs.records().first(), (DialogRecord{"information", "提示", "数据类型设置成功"}));
    QTest::qWait(1100); // a read repeating every 500 ms would have run twice more by now
    QCOMPARE(capture.withPrefix("infotype=").size(), 1);
}

void TestMainWindow::choosingFrequencySendsItOnlyWhenOpen()
{
    PtyPair pty;
    qputenv("TACTILON_EXTRA_PORTS", pty.slavePath().toLocal8Bit());
    MainWindow w;
    QSignalSpy requested(&w, &MainWindow::setSampleFre);
    auto *fre = child<QComboBox>(w, "SampleFreSelect");
    fre->setCurrentIndex(2); // closed: only the combo box changes
    QCOMPARE(requested.count(), 0);

    ModalDialogHelper dialogs;
    openOnPty(w, pty, 1);
    QTRY_COMPARE(fre->currentIndex(), 1);
    QCOMPARE(requested.count(), 0); // the card's own index is not sent back
    fre->setCurrentIndex(4);
    QCOMPARE(requested.count(), 1);
    QCOMPARE(pty.read(5), cardFrame(0x83, hex("04")));
    pty.write(cardFrame(0x83, hex("00")));
    QVERIFY(dialogs.waitForCount(1));
    QCOMPARE(dialogs.records().first(), (DialogRecord{"information", "提示", "采样频率设置成功"}));
}

void TestMainWindow::cardHangUpClosesThePanel()
{
    PtyPair pty;
    qputenv("TACTILON_EXTRA_PORTS", pty.slavePath().toLocal8Bit());
    MainWindow w;
    w.findChild<QAction *>("actAutoReconnect")->trigger(); // a person answers a lost port
    ModalDialogHelper dialogs;
    auto *baud = child<QComboBox>(w, "BandSelect");
    baud->setFocus();
    QTest::keyClick(baud, Qt::Key_Down);
    QSignalSpy opened(&w, &MainWindow::serialOpen);
    openOnPty(w, pty, 0);
    QCOMPARE(opened.first().at(1).toInt(), 460800);
    QTRY_COMPARE(child<QPushButton>(w, "btnSerialOpen")->text(), QString("关闭"));
    pty.closeMaster();
    QVERIFY(dialogs.waitForCount(1));
    QCOMPARE(dialogs.records().first(), (DialogRecord{"critical", "错误信息", "串口丢失"}));
    QTRY_COMPARE(child<QPushButton>(w, "btnSerialOpen")->text(), QString("打开"));
    QTRY_VERIFY(!w.deviceLink()->isPortOpen());
    QVERIFY(child<QComboBox>(w, "SerialPortSelect")->isEnabled());
    QTest::qWait(200);
    QCOMPARE(dialogs.count(), 1);
}

// The card at a path of its own, as a udev rule or the simulated card's link gives it.
struct CardAtPath
{
    explicit CardAtPath(const QString &path, quint32 seed, int sensors = 4)
        : server(seed)
    {
        server.card().setSensorCount(sensors);
        server.setLinkPath(path);
        if (!server.start())
            qFatal("no pseudo-terminal");
    }
    PtyCardServer server;
};

void TestMainWindow::lostCardIsAwaitedAndOpenedAgain_data()
{
    QTest::addColumn<QString>("user"); // what the user does while the card is away
    QTest::newRow("waits, then the card is back") << "waits";
    QTest::newRow("presses 关闭 while it waits") << "gives up";
    QTest::newRow("reconnecting switched off") << "switched off";
}

void TestMainWindow::lostCardIsAwaitedAndOpenedAgain()
{
    QFETCH(QString, user);
    const QString path = m_folder.filePath("card");
    auto first = std::make_unique<CardAtPath>(path, 3);
    qputenv("TACTILON_EXTRA_PORTS", path.toLocal8Bit());
    auto w = std::make_unique<MainWindow>();
    w->show();
    QAction *autoReconnect = w->findChild<QAction *>("actAutoReconnect");
    QVERIFY(autoReconnect->isChecked()); // by default
    if (user == "switched off") {
        autoReconnect->trigger();
        // Remembered for the next start.
        w.reset(new MainWindow);
        w->show();
        autoReconnect = w->findChild<QAction *>("actAutoReconnect");
        QVERIFY(!autoReconnect->isChecked());
        QCOMPARE(QSettings("Mainconfig.ini", QSettings::IniFormat).value("Mainconfig/autoReconnect").toBool(), false);
    }
    ModalDialogHelper dialogs;
    auto *ports = child<QComboBox>(*w, "SerialPortSelect");
    QTRY_VERIFY(ports->findText(path) >= 0);
    ports->setCurrentIndex(ports->findText(path));
    QTest::mouseClick(child<QPushButton>(*w, "btnSerialOpen"), Qt::LeftButton);
    QTRY_VERIFY(w->deviceLink()->isPortOpen());
    // The user's settings: 200 Hz and source data.
    QTRY_COMPARE(child<QComboBox>(*w, "SampleFreSelect")->currentText(), QString("50"));
    child<QComboBox>(*w, "SampleFreSelect")->setCurrentIndex(4);
    QVERIFY(dialogs.waitForCount(1));
    child<QComboBox>(*w, "InfoTypeSelect")->setCurrentIndex(1);
    QVERIFY(dialogs.waitForCount(2));
    QCOMPARE(first->server.card().freIndex(), 4);
    QCOMPARE(first->server.card().dataType(), 1);
    auto *health = child<QLabel>(*w, "labLinkHealth");
    QTRY_VERIFY(QRegularExpression("^接收 \\d+ 帧/秒 · 校验错误 0 · 丢弃 \\d+ 字节 · 断线 0 次$").match(health->text()).hasMatch());

    first.reset(); // unplugged
    auto *open = child<QPushButton>(*w, "btnSerialOpen");
    if (user == "switched off") {
        QVERIFY(dialogs.waitForCount(3));
        QCOMPARE(dialogs.records().last(), (DialogRecord{"critical", "错误信息", "串口丢失"}));
        QTRY_COMPARE(open->text(), QString("打开"));
    } else {
        // No box waits for a person: the status bar says what happens.
        QTRY_COMPARE(w->statusBar()->currentMessage(), QString("串口丢失，等待重连…"));
        QVERIFY(w->isWaitingForPort());
        QCOMPARE(open->text(), QString("关闭"));
        QTRY_VERIFY(!w->deviceLink()->isPortOpen());
        QVERIFY(w->graphWindow()->isStopped());
    }
    if (user == "gives up") {
        QTest::mouseClick(open, Qt::LeftButton);
        QCOMPARE(open->text(), QString("打开"));
        QVERIFY(!w->isWaitingForPort());
    }

    // Another card, with its defaults, on the same path.
    CardAtPath second(path, 4);
    if (user != "waits") {
        QTest::qWait(1500); // longer than the tool takes to see it
        QVERIFY(!w->deviceLink()->isPortOpen());
        QCOMPARE(dialogs.count(), user == "switched off" ? 3 : 2);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(w->deviceLink()->isPortOpen(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(w->statusBar()->currentMessage(), QString("已重连（断线 1 次）"), 10000);
    QTRY_COMPARE(second.server.card().freIndex(), 4);
    QTRY_COMPARE(second.server.card().dataType(), 1);
    QVERIFY(!w->graphWindow()->isStopped());
    QCOMPARE(child<QComboBox>(*w, "SampleFreSelect")->currentText(), QString("200"));
    QCOMPARE(child<QComboBox>(*w, "InfoTypeSelect")->currentIndex(), 1);
    QTRY_VERIFY(health->text().endsWith("断线 1 次"));
    QCOMPARE(dialogs.count(), 2);
}

void TestMainWindow::recordingGoesOnAcrossAnOutage()
{
    const QString path = m_folder.filePath("card");
    auto first = std::make_unique<CardAtPath>(path, 5, 16);
    qputenv("TACTILON_EXTRA_PORTS", path.toLocal8Bit());
    MainWindow w;
    w.show();
    ModalDialogHelper dialogs;
    auto *ports = child<QComboBox>(w, "SerialPortSelect");
    QTRY_VERIFY(ports->findText(path) >= 0);
    ports->setCurrentIndex(ports->findText(path));
    QTest::mouseClick(child<QPushButton>(w, "btnSerialOpen"), Qt::LeftButton);
    QTRY_COMPARE(child<QComboBox>(w, "SampleFreSelect")->currentText(), QString("50"));
    child<QComboBox>(w, "SampleFreSelect")->setCurrentIndex(4);
    QVERIFY(dialogs.waitForCount(1));
    RecordWindow *record = w.recordingWindow();
    QTest::mouseClick(child<QPushButton>(w, "pushRecord"), Qt::LeftButton);
    QTest::mouseClick(record->findChild<QPushButton *>("btnRecordStart"), Qt::LeftButton);
    QTRY_COMPARE(record->recordingState(), 1);
    QTRY_VERIFY(record->session()->rowCount() >= 200);

    // The card vanishes, and two seconds later another one, with its defaults, is at the path.
    const qint64 lostAt = first->server.nowMs();
    first->server.vanish();
    QTRY_VERIFY(w.isWaitingForPort());
    QTest::qWait(2000);
    QList<SimStreamRecord> before;
    for (const SimStreamRecord &r : first->server.card().streamLog())
        if (r.type == 2 && r.atMs <= lostAt)
            before.append(r);
    first.reset();
    CardAtPath second(path, 6, 16);
    auto stamped = [&second] {
        QList<SimStreamRecord> out;
        for (const SimStreamRecord &r : second.server.card().streamLog())
            if (r.type == 2)
                out.append(r);
        return out;
    };
    QTRY_VERIFY_WITH_TIMEOUT(stamped().size() >= 200, 20000);
    QCOMPARE(second.server.card().freIndex(), 4); // the user's frequency again
    QCOMPARE(record->recordingState(), 1);
    auto *outages = record->findChild<QLabel *>("labOutages");
    QVERIFY(outages->isVisible());
    QVERIFY2(QRegularExpression("^中断 1 次，共 \\d+\\.\\d 秒$").match(outages->text()).hasMatch(), qPrintable(outages->text()));
    QTest::mouseClick(record->findChild<QPushButton *>("btnRecordStop"), Qt::LeftButton);
    QTRY_COMPARE(record->recordingState(), 0);

    // One recording, one journal: the first card's rows up to the loss, then every frame the
    // second card sent after its clock was set, none twice, field 1 never back, the gap between.
    const QByteArray rows = record->session()->rows();
    QList<QByteArray> lines = rows.split('\n');
    lines.removeLast();
    const QList<SimStreamRecord> after = stamped();
    QVERIFY(lines.size() > after.size() + 100);
    const uint start = record->session()->startTime();
    auto rowOf = [start](const SimStreamRecord &r) {
        QList<Sample> samples;
        for (const SimSample &s : r.samples)
            samples.append({s.x, s.y, s.z});
        return expectedRow(msSinceStart(r.timeStamp, start), r.timeStamp, samples).chopped(1);
    };
    const qsizetype firstPart = lines.size() - after.size();
    for (qsizetype i = 0; i < firstPart; ++i)
        QCOMPARE(lines[i], rowOf(before[i]));
    QVERIFY(firstPart >= before.size() - 20); // what was on the line when it went may be lost
    for (qsizetype i = 0; i < after.size(); ++i)
        QCOMPARE(lines[firstPart + i], rowOf(after[i]));
    uint previous = 0;
    for (const QByteArray &line : lines) {
        const uint fieldOne = line.split(',').first().toUInt();
        QVERIFY(fieldOne >= previous);
        previous = fieldOne;
    }
    const uint gap = msSinceStart(after.first().timeStamp, start) - msSinceStart(before[firstPart - 1].timeStamp, start);
    QVERIFY2(gap >= 2000, qPrintable(QString::number(gap)));
    QCOMPARE(record->session()->outageCount(), 1);
    QCOMPARE(record->session()->lostMs(), qint64(gap));
    QCOMPARE(dialogs.count(), 1);
}

void TestMainWindow::closingWhileOpenStopsTheLinkThread()
{
    PtyPair pty;
    qputenv("TACTILON_EXTRA_PORTS", pty.slavePath().toLocal8Bit());
    MainWindow w;
    w.show();
    openOnPty(w, pty, 0);
    QTRY_VERIFY(w.deviceLink()->isPortOpen());
    QThread *thread = w.deviceLinkThread();
    QSignalSpy finished(thread, &QThread::finished);
    QVERIFY(w.close());
    QCOMPARE(finished.count(), 1); // close returned only after the link thread had finished
    QCOMPARE(w.deviceLinkThread(), nullptr);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
