#include "modaldialoghelper.h"
#include "recordwindow.h"
#include "scriptedcard.h"
#include "tempfolder.h"
#include "userinput.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Stands in for the save dialog: answers with the queued names and remembers what it was asked.
struct DialogScript
{
    struct Call
    {
        QWidget *parent;
        QString caption, folder, filter;
    };
    QStringList answers;
    QList<Call> calls;

    void attach(RecordWindow &w)
    {
        w.saveFileDialog = [this](QWidget *p, const QString &caption, const QString &folder, const QString &filter) {
            calls.append({p, caption, folder, filter});
            return answers.isEmpty() ? QString() : answers.takeFirst();
        };
    }
};

QString storedPath(const QString &iniFile)
{
    QSettings ini(iniFile, QSettings::IniFormat);
    return ini.value("Recordconfig/path").toString();
}

} // namespace

class TestRecordExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void exportsHeaderAndRowsAsOftenAsAsked();
    void headerNamesTheLargestCountAmongTheRows_data();
    void headerNamesTheLargestCountAmongTheRows();
    void exportBeforeRecordingWritesOnlyTheHeader_data();
    void exportBeforeRecordingWritesOnlyTheHeader();
    void exportReplacesALongerFile();
    void fileThatCannotBeCreatedKeepsTheRows();
    void failedWriteIsNotReportedAsSuccess();
    void cancelledDialogChangesNothing();
    void dialogStartsInTheRememberedFolder_data();
    void dialogStartsInTheRememberedFolder();

private:
    // Records frames with two sensors, stops, and returns the rows as they should be exported.
    QByteArray recordTwoSensorFrames(int count);
    DialogRecord pressExport() { return m_dialogs->clickFor(child<QPushButton>(*m_window, "btnRecordExport")); }

    std::unique_ptr<TemporaryWorkingFolder> m_dir; // the store sits in the working directory, as at start-up
    std::unique_ptr<ScriptedCard> m_link;
    std::unique_ptr<RecordWindow> m_window;
    std::unique_ptr<ModalDialogHelper> m_dialogs;
    DialogScript m_script;
};

void TestRecordExport::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestRecordExport::init()
{
    m_dir = std::make_unique<TemporaryWorkingFolder>();
    m_link = std::make_unique<ScriptedCard>();
    m_window = std::make_unique<RecordWindow>();
    m_window->setLink(m_link->link);
    m_script = DialogScript();
    m_script.attach(*m_window);
    m_dialogs = std::make_unique<ModalDialogHelper>();
}

void TestRecordExport::cleanup()
{
    m_dialogs.reset();
    m_window.reset();
    m_link.reset();
    m_dir.reset();
}

QByteArray TestRecordExport::recordTwoSensorFrames(int count)
{
    QTest::mouseClick(child<QPushButton>(*m_window, "btnRecordStart"), Qt::LeftButton);
    if (!QTest::qWaitFor([this] { return m_window->recordingState() == 1; }, 3000))
        return {};
    const uint start = m_link->syncedStartTime();
    QByteArray expected;
    for (int i = 1; i <= count; ++i) {
        const QList<Sample> samples{{i, -i, 100 * i}, {-32768, 32767, i}};
        m_link->feed(stampedFrame(afterStart(start, uint(5 * i)), samples));
        expected += expectedRow(uint(5 * i), afterStart(start, uint(5 * i)), samples);
    }
    if (!QTest::qWaitFor([&] { return m_window->session()->rowCount() == count; }, 3000))
        return {};
    QTest::mouseClick(child<QPushButton>(*m_window, "btnRecordStop"), Qt::LeftButton);
    if (!QTest::qWaitFor([this] { return m_window->recordingState() == 0; }, 3000))
        return {};
    return expected;
}

