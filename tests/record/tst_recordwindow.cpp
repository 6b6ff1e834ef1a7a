#include "debugcapture.h"
#include "modaldialoghelper.h"
#include "recordwindow.h"
#include "scriptedcard.h"
#include "tempfolder.h"
#include "userinput.h"

#include <QBoxLayout>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QSignalSpy>
#include <QStandardPaths>

namespace {

const QStringList clockLabelNames{"tickHour", "semicolon1", "tickMinute", "semicolon2",
                                  "tickSecond", "semicolon3", "tickmSec"};

bool startRecording(RecordWindow &w)
{
    QTest::mouseClick(child<QPushButton>(w, "btnRecordStart"), Qt::LeftButton);
    return QTest::qWaitFor([&w] { return w.recordingState() == 1; }, 3000);
}

QByteArray rows(const RecordWindow &w)
{
    return w.session()->rows();
}

} // namespace

class TestRecordWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void formCarriesNamedWidgetsAndClockFonts();
    void closedLinkAsksToOpenAndSendsNothing_data();
    void closedLinkAsksToOpenAndSendsNothing();
    void refusedOrUnansweredStartStaysIdle_data();
    void refusedOrUnansweredStartStaysIdle();
    void acceptedStartRecordsOneRowPerStampedFrame();
    void framesArrivingWithTheSyncReplyAreKept();
    void stopEndsRecordingOnlyOnItsOwnAcceptedResult();
    void stopWithTheLinkGoneEndsTheRecordingLocally();
    void pauseDropsFramesAndResumeCountsThePausedTime();
    void framesWithoutTimeStampAreNeverRecorded();
    void clockShowsLatestFrameWithPadding_data();
    void clockShowsLatestFrameWithPadding();
    void onlyASuccessfulStartReplacesTheRows();
    void resizingScalesTheClockFonts();

private:
    TemporaryWorkingFolder m_dir;
};

void TestRecordWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestRecordWindow::formCarriesNamedWidgetsAndClockFonts()
{
    RecordWindow w;
    QCOMPARE(w.windowTitle(), QString("Form"));
    QCOMPARE(w.size(), QSize(400, 150));
    QCOMPARE(w.minimumSize(), QSize(400, 150));

    const QList<QPair<const char *, QString>> buttons{
        {"btnRecordStart", "开始"}, {"btnRecordPause", "暂停"}, {"btnRecordStop", "停止"}, {"btnRecordExport", "导出"}};
    for (const auto &[name, text] : buttons) {
        QVERIFY2(child<QPushButton>(w, name), name);
        QCOMPARE(child<QPushButton>(w, name)->text(), text);
    }

    auto *clockLayout = qobject_cast<QHBoxLayout *>(w.findChild<QGroupBox *>("groupBox_2")->layout());
    QVERIFY(clockLayout);
    QCOMPARE(clockLayout->objectName(), QString("horizontalLayout_2"));
    QCOMPARE(clockLayout->contentsMargins(), QMargins(3, 3, 3, 3));
    QCOMPARE(w.findChild<QGroupBox *>("groupBox")->layout()->contentsMargins(), QMargins(3, 3, 3, 3));
    QList<int> stretches;
    for (int i = 0; i < clockLayout->count(); ++i)
        stretches.append(clockLayout->stretch(i));
    QCOMPARE(stretches, (QList<int>{0, 2, 1, 2, 1, 2, 1, 3, 0}));

    for (int i = 0; i < clockLabelNames.size(); ++i) {
        auto *label = w.findChild<QLabel *>(clockLabelNames[i]);
        QVERIFY2(label, qPrintable(clockLabelNames[i]));
        QCOMPARE(clockLayout->itemAt(i + 1)->widget(), label);
        const bool colon = clockLabelNames[i].startsWith("semicolon");
        QCOMPARE(label->text(), colon ? QString(":") : clockLabelNames[i] == "tickmSec" ? QString("000") : QString("00"));
        QCOMPARE(label->font().families().value(0), QString("微软雅黑"));
        QCOMPARE(label->font().pointSize(), 36);
        QCOMPARE(label->font().weight(), colon ? QFont::Bold : QFont::Normal);
        QCOMPARE(label->alignment(), Qt::AlignCenter);
    }
}

