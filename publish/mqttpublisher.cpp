#include "mqttpublisher.h"

#include "slaveprotocol.h"

#include <QDateTime>
#include <QMutex>
#include <QReadWriteLock>
#include <QtDebug>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mosquitto.h>
#include <mutex>
#include <thread>

namespace {

constexpr auto OfflineAckWait = std::chrono::milliseconds(1000);

void initMosquittoOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

// What the link thread's frame path shares with the publisher; it outlives the publisher while a
// frame is still being handled on the link thread.
struct MqttPublisher::Core
{
    QMutex mutex; // guards session and owner
    std::shared_ptr<Session> session;
    MqttPublisher *owner = nullptr;

    std::atomic<quint64> seq{0};
    std::atomic<quint64> frames{0};
    std::atomic<quint64> published{0};
    std::atomic<quint64> dropped{0};
    std::atomic<int> type{0};

    void frame(const QList<Axit_t> &samples, uint num, int frameType, uint timeStamp);
};

// One connection from start() to stop(): the libmosquitto handle, its network thread and the
// control thread that connects and, at the end, says goodbye and tears down. A stop that takes
// longer than the caller waits finishes on the control thread, which keeps this alive.
class MqttPublisher::Session
{
public:
    Session(std::shared_ptr<Core> core, quint64 generation, const MqttSettings &settings)
        : framesTopic(mqttTopic(settings.topicPrefix, "frames"))
        , statusTopic(mqttTopic(settings.topicPrefix, "status"))
        , m_core(std::move(core))
        , m_generation(generation)
        , m_settings(settings)
    {
    }
    ~Session()
    {
        if (m_mosq)
            mosquitto_destroy(m_mosq);
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    bool create();
    // The control thread's body.
    void run();
    void requestStop();
    bool waitFinished(int ms);

    // Hands one message to libmosquitto unless stopping, not connected or at the cap.
    bool publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain);
    bool isConnected() const { return m_connected.load(); }
    int queued() const { return m_queued.load(); }

    const QByteArray framesTopic;
    const QByteArray statusTopic;

private:
    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    void release();
    void notifyOwner(bool connected);
    void finish();

    const std::shared_ptr<Core> m_core;
    const quint64 m_generation;
    const MqttSettings m_settings;
    mosquitto *m_mosq = nullptr;

    std::atomic<bool> m_connected{false};
    std::atomic<int> m_queued{0};
    // Held for reading around every hand-over, so none can start once stopping is set.
    QReadWriteLock m_publishLock;
    std::atomic<bool> m_stopping{false};

    std::mutex m_mutex; // guards the three below
    std::condition_variable m_changed;
    bool m_stopRequested = false;
    bool m_finished = false;
    QList<int> m_completedWhileStopping;
};

bool MqttPublisher::Session::create()
{
    initMosquittoOnce();
    m_mosq = mosquitto_new(nullptr, true, this);
    if (!m_mosq)
        return false;
    mosquitto_connect_callback_set(m_mosq, &Session::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &Session::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &Session::onPublish);
    mosquitto_reconnect_delay_set(m_mosq, 1, 5, true);
    // A frame is one small write; without this, Nagle holds it back behind the previous one.
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    const QByteArray offline = mqttOfflinePayload();
    if (mosquitto_will_set(m_mosq, statusTopic.constData(), int(offline.size()), offline.constData(), 1, true)
        != MOSQ_ERR_SUCCESS)
        return false;
    if (!m_settings.user.isEmpty()) {
        const QByteArray user = m_settings.user.toUtf8();
        const QByteArray password = m_settings.password.toUtf8();
        if (mosquitto_username_pw_set(m_mosq, user.constData(),
                                      m_settings.password.isEmpty() ? nullptr : password.constData())
            != MOSQ_ERR_SUCCESS)
            return false;
    }
    return true;
}

void MqttPublisher::Session::run()
{
    if (mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS) {
        qWarning() << "MQTT: cannot start libmosquitto's network thread";
        finish();
        return;
    }
    // libmosquitto 2.0 resolves the name and starts the TCP connect right here, hence this thread.
    // On failure its network thread keeps trying with the back-off.
    const QByteArray host = m_settings.host.toUtf8();
    const int rc = mosquitto_connect_async(m_mosq, host.constData(), m_settings.port, KeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        qDebug().noquote() << "MQTT: no broker yet at" << m_settings.host << m_settings.port << mosquitto_strerror(rc);

    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stopRequested; });
    }
    {
        QWriteLocker lock(&m_publishLock);
        m_stopping = true;
    }
    // The will is only for a connection that dies; a normal stop leaves the same word itself.
    if (m_connected) {
        const QByteArray offline = mqttOfflinePayload();
        int mid = 0;
        if (mosquitto_publish(m_mosq, &mid, statusTopic.constData(), int(offline.size()), offline.constData(), 1, true)
            == MOSQ_ERR_SUCCESS) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait_for(lock, OfflineAckWait,
                               [this, mid] { return m_completedWhileStopping.contains(mid) || !m_connected; });
        }
    }
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    finish();
}

