// Fault soak: the tool with every window, fed by the simulated card at 200 Hz with 16 sensors
// while the card corrupts 0.1 % of its bytes, stops answering, refuses commands, and vanishes
// and comes back; settings change and a recording runs throughout. It checks that every fault
// gives its message and never a wrong success, that the GUI thread keeps turning, that memory
// stays flat, and that the recording holds exactly the stamped frames the card sent while the
// link was up. Prints its figures; exit status 1 on any failure.
//   tst_soak [seconds, default 60]
#include "calibration.h"
#include "cardthread.h"
#include "curvegraphic.h"
#include "demarcate.h"
#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "myserialport.h"
#include "ptycardserver.h"
#include "recordwindow.h"
#include "tempfolder.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QTime>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <map>

namespace {

int failures = 0;
constexpr qint64 HangMs = 30000;

void fail(const QString &what)
{
    ++failures;
    std::printf("FAIL: %s\n", qPrintable(what));
    std::fflush(stdout);
}

void note(const QString &what)
{
    std::printf("%s\n", qPrintable(what));
    std::fflush(stdout);
}

long rssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Bytes handed out by malloc and not yet freed, over all arenas; 0 where the allocator does not
// say (sanitizer builds).
long heapInUseKiB()
{
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
}

// One memory reading per cycle. The card's stream log lives in this process too and grows
// with every frame; it is the soak's, not the tool's, so it is counted apart.
struct MemorySample
{
    qint64 seconds = 0;
    long rss = 0, heap = 0, recording = 0; // KiB
    qsizetype logRecords = 0;
};

QString signedMiB(long kib)
{
    return (kib >= 0 ? "+" : "") + QString::number(kib / 1024.0, 'f', 1);
}

// Lateness of a 10 ms timer on the GUI thread: how long the event loop was kept from turning.
class LatencyProbe : public QObject
{
public:
    LatencyProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this] {
            const qint64 gap = clock.restart();
            if (gap - 10 > worst && qEnvironmentVariableIsSet("TACTILON_SOAK_TRACE"))
                note(QString("new worst lateness %1 ms during: %2").arg(gap - 10).arg(phase));
            worst = std::max(worst, gap - 10);
            if (gap - 10 > 200)
                ++over200;
            ++ticks;
        });
        clock.start();
        timer.start(10);
    }
    QTimer timer;
    QElapsedTimer clock;
    QString phase = "start";
    qint64 worst = 0;
    long over200 = 0;
    long ticks = 0;
};

struct Soak
{
    Soak(const QString &link, CardThread &card) : linkPath(link), card(card) {}

    template <typename T>
    T *child(QWidget *w, const char *name)
    {
        T *c = w->findChild<T *>(name);
        if (!c)
            qFatal("no widget %s", name);
        return c;
    }

    // Waits for exactly these dialogs (in order) and checks nothing else appeared.
    void expectDialogs(const QList<DialogRecord> &expected, int timeoutMs, const QString &step)
    {
        const int before = dialogs.count() - pendingDialogs;
        dialogs.waitForCount(before + int(expected.size()), timeoutMs);
        QTest::qWait(300); // anything extra shows now
        const QList<DialogRecord> got = dialogs.records().mid(before);
        pendingDialogs = 0;
        if (got != expected) {
            QStringList g;
            for (const DialogRecord &r : got)
                g << r.kind + "/" + r.title + "/" + r.text;
            QStringList e;
            for (const DialogRecord &r : expected)
                e << r.kind + "/" + r.title + "/" + r.text;
            fail(QString("%1: dialogs [%2], expected [%3]").arg(step, g.join("; "), e.join("; ")));
        }
        dialogs.clear();
    }

    bool open()
    {
        auto *ports = child<QComboBox>(window, "SerialPortSelect");
        if (!QTest::qWaitFor([&] { return ports->findText(linkPath) >= 0; }, 5000)) {
            fail("the card's port is not listed again");
            return false;
        }
        ports->setCurrentIndex(ports->findText(linkPath));
        child<QPushButton>(window, "btnSerialOpen")->click();
        if (!QTest::qWaitFor([&] { return window->deviceLink()->isPortOpen(); }, 3000)) {
            fail("the port did not open");
            return false;
        }
        upSince = card.now();
        // The frequency read after opening succeeds quietly (a reply the line corrupted costs a
        // retry), and so does the data-type read half a second later.
        if (!QTest::qWaitFor([&] { return window->deviceLink()->freIndex() >= 0; }, 3500))
            fail("the frequency read after opening got no answer");
        expectDialogs({}, 800, "open");
        return true;
    }

