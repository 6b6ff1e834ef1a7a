#include "analysiswindow.h"
#include "copview.h"
#include "linkthread.h"
#include "modaldialoghelper.h"
#include "recordformat.h"
#include "replaycsv.h"
#include "simloopbacklink.h"
#include "tempfolder.h"

#include <QDir>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <csignal>
#include <sys/resource.h>

namespace {

const float defaultShare = contactShare(DefaultContactPercent);

QStringList labels(AnalysisWindow &w)
{
    QStringList texts;
    for (const char *name : {"labTotalForce", "labShear", "labContact", "labCop", "labPeak"})
        texts.append(w.findChild<QLabel *>(name)->text());
    return texts;
}

QStringList textsOf(const PressureSummary &s)
{
    const PressureTexts t = pressureTexts(s);
    return {t.totalForce, t.shear, t.contact, t.cop, t.peak};
}

// Six sensors pressed in turn, with rows of no press, of pure shear and of negative Fz between,
// as the record window writes them.
std::shared_ptr<const ReplayTable> recording()
{
    QByteArray csv = recordHeader(6);
    const uint start = 43200000;
    for (int row = 0; row < 400; ++row) {
        QList<Axit_t> samples(6);
        const int s = row / 7 % 6, phase = row % 7;
        samples[s] = Axit_t{int16_t(300 * phase - 900), int16_t(-150 * phase), int16_t(phase == 6 ? -6000 : 4000 * phase)};
        samples[(s + 1) % 6].z = int16_t(2500 * (row % 3));
        csv += recordRow(start + 5 * uint(row) + uint(row % 4), start, samples);
    }
    return parseReplayCsv(csv).table;
}

// The data rows of an export, split into fields; none when the header or the last line ending is wrong.
QList<QList<QByteArray>> exportedRows(const QString &path)
{
    QFile file(path);
    QList<QByteArray> lines = file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
    QList<QList<QByteArray>> rows;
    if (lines.value(0) == analysisCsvHeader().chopped(1) && lines.last().isEmpty())
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
    void trailHoldsTheLastTwoSecondsOfFrameTime_data();
    void trailHoldsTheLastTwoSecondsOfFrameTime();
    void typedThresholdCountsAtOnceAndClosedWindowWaits();
    void exportsOfARecordingAndOfItsReplayAgree();
    void failedExportKeepsTheOldFile_data();
    void failedExportKeepsTheOldFile();

private:
    // Clicks 导出 and returns the message that ends the export (progress dialogs are passed over).
    DialogRecord pressExport(const QString &answer);

    std::unique_ptr<TemporaryWorkingFolder> m_dir; // the settings file sits in the working directory
    std::unique_ptr<AnalysisWindow> m_window;
    std::unique_ptr<ModalDialogHelper> m_dialogs;
    QStringList m_dialogFolders;
};

void TestAnalysisWindow::init()
{
    QStandardPaths::setTestModeEnabled(true);
    m_dir = std::make_unique<TemporaryWorkingFolder>();
    m_window = std::make_unique<AnalysisWindow>();
    m_dialogFolders.clear();
    m_dialogs = std::make_unique<ModalDialogHelper>();
}

void TestAnalysisWindow::cleanup()
{
    m_dialogs.reset();
    m_window.reset();
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
        expected = summarisePressure(latest, sensors, dataType, defaultShare);
    }
    QVERIFY(expected.hasCop);
    QCOMPARE(expected.sensors, sensors);
    // Frames still on their way (a slow sanitizer build) may follow the one that pressed: the
    // window shows whichever came last, so each look compares with the newest.
    QTRY_COMPARE(labels(*m_window), textsOf(summarisePressure(latest, sensors, dataType, defaultShare)));
}

void TestAnalysisWindow::trailHoldsTheLastTwoSecondsOfFrameTime_data()
{
    QTest::addColumn<bool>("fromStamps");
    QTest::addColumn<uint>("firstStamp");
    QTest::addColumn<uint>("stampStep");
    QTest::addColumn<int>("clockStep");
    QTest::newRow("arrival time, stamps not asked for") << false << 5000u << 777u << 100;
    QTest::newRow("stamps across midnight, replayed at 4x") << true << 86398500u << 100u << 25;
}

void TestAnalysisWindow::trailHoldsTheLastTwoSecondsOfFrameTime()
{
    QFETCH(bool, fromStamps);
    QFETCH(uint, firstStamp);
    QFETCH(uint, stampStep);
    QFETCH(int, clockStep);
    qint64 now = 0;
    m_window->setClock([&now] { return now; });
    m_window->setSensorNum(4);
    m_window->setDataMode(1);
    m_window->setFrameTimeFromStamps(fromStamps);
    m_window->show();
    for (int i = 0; i < 40; ++i) {
        QList<Axit_t> frame(4);
        frame[i % 4].z = 5000;
        m_window->setItemData(frame, 4, firstStamp + uint(i) * stampStep);
        now += clockStep;
    }
    QCOMPARE(m_window->latestFrameMs(), 3900);
    m_window->refresh();
    QCOMPARE(m_window->copView()->trail().size(), 1);
    QCOMPARE(m_window->copView()->trail().first().size(), 21); // 1900 ms to 3900 ms
    QCOMPARE(m_window->copView()->cop(), std::optional<QPointF>(QPointF(3, 0)));
}

