#include "calibration.h"
#include "curvegraphic.h"
#include "demarcate.h"
#include "fakelink.h"
#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "myserialport.h"
#include "ptycardserver.h"
#include "recordwindow.h"
#include "tempfolder.h"
#include "tooloncard.h"
#include "userinput.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QDir>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <utility>

namespace {

// Without a window manager nothing activates a window but the program itself.
bool activate(QWidget *window)
{
    if (!QTest::qWaitForWindowExposed(window))
        return false;
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

} // namespace

class TestFunctionPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void buttonsShowEachWindowOnceWhereTheTableSays_data();
    void buttonsShowEachWindowOnceWhereTheTableSays();
    void movedWindowStaysWhereTheUserPutIt();
    void sensorCountReachesWindowsInOrder();
    void openShowsTheCardsFrequencyAndSendsNothingBack();
    void graphFollowsLinkStateAndDataType();
    void graphTableShowsCardValues();
    void portLossStopsGraphBeforeTheMessage();
    void closingWithUnexportedRecordingAsks();
    void closingDuringAcquisitionEndsItFirst();
    void closingReleasesEveryWindowOnce();
    void closingWithUnfinishedInputEndsCleanly_data();
    void closingWithUnfinishedInputEndsCleanly();
    void cellWarningOutlivesTheEditor_data();
    void cellWarningOutlivesTheEditor();

private:
    TemporaryWorkingFolder m_dir;
};

void TestFunctionPanel::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestFunctionPanel::buttonsShowEachWindowOnceWhereTheTableSays_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("title");
    QTest::newRow("graph") << "btnGraphic" << "Graph";
    QTest::newRow("demarcation") << "actDemarcate" << "标定";
    QTest::newRow("calibration") << "btnCalibration" << "校准";
    QTest::newRow("record") << "pushRecord" << "记录";
}

void TestFunctionPanel::buttonsShowEachWindowOnceWhereTheTableSays()
{
    QFETCH(QString, button);
    QFETCH(QString, title);
    MainWindow w;
    QWidget *window = nullptr;
    if (button == "btnGraphic")
        window = w.graphWindow();
    else if (button == "actDemarcate")
        window = w.demarcateWindow();
    else if (button == "btnCalibration")
        window = w.calibrationWindow();
    else
        window = w.recordingWindow();
    QVERIFY(window->isHidden());

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(screen.size(), QSize(1920, 1080));
    const QSize size = window->size();
    QPoint expected;
    if (button == "btnGraphic")
        expected = {0, 0};
    else if (button == "actDemarcate")
        expected = {20, 540};
    else if (button == "btnCalibration")
        expected = {1920 - size.width() - 20, 540};
    else
        expected = {(1920 - size.width()) / 2, 50};
    if (button == "btnCalibration")
        QCOMPARE(expected, QPoint(1350, 540)); // a 550-wide window

    click(w, qPrintable(button));
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), title);
    QCOMPARE(window->geometry().topLeft(), expected);
    QCOMPARE(window->size(), size);
    click(w, qPrintable(button)); // shown: nothing happens
    QVERIFY(window->isVisible());
    QCOMPARE(window->geometry().topLeft(), expected);

    window->close(); // only hides
    window->move(300, 300);
    click(w, qPrintable(button));
    QVERIFY(window->isVisible());
    QCOMPARE(window->geometry().topLeft(), expected);
}

void TestFunctionPanel::movedWindowStaysWhereTheUserPutIt()
{
    MainWindow w;
    click(w, "btnGraphic");
    CurveGraphic *graph = w.graphWindow();
    graph->move(200, 150);
    QTRY_COMPARE(graph->geometry().topLeft(), QPoint(200, 150));
    click(w, "btnGraphic");
    QCOMPARE(graph->geometry().topLeft(), QPoint(200, 150));
}