void TestRecordWindow::closedLinkAsksToOpenAndSendsNothing_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<bool>("withLink");
    QTest::newRow("start") << "btnRecordStart" << true;
    QTest::newRow("pause") << "btnRecordPause" << true;
    QTest::newRow("stop") << "btnRecordStop" << true;
    QTest::newRow("start before any link is set") << "btnRecordStart" << false;
}

void TestRecordWindow::closedLinkAsksToOpenAndSendsNothing()
{
    QFETCH(QString, buttonName);
    QFETCH(bool, withLink);
    ScriptedCard l;
    l.link->setOpen(false);
    RecordWindow w;
    if (withLink)
        w.setLink(l.link);
    ModalDialogHelper dialogs;

    QCOMPARE(dialogs.clickFor(child<QPushButton>(w, qPrintable(buttonName))), (DialogRecord{"information", "提示", "请先打开通信接口"}));
    QVERIFY(l.settle());
    QTest::qWait(50);
    QCOMPARE(l.link->sentCount(), 0);
    QCOMPARE(w.recordingState(), 0);
    QCOMPARE(dialogs.count(), 1);
}

void TestRecordWindow::refusedOrUnansweredStartStaysIdle_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("attempts");
    QTest::newRow("refused") << 1 << 1;
    QTest::newRow("no answer") << int(ScriptedCard::NoAnswer) << 3;
}

void TestRecordWindow::refusedOrUnansweredStartStaysIdle()
{
    QFETCH(int, status);
    QFETCH(int, attempts);
    ScriptedCard l;
    l.setStatus(0x8D, status);
    // Even frames right behind a refusal must not become rows.
    l.setAfterSyncReply([](uint start) { return stampedFrame(afterStart(start, 2), {{1, 2, 3}}); });
    RecordWindow w;
    w.setLink(l.link);
    ModalDialogHelper dialogs;

    QCOMPARE(dialogs.clickFor(child<QPushButton>(w, "btnRecordStart")), (DialogRecord{"information", "系统提示", "记录功能启动失败,请重试"}));
    QCOMPARE(l.sentWithCode(0x8D).size(), attempts);
    QCOMPARE(w.recordingState(), 0);
    QVERIFY(child<QPushButton>(w, "btnRecordStart")->isEnabled());
    QVERIFY(child<QPushButton>(w, "btnRecordExport")->isEnabled());

    l.feed(stampedFrame(afterStart(l.syncedStartTime(), 20), {{4, 5, 6}}));
    QVERIFY(l.settle());
    QVERIFY(w.session()->rowCount() == 0);
    QVERIFY(!w.hasUnexportedRecording());
}

