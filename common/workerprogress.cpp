#include "workerprogress.h"

#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <memory>

bool runWithProgress(QWidget *parent, const QString &title, const QString &label, qint64 total,
                     const std::function<void(WorkerProgress &)> &work, int showAfterMs)
{
    auto progress = std::make_shared<WorkerProgress>();
    std::unique_ptr<QThread> worker(QThread::create([progress, &work] { work(*progress); }));

    QPointer<QProgressDialog> dialog = new QProgressDialog(label, "取消", 0, 1000, parent);
    dialog->setWindowTitle(title);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setFixedWidth(300);
    // The dialog's own timer shows it once this much time has passed.
    dialog->setMinimumDuration(std::max(0, showAfterMs));
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    QObject::connect(dialog, &QProgressDialog::canceled, dialog, [progress] { progress->cancel = true; });

    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    QPointer<QWidget> guardedParent(parent);
    if (parent)
        QObject::connect(parent, &QObject::destroyed, &loop, [progress, &loop] {
            progress->cancel = true;
            loop.quit();
        });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [dialog, progress, total] {
        if (!dialog)
            return;
        // cancel() called on the dialog from outside emits nothing; the flag still tells.
        if (dialog->wasCanceled())
            progress->cancel = true;
        dialog->setValue(int(std::min<qint64>(999, progress->done * 1000 / std::max<qint64>(total, 1))));
    });
    dialog->setValue(0);
    if (showAfterMs <= 0)
        dialog->show();
    worker->start();
    tick.start(50);
    loop.exec();
    tick.stop();
    // The job polls the flag, so a cancelled one ends soon; it must end before its captures go.
    worker->wait();
    const bool finished = !progress->cancel && (!parent || guardedParent);
    delete dialog;
    return finished;
}
