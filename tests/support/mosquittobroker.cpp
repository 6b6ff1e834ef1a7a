#include "mosquittobroker.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <arpa/inet.h>
#include <csignal>
#include <ctime>
#include <mosquitto.h>
#include <mutex>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int loopbackSocket(quint16 port, bool connectIt)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int rc = connectIt ? ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr)
                             : ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

quint16 freeLoopbackPort()
{
    const int fd = loopbackSocket(0, false);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    const bool ok = ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0;
    ::close(fd);
    return ok ? ntohs(addr.sin_port) : 0;
}

bool accepts(quint16 port)
{
    const int fd = loopbackSocket(port, true);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void initMosquittoOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

MosquittoBroker::MosquittoBroker() = default;

MosquittoBroker::~MosquittoBroker()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

bool MosquittoBroker::start()
{
    if (!QFileInfo(Binary).isExecutable()) {
        m_error = QString("%1 is missing: install the Debian package mosquitto").arg(Binary);
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = "no temporary folder for the broker's config";
        return false;
    }
    if (m_port != 0)
        return startOnce();
    // Another program may take the free port between the look and the broker's bind.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freeLoopbackPort();
        if (startOnce())
            return true;
    }
    return false;
}

bool MosquittoBroker::startOnce()
{
    const QString config = m_dir.filePath("mosquitto.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = "cannot write " + config;
        return false;
    }
    // Started as root, mosquitto would change to its own user, and that change clears the
    // parent-death signal below; as the same user it stays.
    const passwd *user = ::getpwuid(::geteuid());
    file.write(QString("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n"
                       "log_dest stderr\nlog_type error\nlog_type warning\nuser %2\n")
                   .arg(m_port)
                   .arg(user ? QString::fromLocal8Bit(user->pw_name) : QString("root"))
                   .toUtf8());
    file.close();

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // A test that crashes must not leave its broker running.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process->start(Binary, {"-c", config});
    if (!m_process->waitForStarted(5000)) {
        m_error = QString("%1 did not start: %2").arg(Binary, m_process->errorString());
        return false;
    }
    const bool up = QTest::qWaitFor(
        [this] { return m_process->state() != QProcess::Running || accepts(m_port); }, 10000);
    if (!up || m_process->state() != QProcess::Running) {
        m_error = QString("mosquitto on port %1 did not come up: %2")
                      .arg(m_port)
                      .arg(QString::fromUtf8(m_process->readAll()).trimmed());
        m_process->kill();
        m_process->waitForFinished(5000);
        return false;
    }
    return true;
}

void MosquittoBroker::stop()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    resume();
    m_process->terminate();
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

void MosquittoBroker::pause()
{
    if (isRunning())
        ::kill(pid_t(m_process->processId()), SIGSTOP);
}

void MosquittoBroker::resume()
{
    if (isRunning())
        ::kill(pid_t(m_process->processId()), SIGCONT);
}

qint64 MosquittoBroker::processId() const
{
    return isRunning() ? m_process->processId() : 0;
}

bool MosquittoBroker::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

MqttSubscriber::MqttSubscriber()
{
    initMosquittoOnce();
    m_mosq = mosquitto_new(nullptr, true, this);
    mosquitto_connect_callback_set(m_mosq, &MqttSubscriber::onConnect);
    mosquitto_subscribe_callback_set(m_mosq, &MqttSubscriber::onSubscribe);
    mosquitto_message_callback_set(m_mosq, &MqttSubscriber::onMessage);
    mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
}

MqttSubscriber::~MqttSubscriber()
{
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, false);
    mosquitto_destroy(m_mosq);
}

bool MqttSubscriber::subscribe(quint16 port, const QByteArray &filter, int timeoutMs)
{
    m_filter = filter;
    if (mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS
        || mosquitto_connect_async(m_mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
        return false;
    return QTest::qWaitFor(
        [this] {
            QMutexLocker lock(&m_mutex);
            return m_subscriptions > 0;
        },
        timeoutMs);
}

QList<MqttMessage> MqttSubscriber::messages(const QByteArray &topic) const
{
    QMutexLocker lock(&m_mutex);
    if (topic.isEmpty())
        return m_messages;
    QList<MqttMessage> on;
    for (const MqttMessage &m : m_messages)
        if (m.topic == topic)
            on.append(m);
    return on;
}

int MqttSubscriber::count(const QByteArray &topic) const
{
    return int(messages(topic).size());
}

bool MqttSubscriber::waitForCount(int n, const QByteArray &topic, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return count(topic) >= n; }, timeoutMs);
}

void MqttSubscriber::onConnect(mosquitto *mosq, void *self, int rc)
{
    if (rc == 0)
        mosquitto_subscribe(mosq, nullptr, static_cast<MqttSubscriber *>(self)->m_filter.constData(), 0);
}

void MqttSubscriber::onSubscribe(mosquitto *, void *self, int, int, const int *)
{
    auto *s = static_cast<MqttSubscriber *>(self);
    QMutexLocker lock(&s->m_mutex);
    ++s->m_subscriptions;
}

void MqttSubscriber::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    MqttMessage m;
    m.topic = QByteArray(message->topic);
    m.payload = QByteArray(static_cast<const char *>(message->payload), message->payloadlen);
    m.retained = message->retain;
    m.arrivedUs = qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    auto *s = static_cast<MqttSubscriber *>(self);
    QMutexLocker lock(&s->m_mutex);
    s->m_messages.append(m);
}
