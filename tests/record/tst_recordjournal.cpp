// The record window's journal: the copy on disk of the recording in memory.
#include "modaldialoghelper.h"
#include "recordjournal.h"
#include "recordwindow.h"
#include "scriptedcard.h"
#include "tempfolder.h"
#include "userinput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSemaphore>
#include <QTemporaryDir>
#include <atomic>
#include <memory>
#include <vector>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool startRecording(RecordWindow &w)
{
    QTest::mouseClick(child<QPushButton>(w, "btnRecordStart"), Qt::LeftButton);
    return QTest::qWaitFor([&w] { return w.recordingState() == 1; }, 3000);
}

bool stopRecording(RecordWindow &w)
{
    QTest::mouseClick(child<QPushButton>(w, "btnRecordStop"), Qt::LeftButton);
    return QTest::qWaitFor([&w] { return w.recordingState() == 0; }, 3000);
}

// Frames of three sensors, `count` of them 10 ms apart from `firstMs` after the start.
void feedFrames(ScriptedCard &l, uint firstMs, int count)
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
    void aRunningInstancesJournalIsNeverTakenFromIt();
    void namesNeverCollideAndTheNewestComesFirst();
    void slowSyncNeitherHoldsUpWritesNorClosing();
    void unwritableFolderWarnsOnceAndRecordingGoesOn();
    void diskFillingUpMidwayKeepsEveryRow();
};

void TestRecordJournal::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestRecordJournal::journalHoldsTheExportedRowsAndGoesOnceExported()
{
    TemporaryWorkingFolder dir; // the windows keep their INI files here
    const QString folder = dir.filePath("journals");
    ScriptedCard l;
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
    QCOMPARE(w.session()->rowCount(), 41);
    // The rows reach the disk while the recording goes on, not only when it ends.
    const QByteArray header = recordHeader(3);
    QTRY_COMPARE_WITH_TIMEOUT(readFile(first), header + w.session()->rows(), 5000);
    QCOMPARE(w.recordingState(), 1);
    feedFrames(l, 500, 10);
    QVERIFY(stopRecording(w));
    QTRY_COMPARE(readFile(first), header + w.session()->rows());

    const QString exported = dir.filePath("export.csv");
    w.saveFileDialog = [exported](QWidget *, const QString &, const QString &, const QString &) { return exported; };
    QCOMPARE(dialogs.clickFor(child<QPushButton>(w, "btnRecordExport")).text, QString("文件导出成功"));
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
    QTRY_COMPARE(readFile(third), header + w.session()->rows());
    // The one in the window is ours: nobody else is offered it while we hold it.
    QCOMPARE(journalFiles(folder), (QStringList{second}));

    w.discardJournal(); // the tool closes normally
    QVERIFY(!QFile::exists(third));
    QCOMPARE(journalFiles(folder), QStringList{second});
    QCOMPARE(dialogs.count(), 1); // only the export's
}

void TestRecordJournal::aRunningInstancesJournalIsNeverTakenFromIt()
{
    TemporaryWorkingFolder dir; // the windows keep their INI files here
    const QString folder = dir.filePath("journals");
    ScriptedCard linkA, linkB;
    RecordWindow a, b;
    a.setLink(linkA.link);
    b.setLink(linkB.link);
    a.setJournalFolder(folder);
    b.setJournalFolder(folder);

    // Two instances recording at once, within the same millisecond or not, keep a journal each.
    QTest::mouseClick(child<QPushButton>(a, "btnRecordStart"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(b, "btnRecordStart"), Qt::LeftButton);
    QTRY_VERIFY(a.recordingState() == 1 && b.recordingState() == 1);
    feedFrames(linkA, 10, 30);
    feedFrames(linkB, 10, 7);
    QTRY_VERIFY(!a.journalPath().isEmpty() && !b.journalPath().isEmpty());
    QVERIFY(a.journalPath() != b.journalPath());
    QTRY_COMPARE(readFile(a.journalPath()), recordHeader(3) + a.session()->rows());
    QTRY_COMPARE(readFile(b.journalPath()), recordHeader(3) + b.session()->rows());
    QCOMPARE(a.session()->rowCount(), 30);
    QCOMPARE(b.session()->rowCount(), 7);

    // A live journal is not offered, cannot be loaded and is not removed by another instance.
    QCOMPARE(journalFiles(folder), QStringList());
    RecordWindow other;
    other.setJournalFolder(folder);
    QVERIFY(!other.recoverJournal(a.journalPath()));
    other.discardJournal();
    QVERIFY(QFile::exists(a.journalPath()));
    QVERIFY(stopRecording(a));
    QVERIFY(!other.recoverJournal(a.journalPath())); // stopped, but still a's recording
    QCOMPARE(readFile(a.journalPath()), recordHeader(3) + a.session()->rows());
}

void TestRecordJournal::namesNeverCollideAndTheNewestComesFirst()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("journals");
    const QString name = "2026-01-01_10-00-00-000.csv";
    // Three recordings started within the same millisecond: none empties another's file.
    QStringList paths;
    {
        std::vector<std::unique_ptr<RecordJournal>> journals;
        for (int i = 0; i < 3; ++i) {
            journals.push_back(std::make_unique<RecordJournal>());
            QVERIFY(journals.back()->beginJournal(folder, name));
            journals.back()->append(recordHeader(1) + recordRow(uint(i), 0, {{short(i), 0, 0}}));
            paths << journals.back()->path();
        }
        for (auto &j : journals) {
            j->finish();
            QVERIFY(j->waitFinished(5000));
        }
    }
    QCOMPARE(paths, (QStringList{folder + "/" + name, folder + "/2026-01-01_10-00-00-000_2.csv",
                                 folder + "/2026-01-01_10-00-00-000_3.csv"}));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(readFile(paths[i]), recordHeader(1) + recordRow(uint(i), 0, {{short(i), 0, 0}}));
    // Newest recording first: a later start, then the later of two in one millisecond, counted
    // as numbers (10 after 3).
    QFile::copy(paths[0], folder + "/2026-01-01_10-00-00-000_10.csv");
    QFile::copy(paths[0], folder + "/2026-01-01_09-59-59-999.csv");
    QFile::copy(paths[0], folder + "/2026-01-01_10-00-00-001.csv");
    QCOMPARE(journalFiles(folder),
             (QStringList{folder + "/2026-01-01_10-00-00-001.csv", folder + "/2026-01-01_10-00-00-000_10.csv",
                          paths[2], paths[1], paths[0], folder + "/2026-01-01_09-59-59-999.csv"}));
}