void TestFunctionPanel::sensorCountReachesWindowsInOrder()
{
    MainWindow w;
    QStringList order;
    auto *demarcateSensors = child<QComboBox>(*w.demarcateWindow(), "sensorIdSelect");
    connect(demarcateSensors->model(), &QAbstractItemModel::rowsRemoved, this, [&] { order << "demarcate"; });
    connect(child<QListWidget>(*w.graphWindow(), "sensorList")->model(), &QAbstractItemModel::rowsRemoved, this,
            [&] { order << "graph"; });
    connect(child<QTableView>(*w.calibrationWindow(), "tableView")->model(), &QAbstractItemModel::rowsRemoved, this,
            [&] { order << "calibration"; });
    ModalDialogHelper dialogs;
    auto *edit = child<QLineEdit>(w, "lineSensorSum");
    typeInto(edit, "4");
    order.removeDuplicates();
    QCOMPARE(order, (QStringList{"demarcate", "graph", "calibration"}));
    QCOMPARE(demarcateSensors->count(), 4);
    QCOMPARE(w.graphWindow()->sensorNum(), 4u);
    QCOMPARE(child<QTableView>(*w.calibrationWindow(), "tableView")->model()->rowCount(), 4);

    order.clear();
    typeInto(edit, "40"); // rejected: nobody is told
    QVERIFY(dialogs.waitForCount(1));
    QVERIFY(order.isEmpty());
    QCOMPARE(w.graphWindow()->sensorNum(), 4u);
}

void TestFunctionPanel::openShowsTheCardsFrequencyAndSendsNothingBack()
{
    ToolOnCard tool;
    tool.server.card().receive(cardFrame(0x83, QByteArray(1, 3)), tool.server.nowMs());
    tool.server.card().takeOutput();
    const int before = tool.server.card().commandsReceived();
    ModalDialogHelper dialogs;
    QVERIFY(tool.open());
    QTRY_COMPARE(child<QPushButton>(*tool.window, "btnSerialOpen")->text(), QString("关闭"));
    QVERIFY(!child<QComboBox>(*tool.window, "SerialPortSelect")->isEnabled());
    QVERIFY(!child<QComboBox>(*tool.window, "BandSelect")->isEnabled());
    QTRY_COMPARE(child<QComboBox>(*tool.window, "SampleFreSelect")->currentText(), QString("100"));
    // Past the data-type read as well: the frequency request was all the card heard.
    QTest::qWait(800);
    QCOMPARE(tool.server.card().commandsReceived(), before + 1);
    QCOMPARE(tool.server.card().freIndex(), 3);
    QCOMPARE(dialogs.count(), 0);
}

void TestFunctionPanel::graphFollowsLinkStateAndDataType()
{
    ToolOnCard tool;
    CurveGraphic *graph = tool.window->graphWindow();
    QVERIFY(graph->isStopped());
    tool.server.card().receive(cardFrame(0x82, QByteArray(1, 2)), tool.server.nowMs());
    QVERIFY(tool.open());
    QTRY_VERIFY(!graph->isStopped());
    // The card streams type 2; after the one-shot read the graph is told type 0.
    graph->setDataMode(7);
    QTRY_COMPARE(graph->dataMode(), 0);

    ModalDialogHelper dialogs;
    child<QComboBox>(*tool.window, "InfoTypeSelect")->setCurrentIndex(1);
    QVERIFY(dialogs.waitForCount(1, 4000));
    QCOMPARE(dialogs.records().first(), (DialogRecord{"information", "提示", "数据类型设置成功"}));
    QCOMPARE(graph->dataMode(), 1);

    click(*tool.window, "btnSerialOpen"); // close
    QTRY_VERIFY(graph->isStopped());
}

void TestFunctionPanel::graphTableShowsCardValues()
{
    ToolOnCard tool;
    QVERIFY(tool.open());
    click(*tool.window, "btnGraphic");
    CurveGraphic *graph = tool.window->graphWindow();
    QTRY_VERIFY_WITH_TIMEOUT(graph->sampleCount() > 5, 3000);
    // Within a few refresh ticks the table holds the latest frame's values.
    QTest::qWait(100);
    QStandardItemModel *table = graph->tableModel();
    QCOMPARE(table->rowCount(), 6);
    bool filled = true;
    for (int row = 0; row < 6; ++row)
        for (int col = 1; col <= 3; ++col)
            filled = filled && table->item(row, col) && !table->item(row, col)->text().isEmpty();
    QVERIFY(filled);
}

