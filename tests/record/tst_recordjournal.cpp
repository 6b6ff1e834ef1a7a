// The record window's journal: the copy on disk of the recording in memory.
#include "modaldialoghelper.h"
#include "recordjournal.h"
#include "recordtestlink.h"
#include "recordwindow.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool startRecording(RecordWindow &w)
{
    QTest::mouseClick(button(w, "btnRecordStart"), Qt::LeftButton);
    return QTest::qWaitFor([&w] { return w.recordingState() == 1; }, 3000);
}

bool stopRecording(RecordWindow &w)
{
    QTest::mouseClick(button(w, "btnRecordStop"), Qt::LeftButton);
    return QTest::qWaitFor([&w] { return w.recordingState() == 0; }, 3000);
}

// Frames of three sensors, `count` of them 10 ms apart from `firstMs` after the start.
void feedFrames(RecordTestLink &l, uint firstMs, int count)
{
    const uint start = l.syncedStartTime();
    for (int i = 0; i < count; ++i)
        l.feed(stampedFrame(afterStart(start, firstMs + 10 * uint(i)), {{i, -i, 7}, {1, 2, 3}, {-300, 0, i * 3}}));
    l.settle();
}

} // namespace

class TestRecordJournal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void journalHoldsTheExportedRowsAndGoesOnceExported();
    void unwritableFolderWarnsOnceAndRecordingGoesOn();
};

void TestRecordJournal::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestRecordJournal::journalHoldsTheExportedRowsAndGoesOnceExported()
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString folder = dir.filePath("journals");
    RecordTestLink l;
    // One frame already comes with the sync reply: it belongs to the journal too.
    l.setAfterSyncReply([](uint start) { return stampedFrame(afterStart(start, 1), {{5, 5, 5}, {6, 6, 6}, {7, 7, 7}}); });
    RecordWindow w;
    w.setLink(l.link);
    w.setJournalFolder(folder);
    ModalDialogHelper dialogs;

    QVERIFY(startRecording(w));
    const QString first = w.journalPath();
    QCOMPARE(QFileInfo(first).absolutePath(), QFileInfo(folder).absoluteFilePath());
    QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d-\\d{3}\\.csv$").match(QFileInfo(first).fileName()).hasMatch(),
             qPrintable(first));
    feedFrames(l, 10, 40);
    QCOMPARE(w.recordedRows().rowCount(), 41);
    // The rows reach the disk while the recording goes on, not only when it ends.
    const QByteArray header = recordHeader(3);
    QTRY_COMPARE_WITH_TIMEOUT(readFile(first), header + w.recordedRows().toByteArray(), 5000);
    QCOMPARE(w.recordingState(), 1);
    feedFrames(l, 500, 10);
    QVERIFY(stopRecording(w));
    QTRY_COMPARE(readFile(first), header + w.recordedRows().toByteArray());

    const QString exported = dir.filePath("export.csv");
    w.saveFileDialog = [exported](QWidget *, const QString &, const QString &, const QString &) { return exported; };
    QCOMPARE(clickForDialog(dialogs, button(w, "btnRecordExport")).text, QString("文件导出成功"));
    const QByteArray journalBytes = readFile(first);
    const QByteArray exportBytes = readFile(exported);
    QCOMPARE(exportBytes.mid(exportBytes.indexOf('\n') + 1), journalBytes.mid(journalBytes.indexOf('\n') + 1));
    QVERIFY(QFile::exists(first)); // exported, but still the recording in the window

    // Exported and a new recording started: the old journal goes.
    QVERIFY(startRecording(w));
    const QString second = w.journalPath();
    QVERIFY(second != first);
    QTRY_VERIFY(!QFile::exists(first));
    feedFrames(l, 10, 5);
    QVERIFY(stopRecording(w));
    // Never exported: a new recording leaves it for the next start of the tool to offer.
    QVERIFY(startRecording(w));
    const QString third = w.journalPath();
    feedFrames(l, 10, 5);
    QVERIFY(stopRecording(w));
    QTRY_COMPARE(readFile(third), header + w.recordedRows().toByteArray());
    QCOMPARE(journalFiles(folder), (QStringList{third, second}));

    w.discardJournal(); // the tool closes normally
    QTRY_COMPARE(journalFiles(folder), QStringList{second});
    QCOMPARE(dialogs.count(), 1); // only the export's
}

void TestRecordJournal::unwritableFolderWarnsOnceAndRecordingGoesOn()
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QString folder = dir.filePath("journals");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    // Permissions do not stop root: a folder below a plain file cannot be made by anyone.
    if (::geteuid() == 0) {
        QFile blocker(dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        folder = blocker.fileName() + "/journals";
    }
    RecordTestLink l;
    RecordWindow w;
    w.setLink(l.link);
    w.setJournalFolder(folder);
    ModalDialogHelper dialogs;

    QVERIFY(startRecording(w));
    feedFrames(l, 10, 20);
    QVERIFY(dialogs.waitForCount(1));
    QCOMPARE(dialogs.records().first(), (DialogRecord{"warning", "错误", "记录备份文件写入失败"}));
    feedFrames(l, 300, 20);
    QCOMPARE(w.recordingState(), 1);
    QVERIFY(stopRecording(w));
    QCOMPARE(w.recordedRows().rowCount(), 40);
    QCOMPARE(dialogs.count(), 1);
    // The next recording's journal fails too and says so once; the writer reports in order, so a
    // second warning of the first recording would have come before it.
    QVERIFY(startRecording(w));
    feedFrames(l, 10, 5);
    QVERIFY(dialogs.waitForCount(2));
    QVERIFY(stopRecording(w));
    QCOMPARE(dialogs.records().at(1), dialogs.records().at(0));
    QCOMPARE(w.recordedRows().rowCount(), 5);
    QVERIFY(QFile::setPermissions(dir.filePath("journals"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

QTEST_MAIN(TestRecordJournal)
#include "tst_recordjournal.moc"
