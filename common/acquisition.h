#pragma once

#include <QPointer>
#include <QString>
#include <functional>

class QObject;
class QProgressDialog;
class QWidget;
class SlaveProtocol;

// How this thread calls into the link and waits for it: blocking queued across threads, directly
// when the link lives here (Qt refuses a blocking queued call into its own thread, which would
// silently skip it).
Qt::ConnectionType blockingCallTo(const QObject *link);

// One acquisition from the card's stream, as the baseline and the demarcation take them: begun
// on the link, watched in short local loops under a window-modal progress dialog while the link
// thread sums the frames, ended on the link in every case (done, cancelled, or the link lost,
// which cancels it).
struct Acquisition
{
    QString title;
    QString label = QStringLiteral("正在获取校准数据...");
    int total = 0;  // the dialog's maximum
    int pollMs = 0; // one local loop between two looks at the progress
    std::function<void()> begin; // on the link; returns once it has begun
    std::function<int()> progress;
    std::function<void()> end;   // on the link; returns once it has ended

    // True when it ran to the end; false when the user, a watchdog (through dialog) or the lost
    // link cancelled it.
    bool run(QWidget *parent, SlaveProtocol *link, QPointer<QProgressDialog> *dialog = nullptr) const;
};
