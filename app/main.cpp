#include "mainwindow.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication app(argc, argv);
    // Names the tool's own data folder (the journals of recordings live there).
    QCoreApplication::setApplicationName("tactilon");
    MainWindow w;
    w.setWindowTitle("Tactilon");
    w.show();
    QTimer::singleShot(0, &w, &MainWindow::offerRecovery);
    return app.exec();
}
