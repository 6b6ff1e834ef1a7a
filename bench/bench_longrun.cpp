// A long unattended recording: the tool records 200 Hz with 16 sensors from the simulated card
// (its own process), which vanishes every M seconds and comes back 2 s later. Prints the tool's
// resident memory each minute, and at the end the rows against what the card sent: rows lost
// outside the outages (must be 0), and the time from the port's return to the first new row.
// Run by hand, under xvfb-run or on a desktop:
//   bench_longrun [minutes, default 30] [outage every seconds, default 60]
#include "mainwindow.h"
#include "myserialport.h"
#include "recordformat.h"
#include "recordingsession.h"
#include "recordjournal.h"
#include "recordwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <limits>

namespace {

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

long residentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The longest a thread's event loop went without running a 20 ms timer: a thread that sat that long
// read nothing from the port (link thread) or showed nothing (GUI thread).
class StallMeter : public QObject
{
public:
    explicit StallMeter(QThread *thread)
    {
        moveToThread(thread);
        QMetaObject::invokeMethod(this, [this] {
            auto *timer = new QTimer(this);
            QObject::connect(timer, &QTimer::timeout, this, [this] {
                const qint64 now = clock.nsecsElapsed() / 1000000;
                if (last >= 0)
                    longest = std::max<qint64>(longest, now - last - 20);
                last = now;
            });
            clock.start();
            timer->start(20);
        });
    }
    // The longest stall since the last call.
    qint64 take() { return longest.exchange(0); }

private:
    QElapsedTimer clock;
    qint64 last = -1;
    std::atomic<qint64> longest{0};
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const int every = argc > 2 ? std::max(5, std::atoi(argv[2])) : 60;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    qputenv("XDG_DATA_HOME", dir.filePath("data").toLocal8Bit());
    const QString link = dir.filePath("card"), log = dir.filePath("card.log");

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(TACTILON_SIM, {"--sensors", "16", "--link", link, "--vanish-after", QString::number(every * 1000),
                             "--vanish-every", QString::number(every * 1000), "--come-back-after", "2000",
                             "--stamp-log", log});
    if (!sim.waitForStarted() || !sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "the simulated card did not start\n");
        return 1;
    }
    qputenv("TACTILON_EXTRA_PORTS", link.toLocal8Bit());
    // Messages of the settings are answered as a person would, at once.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->accept();
    });
    closer.start(50);

    MainWindow w;
    w.show();
    auto *ports = w.findChild<QComboBox *>("SerialPortSelect");
    spin(2500);
    ports->setCurrentIndex(ports->findText(link));
    w.findChild<QPushButton *>("btnSerialOpen")->click();
    spin(1000);
    w.findChild<QComboBox *>("SampleFreSelect")->setCurrentIndex(4);
    spin(1000);
    RecordWindow *record = w.recordingWindow();
    record->findChild<QPushButton *>("btnRecordStart")->click();
    spin(1000);
    if (record->recordingState() != 1) {
        std::fprintf(stderr, "the recording did not start\n");
        return 1;
    }
    RecordingSession *session = record->session();
    auto *linkStalls = new StallMeter(w.deviceLink()->thread());
    auto *guiStalls = new StallMeter(QThread::currentThread());
    std::printf("minute  RSS MiB  rows  outages  lost s  longest stall ms (link thread, GUI)  status\n");
    for (int m = 1; m <= minutes; ++m) {
        spin(60000);
        std::printf("%6d  %7.1f  %lld  %d  %.1f  %lld %lld  %s\n", m, residentKiB() / 1024.0,
                    qlonglong(session->rowCount()), session->outageCount(), session->lostMs() / 1000.0,
                    qlonglong(linkStalls->take()), qlonglong(guiStalls->take()),
                    qPrintable(w.findChild<QLabel *>("labLinkHealth")->text()));
        std::fflush(stdout);
    }
    // Each meter goes on its own thread: a timer cannot be stopped from another.
    QMetaObject::invokeMethod(linkStalls, [linkStalls] { delete linkStalls; }, Qt::BlockingQueuedConnection);
    delete guiStalls;
    const uint stoppedAt = uint(QTime::currentTime().msecsSinceStartOfDay());
    record->findChild<QPushButton *>("btnRecordStop")->click();
    spin(3000);
    sim.terminate();
    sim.waitForFinished();

    // What the card sent while it was there, against the rows of the journal.
    QSet<uint> rows;
    QList<uint> order;
    {
        QFile journal(record->journalPath());
        journal.open(QIODevice::ReadOnly);
        journal.readLine();
        while (!journal.atEnd()) {
            const QList<QByteArray> f = journal.readLine().split(',');
            const QList<QByteArray> t = f.value(1).split(':');
            if (t.size() == 4) {
                const uint tod = timeOfDayMs(t[0].toUInt(), t[1].toUInt(), t[2].toUInt(), t[3].toUInt());
                rows.insert(tod);
                order.append(f.value(0).toUInt());
            }
        }
    }
    QList<uint> vanishes;
    QList<uint> backs;
    QList<uint> stamps;
    qint64 overruns = 0, overrunBytes = 0;
    QList<qint64> cardStalls;
    QFile cardLog(log);
    cardLog.open(QIODevice::ReadOnly);
    for (const QByteArray &line : cardLog.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 3 && f[0] == "overrun") {
            ++overruns;
            overrunBytes += f[2].toLongLong();
        }
        if (f.size() == 3 && f[0] == "late")
            cardStalls.append(f[2].toLongLong());
        if (f.size() != 2)
            continue;
        const uint t = f[1].toUInt() % MsPerDay;
        if (f[0] == "stamp")
            stamps.append(t);
        else if (f[0] == "vanish")
            vanishes.append(t);
        else if (f[0] == "back")
            backs.append(t);
    }
    QList<uint> sortedRows(rows.begin(), rows.end());
    std::sort(sortedRows.begin(), sortedRows.end(), [&](uint a, uint b) {
        return msSinceStart(a, session->startTime()) < msSinceStart(b, session->startTime());
    });
    // An outage runs from the frames on the line when the device went to the first row after it
    // came back (until the tool has opened it again, what the card sends goes nowhere); a frame
    // lost at any other time is lost outright.
    auto since = [&](uint t) { return msSinceStart(t, session->startTime()); };
    QList<std::pair<uint, uint>> outageSpans;
    for (int i = 0; i < vanishes.size(); ++i) {
        uint until = std::numeric_limits<uint>::max();
        if (i < backs.size())
            for (uint r : sortedRows)
                if (since(r) >= since(backs[i])) {
                    until = since(r);
                    break;
                }
        outageSpans.append({since(vanishes[i]) >= 300 ? since(vanishes[i]) - 300 : 0, until});
    }
    qint64 lostAtOutages = 0, lostOutside = 0;
    const uint span = msSinceStart(stoppedAt, session->startTime());
    for (uint stamp : stamps) {
        // What the card sent after the stop (or, stopped while it was away, after its return) is
        // no part of the recording.
        if (rows.contains(stamp) || msSinceStart(stamp, session->startTime()) > span)
            continue;
        bool atOutage = false;
        for (const auto &span : outageSpans)
            atOutage = atOutage || (since(stamp) >= span.first && since(stamp) < span.second);
        (atOutage ? lostAtOutages : lostOutside) += 1;
        if (!atOutage && qEnvironmentVariableIsSet("TACTILON_LONGRUN_DETAIL"))
            std::printf("lost outside an outage: stamp %u (%u ms after the start)\n", stamp,
                        msSinceStart(stamp, session->startTime()));
    }
    bool backwards = false;
    for (qsizetype i = 1; i < order.size(); ++i)
        backwards = backwards || order[i] < order[i - 1];
    QList<qint64> returns;
    for (int i = 0; i < backs.size() && i < outageSpans.size(); ++i)
        if (outageSpans[i].second != std::numeric_limits<uint>::max())
            returns.append(qint64(outageSpans[i].second) - qint64(since(backs[i])));
    std::sort(returns.begin(), returns.end());
    if (qEnvironmentVariableIsSet("TACTILON_LONGRUN_DETAIL"))
        for (uint v : vanishes)
            std::printf("vanish at %u (%u ms after the start)\n", v, msSinceStart(v, session->startTime()));
    std::printf("frames the card sent while present %lld, rows %lld; lost at the %lld outages %lld, lost outside "
                "them %lld; field 1 went back: %s\n",
                qlonglong(stamps.size()), qlonglong(rows.size()), qlonglong(vanishes.size()), lostAtOutages,
                lostOutside, backwards ? "yes" : "no");
    // The card found the port full: the tool, or the card's own process, stalled for longer than
    // the pseudo-terminal holds (about 13 KiB, 0.6 s at 200 Hz with 16 sensors).
    std::printf("bytes the port could not take: %lld in %lld overruns (about %lld frames)\n", overrunBytes,
                overruns, overrunBytes / 104);
    std::printf("the card's own process stalled %lld times for more than 250 ms, longest %lld ms\n",
                qlonglong(cardStalls.size()),
                cardStalls.isEmpty() ? 0LL : *std::max_element(cardStalls.begin(), cardStalls.end()));
    if (!returns.isEmpty())
        std::printf("from the port's return to the first new row: median %lld ms, longest %lld ms (%lld returns)\n",
                    returns[returns.size() / 2], returns.last(), qlonglong(returns.size()));
    std::printf("RSS at the end %.1f MiB\n", residentKiB() / 1024.0);
    return 0;
}
