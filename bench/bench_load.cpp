// The whole tool under load: the simulated card (its own process) streams 200 Hz with 16
// sensors; the tool shows the graph window with every curve checked. Prints the tool's CPU time
// per second of wall time and its peak memory. Run under xvfb-run (or on a desktop).
//   bench_load [seconds, default 60]
#include "curvegraphic.h"
#include "mainwindow.h"
#include "myserialport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakRssKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString link = dir.filePath("card");
    QProcess card;
    card.start(TACTILON_SIM, {"--sensors", "16", "--link", link});
    if (!card.waitForReadyRead(5000)) {
        std::fprintf(stderr, "the simulated card did not start\n");
        return 1;
    }
    qputenv("TACTILON_EXTRA_PORTS", link.toLocal8Bit());

    // Settings results pop up message boxes; answer them as a user would.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
    });
    answer.start(50);

    MainWindow w;
    w.show();
    auto *ports = w.findChild<QComboBox *>("SerialPortSelect");
    ports->setCurrentIndex(ports->findText(link));
    w.findChild<QAbstractButton *>("btnSerialOpen")->click();
    spin(1000);
    if (!w.deviceLink()->isPortOpen()) {
        std::fprintf(stderr, "could not open the card's port\n");
        return 1;
    }
    auto *count = w.findChild<QLineEdit *>("lineSensorSum");
    count->setText("16");
    emit count->editingFinished();
    w.findChild<QComboBox *>("SampleFreSelect")->setCurrentIndex(4); // 200 Hz
    w.findChild<QAbstractButton *>("btnGraphic")->click();
    auto *list = w.graphWindow()->findChild<QListWidget *>("sensorList");
    list->item(0)->setCheckState(Qt::Checked);
    emit list->itemClicked(list->item(0));
    spin(2000); // settle: window mapped, histories filling

    const double frames0 = w.graphWindow()->sampleCount();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    spin(seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = wall.elapsed() / 1000.0;
    const double frames = w.graphWindow()->sampleCount() - frames0;

    std::printf("tool under load: 16 sensors at 200 Hz, graph window with 48 curves, %.0f s\n", elapsed);
    std::printf("  frames taken         %.0f (%.1f per second)\n", frames, frames / elapsed);
    std::printf("  CPU time             %.2f s = %.1f %% of one core\n", cpu, 100.0 * cpu / elapsed);
    std::printf("  peak memory (RSS)    %.1f MiB\n", peakRssKiB() / 1024.0);
    w.close();
    card.terminate();
    card.waitForFinished(3000);
    return 0;
}
