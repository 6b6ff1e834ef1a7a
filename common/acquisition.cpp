#include "acquisition.h"

#include "slaveprotocol.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <algorithm>

Qt::ConnectionType blockingCallTo(const QObject *link)
{
    return link->thread() == QThread::currentThread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection;
}

bool Acquisition::run(QWidget *parent, SlaveProtocol *link, QPointer<QProgressDialog> *dialogOut) const
{
    begin();
    QProgressDialog dialog(label, "取消", 0, total, parent);
    if (dialogOut)
        *dialogOut = &dialog;
    dialog.setWindowTitle(title);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setFixedWidth(300);
    dialog.setValue(progress());
    dialog.show();

    // A local loop, so the link's answers and the dialog's cancel keep flowing meanwhile.
    auto poll = [&] {
        QEventLoop loop;
        QTimer::singleShot(pollMs, &loop, &QEventLoop::quit);
        loop.exec();
        dialog.setValue(std::min(progress(), total));
    };
    bool ended = false;
    poll();
    while (progress() < total) {
        if (dialog.wasCanceled())
            break;
        if (!link->isPortOpen()) {
            end();
            ended = true;
            dialog.cancel();
            break;
        }
        poll();
    }
    if (!ended)
        end();
    return !dialog.wasCanceled();
}