void TestFunctionPanel::portLossStopsGraphBeforeTheMessage()
{
    ToolOnCard tool;
    tool.window->findChild<QAction *>("actAutoReconnect")->trigger(); // the message, not the waiting
    QVERIFY(tool.open());
    CurveGraphic *graph = tool.window->graphWindow();
    QTRY_VERIFY(!graph->isStopped());
    ModalDialogHelper dialogs;
    bool stoppedWhenShown = false;
    connect(&dialogs, &ModalDialogHelper::shown, this, [&] { stoppedWhenShown = graph->isStopped(); });
    // The link thread is slow to close the port, so the panel still reads it as open when the
    // message goes up: only the window's own stop can have stopped the graph by then.
    connect(tool.window->deviceLink(), &MySerialport::portLost, tool.window->deviceLink(),
            [] { QThread::msleep(300); }, Qt::DirectConnection);
    tool.server.vanish();
    QVERIFY(dialogs.waitForCount(1));
    QCOMPARE(dialogs.records().first(), (DialogRecord{"critical", "错误信息", "串口丢失"}));
    QVERIFY(stoppedWhenShown);
    QTRY_COMPARE(child<QPushButton>(*tool.window, "btnSerialOpen")->text(), QString("打开"));
}

void TestFunctionPanel::closingWithUnexportedRecordingAsks()
{
    ToolOnCard tool;
    QVERIFY(tool.open());
    RecordWindow *record = tool.window->recordingWindow();
    click(*tool.window, "pushRecord");
    QTest::mouseClick(child<QPushButton>(*record, "btnRecordStart"), Qt::LeftButton);
    QTRY_COMPARE(record->recordingState(), 1);
    QTRY_VERIFY(record->hasUnexportedRecording());

    ModalDialogHelper dialogs;
    dialogs.answerNext(QMessageBox::No);
    QVERIFY(!tool.window->close());
    QCOMPARE(dialogs.records().first(), (DialogRecord{"question", "提示", "记录数据尚未导出，确定退出吗?"}));
    QVERIFY(tool.window->isVisible());
    QVERIFY(tool.window->deviceLinkThread());

    dialogs.answerNext(QMessageBox::Yes);
    QVERIFY(tool.window->close());
    QCOMPARE(tool.window->deviceLinkThread(), nullptr);
}

void TestFunctionPanel::closingDuringAcquisitionEndsItFirst()
{
    ToolOnCard tool;
    QVERIFY(tool.open());
    click(*tool.window, "btnCalibration");
    QPointer<Calibration> calibration = tool.window->calibrationWindow();
    ModalDialogHelper dialogs;
    QTimer::singleShot(300, tool.window.get(), [&] { tool.window->close(); });
    QTest::mouseClick(child<QPushButton>(*calibration, "btnCheck"), Qt::LeftButton);
    // The acquisition was cancelled, its warning answered, and only then the tool closed.
    QTRY_COMPARE_WITH_TIMEOUT(tool.window->deviceLinkThread(), nullptr, 5000);
    QVERIFY(calibration.isNull());
    QCOMPARE(dialogs.records().first().kind, QString("progress"));
    QCOMPARE(dialogs.records().last(), (DialogRecord{"warning", "提示", "校准数据获取失败"}));
}

void TestFunctionPanel::closingReleasesEveryWindowOnce()
{
    auto *w = new MainWindow;
    w->show();
    QPointer<QWidget> windows[4] = {w->graphWindow(), w->demarcateWindow(), w->calibrationWindow(),
                                    w->recordingWindow()};
    for (const char *button : {"btnGraphic", "actDemarcate", "btnCalibration", "pushRecord"})
        click(*w, button);
    QVERIFY(w->close());
    for (const auto &window : windows)
        QVERIFY(window.isNull());
    delete w; // the destructor finds nothing left to release (ASan would see a double free)
}

void TestFunctionPanel::closingWithUnfinishedInputEndsCleanly_data()
{
    QTest::addColumn<QString>("button"); // the function-panel button of the window, empty: main
    QTest::addColumn<QString>("field");  // a line edit, or a table view whose cell (0, 1) is edited
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("toolWindowFirst"); // close the tool window before the main window
    QTest::newRow("sensor count in range") << "" << "lineSensorSum" << "8" << false;
    QTest::newRow("sensor count invalid") << "" << "lineSensorSum" << "abc" << false;
    QTest::newRow("single-point reading") << "actDemarcate" << "ltxtSingleDemarcateX" << "abc" << false;
    QTest::newRow("single-point pressure") << "actDemarcate" << "ltxtSinglePressure" << "40000" << true;
    QTest::newRow("demarcation write cell") << "actDemarcate" << "writeTable" << "abc" << false;
    QTest::newRow("demarcation write cell, window first") << "actDemarcate" << "writeTable" << "abc" << true;
    QTest::newRow("calibration cell") << "btnCalibration" << "tableView" << "abc" << false;
    QTest::newRow("calibration cell, window first") << "btnCalibration" << "tableView" << "abc" << true;
}

