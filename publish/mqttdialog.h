#pragma once

#include "mqttpublisher.h"

#include <QDialog>
#include <memory>

class Config;
class QCheckBox;
class QLineEdit;
class QSpinBox;

// What Mqttconfig.ini remembers, so the tool can start publishing at start-up without the
// dialog. The password is never written: it lives only as long as the program.
struct StoredMqttSettings
{
    bool enabled = false;
    MqttSettings settings;
};
StoredMqttSettings loadMqttSettings(Config &config);
void saveMqttSettings(Config &config, bool enabled, const MqttSettings &settings);

// MQTT 发布: whether to publish and where. OK checks the fields, remembers them and closes;
// the caller then reads publishEnabled() and settings() and restarts its publisher.
class MqttDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MqttDialog(QWidget *parent = nullptr, const QString &configFile = QStringLiteral("Mqttconfig.ini"));
    ~MqttDialog() override;

    // The values last accepted (at first, those remembered), with the password typed since.
    bool publishEnabled() const { return m_enabled; }
    MqttSettings settings() const { return m_settings; }

    void accept() override;
    void reject() override;

private:
    void showAccepted();

    std::unique_ptr<Config> m_config;
    bool m_enabled = false;
    MqttSettings m_settings;

    QCheckBox *m_enable = nullptr;
    QLineEdit *m_host = nullptr;
    QSpinBox *m_port = nullptr;
    QLineEdit *m_topic = nullptr;
    QLineEdit *m_user = nullptr;
    QLineEdit *m_password = nullptr;
};
