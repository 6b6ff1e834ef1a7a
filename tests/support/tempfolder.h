#pragma once

#include <QDir>
#include <QTemporaryDir>

// A folder of the test's own, made the working folder while it lives: the windows keep their INI
// files there, so no test's settings reach another test, however the tests are run together.
class TemporaryWorkingFolder
{
public:
    TemporaryWorkingFolder()
        : m_previous(QDir::currentPath())
    {
        if (!m_dir.isValid() || !QDir::setCurrent(m_dir.path()))
            qFatal("no temporary working folder: %s", qPrintable(m_dir.errorString()));
    }
    ~TemporaryWorkingFolder() { QDir::setCurrent(m_previous); }
    TemporaryWorkingFolder(const TemporaryWorkingFolder &) = delete;
    TemporaryWorkingFolder &operator=(const TemporaryWorkingFolder &) = delete;

    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};
