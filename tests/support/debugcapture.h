#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects the qDebug lines written while it lives (from any thread).
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    QStringList lines() const;
    bool contains(const QString &line) const { return lines().contains(line); }
    // Lines that start with the prefix.
    QStringList withPrefix(const QString &prefix) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg);
    QtMessageHandler m_previous;
};
