#include "analysiswindow.h"
#include "curvegraphic.h"
#include "curvemath.h"
#include "framerouter.h"
#include "modaldialoghelper.h"
#include "mqttpublisher.h"
#include "recordformat.h"
#include "recordwindow.h"
#include "replayplayer.h"
#include "replaywindow.h"
#include "scriptedcard.h"
#include "tempfolder.h"
#include "tooloncard.h"
#include "userinput.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QSlider>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Time stands still until the test moves it to the next wake-up the player asked for.
class HandClock : public ReplayClock
{
public:
    qint64 nowUs() override { return now; }
    void wakeAt(qint64 us) override { pending = us; }
    void cancelWake() override { pending = -1; }
    // Moves to the wake-up asked for and wakes the player; false when none is pending.
    bool step()
    {
        if (pending < 0)
            return false;
        now = std::max(now, pending);
        pending = -1;
        wake();
        return true;
    }
    qint64 now = 1000000;
    qint64 pending = -1;
};

HandClock *handClock(ReplayWindow &w)
{
    auto clock = std::make_unique<HandClock>();
    HandClock *raw = clock.get();
    w.player()->setClock(std::move(clock));
    return raw;
}

// Values of row i for sensor s, distinct for every row and sensor.
Axit_t rowSample(int i, int s)
{
    return Axit_t{int16_t(100 * i + s), int16_t(-50 * i - s), int16_t(7 * i + 3 * s)};
}

// A recording with a row every `gap` ms, written by the record window's row formatter.
QString writeRecording(const QString &path, int rowCount, int sensors, uint gap)
{
    const uint start = timeOfDayMs(9, 5, 7, 42);
    QByteArray text = recordHeader(sensors);
    for (int i = 0; i < rowCount; ++i) {
        QList<Axit_t> samples;
        for (int s = 0; s < sensors; ++s)
            samples.append(rowSample(i, s));
        appendRecordRow(text, start + uint(i) * gap, start, samples);
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString tableText(CurveGraphic &g, int row, int column)
{
    QStandardItem *item = g.tableModel()->item(row, column);
    return item ? item->text() : QString();
}

QString converted(const Axit_t &raw)
{
    const Axit_t v = curveSample(raw, 0).value;
    return QString("%1 %2 %3").arg(v.x).arg(v.y).arg(v.z);
}

QString tableRow(CurveGraphic &g, int row)
{
    return tableText(g, row, 1) + " " + tableText(g, row, 2) + " " + tableText(g, row, 3);
}

// The graph window and a replay window feeding it as the main window wires them, with a
// recording of 2 sensors every 10 ms; the live settings are the main window's (6 sensors).
struct ReplayBench
{
    explicit ReplayBench(int rows = 200)
    {
        router.setReplay(&window);
        router.setSensorCount(6);
        graph.show();
        file = writeRecording(dir.filePath("rec.csv"), rows, 2, 10);
        if (!window.openFile(file, nullptr))
            qFatal("recording not read");
        window.show();
        clock = handClock(window);
    }
    QTemporaryDir dir;
    CurveGraphic graph;
    FrameRouter router{&graph};
    ReplayWindow window{nullptr, dir.filePath("Recordconfig.ini")};
    QString file;
    HandClock *clock = nullptr;
};

// The points of a sensor's X curve, and what rows first..last give it.
QList<double> curveX(CurveGraphic &g, int sensor)
{
    return *g.series(sensor).x;
}
QList<double> rowsX(int first, int last, int sensor)
{
    QList<double> x;
    for (int i = first; i <= last; ++i)
        x.append(curveSample(rowSample(i, sensor), 0).value.x);
    return x;
}

} // namespace

class TestReplayWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replaysAnExportFrameForFrameOnItsSchedule();
    void seekWhilePausedShowsTheFrameAtOnce();
    void rewindPlaysFromTheFirstRow();
    void speedChangeWhilePlayingRescalesWhatIsLeft();
    void badFileIsReportedAndNothingPlays_data();
    void badFileIsReportedAndNothingPlays();
    void replayAsksToCloseTheLinkFirst();
    void replayLeavesTheRecordingAloneAndEndsWithTheTool();
    void openingTheLinkEndsTheReplay();
    void analysisFollowsTheReplayAndExportsItsFile();

private:
    // Presses Ctrl+O in the main window; the open dialog answers with file.
    void startReplay(MainWindow &w, const QString &file);

    TemporaryWorkingFolder m_dir;
    struct DialogCall
    {
        QWidget *parent;
        QString caption, folder, filter;
    };
    QList<DialogCall> m_dialogCalls;
};