void TestRecordExport::exportsHeaderAndRowsAsOftenAsAsked()
{
    const QByteArray rows = recordTwoSensorFrames(3);
    QVERIFY(!rows.isEmpty());
    QVERIFY(m_window->hasUnexportedRecording());
    const QByteArray expected = "millisecond,time stamp,X1,y1,z1,X2,y2,z2,\n" + rows;
    const QString first = m_dir->filePath("first.csv");
    const QString second = m_dir->filePath("second.csv");
    m_script.answers = QStringList{first, second};
    // An export counts only once it is on the disk: its journal may go right after.
    QList<qint64> syncedSizes;
    m_window->exportSync = [&syncedSizes](int fd) {
        struct stat st;
        syncedSizes << (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? qint64(st.st_size) : -1);
        return ::fsync(fd);
    };

    QCOMPARE(pressExport(), (DialogRecord{"information", "导出文件", "文件导出成功"}));
    QVERIFY(!syncedSizes.isEmpty());
    QCOMPARE(syncedSizes.first(), expected.size());
    QVERIFY(!m_window->hasUnexportedRecording());
    QCOMPARE(pressExport(), (DialogRecord{"information", "导出文件", "文件导出成功"}));

    QCOMPARE(readAll(first), expected);
    QCOMPARE(readAll(second), expected);
    QCOMPARE(m_script.calls.size(), 2);
    QCOMPARE(m_script.calls[0].parent, m_window.get());
    QCOMPARE(m_script.calls[0].caption, QString("选择文件"));
    QCOMPARE(m_script.calls[0].filter, QString("*.csv"));
    QCOMPARE(m_script.calls[0].folder, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    QCOMPARE(m_script.calls[1].folder, m_dir->path());

    m_window.reset(); // the store writes its file at the latest now
    QCOMPARE(storedPath(m_dir->filePath("Recordconfig.ini")), second);
}

void TestRecordExport::headerNamesTheLargestCountAmongTheRows_data()
{
    QTest::addColumn<QList<int>>("counts"); // sensors of each frame, in order
    QTest::addColumn<int>("header");
    QTest::newRow("count fell, another card since") << QList<int>{3, 3, 2} << 3;
    QTest::newRow("count rose") << QList<int>{2, 4, 1} << 4;
}

void TestRecordExport::headerNamesTheLargestCountAmongTheRows()
{
    QFETCH(QList<int>, counts);
    QFETCH(int, header);
    QTest::mouseClick(child<QPushButton>(*m_window, "btnRecordStart"), Qt::LeftButton);
    QTRY_COMPARE(m_window->recordingState(), 1);
    const uint start = m_link->syncedStartTime();
    QByteArray rows;
    for (int i = 0; i < counts.size(); ++i) {
        const QList<Sample> samples(counts[i], Sample{i, 1, 2});
        m_link->feed(stampedFrame(afterStart(start, uint(i)), samples));
        rows += expectedRow(uint(i), afterStart(start, uint(i)), samples);
    }
    QTest::mouseClick(child<QPushButton>(*m_window, "btnRecordStop"), Qt::LeftButton);
    QTRY_COMPARE(m_window->recordingState(), 0);
    // A card of six sensors is on the link by the time of the export.
    m_link->feed(cardFrame(0x00, QByteArray(36, '\0')));
    QTRY_COMPARE(m_link->link->axitNum(), 6);
    m_script.answers = QStringList{m_dir->filePath("out.csv")};
    QCOMPARE(pressExport().text, QString("文件导出成功"));
    QCOMPARE(readAll(m_dir->filePath("out.csv")), recordHeader(header) + rows);
}

void TestRecordExport::exportBeforeRecordingWritesOnlyTheHeader_data()
{
    QTest::addColumn<int>("sensors");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("no frame yet") << -1 << QByteArray("millisecond,time stamp,\n");
    QTest::newRow("latest frame has 2 sensors") << 2 << QByteArray("millisecond,time stamp,X1,y1,z1,X2,y2,z2,\n");
    QTest::newRow("latest frame is empty") << 0 << QByteArray("millisecond,time stamp,\n");
}

void TestRecordExport::exportBeforeRecordingWritesOnlyTheHeader()
{
    QFETCH(int, sensors);
    QFETCH(QByteArray, content);
    if (sensors >= 0) {
        m_link->feed(cardFrame(0x00, QByteArray(6 * sensors, '\1')));
        QVERIFY(m_link->settle());
        QCOMPARE(m_link->link->axitNum(), sensors);
    }
    const QString file = m_dir->filePath("empty.csv");
    m_script.answers = QStringList{file};
    QCOMPARE(pressExport().text, QString("文件导出成功"));
    QCOMPARE(readAll(file), content);
}

void TestRecordExport::exportReplacesALongerFile()
{
    const QByteArray rows = recordTwoSensorFrames(1);
    QVERIFY(!rows.isEmpty());
    const QString file = m_dir->filePath("old.csv");
    {
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x') + "\nold tail\n");
    }
    m_script.answers = QStringList{file};
    QCOMPARE(pressExport().text, QString("文件导出成功"));
    QCOMPARE(readAll(file), "millisecond,time stamp,X1,y1,z1,X2,y2,z2,\n" + rows);
}

void TestRecordExport::fileThatCannotBeCreatedKeepsTheRows()
{
    const QByteArray rows = recordTwoSensorFrames(2);
    QVERIFY(!rows.isEmpty());
    const QString bad = m_dir->filePath("no-such-folder/out.csv");
    const QString good = m_dir->filePath("retry.csv");
    m_script.answers = QStringList{bad, good};

    QCOMPARE(pressExport(), (DialogRecord{"warning", "错误", "文件无法创建"}));
    QVERIFY(!QFile::exists(bad));
    QCOMPARE(m_window->session()->rows(), rows);
    QVERIFY(m_window->hasUnexportedRecording());

    // The failed name is remembered, but its folder does not exist: the dialog opens on the desktop.
    QCOMPARE(pressExport().text, QString("文件导出成功"));
    QCOMPARE(m_script.calls[1].folder, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    QVERIFY(readAll(good).endsWith(rows));
    QVERIFY(!m_window->hasUnexportedRecording());
}

void TestRecordExport::failedWriteIsNotReportedAsSuccess()
{
    if (!QFile::exists("/dev/full"))
        QSKIP("no /dev/full to make writes fail");
    const QByteArray rows = recordTwoSensorFrames(2);
    QVERIFY(!rows.isEmpty());
    m_script.answers = QStringList{"/dev/full"};
    QCOMPARE(pressExport(), (DialogRecord{"warning", "错误", "文件写入失败"}));
    QVERIFY(m_window->hasUnexportedRecording());
    QCOMPARE(m_window->session()->rows(), rows);
}

void TestRecordExport::cancelledDialogChangesNothing()
{
    const QString first = m_dir->filePath("first.csv");
    m_script.answers = QStringList{first};
    QCOMPARE(pressExport().text, QString("文件导出成功"));
    const QStringList filesBefore = QDir(m_dir->path()).entryList(QDir::Files);
    const QByteArray firstContent = readAll(first);

    m_script.answers.clear(); // cancelled: empty name
    QTest::mouseClick(child<QPushButton>(*m_window, "btnRecordExport"), Qt::LeftButton);
    QCOMPARE(m_script.calls.size(), 2);
    QTest::qWait(100);
    QCOMPARE(m_dialogs->count(), 1);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), filesBefore);
    QCOMPARE(readAll(first), firstContent);

    m_window.reset();
    QCOMPARE(storedPath(m_dir->filePath("Recordconfig.ini")), first);
}

