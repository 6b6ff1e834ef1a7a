#pragma once

#include "fakelink.h"

#include <QHash>
#include <QMutex>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>

// A FakeLink on its own thread, as the main window runs the link, with a scripted card
// behind it: status replies per command and a source stream while data type 1 is selected.
class CardThread
{
public:
    // Samples of the source frame with the given index (counted from the switch to type 1).
    using Stream = std::function<QList<Axit_t>(int frame)>;

    CardThread()
    {
        link = new FakeLink;
        link->setOpen(true);
        link->setReplyTimeout(150);
        link->onSend = [this](FakeLink *l, const QByteArray &frame) { answer(l, frame); };
        link->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, link, &QObject::deleteLater);
        thread.start();
    }
    ~CardThread()
    {
        thread.quit();
        thread.wait();
    }

    // -1: the card does not answer that command.
    void setStatus(uint8_t cmd, int status)
    {
        QMutexLocker lock(&m_mutex);
        m_status[cmd] = status;
    }
    // Delay of every status reply (1 ms unless set).
    void setReplyDelay(int ms) { m_replyDelayMs.store(ms); }
    void setStream(Stream stream)
    {
        QMutexLocker lock(&m_mutex);
        m_stream = std::move(stream);
    }
    // Hands bytes to the link on its own thread, as its port would.
    void feed(const QByteArray &bytes)
    {
        FakeLink *l = link;
        QMetaObject::invokeMethod(l, [l, bytes] { l->feed(bytes); });
    }
    QList<QByteArray> framesWith(uint8_t cmd) const
    {
        QList<QByteArray> found;
        for (const QByteArray &f : link->sentFrames())
            if (f.size() > 2 && uint8_t(f.at(2)) == cmd)
                found.append(f);
        return found;
    }

    FakeLink *link;
    QThread thread;

private:
    void answer(FakeLink *l, const QByteArray &frame)
    {
        const uint8_t cmd = uint8_t(frame.at(2));
        int status = 0;
        Stream stream;
        {
            QMutexLocker lock(&m_mutex);
            status = m_status.value(cmd, 0);
            stream = m_stream;
        }
        if (cmd == 0x82)
            switchStream(l, frame.size() > 3 && frame.at(3) == 1 ? stream : Stream());
        if (status >= 0 && (cmd == 0x82 || cmd == 0x86 || cmd == 0x87 || cmd == 0x89 || cmd == 0x8A || cmd == 0x8B))
            QTimer::singleShot(m_replyDelayMs.load(), l, [l, cmd, status] { l->feed(cardFrame(cmd, QByteArray(1, char(status)))); });
    }
    // Runs on the link thread only.
    void switchStream(FakeLink *l, Stream stream)
    {
        delete m_streamTimer;
        m_streamTimer = nullptr;
        if (!stream)
            return;
        m_streamTimer = new QTimer(l);
        auto frame = std::make_shared<int>(0);
        QObject::connect(m_streamTimer, &QTimer::timeout, l, [l, stream, frame] {
            QByteArray payload;
            for (const Axit_t &a : stream((*frame)++))
                payload += be16(a.x) + be16(a.y) + be16(a.z);
            l->feed(cardFrame(0x01, payload));
        });
        m_streamTimer->start(2);
    }

    QMutex m_mutex;
    QHash<uint8_t, int> m_status;
    Stream m_stream;
    QTimer *m_streamTimer = nullptr;
    std::atomic<int> m_replyDelayMs{1};
};