void TestReplayWindow::initTestCase()
{
    registerLinkMetaTypes();
    QStandardPaths::setTestModeEnabled(true);
}

void TestReplayWindow::replaysAnExportFrameForFrameOnItsSchedule()
{
    // Recorded by the record window from the card's time-stamped frames, and exported.
    ScriptedCard link;
    RecordWindow record(nullptr, m_dir.filePath("Recordconfig.ini"));
    record.setLink(link.link);
    const QString file = m_dir.filePath("export.csv");
    record.saveFileDialog = [&](QWidget *, const QString &, const QString &, const QString &) { return file; };
    ModalDialogHelper dialogs;
    click(record, "btnRecordStart");
    QVERIFY(QTest::qWaitFor([&] { return record.recordingState() == 1; }, 3000));
    const uint start = link.syncedStartTime();
    // Field 1 of each row; two frames share an instant; the sensor count grows to 3 at the end.
    const QList<uint> field1{3, 8, 13, 13, 25, 28, 68, 73, 1073, 1078};
    QList<QList<Sample>> frames;
    for (int i = 0; i < field1.size(); ++i) {
        QList<Sample> samples;
        for (int s = 0; s < (i + 1 < field1.size() ? 2 : 3); ++s)
            samples.append({i == 4 ? -32768 : 90 * i + s, i == 4 ? 32767 : -40 * i, 1000 + 17 * i * s});
        frames.append(samples);
        link.feed(stampedFrame(afterStart(start, field1[i]), samples));
    }
    QVERIFY(QTest::qWaitFor([&] { return record.session()->rowCount() == field1.size(); }, 3000));
    click(record, "btnRecordStop");
    QVERIFY(QTest::qWaitFor([&] { return record.recordingState() == 0; }, 3000));
    QCOMPARE(dialogs.clickFor(child<QPushButton>(record, "btnRecordExport")).text, QString("文件导出成功"));

    CurveGraphic graph;
    FrameRouter router(&graph);
    router.setSensorCount(6);
    router.setDataMode(1); // the card was last set to source data
    graph.show();
    ReplayWindow window(nullptr, m_dir.filePath("Recordconfig.ini"));
    router.setReplay(&window);
    QVERIFY(window.openFile(file, nullptr));
    window.show();
    HandClock *clock = handClock(window);
    QCOMPARE(child<QLabel>(window, "labReplayFile")->text(), QString("export.csv"));
    QCOMPARE(graph.sampleCount(), 1.0); // the first row is shown at once
    // The file's sensors are shown: the most any of its rows holds, not the live count.
    QCOMPARE(graph.sensorNum(), 3u);
    QTRY_COMPARE(tableText(graph, 1, 1).isEmpty(), false);
    QCOMPARE(tableText(graph, 2, 1), QString()); // a row without the third sensor shows none
    QTest::keyClick(child<QComboBox>(window, "comboReplaySpeed"), Qt::Key_Down);
    QCOMPARE(child<QComboBox>(window, "comboReplaySpeed")->currentText(), QString("2x"));

    const qint64 t0 = clock->now;
    QList<qint64> deliveredAt{t0};
    click(window, "btnReplayPlay");
    QCOMPARE(child<QPushButton>(window, "btnReplayPlay")->text(), QString("暂停"));
    do {
        while (deliveredAt.size() < int(graph.sampleCount()))
            deliveredAt.append(clock->now);
    } while (clock->step());

    QCOMPARE(deliveredAt.size(), field1.size());
    for (int i = 0; i < field1.size(); ++i)
        QCOMPARE(deliveredAt[i], t0 + qint64(field1[i] - field1[0]) * 1000 / 2);
    for (int s = 0; s < 3; ++s) {
        QList<double> x, y, z;
        for (const QList<Sample> &f : frames) {
            if (s >= f.size())
                continue;
            const Axit_t v = curveSample(Axit_t{int16_t(f[s].x), int16_t(f[s].y), int16_t(f[s].z)}, 0).value;
            x.append(v.x);
            y.append(v.y);
            z.append(v.z);
        }
        QCOMPARE(*graph.series(s).x, x);
        QCOMPARE(*graph.series(s).y, y);
        QCOMPARE(*graph.series(s).z, z);
    }

    // It stops on the last row.
    QCOMPARE(child<QPushButton>(window, "btnReplayPlay")->text(), QString("播放"));
    const TimeOfDay last = splitTimeOfDay(afterStart(start, field1.last()));
    QCOMPARE(child<QLabel>(window, "labReplayTime")->text(),
             QString::asprintf("%02u:%02u:%02u:%03u", last.hour, last.minute, last.second, last.msec));
    QCOMPARE(child<QSlider>(window, "sliderReplay")->value(), int(field1.last() - field1.first()));
    const Sample &third = frames.last()[2];
    QTRY_COMPARE(tableText(graph, 2, 1),
                 QString::number(curveSample(Axit_t{int16_t(third.x), int16_t(third.y), int16_t(third.z)}, 0).value.x));
    // Back on a row of two sensors: the third shows no value, not the last one it had.
    QTest::keyClick(child<QSlider>(window, "sliderReplay"), Qt::Key_Home);
    QTRY_COMPARE(tableText(graph, 2, 1), QString());
    window.close();
    QCOMPARE(graph.dataMode(), 1);
    QCOMPARE(graph.sensorNum(), 6u); // the main window's count is back
    QVERIFY(graph.isStopped());
    QVERIFY(!router.isReplaying());
}