    void setFrequency(int index, const DialogRecord &expected, const QString &step)
    {
        auto *fre = child<QComboBox>(window, "SampleFreSelect");
        if (fre->currentIndex() == index)
            fail(step + ": the frequency is already chosen, nothing would be sent");
        fre->setCurrentIndex(index);
        expectDialogs({expected}, 11000, step);
    }

    void vanishAndComeBack()
    {
        card.run([&] { card.server->vanish(); });
        const qint64 gone = card.now();
        upIntervals.append({upSince, gone});
        expectDialogs({{"critical", "错误信息", "串口丢失"}}, 3000, "port loss");
        if (!QTest::qWaitFor([&] { return !window->deviceLink()->isPortOpen(); }, 2000))
            fail("the link stayed open after the loss");
        QTest::qWait(800);
        bool back = false;
        card.run([&] { back = card.server->reappear(); });
        if (!back)
            fail("the card did not come back");
        open();
        ++reconnects;
    }

    const QString linkPath;
    CardThread &card;
    MainWindow *window = nullptr;
    ModalDialogHelper dialogs;
    int pendingDialogs = 0;
    qint64 upSince = 0;
    QList<QPair<qint64, qint64>> upIntervals;
    int reconnects = 0;
};

// Recorded rows keyed by the card time of day they carry.
std::map<QString, QByteArray> rowsByTime(const QByteArray &text)
{
    std::map<QString, QByteArray> rows;
    for (const QByteArray &line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split(',');
        const QString key = QString::fromLatin1(fields.value(1));
        if (rows.count(key))
            fail("two rows carry the time stamp " + key);
        rows[key] = line.mid(line.indexOf(',', line.indexOf(',') + 1) + 1);
    }
    return rows;
}