// The user types into a field and closes the main window without finishing the entry, or closes
// the field's tool window first.
void TestFunctionPanel::closingWithUnfinishedInputEndsCleanly()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, toolWindowFirst);
    auto *w = new MainWindow;
    w->show();
    QVERIFY(activate(w));
    QWidget *window = w;
    if (!button.isEmpty()) {
        click(*w, qPrintable(button));
        window = button == "actDemarcate" ? static_cast<QWidget *>(w->demarcateWindow()) : w->calibrationWindow();
        if (button == "actDemarcate" && field == "writeTable")
            child<QTabWidget>(*window, "tabWidget")->setCurrentIndex(0);
        QVERIFY(activate(window));
    }
    QWidget *target = nullptr;
    if (auto *table = window->findChild<QTableView *>(field)) {
        const QRect cell = table->visualRect(table->model()->index(0, 2));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTRY_VERIFY(table->viewport()->findChild<QLineEdit *>());
        target = table->viewport()->findChild<QLineEdit *>();
        target->setFocus();
    } else {
        target = child<QLineEdit>(*window, qPrintable(field));
        QTest::mouseClick(target, Qt::LeftButton);
    }
    QTRY_VERIFY(target->hasFocus());
    QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(target, text);

    ModalDialogHelper dialogs;
    QPointer<QWidget> demarcate = w->demarcateWindow();
    if (toolWindowFirst) {
        QAbstractItemModel *model = nullptr;
        if (auto *table = window->findChild<QTableView *>(field))
            model = table->model();
        const QString before = model ? model->index(0, 2).data().toString() : QString();
        window->close();
        QTest::qWait(100);
        QCOMPARE(dialogs.count(), 0);
        if (model)
            QCOMPARE(model->index(0, 2).data().toString(), before); // dropped, not stored
    }
    QVERIFY(w->close());
    QTest::qWait(200); // anything queued by the close runs now
    QCOMPARE(dialogs.count(), 0);
    QVERIFY(demarcate.isNull());
    QCOMPARE(w->sensorCount(), 6); // an unfinished entry is not applied
    delete w;
}

void TestFunctionPanel::cellWarningOutlivesTheEditor_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("warning");
    QTest::newRow("demarcation write cell") << "actDemarcate" << "writeTable" << 0 << 6 << "允许输入范围：-32767~32767";
    QTest::newRow("calibration cell") << "btnCalibration" << "tableView" << 5 << 2 << "允许输入范围：-32767~32767";
}

// A cell left with an out-of-range value is committed when the user goes to the main window; while
// its warning is up the sensor count shrinks and takes the cell's editor away.
void TestFunctionPanel::cellWarningOutlivesTheEditor()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, warning);
    MainWindow w;
    w.show();
    QVERIFY(activate(&w));
    click(w, qPrintable(button));
    QWidget *window = button == "actDemarcate" ? static_cast<QWidget *>(w.demarcateWindow()) : w.calibrationWindow();
    if (auto *tabs = window->findChild<QTabWidget *>("tabWidget"))
        tabs->setCurrentIndex(0);
    QVERIFY(activate(window));
    auto *table = child<QTableView>(*window, qPrintable(field));
    const QPoint at = table->visualRect(table->model()->index(row, column)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
    QTRY_VERIFY(table->viewport()->findChild<QLineEdit *>());
    QTest::keyClicks(table->viewport()->findChild<QLineEdit *>(), "99999");

    ModalDialogHelper dialogs;
    bool shrunk = false;
    connect(&dialogs, &ModalDialogHelper::shown, [&] {
        if (!std::exchange(shrunk, true))
            QTimer::singleShot(0, [&] { typeInto(child<QLineEdit>(w, "lineSensorSum"), "2"); });
    });
    QVERIFY(activate(&w));
    QTRY_COMPARE(w.sensorCount(), 2);
    QTest::qWait(100);
    QCOMPARE(dialogs.records().value(0), (DialogRecord{"warning", "提示", warning}));
}

QTEST_MAIN(TestFunctionPanel)
#include "tst_functionpanel.moc"
