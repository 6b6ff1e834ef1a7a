#include "analysiswindow.h"
#include "linkthread.h"
#include "modaldialoghelper.h"
#include "recordformat.h"
#include "replaycsv.h"
#include "simloopbacklink.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <sys/resource.h>

namespace {

QString label(AnalysisWindow &w, const char *name)
{
    return w.findChild<QLabel *>(name)->text();
}

QStringList labels(AnalysisWindow &w)
{
    return {label(w, "labTotalForce"), label(w, "labShear"), label(w, "labContact"), label(w, "labCop"),
            label(w, "labPeak")};
}

QStringList textsOf(const PressureSummary &s)
{
    const PressureTexts t = pressureTexts(s);
    return {t.totalForce, t.shear, t.contact, t.cop, t.peak};
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Six sensors pressed in turn, with rows of no press, of pure shear and of negative Fz between.
std::shared_ptr<const ReplayTable> recording(const QString &path)
{
    QByteArray csv = recordHeader(6);
    const uint start = 43200000;
    for (int row = 0; row < 400; ++row) {
        QList<Axit_t> samples(6);
        const int s = row / 7 % 6;
        const int phase = row % 7;
        samples[s] = Axit_t{int16_t(300 * phase - 900), int16_t(-150 * phase), int16_t(phase == 6 ? -6000 : 4000 * phase)};
        samples[(s + 1) % 6].z = int16_t(2500 * (row % 3));
        csv += recordRow(start + 5 * uint(row) + uint(row % 4), start, samples);
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(csv) != csv.size())
        return nullptr;
    f.close();
    return readReplayFile(path).table;
}

// The data rows of an export, split into fields.
QList<QList<QByteArray>> exportedRows(const QString &path)
{
    QList<QByteArray> lines = readAll(path).split('\n');
    if (lines.value(0) != analysisCsvHeader().chopped(1) || !lines.last().isEmpty())
        return {};
    QList<QList<QByteArray>> rows;
    for (qsizetype i = 1; i + 1 < lines.size(); ++i)
        rows.append(lines[i].split(','));
    return rows;
}

// Whether an exported row holds the summary's numbers (to the hundredth, empty where undefined).
bool rowMatches(const QList<QByteArray> &f, qint64 ms, const PressureSummary &s)
{
    auto near = [](const QByteArray &field, double v) { return !field.isEmpty() && std::abs(field.toDouble() - v) <= 0.005; };
    return f.size() == 10 && f[0].toLongLong() == ms && near(f[1], s.totalFz) && near(f[2], s.shearX)
           && near(f[3], s.shearY) && near(f[4], s.shear) && f[5] == QByteArray::number(s.contact)
           && (s.hasCop ? near(f[6], s.cop.x()) && near(f[7], s.cop.y()) : f[6].isEmpty() && f[7].isEmpty())
           && f[8] == QByteArray::number(s.peakSensor) && near(f[9], s.peak);
}

} // namespace

class TestAnalysisWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void liveFramesShowTheLatestFramesNumbers_data();
    void liveFramesShowTheLatestFramesNumbers();
    void exportsOneRowPerRowOfTheRecording();
    void replayedFramesAgreeWithTheRecordingsExport();
    void typedThresholdChangesTheContact_data();
    void typedThresholdChangesTheContact();
    void targetThatCannotBeCreated_data();
    void targetThatCannotBeCreated();
    void fullDiskIsNoSuccessAndKeepsTheOldFile();
    void cancelledExportLeavesTheOldFileAlone();

private:
    // Clicks 导出 and returns the message that ends the export (progress dialogs are passed over).
    DialogRecord pressExport(const QString &answer);
    QStringList filesInDir() const
    {
        QStringList files = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
        files.removeOne("Analysisconfig.ini");
        return files;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AnalysisWindow> m_window;
    std::unique_ptr<ModalDialogHelper> m_dialogs;
    QStringList m_dialogFolders;
};

void TestAnalysisWindow::init()
{
    QStandardPaths::setTestModeEnabled(true);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QDir::setCurrent(m_dir->path()); // the settings file sits in the working directory
    m_window = std::make_unique<AnalysisWindow>();
    m_dialogFolders.clear();
    m_dialogs = std::make_unique<ModalDialogHelper>();
}

void TestAnalysisWindow::cleanup()
{
    m_dialogs.reset();
    m_window.reset();
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

DialogRecord TestAnalysisWindow::pressExport(const QString &answer)
{
    m_window->saveFileDialog = [this, answer](QWidget *parent, const QString &caption, const QString &folder,
                                              const QString &filter) {
        m_dialogFolders.append(parent == m_window.get() && caption == "选择文件" && filter == "*.csv" ? folder : "?");
        return answer;
    };
    const qsizetype before = m_dialogs->records().size();
    // The export and its message run inside the click: the message has been answered on return.
    QTest::mouseClick(m_window->findChild<QPushButton *>("btnAnalysisExport"), Qt::LeftButton);
    for (qsizetype seen = before; seen < m_dialogs->records().size(); ++seen)
        if (m_dialogs->records().at(seen).kind != "progress")
            return m_dialogs->records().at(seen);
    return {};
}

void TestAnalysisWindow::liveFramesShowTheLatestFramesNumbers_data()
{
    QTest::addColumn<int>("sensors");
    QTest::addColumn<int>("dataType");
    QTest::newRow("16 sensors, demarcated") << 16 << 0;
    QTest::newRow("6 sensors, source data") << 6 << 1;
}

void TestAnalysisWindow::liveFramesShowTheLatestFramesNumbers()
{
    QFETCH(int, sensors);
    QFETCH(int, dataType);
    LinkThread<SimLoopbackLink> thread(7);
    SimLoopbackLink *link = thread.link;
    link->card().setSensorCount(sensors);
    link->setManualClock(true);
    link->setOpen(true);
    // As the main window connects the graph window: by signature, queued from the link's thread.
    QVERIFY(connect(link, SIGNAL(AxitReceive(QList<Axit_t>&,uint)), m_window.get(),
                    SLOT(setItemData(QList<Axit_t>&,uint))));
    QList<Axit_t> latest;
    connect(link, qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive), this,
            [&latest](QList<Axit_t> &frame, uint num) { latest = frame.first(num); });
    thread.start();
    QMetaObject::invokeMethod(link, "setInfoType", Q_ARG(uchar, uchar(dataType)), Q_ARG(int, 0));
    m_window->setSensorNum(uint(sensors));
    m_window->setDataMode(dataType);
    m_window->show();

    // Until the card presses hard enough for a centre of pressure.
    PressureSummary expected;
    for (int i = 0; i < 1000 && !expected.hasCop; ++i) {
        link->step(20);
        QVERIFY(thread.settle());
        expected = summarisePressure(latest, sensors, dataType, contactShare(DefaultContactPercent));
    }
    QVERIFY(expected.hasCop);
    QCOMPARE(expected.sensors, sensors);
    QTRY_COMPARE(labels(*m_window), textsOf(expected));
}

void TestAnalysisWindow::exportsOneRowPerRowOfTheRecording()
{
    const std::shared_ptr<const ReplayTable> table = recording(m_dir->filePath("rec.csv"));
    QVERIFY(table);
    m_window->setRecording(table);
    m_window->show();
    const QString target = m_dir->filePath("analysis.csv");
    QCOMPARE(pressExport(target), (DialogRecord{"information", "导出文件", "文件导出成功"}));

    const QList<QList<QByteArray>> rows = exportedRows(target);
    QCOMPARE(rows.size(), table->rowCount());
    QList<Axit_t> frame;
    int withCop = 0;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        table->frameAt(r, frame);
        const PressureSummary s = summarisePressure(frame, 6, 0, contactShare(DefaultContactPercent));
        QVERIFY2(rowMatches(rows[r], table->msAt(r), s), rows[r].join(',').constData());
        withCop += s.hasCop;
    }
    QVERIFY(withCop > 0 && withCop < rows.size());