void TestReplayWindow::seekWhilePausedShowsTheFrameAtOnce()
{
    ReplayBench bench(1500);
    CurveGraphic &graph = bench.graph;
    auto *slider = child<QSlider>(bench.window, "sliderReplay");
    QCOMPARE(slider->maximum(), 14990);

    click(bench.window, "btnReplayPlay");
    for (int i = 0; i < 5; ++i)
        QVERIFY(bench.clock->step());
    click(bench.window, "btnReplayPlay");
    QCOMPARE(child<QPushButton>(bench.window, "btnReplayPlay")->text(), QString("播放"));
    QCOMPARE(graph.sampleCount(), 6.0);
    QVERIFY(!bench.clock->step()); // paused: nothing more is due
    QCOMPARE(slider->value(), 50);

    // The closed link does not stand between a seek and the table; after it the curves hold the
    // rows that lead up to the new position, as if it had been played up to there.
    QTest::keyClick(slider, Qt::Key_End);
    QTRY_COMPARE(tableRow(graph, 1), converted(rowSample(1499, 1)));
    QCOMPARE(child<QLabel>(bench.window, "labReplayTime")->text(), QString("09:05:22:032"));
    QCOMPARE(curveX(graph, 1), rowsX(500, 1499, 1));
    QTest::keyClick(slider, Qt::Key_Home);
    QTRY_COMPARE(tableRow(graph, 0), converted(rowSample(0, 0)));
    QCOMPARE(curveX(graph, 0), rowsX(0, 0, 0));
    QTest::keyClick(slider, Qt::Key_PageUp);
    QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(slider->value(), 1100);
    QTRY_COMPARE(tableRow(graph, 1), converted(rowSample(110, 1)));
    QCOMPARE(child<QLabel>(bench.window, "labReplayTime")->text(), QString("09:05:08:142"));
    QCOMPARE(curveX(graph, 1), rowsX(0, 110, 1));
    const QList<double> &keys = *graph.series(1).key;
    QCOMPARE(keys.last() - keys.first(), 110.0); // one point per row, none from before the seek
    QVERIFY(!bench.clock->step());
    // Playing on from there continues the same curve.
    click(bench.window, "btnReplayPlay");
    QVERIFY(bench.clock->step());
    QCOMPARE(curveX(graph, 1), rowsX(0, 111, 1));
}