void TestRecordWindow::acceptedStartRecordsOneRowPerStampedFrame()
{
    ScriptedCard l;
    RecordWindow w;
    w.setLink(l.link);
    DebugCapture debug;

    const uint before = uint(QTime::currentTime().msecsSinceStartOfDay());
    QVERIFY(startRecording(w));
    const uint after = uint(QTime::currentTime().msecsSinceStartOfDay());
    const uint start = l.syncedStartTime();
    if (before <= after) // not across midnight
        QVERIFY(start >= before && start <= after);
    const QTime t = QTime::fromMSecsSinceStartOfDay(int(start));
    QVERIFY(debug.contains(QString("%1:%2:%3:%4").arg(t.hour()).arg(t.minute()).arg(t.second()).arg(t.msec())));

    QVERIFY(!child<QPushButton>(w, "btnRecordStart")->isEnabled());
    QVERIFY(!child<QPushButton>(w, "btnRecordExport")->isEnabled());
    QCOMPARE(child<QPushButton>(w, "btnRecordPause")->text(), QString("暂停"));
    QVERIFY(!w.hasUnexportedRecording());

    // Three entries with num 16 in the frame still give three triples.
    const QList<Sample> three{{1, -2, 3}, {-32768, 32767, 0}, {7, 8, 9}};
    l.feed(stampedFrame(afterStart(start, 5), {{10, 20, 30}}));
    l.feed(stampedFrame(afterStart(start, 10), three));
    QTRY_COMPARE(w.session()->rowCount(), qint64(2));
    QCOMPARE(rows(w), expectedRow(5, afterStart(start, 5), {{10, 20, 30}})
                          + expectedRow(10, afterStart(start, 10), three));
    QVERIFY(w.hasUnexportedRecording());

    // num is not what counts: a frame delivered with num 16 but three entries.
    QList<Axit_t> list{{1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
    emit l.link->AxitReceive(list, 16, afterStart(start, 15));
    QVERIFY(rows(w).endsWith(expectedRow(15, afterStart(start, 15), {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}})));
}

void TestRecordWindow::framesArrivingWithTheSyncReplyAreKept()
{
    ScriptedCard l;
    // The card streams right after its reply; the link decodes these before it reports the result.
    l.setAfterSyncReply([](uint start) {
        return stampedFrame(afterStart(start, 3), {{1, 2, 3}})
               + stampedFrame(afterStart(start, 3 * 3600000), {{9, 9, 9}}) // an old clock, not ours
               + stampedFrame(afterStart(start, 8), {{4, 5, 6}});
    });
    RecordWindow w;
    w.setLink(l.link);

    // A double click: the second start, while the first waits for the card, does nothing.
    QPushButton *start = child<QPushButton>(w, "btnRecordStart");
    QTest::mouseClick(start, Qt::LeftButton);
    QTest::mouseDClick(start, Qt::LeftButton);
    QTest::mouseRelease(start, Qt::LeftButton);
    QTRY_COMPARE(w.recordingState(), 1);
    QVERIFY(l.settle());
    QCOMPARE(l.sentWithCode(0x8D).size(), 1);
    const uint startTime = l.syncedStartTime();
    QCOMPARE(rows(w), expectedRow(3, afterStart(startTime, 3), {{1, 2, 3}}) + expectedRow(8, afterStart(startTime, 8), {{4, 5, 6}}));
    QVERIFY(w.hasUnexportedRecording());
    QTRY_COMPARE(w.findChild<QLabel *>("tickmSec")->text(), zeroPadded(afterStart(startTime, 8) % 1000, 3));

    // Stamped before the card's clock was set (a late answer to a repeated request): time would
    // go back, so it is no row of this recording.
    l.feed(stampedFrame(afterStart(startTime, 6), {{6, 6, 6}}));
    l.feed(stampedFrame(afterStart(startTime, 13), {{7, 8, 9}}));
    QTRY_COMPARE(w.session()->rowCount(), qint64(3));
    QVERIFY(rows(w).endsWith(expectedRow(8, afterStart(startTime, 8), {{4, 5, 6}}) + expectedRow(13, afterStart(startTime, 13), {{7, 8, 9}})));
}

void TestRecordWindow::stopEndsRecordingOnlyOnItsOwnAcceptedResult()
{
    ScriptedCard l;
    RecordWindow w;
    w.setLink(l.link);
    ModalDialogHelper dialogs;
    QSignalSpy results(l.link, &SlaveProtocol::DataTypeSetResult);
    QVERIFY(startRecording(w));
    const uint start = l.syncedStartTime();

    // The main window's own data-type change (requester 1) is not ours.
    QMetaObject::invokeMethod(l.link, "setInfoType", Qt::QueuedConnection, Q_ARG(uchar, 1), Q_ARG(int, 1));
    QTRY_COMPARE(results.count(), 1);
    QVERIFY(l.settle());
    QCOMPARE(w.recordingState(), 1);

    l.setStatus(0x82, 1);
    QCOMPARE(dialogs.clickFor(child<QPushButton>(w, "btnRecordStop")), (DialogRecord{"information", "系统提示", "记录功能无法停止,请重试"}));
    QCOMPARE(w.recordingState(), 1);
    l.feed(stampedFrame(afterStart(start, 100), {{1, 2, 3}}));
    QTRY_COMPARE(w.session()->rowCount(), qint64(1));

    l.setStatus(0x82, 0);
    QTest::mouseClick(child<QPushButton>(w, "btnRecordPause"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(w, "btnRecordStop"), Qt::LeftButton);
    QTRY_COMPARE(w.recordingState(), 0);
    QCOMPARE(l.sentWithCode(0x82).last(), cardFrame(0x82, QByteArray(1, '\0')));
    QVERIFY(child<QPushButton>(w, "btnRecordStart")->isEnabled());
    QVERIFY(child<QPushButton>(w, "btnRecordExport")->isEnabled());
    QCOMPARE(child<QPushButton>(w, "btnRecordPause")->text(), QString("暂停"));

    l.feed(stampedFrame(afterStart(start, 200), {{1, 2, 3}}));
    QVERIFY(l.settle());
    QCOMPARE(w.session()->rowCount(), qint64(1));

    // Stop also works when idle: it asks again for data type 0.
    const int sent = l.sentWithCode(0x82).size();
    QTest::mouseClick(child<QPushButton>(w, "btnRecordStop"), Qt::LeftButton);
    QTRY_COMPARE(l.sentWithCode(0x82).size(), sent + 1);
    QTRY_COMPARE(results.count(), 4);
    QVERIFY(l.settle());
    QCOMPARE(w.recordingState(), 0);
    QCOMPARE(dialogs.count(), 1);
}

void TestRecordWindow::stopWithTheLinkGoneEndsTheRecordingLocally()
{
    ScriptedCard l;
    RecordWindow w;
    w.setLink(l.link);
    ModalDialogHelper dialogs;
    QVERIFY(startRecording(w));
    l.feed(stampedFrame(afterStart(l.syncedStartTime(), 100), {{1, 2, 3}}));
    QTRY_COMPARE(w.session()->rowCount(), qint64(1));

    // The card vanished: the rows must still be exportable.
    l.link->setOpen(false);
    const int sent = l.link->sentCount();
    QCOMPARE(dialogs.clickFor(child<QPushButton>(w, "btnRecordStop")),
             (DialogRecord{"information", "提示", "通信接口已关闭，记录已停止"}));
    QCOMPARE(w.recordingState(), 0);
    QVERIFY(child<QPushButton>(w, "btnRecordExport")->isEnabled());
    QVERIFY(child<QPushButton>(w, "btnRecordStart")->isEnabled());
    QCOMPARE(w.session()->rowCount(), qint64(1));
    QCOMPARE(l.link->sentCount(), sent);
}

void TestRecordWindow::pauseDropsFramesAndResumeCountsThePausedTime()
{
    ScriptedCard l;
    RecordWindow w;
    w.setLink(l.link);
    QPushButton *pause = child<QPushButton>(w, "btnRecordPause");

    // Pausing while idle does nothing.
    QTest::mouseClick(pause, Qt::LeftButton);
    QCOMPARE(w.recordingState(), 0);
    QCOMPARE(pause->text(), QString("暂停"));

    QVERIFY(startRecording(w));
    const uint start = l.syncedStartTime();
    l.feed(stampedFrame(afterStart(start, 100), {{1, 2, 3}}));
    QTRY_COMPARE(w.session()->rowCount(), qint64(1));

    QTest::mouseClick(pause, Qt::LeftButton);
    QCOMPARE(w.recordingState(), 2);
    QCOMPARE(pause->text(), QString("继续"));
    l.feed(stampedFrame(afterStart(start, 200), {{4, 5, 6}}));
    QVERIFY(l.settle());

    QTest::mouseClick(pause, Qt::LeftButton);
    QCOMPARE(w.recordingState(), 1);
    QCOMPARE(pause->text(), QString("暂停"));
    l.feed(stampedFrame(afterStart(start, 5000), {{7, 8, 9}}));
    QTRY_COMPARE(w.session()->rowCount(), qint64(2));
    QCOMPARE(rows(w), expectedRow(100, afterStart(start, 100), {{1, 2, 3}})
                          + expectedRow(5000, afterStart(start, 5000), {{7, 8, 9}}));
    // The clock runs again after resuming.
    QTRY_COMPARE(w.findChild<QLabel *>("tickmSec")->text(), zeroPadded(afterStart(start, 5000) % 1000, 3));
}

void TestRecordWindow::framesWithoutTimeStampAreNeverRecorded()
{
    ScriptedCard l;
    RecordWindow w;
    w.setLink(l.link);
    QVERIFY(startRecording(w));
    const QByteArray sensor = be16(1) + be16(2) + be16(3);
    l.feed(cardFrame(0x00, sensor));
    l.feed(cardFrame(0x01, sensor + sensor));
    QVERIFY(l.settle());
    QVERIFY(w.session()->rowCount() == 0);
    QVERIFY(!w.hasUnexportedRecording());

    l.feed(stampedFrame(afterStart(l.syncedStartTime(), 1), {{1, 2, 3}}));
    QTRY_COMPARE(w.session()->rowCount(), qint64(1));
}

void TestRecordWindow::clockShowsLatestFrameWithPadding_data()
{
    QTest::addColumn<uint>("timeStamp");
    QTest::addColumn<QStringList>("display");
    QTest::newRow("ms 7") << timeOfDayMs(1, 2, 3, 7) << QStringList{"01", "02", "03", "007"};
    QTest::newRow("ms 42") << timeOfDayMs(23, 59, 59, 42) << QStringList{"23", "59", "59", "042"};
    QTest::newRow("ms 0") << timeOfDayMs(12, 0, 9, 0) << QStringList{"12", "00", "09", "000"};
    QTest::newRow("stamp beyond one day") << 86400000u + timeOfDayMs(0, 10, 0, 999)
                                          << QStringList{"00", "10", "00", "999"};
}

void TestRecordWindow::clockShowsLatestFrameWithPadding()
{
    QFETCH(uint, timeStamp);
    QFETCH(QStringList, display);
    ScriptedCard l;
    RecordWindow w;
    w.setLink(l.link);
    QVERIFY(startRecording(w));
    l.feed(stampedFrame(timeStamp, {{0, 0, 0}}));
    const auto shown = [&w] {
        return QStringList{w.findChild<QLabel *>("tickHour")->text(), w.findChild<QLabel *>("tickMinute")->text(),
                           w.findChild<QLabel *>("tickSecond")->text(), w.findChild<QLabel *>("tickmSec")->text()};
    };
    QTRY_COMPARE(shown(), display);
}

void TestRecordWindow::onlyASuccessfulStartReplacesTheRows()
{
    ScriptedCard l;
    RecordWindow w;
    w.setLink(l.link);
    ModalDialogHelper dialogs;
    QVERIFY(startRecording(w));
    l.feed(stampedFrame(afterStart(l.syncedStartTime(), 1), {{1, 2, 3}}));
    l.feed(stampedFrame(afterStart(l.syncedStartTime(), 2), {{1, 2, 3}}));
    QTRY_COMPARE(w.session()->rowCount(), qint64(2));
    QTest::mouseClick(child<QPushButton>(w, "btnRecordStop"), Qt::LeftButton);
    QTRY_COMPARE(w.recordingState(), 0);
    const QByteArray recorded = rows(w);

    l.setStatus(0x8D, 1);
    QCOMPARE(dialogs.clickFor(child<QPushButton>(w, "btnRecordStart")).text, QString("记录功能启动失败,请重试"));
    QCOMPARE(rows(w), recorded);
    QVERIFY(w.hasUnexportedRecording());

    l.setStatus(0x8D, 0);
    QVERIFY(startRecording(w));
    QVERIFY(w.session()->rowCount() == 0);
    QVERIFY(!w.hasUnexportedRecording());
}

void TestRecordWindow::resizingScalesTheClockFonts()
{
    RecordWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    DebugCapture debug;
    const auto sizes = [&w] {
        QList<int> out;
        for (const QString &name : clockLabelNames)
            out.append(w.findChild<QLabel *>(name)->font().pointSize());
        return out;
    };
    struct Step
    {
        QSize size;
        int pointSize;
        QString line;
    };
    const QList<Step> steps{
        {{800, 300}, 72, "recore font size scale 2"},
        {{600, 600}, 54, "recore font size scale 1.5"},
        {{500, 170}, 40, ""}, // 170/150 in single precision: 36 x 1.1333 = 40.8
        {{400, 150}, 36, "recore font size scale 1"}, // back at the start size, back to the start fonts
    };
    for (const Step &step : steps) {
        w.resize(step.size);
        QTRY_COMPARE(sizes(), QList<int>(clockLabelNames.size(), step.pointSize));
        if (!step.line.isEmpty())
            QVERIFY2(debug.contains(step.line), qPrintable(debug.lines().join('|')));
    }
    QCOMPARE(w.findChild<QLabel *>("semicolon1")->font().weight(), QFont::Bold);
    QCOMPARE(w.findChild<QLabel *>("tickHour")->font().weight(), QFont::Normal);
}

QTEST_MAIN(TestRecordWindow)
#include "tst_recordwindow.moc"
