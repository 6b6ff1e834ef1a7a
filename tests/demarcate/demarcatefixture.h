#pragma once

#include "demarcate.h"
#include "fakelink.h"
#include "linkthread.h"
#include "modaldialoghelper.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QLineEdit>
#include <QMutex>
#include <QPushButton>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>

// A FakeLink on its own thread, as the main window runs the link, with a scripted card behind
// it: a status reply to every request (per command, -1 for none) and, while data type 1 is
// selected, a source frame every 2 ms made by `stream` from the frame's index.
class CardThread : public LinkThread<FakeLink>
{
public:
    using Stream = std::function<QList<Axit_t>(int frame)>;

    CardThread()
    {
        link->setOpen(true);
        link->setReplyTimeout(150);
        link->onSend = [this](FakeLink *l, const QByteArray &frame) { answer(l, frame); };
        start();
    }
    void setStatus(uint8_t cmd, int status)
    {
        QMutexLocker lock(&m_mutex);
        m_status[cmd] = status;
    }
    void setStream(Stream stream)
    {
        QMutexLocker lock(&m_mutex);
        m_stream = std::move(stream);
    }
    QList<QByteArray> framesWith(uint8_t cmd) const
    {
        QList<QByteArray> found;
        for (const QByteArray &f : link->sentFrames())
            if (uint8_t(f.at(2)) == cmd)
                found.append(f);
        return found;
    }

    std::atomic<int> replyDelayMs{1};

private:
    // On the link thread.
    void answer(FakeLink *l, const QByteArray &frame)
    {
        const uint8_t cmd = uint8_t(frame.at(2));
        QMutexLocker lock(&m_mutex);
        const int status = m_status.value(cmd, 0);
        if (cmd == 0x82) {
            delete m_streamTimer;
            m_streamTimer = nullptr;
            if (frame.at(3) == 1 && m_stream) {
                m_streamTimer = new QTimer(l);
                QObject::connect(m_streamTimer, &QTimer::timeout, l, [l, stream = m_stream, k = 0]() mutable {
                    QByteArray payload;
                    for (const Axit_t &a : stream(k++))
                        payload += be16(a.x) + be16(a.y) + be16(a.z);
                    l->feed(cardFrame(0x01, payload));
                });
                m_streamTimer->start(2);
            }
        }
        if (status >= 0 && cmd != 0x88 && cmd != 0x8C)
            QTimer::singleShot(replyDelayMs.load(), l, [l, cmd, status] { l->feed(cardFrame(cmd, QByteArray(1, char(status)))); });
    }

    QMutex m_mutex;
    QHash<uint8_t, int> m_status;
    Stream m_stream;
    QTimer *m_streamTimer = nullptr;
};

// The window as the main window sets it up. Members go in reverse: helper, window, link.
struct WindowFixture
{
    explicit WindowFixture(int sensors = 4)
    {
        window.setLink(card.link);
        window.setSensorCount(sensors);
        window.show();
    }

    template <typename T>
    T *child(const char *name) { return window.findChild<T *>(name); }
    QAbstractItemModel *model(const char *table) { return child<QTableView>(table)->model(); }
    QString cell(const char *table, int row, int column) { return model(table)->index(row, column).data().toString(); }
    QStringList column(const char *table, int column)
    {
        QStringList texts;
        for (int r = 0; r < model(table)->rowCount(); ++r)
            texts << cell(table, r, column);
        return texts;
    }
    QStringList headers(const char *table)
    {
        QStringList texts;
        for (int c = 0; c < model(table)->columnCount(); ++c)
            texts << model(table)->headerData(c, Qt::Horizontal).toString();
        return texts;
    }
    void tick(const char *table, int row) { model(table)->setData(model(table)->index(row, 0), true, Qt::UserRole); }
    void click(const char *button) { child<QPushButton>(button)->click(); }
    void select(const char *combo, int index) { child<QComboBox>(combo)->setCurrentIndex(index); }

    CardThread card;
    Demarcate window;
    ModalDialogHelper dialogs;
};

inline DialogRecord info(const char *title, const QString &text) { return {"information", title, text}; }
inline DialogRecord warning(const char *title, const QString &text) { return {"warning", title, text}; }