void MqttPublisher::Session::requestStop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopRequested = true;
    m_changed.notify_all();
}

bool MqttPublisher::Session::waitFinished(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_finished; });
}

void MqttPublisher::Session::finish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
    m_changed.notify_all();
}

bool MqttPublisher::Session::publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain)
{
    QReadLocker lock(&m_publishLock);
    if (m_stopping || !m_connected)
        return false;
    if (m_queued.fetch_add(1) >= m_settings.maxQueued) {
        release();
        return false;
    }
    if (mosquitto_publish(m_mosq, nullptr, topic.constData(), int(payload.size()), payload.constData(), qos, retain)
        != MOSQ_ERR_SUCCESS) {
        release();
        return false;
    }
    return true;
}

// Never below zero: a reconnect clears the count while acknowledgements of older messages may
// still come.
void MqttPublisher::Session::release()
{
    int n = m_queued.load();
    while (n > 0 && !m_queued.compare_exchange_weak(n, n - 1)) {
    }
}

void MqttPublisher::Session::onConnect(mosquitto *, void *self, int rc)
{
    auto *s = static_cast<Session *>(self);
    if (rc != 0) {
        qDebug().noquote() << "MQTT: broker refused the connection:" << mosquitto_connack_string(rc);
        return;
    }
    // libmosquitto discarded the unsent QoS 0 messages of the old connection without a callback.
    s->m_queued = 0;
    s->m_connected = true;
    s->notifyOwner(true);
}

void MqttPublisher::Session::onDisconnect(mosquitto *, void *self, int)
{
    auto *s = static_cast<Session *>(self);
    {
        std::lock_guard<std::mutex> lock(s->m_mutex);
        s->m_connected = false;
        s->m_changed.notify_all();
    }
    s->notifyOwner(false);
}

void MqttPublisher::Session::onPublish(mosquitto *, void *self, int mid)
{
    auto *s = static_cast<Session *>(self);
    s->release();
    if (s->m_stopping) {
        std::lock_guard<std::mutex> lock(s->m_mutex);
        s->m_completedWhileStopping.append(mid);
        s->m_changed.notify_all();
    }
}

void MqttPublisher::Session::notifyOwner(bool connected)
{
    QMutexLocker lock(&m_core->mutex);
    MqttPublisher *owner = m_core->owner;
    if (!owner || m_core->session.get() != this)
        return;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        owner, [owner, generation, connected] { owner->connectionChanged(generation, connected); },
        Qt::QueuedConnection);
}

void MqttPublisher::Core::frame(const QList<Axit_t> &samples, uint num, int frameType, uint timeStamp)
{
    MqttFrame f;
    f.hostMs = QDateTime::currentMSecsSinceEpoch();
    f.seq = seq.fetch_add(1) + 1;
    f.type = frameType;
    f.timeStamp = timeStamp;
    frames.fetch_add(1);

    std::shared_ptr<Session> s;
    {
        QMutexLocker lock(&mutex);
        if (type.exchange(frameType) != frameType && owner) {
            MqttPublisher *o = owner;
            QMetaObject::invokeMethod(o, [o] { o->statusChanged(); }, Qt::QueuedConnection);
        }
        s = session;
    }
    if (!s)
        return;
    // Not connected: no payload worth building.
    if (s->isConnected() && s->publish(s->framesTopic, mqttFramePayload(f, samples, num), 0, false))
        published.fetch_add(1);
    else
        dropped.fetch_add(1);
}

MqttPublisher::MqttPublisher(QObject *parent)
    : QObject(parent)
    , m_core(std::make_shared<Core>())
    , m_statusTimer(this)
{
    m_core->owner = this;
    connect(&m_statusTimer, &QTimer::timeout, this, &MqttPublisher::tick);
}

MqttPublisher::~MqttPublisher()
{
    attach(nullptr);
    stop();
    QMutexLocker lock(&m_core->mutex);
    m_core->owner = nullptr;
}

bool MqttPublisher::start(const MqttSettings &settings)
{
    stop();
    if (settings.host.trimmed().isEmpty() || settings.port < 1 || settings.port > 65535
        || !isValidMqttTopicPrefix(settings.topicPrefix) || settings.maxQueued < 1 || settings.statusIntervalMs < 1)
        return false;
    MqttSettings s = settings;
    s.host = settings.host.trimmed();
    auto session = std::make_shared<Session>(m_core, ++m_generation, s);
    if (!session->create())
        return false;

    m_core->published = 0;
    m_core->dropped = 0;
    {
        QMutexLocker lock(&m_core->mutex);
        m_core->session = session;
    }
    m_session = session;
    m_controlThread = std::thread([session] { session->run(); });
    m_rateFrames = m_core->frames.load();
    m_rateClock.start();
    m_statusTimer.start(s.statusIntervalMs);
    return true;
}

