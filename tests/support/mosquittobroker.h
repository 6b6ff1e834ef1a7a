#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class QProcess;
struct mosquitto;
struct mosquitto_message;

// Debian's mosquitto on a free loopback port, with a config file of its own in a temporary
// folder (anonymous, no persistence). It keeps its port across stop() and start(), and is killed
// with the object. A missing broker is a failure for the caller to report, never a skip:
// QVERIFY2(broker.start(), qPrintable(broker.errorString())).
class MosquittoBroker
{
public:
    static constexpr const char *Binary = "/usr/sbin/mosquitto";

    MosquittoBroker();
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker &) = delete;
    MosquittoBroker &operator=(const MosquittoBroker &) = delete;

    // Returns once the broker accepts connections.
    bool start();
    // SIGTERM, and returns once it has exited: its clients see their connections close.
    void stop();
    // A stalled broker: SIGSTOP leaves its connections open and unread; resume() is SIGCONT.
    void pause();
    void resume();
    bool isRunning() const;
    qint64 processId() const;
    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }

private:
    bool startOnce();

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
};

struct MqttMessage
{
    QByteArray topic;
    QByteArray payload;
    bool retained = false;
    qint64 arrivedUs = 0; // Unix time in microseconds when it arrived
};

// A libmosquitto client that subscribes to one filter (again after every reconnect) and keeps
// every message it gets, from its own network thread.
class MqttSubscriber
{
public:
    MqttSubscriber();
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber &) = delete;
    MqttSubscriber &operator=(const MqttSubscriber &) = delete;

    // Returns once the broker on 127.0.0.1:port confirmed the subscription.
    bool subscribe(quint16 port, const QByteArray &filter, int timeoutMs = 10000);
    QList<MqttMessage> messages(const QByteArray &topic = {}) const;
    int count(const QByteArray &topic = {}) const;
    // Spins the event loop until `count` messages (on the topic, if given) have arrived.
    bool waitForCount(int count, const QByteArray &topic = {}, int timeoutMs = 10000) const;

private:
    static void onConnect(mosquitto *, void *self, int rc);
    static void onSubscribe(mosquitto *, void *self, int, int, const int *);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);

    mosquitto *m_mosq = nullptr;
    QByteArray m_filter;
    mutable QMutex m_mutex;
    QList<MqttMessage> m_messages;
    int m_subscriptions = 0;
};
