#pragma once

#include "mqttpayload.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>
#include <memory>
#include <thread>

class SlaveProtocol;

struct MqttSettings
{
    QString host = QStringLiteral("localhost");
    int port = 1883;
    QString topicPrefix = QStringLiteral("tactilon");
    QString user;     // empty: connect without a user name
    QString password;
    // Messages handed to libmosquitto and not yet written (or, for the status, acknowledged);
    // beyond this, frames are dropped so that a slow broker cannot make memory grow.
    int maxQueued = 1000;
    // The status goes out on every change and at this interval.
    int statusIntervalMs = 1000;
};

// Publishes the live stream to an MQTT broker: every frame on <prefix>/frames (QoS 0), the
// retained status on <prefix>/status (QoS 1) on every change and once a second, and a retained
// {"online":false} there when it stops or its connection dies. libmosquitto's thread and one of
// this object's own do all network work and name lookups; only stop() waits, StopWaitMs at most.
//
// The object and its setters belong to the thread it lives on (connectedChanged is delivered
// there). publishFrame(), published() and dropped() may be used from any thread.
class MqttPublisher : public QObject
{
    Q_OBJECT

public:
    enum : int { StopWaitMs = 2000, KeepAliveSeconds = 10 };

    explicit MqttPublisher(QObject *parent = nullptr);
    ~MqttPublisher() override;

    // Returns at once; the connection is made, and made again after a loss, in the background.
    // False (and nothing started) for an empty host, a port outside 1..65535 or an unusable
    // topic prefix. A running publisher is stopped first.
    bool start(const MqttSettings &settings);
    // Leaves the retained {"online":false} and disconnects, waiting StopWaitMs at most.
    void stop();
    bool isStarted() const { return bool(m_session); }
    bool isConnected() const { return m_connected; }

    // Frames handed to libmosquitto, and frames not handed over (not connected, over the cap,
    // refused), since start(). Frames while stopped are neither.
    quint64 published() const;
    quint64 dropped() const;
    // Messages waiting in libmosquitto now.
    int queued() const;

    // Publishes every frame of the link, on the link's thread, with the link's data type.
    // One link at a time; attach(nullptr) detaches.
    void attach(SlaveProtocol *link);
    // The link is opening: frame numbers start again at 1 and the status says "open". Call it
    // before asking the link to open, so that no frame of the new link comes first.
    void linkOpened();
    void publishFrame(const QList<Axit_t> &samples, uint num, int type, uint timeStamp = 0);

    void setPort(const QString &port);
    void setLinkState(MqttLinkState state);
    void setRecording(bool recording);
    // Counts written after the fixed status fields, in the order first set.
    void setExtraCount(const QString &name, qint64 value);
    void setExtraCounts(const QList<QPair<QString, qint64>> &counts);

    MqttStatus status() const;

signals:
    void connectedChanged(bool connected);

private:
    struct Core;
    class Session;

    void connectionChanged(quint64 generation, bool connected);
    void statusChanged();
    void publishStatus();
    void tick();

    std::shared_ptr<Core> m_core;
    std::shared_ptr<Session> m_session;
    std::thread m_controlThread;
    quint64 m_generation = 0;
    bool m_connected = false;
    bool m_statusPending = false;
    QMetaObject::Connection m_plain, m_stamped;

    MqttStatus m_status;
    QTimer m_statusTimer;
    QElapsedTimer m_rateClock;
    quint64 m_rateFrames = 0;
};
