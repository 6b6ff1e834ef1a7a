#include "debugcapture.h"
#include "linkthread.h"
#include "modaldialoghelper.h"
#include "recordwindow.h"
#include "scriptedcard.h"
#include "simloopbacklink.h"
#include "tempfolder.h"
#include "userinput.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>

class TestRecordSim : public QObject
{
    Q_OBJECT

private slots:
    void recordsEveryStampedFrameTheCardSent();
};

void TestRecordSim::recordsEveryStampedFrameTheCardSent()
{
    QStandardPaths::setTestModeEnabled(true);
    TemporaryWorkingFolder dir;

    LinkThread<SimLoopbackLink> thread(11);
    SimLoopbackLink *link = thread.link;
    link->card().setSensorCount(16);
    link->setManualClock(true);
    link->setOpen(true);
    thread.start();

    QSignalSpy fre(link, &SlaveProtocol::sampleFreResult);
    QMetaObject::invokeMethod(link, [link] { link->setSampleFre(4, 3000); }); // 200 Hz
    QTRY_COMPARE(fre.count(), 1);
    QCOMPARE(fre.first().at(1).toInt(), 0);

    RecordWindow w;
    w.setLink(link);
    DebugCapture debug;
    ModalDialogHelper dialogs;
    QTest::mouseClick(child<QPushButton>(w, "btnRecordStart"), Qt::LeftButton);
    QTRY_COMPARE(w.recordingState(), 1);

    for (int i = 0; i < 200; ++i) { // two seconds of card time
        link->step(10);
        QTest::qWait(2);
    }
    QTest::mouseClick(child<QPushButton>(w, "btnRecordStop"), Qt::LeftButton);
    QTRY_COMPARE(w.recordingState(), 0);

    QList<SimStreamRecord> stamped;
    link->withCard([&stamped](SimCard &card) {
        for (const SimStreamRecord &r : card.streamLog())
            if (r.type == 2)
                stamped.append(r);
    });
    QVERIFY2(stamped.size() >= 390 && stamped.size() <= 402, qPrintable(QString::number(stamped.size())));

    // The start time as the window logged it when it synchronised the card.
    const QRegularExpression clock("^(\\d+):(\\d+):(\\d+):(\\d+)$");
    uint start = 0;
    int starts = 0;
    for (const QString &line : debug.lines()) {
        const auto m = clock.match(line);
        if (m.hasMatch()) {
            start = uint(QTime(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                               m.captured(4).toInt()).msecsSinceStartOfDay());
            ++starts;
        }
    }
    QCOMPARE(starts, 1);

    QByteArray expected;
    for (int i = 0; i < stamped.size(); ++i) {
        const SimStreamRecord &r = stamped[i];
        const uint field1 = (r.timeStamp % 86400000u + 86400000u - start) % 86400000u;
        // Field 1 runs with the card's clock from the moment of the sync.
        if (i > 0)
            QCOMPARE(qint64(field1) - r.atMs,
                     qint64((stamped[0].timeStamp % 86400000u + 86400000u - start) % 86400000u) - stamped[0].atMs);
        QList<Sample> samples;
        for (const SimSample &s : r.samples)
            samples.append({s.x, s.y, s.z});
        expected += expectedRow(field1, r.timeStamp, samples);
    }
    QVERIFY(w.session()->rows() == expected);

    const QString file = dir.filePath("two-seconds.csv");
    w.saveFileDialog = [file](QWidget *, const QString &, const QString &, const QString &) { return file; };
    QCOMPARE(dialogs.clickFor(child<QPushButton>(w, "btnRecordExport")).text, QString("文件导出成功"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == recordHeader(16) + expected);
}

QTEST_MAIN(TestRecordSim)
#include "tst_recordsim.moc"
