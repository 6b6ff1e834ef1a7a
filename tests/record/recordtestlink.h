#pragma once

#include "fakelink.h"
#include "linkthread.h"
#include "modaldialoghelper.h"
#include "recordwindow.h"

#include <QAbstractButton>
#include <QMutex>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTime>
#include <atomic>
#include <functional>

// A FakeLink on its own thread playing the card for the record window: it answers the
// clock sync (0x8D) and the data-type request (0x82) with the status the test chooses.
class RecordTestLink : public LinkThread<FakeLink>
{
public:
    enum : int { NoAnswer = -1 };

    RecordTestLink()
    {
        link->setOpen(true);
        link->setReplyTimeout(150);
        link->onSend = [this](FakeLink *l, const QByteArray &frame) {
            const uint8_t cmd = uint8_t(frame.at(2));
            const int status = cmd == 0x8D ? syncStatus.load() : cmd == 0x82 ? typeStatus.load() : NoAnswer;
            if (status == NoAnswer)
                return;
            QByteArray reply = cardFrame(cmd, QByteArray(1, char(status)));
            if (cmd == 0x8D) {
                QMutexLocker lock(&mutex);
                if (afterSyncReply)
                    reply += afterSyncReply(payloadTime(frame));
            }
            l->feed(reply);
        };
        start();
    }

    // Bytes the card sends right behind its sync reply, built from the synced time.
    void setAfterSyncReply(std::function<QByteArray(uint startTime)> bytes)
    {
        QMutexLocker lock(&mutex);
        afterSyncReply = std::move(bytes);
    }
    QList<QByteArray> sentWithCode(uint8_t cmd) const
    {
        QList<QByteArray> out;
        for (const QByteArray &f : link->sentFrames())
            if (uint8_t(f.at(2)) == cmd)
                out.append(f);
        return out;
    }
    // The time of day the window sent with its last clock sync.
    uint syncedStartTime() const { return payloadTime(sentWithCode(0x8D).last()); }
    static uint payloadTime(const QByteArray &f)
    {
        return uint(uint8_t(f.at(3))) << 24 | uint(uint8_t(f.at(4))) << 16 | uint(uint8_t(f.at(5))) << 8
               | uint(uint8_t(f.at(6)));
    }

    std::atomic<int> syncStatus{0};
    std::atomic<int> typeStatus{0};

private:
    mutable QMutex mutex;
    std::function<QByteArray(uint)> afterSyncReply;
};

struct Sample
{
    int x, y, z;
};

// A data-type-2 frame as the card sends it.
inline QByteArray stampedFrame(uint timeStamp, const QList<Sample> &samples)
{
    QByteArray payload = be32(timeStamp);
    for (const Sample &s : samples)
        payload += be16(s.x) + be16(s.y) + be16(s.z);
    return cardFrame(0x02, payload);
}

// The row the window should write, built from the clock fields independently of it.
inline QByteArray expectedRow(uint field1, uint timeStamp, const QList<Sample> &samples)
{
    const QTime t = QTime::fromMSecsSinceStartOfDay(int(timeStamp % 86400000u));
    QString row = QString("%1,%2:%3:%4:%5,").arg(field1).arg(t.hour()).arg(t.minute()).arg(t.second()).arg(t.msec());
    for (const Sample &s : samples)
        row += QString("%1,%2,%3,").arg(s.x).arg(s.y).arg(s.z);
    return row.toLatin1() + '\n';
}

inline uint afterStart(uint startTime, uint ms)
{
    return (startTime + ms) % 86400000u;
}

inline QPushButton *button(RecordWindow &w, const char *name)
{
    return w.findChild<QPushButton *>(name);
}

// Presses the button and returns the dialog it leads to, whether shown at once or on an answer.
inline DialogRecord clickForDialog(ModalDialogHelper &dialogs, QAbstractButton *b)
{
    const int before = dialogs.count();
    QTest::mouseClick(b, Qt::LeftButton);
    if (!dialogs.waitForCount(before + 1))
        return {};
    return dialogs.records().at(before);
}