void TestRecordJournal::slowSyncNeitherHoldsUpWritesNorClosing()
{
    QTemporaryDir dir;
    // A disk whose sync hangs until the test lets it go.
    struct Gate
    {
        std::atomic<bool> entered{false};
        QSemaphore release;
    };
    auto gate = std::make_shared<Gate>();
    auto journal = std::make_unique<RecordJournal>();
    journal->setSyncFunction([gate](int fd) {
        gate->entered = true;
        gate->release.tryAcquire(1, 60000);
        return ::fsync(fd);
    });
    QVERIFY(journal->beginJournal(dir.path(), "slow.csv"));
    const QString path = journal->path();
    QByteArray written = recordHeader(1) + recordRow(0, 0, {{1, 1, 1}});
    journal->append(written);
    QTRY_VERIFY_WITH_TIMEOUT(gate->entered, 10000); // the sync due after a second is hanging
    // Rows still reach the file while it hangs.
    for (int i = 1; i <= 3; ++i) {
        const QByteArray row = recordRow(uint(i), 0, {{short(i), 0, 0}});
        journal->append(row);
        written += row;
        QTRY_COMPARE_WITH_TIMEOUT(readFile(path), written, 10000);
    }
    // Closing does not wait for the hung sync for more than a moment.
    QElapsedTimer closing;
    closing.start();
    journal.reset();
    QVERIFY2(closing.elapsed() < 30000, qPrintable(QString::number(closing.elapsed())));
    gate->release.release();
    QCOMPARE(readFile(path), written);
}

void TestRecordJournal::unwritableFolderWarnsOnceAndRecordingGoesOn()
{
    TemporaryWorkingFolder dir; // the windows keep their INI files here
    QString folder = dir.filePath("journals");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    // Permissions do not stop root: a folder below a plain file cannot be made by anyone.
    if (::geteuid() == 0) {
        QFile blocker(dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        folder = blocker.fileName() + "/journals";
    }
    ScriptedCard l;
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
    QCOMPARE(w.session()->rowCount(), 40);
    QCOMPARE(dialogs.count(), 1);
    // The next recording's journal fails too and says so once; the writer reports in order, so a
    // second warning of the first recording would have come before it.
    QVERIFY(startRecording(w));
    feedFrames(l, 10, 5);
    QVERIFY(dialogs.waitForCount(2));
    QVERIFY(stopRecording(w));
    QCOMPARE(dialogs.records().at(1), dialogs.records().at(0));
    QCOMPARE(w.session()->rowCount(), 5);
    QVERIFY(QFile::setPermissions(dir.filePath("journals"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

void TestRecordJournal::diskFillingUpMidwayKeepsEveryRow()
{
    TemporaryWorkingFolder dir; // the windows keep their INI files here
    ScriptedCard l;
    RecordWindow w;
    w.setLink(l.link);
    w.setJournalFolder(dir.filePath("journals"));
    ModalDialogHelper dialogs;
    QVERIFY(startRecording(w));
    feedFrames(l, 10, 40);
    const QString journal = w.journalPath();
    QTRY_COMPARE(readFile(journal).count('\n'), 41);

    // The disk fills up part way into the next row: a write past that size fails (EFBIG).
    rlimit unlimited{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = unlimited;
    full.rlim_cur = rlim_t(QFileInfo(journal).size() + 20);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &full) == 0);
    feedFrames(l, 500, 60);
    const bool warned = dialogs.waitForCount(1);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &unlimited) == 0);
    QVERIFY(warned);
    QCOMPARE(dialogs.records().first(), warning("错误", "记录备份文件写入失败"));
    feedFrames(l, 2000, 10); // on in memory
    QVERIFY(stopRecording(w));
    QCOMPARE(dialogs.count(), 1);
    QVERIFY(readFile(journal).endsWith('\n')); // the journal ends on its last whole row

    // Every row is in the export, in order, as the card sent it.
    const QString exported = dir.filePath("export.csv");
    w.saveFileDialog = [exported](QWidget *, const QString &, const QString &, const QString &) { return exported; };
    QCOMPARE(dialogs.clickFor(child<QPushButton>(w, "btnRecordExport")).text, QString("文件导出成功"));
    QList<QByteArray> lines = readFile(exported).split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.takeFirst() + '\n', recordHeader(3));
    QCOMPARE(lines.size(), 110);
    for (int i = 0; i < lines.size(); ++i) {
        const int k = i < 40 ? i : i < 100 ? i - 40 : i - 100;
        const uint ms = (i < 40 ? 10 : i < 100 ? 500 : 2000) + 10 * uint(k);
        const QList<QByteArray> f = lines[i].split(',');
        QCOMPARE(f.value(0).toUInt(), ms);
        QCOMPARE(f.value(2).toInt(), k);
    }
}

QTEST_MAIN(TestRecordJournal)
#include "tst_recordjournal.moc"