void TestAnalysisWindow::typedThresholdCountsAtOnceAndClosedWindowWaits()
{
    m_window->setSensorNum(4);
    m_window->setDataMode(1);
    m_window->show();
    QList<Axit_t> frame{{0, 0, 3000}, {}, {}, {}}; // |v| / 1.732 = 0.1732
    m_window->setItemData(frame, 4);
    QTRY_COMPARE(labels(*m_window).at(2), QString("1 / 4 (25.0 %)"));
    auto *spin = m_window->findChild<QSpinBox *>("spinContactThreshold");
    QTest::mouseClick(spin, Qt::LeftButton);
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, "18");
    QCOMPARE(labels(*m_window).at(2), QString("0 / 4 (0.0 %)"));

    QVERIFY(m_window->close());
    QVERIFY(m_window->isHidden() && !m_window->refreshTimer()->isActive());
    frame[0].z = 3200;
    m_window->setItemData(frame, 4);
    QCOMPARE(labels(*m_window).at(2), QString("0 / 4 (0.0 %)")); // never drawn per frame
    m_window->show();
    QCOMPARE(labels(*m_window).at(2), QString("1 / 4 (25.0 %)"));
}

void TestAnalysisWindow::exportsOfARecordingAndOfItsReplayAgree()
{
    const std::shared_ptr<const ReplayTable> table = recording();
    QVERIFY(table);
    m_window->setSensorNum(6);
    m_window->setFrameTimeFromStamps(true);
    m_window->show();
    QList<Axit_t> frame;
    for (qsizetype r = 0; r < table->rowCount(); ++r) {
        table->frameAt(r, frame);
        m_window->setItemData(frame, uint(frame.size()), table->msAt(r));
    }
    QTRY_COMPARE(labels(*m_window), textsOf(summarisePressure(frame, 6, 0, defaultShare)));
    QCOMPARE(pressExport(m_dir->filePath("played.csv")), (DialogRecord{"information", "导出文件", "文件导出成功"}));
    m_window->setRecording(table);
    QCOMPARE(pressExport(m_dir->filePath("file.csv")).text, QString("文件导出成功"));

    const QList<QList<QByteArray>> rows = exportedRows(m_dir->filePath("file.csv"));
    QCOMPARE(rows.size(), table->rowCount());
    int withCop = 0;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        table->frameAt(r, frame);
        const PressureSummary s = summarisePressure(frame, 6, 0, defaultShare);
        QVERIFY2(rowMatches(rows[r], table->msAt(r), s), rows[r].join(',').constData());
        withCop += s.hasCop;
    }
    QVERIFY(withCop > 0 && withCop < rows.size());
    // Played, millisecond counts from the first frame; from the file, it is the file's field 1.
    QList<QList<QByteArray>> played = exportedRows(m_dir->filePath("played.csv"));
    for (QList<QByteArray> &row : played)
        row[0] = QByteArray::number(row[0].toLongLong() + table->msAt(0));
    QCOMPARE(played, rows);

    // The next export opens where the last one went, also after a restart.
    m_window = std::make_unique<AnalysisWindow>();
    QCOMPARE(pressExport(QString()), DialogRecord());
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QCOMPARE(m_dialogFolders, (QStringList{desktop, m_dir->path(), m_dir->path()}));
}

void TestAnalysisWindow::failedExportKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("target"); // relative to the temporary folder
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message"); // a warning's text; empty for none
    QTest::newRow("missing folder") << "no-such-folder/out.csv" << "" << "文件无法创建";
    QTest::newRow("a folder") << "." << "" << "文件无法创建";
    QTest::newRow("a device") << "/dev/full" << "" << "文件写入失败";
    QTest::newRow("full disk") << "old.csv" << "full" << "文件写入失败";
    QTest::newRow("cancelled") << "old.csv" << "cancel" << "";
}

void TestAnalysisWindow::failedExportKeepsTheOldFile()
{
    QFETCH(QString, target);
    QFETCH(QString, fault);
    QFETCH(QString, message);
    const std::shared_ptr<const ReplayTable> table = recording();
    QVERIFY(table);
    m_window->setRecording(table);
    m_window->exportProgressAfterMs = 0; // shown at once, so a cancel can come before the end
    m_window->show();
    QFile old(m_dir->filePath("old.csv"));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old content\n") == 12);
    old.close();

    // A file size limit fails the writes part-way, as a full disk does; the rows exceed it.
    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
    rlimit small = saved;
    small.rlim_cur = fault == "full" ? 4096 : saved.rlim_cur;
    std::signal(SIGXFSZ, SIG_IGN);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    // Cancelled the moment the progress shows, before the worker can have finished.
    connect(m_dialogs.get(), &ModalDialogHelper::shown, this, [fault](QWidget *dialog) {
        if (auto *progress = qobject_cast<QProgressDialog *>(dialog); progress && fault == "cancel")
            progress->findChild<QPushButton *>()->click();
    });
    const DialogRecord shown = pressExport(QDir(m_dir->path()).absoluteFilePath(target));
    setrlimit(RLIMIT_FSIZE, &saved);

    QCOMPARE(shown, (message.isEmpty() ? DialogRecord() : DialogRecord{"warning", "错误", message}));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old content\n"));
    QStringList files = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
    files.removeOne("Analysisconfig.ini");
    QCOMPARE(files, QStringList{"old.csv"});
}

QTEST_MAIN(TestAnalysisWindow)
#include "tst_analysiswindow.moc"
