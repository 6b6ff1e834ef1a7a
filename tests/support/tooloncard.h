#pragma once

#include "mainwindow.h"
#include "myserialport.h"
#include "ptycardserver.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <memory>

// The tool with the simulated card's pseudo-terminal listed as its first port (header only:
// the tests that use it link the main window).
struct ToolOnCard
{
    ToolOnCard()
    {
        server.card().setSensorCount(6);
        if (!server.start())
            qFatal("no pseudo-terminal");
        qputenv("TACTILON_EXTRA_PORTS", server.slavePath().toLocal8Bit());
        window.reset(new MainWindow);
        window->show();
    }
    // Presses the open button with the card's port chosen; true once the link is open.
    bool open()
    {
        auto *ports = window->findChild<QComboBox *>("SerialPortSelect");
        ports->setCurrentIndex(ports->findText(server.slavePath()));
        QTest::mouseClick(window->findChild<QPushButton *>("btnSerialOpen"), Qt::LeftButton);
        return QTest::qWaitFor([this] { return window->deviceLink()->isPortOpen(); }, 3000);
    }
    PtyCardServer server{7};
    std::unique_ptr<MainWindow> window;
};