void TestRecordExport::dialogStartsInTheRememberedFolder_data()
{
    QTest::addColumn<QString>("stored"); // relative to the temporary folder; "" for no entry
    QTest::addColumn<QString>("folder"); // likewise; "<desktop>" for the desktop
    QTest::newRow("no entry") << "" << "<desktop>";
    QTest::newRow("remembered folder exists") << "sub/last.csv" << "sub";
    QTest::newRow("remembered folder is gone") << "gone/last.csv" << "<desktop>";
}

void TestRecordExport::dialogStartsInTheRememberedFolder()
{
    QFETCH(QString, stored);
    QFETCH(QString, folder);
    m_window.reset();
    QVERIFY(QDir(m_dir->path()).mkpath("sub"));
    if (!stored.isEmpty()) {
        QSettings ini(m_dir->filePath("Recordconfig.ini"), QSettings::IniFormat);
        ini.setValue("Recordconfig/path", m_dir->filePath(stored));
    }
    m_window = std::make_unique<RecordWindow>();
    m_script.attach(*m_window);

    QTest::mouseClick(child<QPushButton>(*m_window, "btnRecordExport"), Qt::LeftButton);
    QCOMPARE(m_script.calls.size(), 1);
    QCOMPARE(m_script.calls[0].folder, folder == "<desktop>"
                                           ? QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
                                           : m_dir->filePath(folder));
}

QTEST_MAIN(TestRecordExport)
#include "tst_recordexport.moc"