void TestReplayWindow::rewindPlaysFromTheFirstRow()
{
    ReplayBench bench;
    QTest::keyClick(child<QSlider>(bench.window, "sliderReplay"), Qt::Key_End);
    QTRY_COMPARE(tableRow(bench.graph, 0), converted(rowSample(199, 0)));

    const qint64 t0 = bench.clock->now;
    click(bench.window, "btnReplayRewind");
    QTRY_COMPARE(tableRow(bench.graph, 0), converted(rowSample(0, 0)));
    QCOMPARE(child<QPushButton>(bench.window, "btnReplayPlay")->text(), QString("暂停"));
    QVERIFY(bench.clock->step());
    QCOMPARE(bench.clock->now, t0 + 10000);
    QCOMPARE(bench.graph.latestFrame().first().x, curveSample(rowSample(1, 0), 0).value.x);
}

void TestReplayWindow::speedChangeWhilePlayingRescalesWhatIsLeft()
{
    ReplayBench bench;
    HandClock &clock = *bench.clock;
    auto *speed = child<QComboBox>(bench.window, "comboReplaySpeed");
    QCOMPARE(speed->currentText(), QString("1x"));
    const qint64 t0 = clock.now;
    click(bench.window, "btnReplayPlay");
    for (int i = 0; i < 3; ++i)
        QVERIFY(clock.step());
    QCOMPARE(clock.now, t0 + 30000);

    // Row 3 has just been shown; at 4x the 10 ms to each next row take 2.5 ms.
    QTest::keyClick(speed, Qt::Key_Down);
    QTest::keyClick(speed, Qt::Key_Down);
    QCOMPARE(speed->currentText(), QString("4x"));
    QVERIFY(clock.step());
    QCOMPARE(clock.now, t0 + 32500);
    QVERIFY(clock.step());
    QCOMPARE(clock.now, t0 + 35000);
    QCOMPARE(bench.graph.sampleCount(), 6.0);

    // One millisecond after row 5 the recording has moved on 4 ms: at 0.25x the 6 ms left to
    // row 6 take 24 ms.
    clock.now += 1000;
    QTest::keyClick(speed, Qt::Key_Home);
    QCOMPARE(speed->currentText(), QString("0.25x"));
    QVERIFY(clock.step());
    QCOMPARE(clock.now, t0 + 36000 + 24000);
    QCOMPARE(bench.graph.sampleCount(), 7.0);
    QVERIFY(clock.step());
    QCOMPARE(clock.now, t0 + 60000 + 40000);

    // At 8x a wake-up 100 ms late finds 80 rows due: all of them reach the graph, in order.
    QTest::keyClick(speed, Qt::Key_End);
    QCOMPARE(speed->currentText(), QString("8x"));
    clock.now += 100000;
    clock.wake();
    QCOMPARE(bench.graph.sampleCount(), 8.0 + 80);
    const QList<double> &x = *bench.graph.series(0).x;
    for (int i = 0; i <= 87; ++i)
        QCOMPARE(x.at(i), double(curveSample(rowSample(i, 0), 0).value.x));
}

void TestReplayWindow::badFileIsReportedAndNothingPlays_data()
{
    QTest::addColumn<QByteArray>("content"); // "<missing>": no such file
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("reason");
    const QByteArray head = recordHeader(2);
    QTest::newRow("value out of range on line 3")
        << head + "0,9:5:7:42,1,2,3,\n5,9:5:7:47,1,2,40000,\n" << "文件格式错误：第3行" << "数值超出范围 -32768~32767";
    QTest::newRow("a letter in field 3") << head + "0,9:5:7:42,1,2,3,\n5,9:5:7:47,x,2,4,\n" << "文件格式错误：第3行"
                                         << "第3个字段不是整数";
    QTest::newRow("time going back") << head + "5,9:5:7:47,1,2,3,\n0,9:5:7:42,1,2,3,\n" << "文件格式错误：第3行" << "时间倒退";
    QTest::newRow("seventeen sensors") << head + "0,9:5:7:42," + QByteArray("1,2,3,").repeated(17) + "\n"
                                       << "文件格式错误：第2行" << "字段数多于16个传感器";
    QTest::newRow("header only") << head << "文件中没有记录" << "";
    QTest::newRow("empty file") << QByteArray() << "文件格式错误：第1行" << "不是记录文件的表头";
    QTest::newRow("part of a header") << head.left(20) << "文件格式错误：第1行" << "不是记录文件的表头";
    QTest::newRow("a header naming no sensor") << recordHeader(0) + "0,9:5:7:42,\n" << "文件格式错误：第1行"
                                               << "表头中没有传感器";
    QTest::newRow("no such file") << QByteArray("<missing>") << "文件无法读取" << "";
}

