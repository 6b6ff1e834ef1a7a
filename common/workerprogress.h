#pragma once

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <functional>

class QWidget;

// What a long job on a worker thread shares with the dialog that watches it.
struct WorkerProgress
{
    std::atomic<bool> cancel{false}; // the job polls it and returns early when set
    std::atomic<qint64> done{0};     // raised by the job, 0..total
};

// Runs work on a thread of its own under a window-modal progress dialog (300 wide, "取消"),
// while the caller's event loop keeps turning, so the windows stay responsive. True when the
// work ran to its end; false when the user cancelled, the dialog was cancelled from outside
// (a closing main window does so) or the parent went away. The caller's own object may be gone
// by the time this returns: check it with a QPointer before touching it. With showAfterMs the
// dialog appears only if the work is still running by then, so quick work flashes nothing.
bool runWithProgress(QWidget *parent, const QString &title, const QString &label, qint64 total,
                     const std::function<void(WorkerProgress &)> &work, int showAfterMs = 0);
