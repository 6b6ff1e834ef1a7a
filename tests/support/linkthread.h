#pragma once

#include <QByteArray>
#include <QObject>
#include <QTest>
#include <QThread>
#include <utility>

// A device link on a thread of its own, as the main window runs it. Set the link up first (its
// card, its port state), then start(): the link moves to the thread and is deleted there when
// the thread ends with this object.
template <typename Link>
class LinkThread
{
public:
    template <typename... Args>
    explicit LinkThread(Args &&...args)
        : link(new Link(std::forward<Args>(args)...))
    {
    }
    ~LinkThread()
    {
        if (!m_started) {
            delete link;
            return;
        }
        thread.quit();
        thread.wait();
    }
    LinkThread(const LinkThread &) = delete;
    LinkThread &operator=(const LinkThread &) = delete;

    Link *start()
    {
        link->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, link, &QObject::deleteLater);
        thread.start();
        m_started = true;
        return link;
    }
    // Runs f on the link thread and returns once it has run.
    template <typename F>
    void run(F f)
    {
        QMetaObject::invokeMethod(link, std::move(f), Qt::BlockingQueuedConnection);
    }
    // Card bytes, handed to the codec on the link thread as the serial port would.
    void feed(const QByteArray &bytes)
    {
        Link *l = link;
        QMetaObject::invokeMethod(l, [l, bytes] { l->feed(bytes); }, Qt::QueuedConnection);
    }
    // Returns once everything queued on the link so far has run and what it emitted meanwhile
    // has reached this thread's receivers.
    bool settle()
    {
        QObject here;
        bool done = false;
        QMetaObject::invokeMethod(
            link, [&here, &done] { QMetaObject::invokeMethod(&here, [&done] { done = true; }, Qt::QueuedConnection); },
            Qt::QueuedConnection);
        return QTest::qWaitFor([&done] { return done; }, 5000);
    }

    Link *const link;
    QThread thread;

private:
    bool m_started = false;
};
