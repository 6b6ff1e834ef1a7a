// Cost of recording: one hour at 200 Hz with 16 sensors (720 000 frames) fed into the record
// window's session, kept in a journal (or with --memory in memory only), then one export and a
// copy of the journal with cp for comparison. Prints time per row, the bytes the recording holds
// and the process's resident-memory growth; run by hand: bench_record [frames] [--memory].
#include "fakelink.h"
#include "recordjournal.h"
#include "recordwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cstdio>

namespace {

long statusKiB(const char *field)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(strlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool memoryOnly = args.contains("--memory");
    int frames = 720000;
    for (const QString &a : args)
        if (a.toInt() > 0)
            frames = a.toInt();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    QThread thread;
    auto *link = new FakeLink;
    link->setOpen(true);
    link->onSend = [](FakeLink *l, const QByteArray &frame) {
        if (uint8_t(frame.at(2)) == 0x8D)
            l->feed(cardFrame(0x8D, QByteArray(1, '\0')));
    };
    link->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, link, &QObject::deleteLater);
    thread.start();

    long rssBefore = 0;
    QString journalPath;
    {
        RecordWindow window;
        window.setLink(link);
        if (!memoryOnly)
            window.setJournalFolder(dir.filePath("journals"));
        window.findChild<QPushButton *>("btnRecordStart")->click();
        if (!QTest::qWaitFor([&window] { return window.recordingState() == 1; }, 5000)) {
            std::fprintf(stderr, "recording did not start\n");
            return 1;
        }

        QList<QList<Axit_t>> patterns;
        for (int p = 0; p < 64; ++p) {
            QList<Axit_t> list;
            for (int k = 0; k < 16; ++k) {
                const int v = (p * 37 + k * 101) % 20000 - 10000;
                list.append(Axit_t{int16_t(v), int16_t(v / 3), int16_t(-v / 7)});
            }
            patterns.append(list);
        }
        rssBefore = statusKiB("VmRSS:");
        const uint start = uint(QTime::currentTime().msecsSinceStartOfDay());
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < frames; ++i)
            window.session()->setItemData(patterns[i % patterns.size()], 16, start + uint(i) * 5u);
        const qint64 ns = timer.nsecsElapsed();
        const long rssAfter = statusKiB("VmRSS:");

        const RecordingSession *session = window.session();
        std::printf("%s: rows %lld, %.1f ns per row, %.3f s in all\n", memoryOnly ? "memory" : "journal",
                    (long long)session->rowCount(), double(ns) / frames, double(ns) / 1e9);
        std::printf("recording holds %lld bytes of rows (%.1f MiB), %.1f bytes per row\n",
                    (long long)session->exportBytes(), session->exportBytes() / 1048576.0,
                    double(session->exportBytes()) / frames);
        std::printf("RSS growth while recording: %.1f MiB (before %.1f MiB, after %.1f MiB)\n",
                    (rssAfter - rssBefore) / 1024.0, rssBefore / 1024.0, rssAfter / 1024.0);

        emit link->DataTypeSetResult(0, 0); // the card's answer to stop
        session->store()->waitFinished(-1);
        std::printf("RSS once the writer has caught up: %.1f MiB (fed %.0f times faster than a card sends)\n",
                    statusKiB("VmRSS:") / 1024.0, 3600.0 / (double(ns) / 1e9));
        const QString file = dir.filePath("hour.csv");
        window.saveFileDialog = [file](QWidget *, const QString &, const QString &, const QString &) { return file; };
        // The success message box is modal; close it as soon as it shows.
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [] {
            if (QWidget *w = QApplication::activeModalWidget())
                w->close();
        });
        closer.start(5);
        timer.restart();
        window.findChild<QPushButton *>("btnRecordExport")->click();
        const qint64 exportMs = timer.elapsed();
        std::printf("export: %lld bytes written in %lld ms (including the message box)\n",
                    (long long)QFileInfo(file).size(), (long long)exportMs);
        if (!memoryOnly) {
            timer.restart();
            QProcess::execute("cp", {window.journalPath(), dir.filePath("copy.csv")});
            QProcess::execute("sync", {dir.filePath("copy.csv")});
            std::printf("cp of the journal (%lld bytes) and sync: %lld ms\n",
                        (long long)QFileInfo(window.journalPath()).size(), (long long)timer.elapsed());
        }
        journalPath = window.journalPath();
    }
    if (!journalPath.isEmpty()) {
        // The tool starts again and takes the journal over, as after a crash.
        RecordWindow again;
        QElapsedTimer timer;
        timer.start();
        const bool recovered = again.recoverJournal(journalPath);
        std::printf("recovery of the journal: %s in %.2f ms\n", recovered ? "taken over" : "FAILED",
                    timer.nsecsElapsed() / 1e6);
    }
    std::printf("peak RSS of the process: %.1f MiB\n", statusKiB("VmHWM:") / 1024.0);

    thread.quit();
    thread.wait();
    return 0;
}