QString timeOfDayText(quint32 stamp)
{
    const quint32 t = stamp % 86400000u;
    return QString("%1:%2:%3:%4").arg(t / 3600000).arg(t % 3600000 / 60000).arg(t % 60000 / 1000).arg(t % 1000);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    QStandardPaths::setTestModeEnabled(true);
    TemporaryWorkingFolder dir; // the windows keep their INI files here
    const QString link = dir.filePath("tactilon-card");

    CardThread card(11, [&](PtyCardServer &server) {
        server.card().setSensorCount(16);
        server.card().setCorruption(0.001);
        server.card().setStreamLogEnabled(true);
        server.setLinkPath(link);
    });
    if (!card.started) {
        note("FAIL: no pseudo-terminal for the card");
        return 1;
    }
    qputenv("TACTILON_EXTRA_PORTS", link.toLocal8Bit());

    auto *window = new MainWindow;
    // The user's answer to a lost port, as the tool gave it before it could wait for the card.
    window->findChild<QAction *>("actAutoReconnect")->trigger();
    Soak soak(link, card);
    soak.window = window;
    window->show();
    for (const char *button : {"btnGraphic", "actDemarcate", "btnCalibration", "pushRecord"})
        soak.child<QPushButton>(window, button)->click();
    QListWidget *sensors = soak.child<QListWidget>(window->graphWindow(), "sensorList");

    LatencyProbe latency;
    QElapsedTimer clock;
    clock.start();
    latency.phase = "open";
    if (!soak.open())
        return 1;
    latency.phase = "16 sensors, all curves";
    auto *count = soak.child<QLineEdit>(window, "lineSensorSum");
    count->setText("16");
    emit count->editingFinished();
    sensors->item(0)->setCheckState(Qt::Checked);
    emit sensors->itemClicked(sensors->item(0));
    latency.phase = "200 Hz";
    soak.setFrequency(4, {"information", "提示", "采样频率设置成功"}, "200 Hz");
    latency.phase = "record start";

    RecordWindow *record = window->recordingWindow();
    soak.child<QPushButton>(record, "btnRecordStart")->click();
    if (!QTest::qWaitFor([&] { return record->recordingState() == 1; }, 4000))
        fail("the recording did not start");
    soak.upSince = card.now();

    QList<MemorySample> memory;
    int cycles = 0;
    while (clock.elapsed() < qint64(seconds) * 1000) {
        latency.phase = "silent card";
        // Stops answering: a setting gets "通信超时", never a success.
        card.run([&] { card.server->card().setSilent(true); });
        soak.setFrequency(3, {"information", "提示", "通信超时"}, "silent card");
        card.run([&] { card.server->card().setSilent(false); });
        // After the silent spell the card still runs at 200 Hz; the tool believes 100 Hz.
        soak.setFrequency(4, {"information", "提示", "采样频率设置成功"}, "card answers again");

        latency.phase = "refusing card";
        // Refuses: the refusal, not a success.
        card.run([&] { card.server->card().setRefusedCodes({0x83}); });
        soak.setFrequency(3, {"information", "提示", "采样频率设置失败"}, "refusing card");
        card.run([&] { card.server->card().setRefusedCodes({}); });
        soak.setFrequency(4, {"information", "提示", "采样频率设置成功"}, "card accepts again");

        latency.phase = "sensor count";
        // Settings that do not involve the card.
        count->setText("8");
        emit count->editingFinished();
        QTest::qWait(500);
        count->setText("16");
        emit count->editingFinished();
        sensors->item(0)->setCheckState(Qt::Checked);
        emit sensors->itemClicked(sensors->item(0));
        QTest::qWait(1500);

        latency.phase = "vanish and reopen";
        soak.vanishAndComeBack();
        ++cycles;
        MemorySample m{clock.elapsed() / 1000, rssKiB(), heapInUseKiB(), long(record->session()->exportBytes() / 1024), 0};
        card.run([&] { m.logRecords = card.server->card().streamLog().size(); });
        memory.append(m);
        note(QString("cycle %1 at %2 s: RSS %3 MiB, heap in use %4 MiB, recording %5 MiB, worst GUI latency %6 ms")
                 .arg(cycles)
                 .arg(m.seconds)
                 .arg(m.rss / 1024.0, 0, 'f', 1)
                 .arg(m.heap / 1024.0, 0, 'f', 1)
                 .arg(m.recording / 1024.0, 0, 'f', 1)
                 .arg(latency.worst));
    }

    // Stop recording; the rows must be exactly the stamped frames sent while the link was up.
    soak.child<QPushButton>(record, "btnRecordStop")->click();
    if (!QTest::qWaitFor([&] { return record->recordingState() == 0; }, 4000))
        fail("the recording did not stop");
    soak.upIntervals.append({soak.upSince, card.now()});
    QTest::qWait(300);

    QList<SimStreamRecord> log;
    card.run([&] { log = card.server->card().streamLog(); });
    const std::map<QString, QByteArray> rows = rowsByTime(record->session()->rows());
    long expected = 0, found = 0, corruptedLost = 0, corruptedKept = 0, edge = 0, extra = 0, lostAfterCorrupted = 0;
    std::map<QString, bool> sent;
    // A false header inside a corrupted frame can claim up to 257 bytes and, once in 256 times,
    // pass the checksum, swallowing the headers of the frames it covers.
    qint64 offset = 0, corruptedReach = -1;
    for (const SimStreamRecord &rec : log) {
        const qint64 start = offset;
        const qint64 size = (rec.type == 2 ? 8 : 4) + 6 * rec.samples.size();
        offset += size;
        const bool afterCorrupted = start < corruptedReach;
        if (rec.corrupted)
            corruptedReach = start + size - 1 + 257;
        if (rec.type != 2)
            continue;
        const QString key = timeOfDayText(rec.timeStamp);
        QByteArray samples;
        for (const SimSample &s : rec.samples)
            samples += QByteArray::number(s.x) + "," + QByteArray::number(s.y) + "," + QByteArray::number(s.z) + ",";
        const auto row = rows.find(key);
        if (row != rows.end()) {
            sent[key] = true;
            if (row->second != samples && !rec.corrupted)
                fail("row " + key + " differs from the frame the card sent");
        }
        // Frames well inside an up interval must all be there, unless the line corrupted them.
        bool inside = false, near = false;
        for (const auto &up : soak.upIntervals) {
            inside = inside || (rec.atMs > up.first + 150 && rec.atMs < up.second - 150);
            near = near || (rec.atMs >= up.first - 150 && rec.atMs <= up.second + 150);
        }
        if (inside) {
            if (rec.corrupted) {
                row == rows.end() ? ++corruptedLost : ++corruptedKept;
                continue;
            }
            ++expected;
            if (row != rows.end())
                ++found;
            else if (afterCorrupted)
                ++lostAfterCorrupted;
            else
                fail("stamped frame " + key + " sent while the link was up is not in the recording");
        } else if (row != rows.end() && !near) {
            fail("row " + key + " was recorded while the link was down");
        } else if (row != rows.end()) {
            ++edge;
        }
    }
    long corruptedTotal = 0;
    for (const SimStreamRecord &rec : log)
        corruptedTotal += rec.corrupted;
    for (const auto &row : rows)
        extra += !sent.count(row.first);
    // An 8-bit sum lets about one in 256 frames with two changed bytes through; such a frame
    // can carry a wrong time stamp. More than a handful means the tool invents rows.
    if (extra > 2 + corruptedTotal / 200)
        fail(QString("%1 rows match no frame the card sent").arg(extra));

    // What the stream log costs: the heap it gives back when both copies of it go.
    const qsizetype logRecords = log.size();
    const long heapWithLog = heapInUseKiB();
    log.clear();
    card.run([&] { card.server->card().clearStreamLog(); });
    const long logKiB = heapWithLog - heapInUseKiB();

    // After the first minute the tool's heap may grow by what the recording holds, no more.
    const MemorySample *first = nullptr;
    for (const MemorySample &m : memory)
        if (!first && m.seconds >= 60 && &m != &memory.last())
            first = &m;
    if (first && first->heap > 0 && logRecords > 0) {
        const MemorySample &last = memory.last();
        const long logGrowth = long(double(logKiB) * (last.logRecords - first->logRecords) / logRecords);
        const long recordingGrowth = last.recording - first->recording;
        const long heapGrowth = last.heap - first->heap;
        const long rest = heapGrowth - logGrowth - recordingGrowth;
        note(QString("memory from %1 s to %2 s: RSS %3 MiB, heap in use %4 MiB, of which the recording "
                     "%5 MiB and the soak's log of the card's frames %6 MiB; the rest %7 MiB")
                 .arg(first->seconds)
                 .arg(last.seconds)
                 .arg(signedMiB(last.rss - first->rss))
                 .arg(signedMiB(heapGrowth))
                 .arg(signedMiB(recordingGrowth))
                 .arg(signedMiB(logGrowth))
                 .arg(signedMiB(rest)));
        // Qt 6.4 keeps a few hundred bytes for every repaint of a style-sheeted header section, and
        // the soak's message boxes repaint every window several times a minute: most of the 1.5 MiB
        // a minute that remain here. The leak this check found in the tool's data path was 4.8.
        const double minutes = (last.seconds - first->seconds) / 60.0;
        if (rest > 2048 * minutes)
            fail(QString("the tool's heap grows by %1 MiB a minute beyond what the recording holds")
                     .arg(rest / 1024.0 / minutes, 0, 'f', 1));
    }

    note(QString("soak: %1 s, %2 cycles, %3 reconnects").arg(clock.elapsed() / 1000).arg(cycles).arg(soak.reconnects));
    note(QString("recording: %1 rows; %2 of %3 frames sent while up found (%8 lost within reach of a corrupted one); "
                 "%4 corrupted on the line and dropped, %5 corrupted but passing the checksum; %6 at a link edge; "
                 "%7 unmatched")
             .arg(rows.size())
             .arg(found)
             .arg(expected)
             .arg(corruptedLost)
             .arg(corruptedKept)
             .arg(edge)
             .arg(extra)
             .arg(lostAfterCorrupted));
    note(QString("GUI thread: worst event-loop lateness %1 ms over %2 ticks, %3 above 200 ms")
             .arg(latency.worst)
             .arg(latency.ticks)
             .arg(latency.over200));
    // Lateness is a figure of the machine as much as of the tool (a loaded runner, a sanitizer
    // build); only a standstill that long is a hang.
    if (latency.worst > HangMs)
        fail(QString("the GUI thread stood still for %1 ms").arg(latency.worst));

    soak.dialogs.answerNext(QMessageBox::Yes); // the recording was never exported
    window->close();
    delete window;
    note(failures ? QString("soak FAILED (%1)").arg(failures) : QString("soak passed"));
    return failures ? 1 : 0;
}
