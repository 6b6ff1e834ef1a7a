#include "mqttdialog.h"

#include "config.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const QString Group = QStringLiteral("Mqttconfig");

} // namespace

StoredMqttSettings loadMqttSettings(Config &config)
{
    StoredMqttSettings stored;
    stored.enabled = config.value(Group, "enabled").toBool();
    const QString host = config.value(Group, "host").toString();
    if (!host.isEmpty())
        stored.settings.host = host;
    bool ok = false;
    const int port = config.value(Group, "port").toInt(&ok);
    if (ok && port >= 1 && port <= 65535)
        stored.settings.port = port;
    const QString topic = config.value(Group, "topic").toString();
    if (!topic.isEmpty())
        stored.settings.topicPrefix = topic;
    stored.settings.user = config.value(Group, "user").toString();
    return stored;
}

void saveMqttSettings(Config &config, bool enabled, const MqttSettings &settings)
{
    config.setValue(Group, "enabled", enabled);
    config.setValue(Group, "host", settings.host);
    config.setValue(Group, "port", settings.port);
    config.setValue(Group, "topic", settings.topicPrefix);
    config.setValue(Group, "user", settings.user);
}

MqttDialog::MqttDialog(QWidget *parent, const QString &configFile)
    : QDialog(parent)
    , m_config(std::make_unique<Config>(configFile))
{
    setWindowTitle("MQTT 发布");

    m_enable = new QCheckBox("发布实时数据", this);
    m_enable->setObjectName("chkMqttEnable");
    m_host = new QLineEdit(this);
    m_host->setObjectName("lineMqttHost");
    m_port = new QSpinBox(this);
    m_port->setObjectName("spinMqttPort");
    m_port->setRange(1, 65535);
    m_topic = new QLineEdit(this);
    m_topic->setObjectName("lineMqttTopic");
    m_user = new QLineEdit(this);
    m_user->setObjectName("lineMqttUser");
    m_user->setPlaceholderText("可选");
    m_password = new QLineEdit(this);
    m_password->setObjectName("lineMqttPassword");
    m_password->setPlaceholderText("可选，不保存");
    m_password->setEchoMode(QLineEdit::Password);

    auto *form = new QFormLayout;
    form->addRow(m_enable);
    form->addRow("服务器", m_host);
    form->addRow("端口", m_port);
    form->addRow("主题前缀", m_topic);
    form->addRow("用户名", m_user);
    form->addRow("密码", m_password);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &MqttDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &MqttDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    const StoredMqttSettings stored = loadMqttSettings(*m_config);
    m_enabled = stored.enabled;
    m_settings = stored.settings;
    showAccepted();
}

MqttDialog::~MqttDialog() = default;

void MqttDialog::accept()
{
    const QString host = m_host->text().trimmed();
    const QString topic = m_topic->text().trimmed();
    QString refusal;
    if (host.isEmpty())
        refusal = "服务器地址不能为空";
    else if (topic.isEmpty())
        refusal = "主题前缀不能为空";
    else if (topic.contains('+') || topic.contains('#'))
        refusal = "主题前缀不能包含通配符 + 或 #";
    else if (!isValidMqttTopicPrefix(topic))
        refusal = "主题前缀无效";
    if (!refusal.isEmpty()) {
        QMessageBox::warning(this, "提示", refusal);
        return;
    }

    m_enabled = m_enable->isChecked();
    m_settings.host = host;
    m_settings.port = m_port->value();
    m_settings.topicPrefix = topic;
    m_settings.user = m_user->text();
    m_settings.password = m_password->text();
    saveMqttSettings(*m_config, m_enabled, m_settings);
    QDialog::accept();
}

// Cancel leaves what is in effect, so the next opening shows it again.
void MqttDialog::reject()
{
    showAccepted();
    QDialog::reject();
}

void MqttDialog::showAccepted()
{
    m_enable->setChecked(m_enabled);
    m_host->setText(m_settings.host);
    m_port->setValue(m_settings.port);
    m_topic->setText(m_settings.topicPrefix);
    m_user->setText(m_settings.user);
    m_password->setText(m_settings.password);
}