    // The next export opens where this one went, also after a restart.
    m_window = std::make_unique<AnalysisWindow>();
    QCOMPARE(pressExport(QString()), DialogRecord());
    QCOMPARE(m_dialogFolders, (QStringList{QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                           m_dir->path()}));
}

void TestAnalysisWindow::replayedFramesAgreeWithTheRecordingsExport()
{
    const std::shared_ptr<const ReplayTable> table = recording(m_dir->filePath("rec.csv"));
    QVERIFY(table);
    m_window->setSensorNum(6);
    m_window->setFrameTimeFromStamps(true);
    m_window->show();
    QList<Axit_t> frame;
    for (qsizetype r = 0; r < table->rowCount(); ++r) {
        table->frameAt(r, frame);
        m_window->setItemData(frame, uint(frame.size()), table->msAt(r));
    }
    QTRY_COMPARE(labels(*m_window), textsOf(summarisePressure(frame, 6, 0, contactShare(DefaultContactPercent))));
    QCOMPARE(pressExport(m_dir->filePath("played.csv")).text, QString("文件导出成功"));
    m_window->setRecording(table);
    QCOMPARE(pressExport(m_dir->filePath("file.csv")).text, QString("文件导出成功"));

    // Played, millisecond counts from the first frame; from the file, it is the file's field 1.
    QList<QList<QByteArray>> played = exportedRows(m_dir->filePath("played.csv"));
    const QList<QList<QByteArray>> fromFile = exportedRows(m_dir->filePath("file.csv"));
    QCOMPARE(played.size(), table->rowCount());
    for (QList<QByteArray> &row : played)
        row[0] = QByteArray::number(row[0].toLongLong() + table->msAt(0));
    QCOMPARE(played, fromFile);
}

