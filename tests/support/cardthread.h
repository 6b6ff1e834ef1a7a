#pragma once

#include "ptycardserver.h"

#include <QThread>
#include <functional>

// The simulated card on a thread of its own, so it keeps streaming whatever the GUI thread
// does and its work does not count against it. setUp runs on the card's thread before start.
class CardThread
{
public:
    explicit CardThread(quint32 seed, const std::function<void(PtyCardServer &)> &setUp = {})
    {
        server = new PtyCardServer(seed);
        server->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, server, &QObject::deleteLater);
        thread.start();
        run([&] {
            if (setUp)
                setUp(*server);
            started = server->start();
        });
    }
    ~CardThread()
    {
        thread.quit();
        thread.wait();
    }
    CardThread(const CardThread &) = delete;
    CardThread &operator=(const CardThread &) = delete;

    // Runs f on the card's thread and returns once it has run.
    template <typename F>
    void run(F f)
    {
        QMetaObject::invokeMethod(server, f, Qt::BlockingQueuedConnection);
    }
    qint64 now()
    {
        qint64 t = 0;
        run([&] { t = server->nowMs(); });
        return t;
    }

    QThread thread;
    PtyCardServer *server = nullptr;
    bool started = false;
};
