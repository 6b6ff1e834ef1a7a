#include "debugcapture.h"

namespace {
QMutex captureMutex;
QStringList *captured = nullptr;
QtMessageHandler previousHandler = nullptr;
}

DebugCapture::DebugCapture()
{
    QMutexLocker lock(&captureMutex);
    captured = new QStringList;
    m_previous = qInstallMessageHandler(&DebugCapture::handler);
    previousHandler = m_previous;
}

DebugCapture::~DebugCapture()
{
    qInstallMessageHandler(m_previous);
    QMutexLocker lock(&captureMutex);
    delete captured;
    captured = nullptr;
}

void DebugCapture::handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    {
        QMutexLocker lock(&captureMutex);
        if (captured && type == QtDebugMsg)
            captured->append(msg);
    }
    if (type != QtDebugMsg && previousHandler)
        previousHandler(type, ctx, msg);
}

QStringList DebugCapture::lines() const
{
    QMutexLocker lock(&captureMutex);
    return captured ? *captured : QStringList();
}

QStringList DebugCapture::withPrefix(const QString &prefix) const
{
    QStringList out;
    for (const QString &l : lines())
        if (l.startsWith(prefix))
            out.append(l);
    return out;
}