void MqttPublisher::stop()
{
    if (!m_session)
        return;
    m_statusTimer.stop();
    {
        QMutexLocker lock(&m_core->mutex);
        m_core->session.reset();
    }
    m_session->requestStop();
    if (m_session->waitFinished(StopWaitMs)) {
        m_controlThread.join();
    } else {
        qDebug() << "MQTT: the broker did not take the goodbye in time; it is finished in the background";
        m_controlThread.detach();
    }
    m_session.reset();
    m_statusPending = false;
    if (m_connected) {
        m_connected = false;
        emit connectedChanged(false);
    }
}

quint64 MqttPublisher::published() const
{
    return m_core->published.load();
}

quint64 MqttPublisher::dropped() const
{
    return m_core->dropped.load();
}

int MqttPublisher::queued() const
{
    return m_session ? m_session->queued() : 0;
}

void MqttPublisher::attach(SlaveProtocol *link)
{
    disconnect(m_plain);
    disconnect(m_stamped);
    if (!link)
        return;
    m_core->type = link->recvInfoType();
    // Direct: host_ms is taken on the link thread as the frame is decoded, and the signal's list
    // is the link's own buffer, valid only during the emission.
    std::shared_ptr<Core> core = m_core;
    m_plain = connect(
        link, qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive), this,
        [core, link](QList<Axit_t> &samples, uint num) { core->frame(samples, num, link->recvInfoType(), 0); },
        Qt::DirectConnection);
    m_stamped = connect(
        link, qOverload<QList<Axit_t> &, uint, uint>(&SlaveProtocol::AxitReceive), this,
        [core, link](QList<Axit_t> &samples, uint num, uint timeStamp) {
            core->frame(samples, num, link->recvInfoType(), timeStamp);
        },
        Qt::DirectConnection);
}

void MqttPublisher::linkOpened()
{
    m_core->seq = 0;
    setLinkState(MqttLinkState::Open);
}

void MqttPublisher::publishFrame(const QList<Axit_t> &samples, uint num, int type, uint timeStamp)
{
    m_core->frame(samples, num, type, timeStamp);
}

void MqttPublisher::setPort(const QString &port)
{
    if (port == m_status.port)
        return;
    m_status.port = port;
    statusChanged();
}

void MqttPublisher::setLinkState(MqttLinkState state)
{
    if (state == m_status.link)
        return;
    m_status.link = state;
    statusChanged();
}

void MqttPublisher::setRecording(bool recording)
{
    if (recording == m_status.recording)
        return;
    m_status.recording = recording;
    statusChanged();
}

void MqttPublisher::setExtraCount(const QString &name, qint64 value)
{
    for (auto &count : m_status.counts) {
        if (count.first == name) {
            if (count.second == value)
                return;
            count.second = value;
            statusChanged();
            return;
        }
    }
    m_status.counts.append({name, value});
    statusChanged();
}

void MqttPublisher::setExtraCounts(const QList<QPair<QString, qint64>> &counts)
{
    if (counts == m_status.counts)
        return;
    m_status.counts = counts;
    statusChanged();
}

MqttStatus MqttPublisher::status() const
{
    MqttStatus s = m_status;
    s.type = m_core->type.load();
    s.published = m_core->published.load();
    s.dropped = m_core->dropped.load();
    return s;
}

void MqttPublisher::connectionChanged(quint64 generation, bool connected)
{
    if (generation != m_generation || !m_session || connected == m_connected)
        return;
    m_connected = connected;
    // A fresh connection replaces the will or the last session's status at once.
    if (connected)
        publishStatus();
    emit connectedChanged(connected);
}

// Changes made in one turn of the event loop go out as one message.
void MqttPublisher::statusChanged()
{
    if (!m_session || m_statusPending)
        return;
    m_statusPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_statusPending = false;
            publishStatus();
        },
        Qt::QueuedConnection);
}

void MqttPublisher::publishStatus()
{
    if (m_session)
        m_session->publish(m_session->statusTopic, mqttStatusPayload(status()), 1, true);
}

void MqttPublisher::tick()
{
    const quint64 frames = m_core->frames.load();
    const qint64 elapsed = m_rateClock.restart();
    m_status.rateHz = elapsed > 0 ? double(frames - m_rateFrames) * 1000.0 / double(elapsed) : 0.0;
    m_rateFrames = frames;
    publishStatus();
}