void TestReplayWindow::badFileIsReportedAndNothingPlays()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(QString, reason);
    CurveGraphic graph;
    FrameRouter router(&graph);
    router.setSensorCount(2);
    ReplayWindow window(nullptr, m_dir.filePath("Recordconfig.ini"));
    router.setReplay(&window);
    const QString path = m_dir.filePath("bad.csv");
    QFile::remove(path);
    if (content != "<missing>") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    ModalDialogHelper dialogs;
    QVERIFY(!window.openFile(path, &graph));
    QCOMPARE(dialogs.records(), (QList<DialogRecord>{{"warning", "错误", message, reason}}));
    QVERIFY(!window.hasRecording());
    QVERIFY(!router.isReplaying());
    QCOMPARE(graph.sampleCount(), 0.0);
}

void TestReplayWindow::startReplay(MainWindow &w, const QString &file)
{
    w.replayingWindow()->openFileDialog = [this, file](QWidget *parent, const QString &caption,
                                                       const QString &folder, const QString &filter) {
        m_dialogCalls.append({parent, caption, folder, filter});
        return file;
    };
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
}

void TestReplayWindow::replayAsksToCloseTheLinkFirst()
{
    ToolOnCard tool;
    QVERIFY(tool.open());
    ModalDialogHelper dialogs;
    m_dialogCalls.clear();
    startReplay(*tool.window, writeRecording(m_dir.filePath("rec.csv"), 20, 2, 10));
    QVERIFY(dialogs.waitForCount(1));
    QCOMPARE(dialogs.records().first(), (DialogRecord{"information", "提示", "请先关闭通信接口"}));
    QVERIFY(m_dialogCalls.isEmpty());
    QVERIFY(tool.window->replayingWindow()->isHidden());
    QVERIFY(tool.window->graphWindow()->isHidden());
}

