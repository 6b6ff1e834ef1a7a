// Drives the tool against the simulated card the way a user would, and saves screenshots of
// every window: the headless half of scripts/demo. Message boxes are answered with their
// default button (Yes for a question) and printed.
//   tactilon-demo-shots <output folder> [sensors] [seconds of streaming]
#include "calibration.h"
#include "curvegraphic.h"
#include "demarcate.h"
#include "mainwindow.h"
#include "myserialport.h"
#include "recordwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace {

QString outDir;

void wait(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool waitFor(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!condition() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

template <typename T>
T *child(QWidget *w, const char *name)
{
    return w->findChild<T *>(name);
}

void press(QWidget *w, const char *button)
{
    if (auto *b = child<QAbstractButton>(w, button))
        b->click();
}

void save(QWidget *w, const QString &name)
{
    const QString path = QDir(outDir).filePath(name);
    w->grab().save(path);
    std::printf("screenshot: %s\n", qPrintable(path));
    std::fflush(stdout);
}

void answerMessageBoxes()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    std::printf("message: %s / %s\n", qPrintable(box->windowTitle()), qPrintable(box->text()));
    std::fflush(stdout);
    QAbstractButton *button = box->button(QMessageBox::Yes);
    if (!button)
        button = box->button(QMessageBox::Ok);
    if (!button && !box->buttons().isEmpty())
        button = box->buttons().first();
    if (button)
        button->click();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tactilon-demo-shots <output folder> [sensors] [seconds]\n");
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);
    const QString sensors = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString("16");
    const int seconds = argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : 6;
    QDir().mkpath(outDir);

    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, &answerer, answerMessageBoxes);
    answerer.start(50);

    MainWindow w;
    w.setWindowTitle("Tactilon");
    w.move(900, 40);
    w.show();

    auto *ports = child<QComboBox>(&w, "SerialPortSelect");
    const QString cardPort = qEnvironmentVariable("TACTILON_EXTRA_PORTS").section(':', 0, 0);
    if (!waitFor([&] { return ports->findText(cardPort) >= 0; }, 5000)) {
        std::fprintf(stderr, "the simulated card's port %s is not listed\n", qPrintable(cardPort));
        return 1;
    }
    ports->setCurrentIndex(ports->findText(cardPort));
    press(&w, "btnSerialOpen");
    if (!waitFor([&] { return w.deviceLink()->isPortOpen(); }, 5000)) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(cardPort));
        return 1;
    }
    wait(1000);

    auto *count = child<QLineEdit>(&w, "lineSensorSum");
    count->setText(sensors);
    emit count->editingFinished();
    child<QComboBox>(&w, "SampleFreSelect")->setCurrentIndex(3); // 100 Hz
    wait(800);

    press(&w, "btnGraphic");
    CurveGraphic *graph = w.graphWindow();
    if (auto *list = child<QListWidget>(graph, "sensorList")) {
        QListWidgetItem *all = list->item(0);
        all->setCheckState(Qt::Checked);
        emit list->itemClicked(all);
    }
    wait(seconds * 1000);
    save(&w, "main.png");
    save(graph, "graph.png");

    press(&w, "btnCalibration");
    Calibration *calibration = w.calibrationWindow();
    press(calibration, "btnRead");
    wait(800);
    save(calibration, "calibration.png");

    press(&w, "actDemarcate");
    Demarcate *demarcate = w.demarcateWindow();
    if (auto *tabs = child<QTabWidget>(demarcate, "tabWidget")) {
        tabs->setCurrentIndex(0);
        press(demarcate, "btnRead");
        wait(800);
        save(demarcate, "demarcate-array.png");
        tabs->setCurrentIndex(1);
        wait(500);
        save(demarcate, "demarcate-single.png");
    }

    press(&w, "pushRecord");
    RecordWindow *record = w.recordingWindow();
    press(record, "btnRecordStart");
    wait(2000);
    save(record, "record.png");
    press(record, "btnRecordStop");
    wait(500);

    const QString screenPath = QDir(outDir).filePath("screen.png");
    QGuiApplication::primaryScreen()->grabWindow(0).save(screenPath);
    std::printf("screenshot: %s\n", qPrintable(screenPath));

    w.close(); // an unexported recording asks first; the answerer says Yes
    return 0;
}