void TestAnalysisWindow::typedThresholdChangesTheContact_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("contact");
    // |v| / 1.732 of a 3000 source press is 0.1732.
    QTest::newRow("17 %: in contact") << "17" << "1 / 4 (25.0 %)";
    QTest::newRow("18 %: out of contact") << "18" << "0 / 4 (0.0 %)";
}

void TestAnalysisWindow::typedThresholdChangesTheContact()
{
    QFETCH(QString, typed);
    m_window->setSensorNum(4);
    m_window->setDataMode(1);
    m_window->show();
    QList<Axit_t> frame{{0, 0, 3000}, {}, {}, {}};
    m_window->setItemData(frame, 4);
    QTRY_COMPARE(label(*m_window, "labContact"), QString("1 / 4 (25.0 %)"));

    auto *spin = m_window->findChild<QSpinBox *>("spinContactThreshold");
    QTest::mouseClick(spin, Qt::LeftButton);
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, typed);
    QTEST(label(*m_window, "labContact"), "contact");
}

void TestAnalysisWindow::targetThatCannotBeCreated_data()
{
    QTest::addColumn<QString>("target"); // relative to the temporary folder
    QTest::newRow("missing folder") << "no-such-folder/out.csv";
    QTest::newRow("a folder") << ".";
    QTest::newRow("a device") << "/dev/full";
}

void TestAnalysisWindow::targetThatCannotBeCreated()
{
    QFETCH(QString, target);
    m_window->show();
    QCOMPARE(pressExport(QDir(m_dir->path()).absoluteFilePath(target)), (DialogRecord{"warning", "错误", "文件无法创建"}));
    QCOMPARE(filesInDir(), QStringList());
}

void TestAnalysisWindow::fullDiskIsNoSuccessAndKeepsTheOldFile()
{
    const std::shared_ptr<const ReplayTable> table = recording(m_dir->filePath("rec.csv"));
    QVERIFY(table);
    m_window->setRecording(table);
    m_window->show();
    const QString target = m_dir->filePath("old.csv");
    {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old content\n") == 12);
    }
    // A file size limit fails the writes part-way, as a full disk does.
    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    const DialogRecord message = pressExport(target);
    setrlimit(RLIMIT_FSIZE, &saved);
    QCOMPARE(message, (DialogRecord{"warning", "错误", "文件写入失败"}));
    QCOMPARE(readAll(target), QByteArray("old content\n"));
    QCOMPARE(filesInDir(), (QStringList{"old.csv", "rec.csv"}));
}

void TestAnalysisWindow::cancelledExportLeavesTheOldFileAlone()
{
    const std::shared_ptr<const ReplayTable> table = recording(m_dir->filePath("rec.csv"));
    QVERIFY(table);
    m_window->setRecording(table);
    m_window->show();
    const QString target = m_dir->filePath("old.csv");
    {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old content\n") == 12);
    }
    // Cancelled the moment it shows, before the worker can have finished.
    connect(m_dialogs.get(), &ModalDialogHelper::shown, this, [](QWidget *dialog) {
        if (auto *progress = qobject_cast<QProgressDialog *>(dialog))
            progress->findChild<QPushButton *>()->click();
    });
    QCOMPARE(pressExport(target), DialogRecord());
    QCOMPARE(readAll(target), QByteArray("old content\n"));
    QCOMPARE(filesInDir(), (QStringList{"old.csv", "rec.csv"}));
}

QTEST_MAIN(TestAnalysisWindow)
#include "tst_analysiswindow.moc"
