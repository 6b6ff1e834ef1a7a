#pragma once

#include <QString>
#include <QVariant>

class QSettings;

// Small INI-backed group/key store; each window that remembers something owns one.
class Config
{
public:
    explicit Config(QString fileName);
    virtual ~Config();

    Config(const Config &) = delete;
    Config &operator=(const Config &) = delete;

    QVariant value(QString group, QString key);
    void setValue(QString group, QString key, QVariant value);
    void remove(QString group, QString key);

    QString fileName() const { return m_fileName; }

private:
    static QString joinedKey(const QString &group, const QString &key);

    QString m_fileName;
    QSettings *m_settings = nullptr;
};

// The folder a save dialog should open in for the last exported file stored under
// group/"path": that file's folder, or the desktop when nothing usable is stored.
QString exportStartFolder(Config &config, const QString &group);