void TestReplayWindow::replayLeavesTheRecordingAloneAndEndsWithTheTool()
{
    // A working folder of its own: no export or replay has been remembered yet.
    TemporaryWorkingFolder fresh;
    ToolOnCard tool;
    MainWindow &w = *tool.window;
    QVERIFY(tool.open());
    // A recording in memory, still going when the link closes: no frame may join it now.
    RecordWindow *record = w.recordingWindow();
    click(w, "pushRecord");
    click(*record, "btnRecordStart");
    QTRY_COMPARE(record->recordingState(), 1);
    QTRY_VERIFY(record->session()->rowCount() >= 3);
    click(w, "btnSerialOpen");
    QTRY_VERIFY(!w.deviceLink()->isPortOpen());
    QTest::qWait(100);
    const QByteArray rows = record->session()->rows();
    const int commands = tool.server.card().commandsReceived();

    m_dialogCalls.clear();
    const QString file = writeRecording(m_dir.filePath("rec.csv"), 50, 2, 10);
    startReplay(w, file);
    ReplayWindow *replay = w.replayingWindow();
    QTRY_VERIFY(replay->isVisible());
    QCOMPARE(m_dialogCalls.size(), 1);
    QCOMPARE(m_dialogCalls[0].parent, &w);
    QCOMPARE(m_dialogCalls[0].caption, QString("选择文件"));
    QCOMPARE(m_dialogCalls[0].folder, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    QCOMPARE(m_dialogCalls[0].filter, QString("*.csv"));
    QCOMPARE(QSettings("Recordconfig.ini", QSettings::IniFormat).value("Recordconfig/path").toString(), file);
    QCOMPARE(replay->windowTitle(), QString("回放"));
    CurveGraphic *graph = w.graphWindow();
    QVERIFY(graph->isVisible());
    QCOMPARE(graph->windowTitle(), QString("Graph"));
    QCOMPARE(graph->geometry().topLeft(), QPoint(0, 0));

    HandClock *clock = handClock(*replay);
    const double before = graph->sampleCount();
    click(*replay, "btnReplayPlay");
    while (clock->step()) {
    }
    QCOMPARE(graph->sampleCount(), before + 49);
    QCOMPARE(record->session()->rows(), rows);
    QCOMPARE(record->recordingState(), 1);
    QCOMPARE(tool.server.card().commandsReceived(), commands);

    // Closing the tool in the middle of playing takes the replay window with it.
    click(*replay, "btnReplayRewind");
    QVERIFY(replay->player()->isPlaying());
    QPointer<ReplayWindow> gone = replay;
    ModalDialogHelper dialogs;
    dialogs.answerNext(QMessageBox::Yes); // the recording was never exported
    QVERIFY(w.close());
    QVERIFY(gone.isNull());
}

void TestReplayWindow::openingTheLinkEndsTheReplay()
{
    ToolOnCard tool;
    MainWindow &w = *tool.window;
    startReplay(w, writeRecording(m_dir.filePath("long.csv"), 3000, 2, 10));
    ReplayWindow *replay = w.replayingWindow();
    QTRY_VERIFY(replay->isVisible());
    // Then the next dialog opens where this file lies.
    QCOMPARE(QSettings("Recordconfig.ini", QSettings::IniFormat).value("Recordconfig/path").toString(),
             m_dir.filePath("long.csv"));
    click(*replay, "btnReplayPlay");
    CurveGraphic *graph = w.graphWindow();
    QVERIFY(w.frameRouter()->isReplaying()); // drawn although the link is closed
    QTRY_VERIFY(graph->sampleCount() > 3);
    QTRY_COMPARE(tableText(*graph, 0, 1).isEmpty(), false);

    QVERIFY(tool.open());
    QVERIFY(replay->isHidden());
    QVERIFY(!replay->player()->isPlaying());
    QVERIFY(!replay->hasRecording());
    QVERIFY(!w.frameRouter()->isReplaying());
    QTRY_VERIFY(!graph->isStopped());
}

void TestReplayWindow::analysisFollowsTheReplayAndExportsItsFile()
{
    ToolOnCard tool;
    MainWindow &w = *tool.window;
    // 分析 → 压力分析…
    QAction *open = w.findChild<QAction *>("actAnalysis");
    QCOMPARE(open->text(), QString("压力分析…"));
    open->trigger();
    AnalysisWindow *analysis = w.analysisingWindow();
    QVERIFY(analysis->isVisible());
    QCOMPARE(analysis->windowTitle(), QString("压力分析"));
    QCOMPARE(analysis->sensorNum(), 6u); // the main window's count

    startReplay(w, writeRecording(m_dir.filePath("analysed.csv"), 300, 3, 10));
    QTRY_VERIFY(w.replayingWindow()->isVisible());
    QCOMPARE(analysis->sensorNum(), 3u);
    QCOMPARE(analysis->dataMode(), 0);
    // The export of a loaded recording is the whole file's, one row per row, without playing it.
    const QString file = m_dir.filePath("analysis.csv");
    analysis->saveFileDialog = [file](QWidget *, const QString &, const QString &, const QString &) { return file; };
    ModalDialogHelper dialogs;
    click(*analysis, "btnAnalysisExport");
    QVERIFY(dialogs.waitForCount(1));
    QCOMPARE(dialogs.records().first(), (DialogRecord{"information", "导出文件", "文件导出成功"}));
    QFile exported(file);
    QVERIFY(exported.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = exported.readAll().split('\n');
    QCOMPARE(lines.first(), QByteArray("millisecond,total_fz,shear_x,shear_y,shear,contact,cop_x,cop_y,peak_sensor,peak"));
    QCOMPARE(lines.size(), 1 + 300 + 1);
    QVERIFY(lines[300].startsWith("2990,"));

    // The analysis follows the rows as they play; the MQTT topic is the live card's, so a replay
    // offers the publisher nothing (towards a broker that is not there, a frame would count as dropped).
    MqttSettings nowhere;
    nowhere.host = "127.0.0.1";
    nowhere.port = 1;
    QVERIFY(w.publisher()->start(nowhere));
    click(*w.replayingWindow(), "btnReplayPlay");
    QTRY_VERIFY(analysis->latestFrameMs() >= 1000); // a hundred rows played
    QCOMPARE(w.publisher()->published() + w.publisher()->dropped(), quint64(0));

    w.replayingWindow()->close();
    QCOMPARE(analysis->sensorNum(), 6u);
}

QTEST_MAIN(TestReplayWindow)
#include "tst_replaywindow.moc"
