#include "config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

Config::Config(QString fileName)
{
    m_fileName = fileName.isEmpty() ? QCoreApplication::applicationDirPath() + "/Config.ini" : fileName;
    m_settings = new QSettings(m_fileName, QSettings::IniFormat);
}

Config::~Config()
{
    delete m_settings;
}

QString Config::joinedKey(const QString &group, const QString &key)
{
    return QString("/%1/%2").arg(group, key);
}

QVariant Config::value(QString group, QString key)
{
    return m_settings->value(joinedKey(group, key));
}

void Config::setValue(QString group, QString key, QVariant value)
{
    m_settings->setValue(joinedKey(group, key), value);
}

void Config::remove(QString group, QString key)
{
    m_settings->remove(joinedKey(group, key));
}

QString exportStartFolder(Config &config, const QString &group)
{
    const QFileInfo info(config.value(group, "path").toString());
    const QString folder = info.absolutePath();
    // An empty entry has no absolute folder; a folder removed since is no use either.
    if (info.filePath().isEmpty() || QDir::isRelativePath(folder) || !QDir(folder).exists())
        return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return folder;
}
