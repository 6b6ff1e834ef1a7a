#include "framerouter.h"

#include "curvegraphic.h"
#include "replaywindow.h"
#include "slaveprotocol.h"

FrameRouter::FrameRouter(CurveGraphic *graph, QObject *parent)
    : QObject(parent)
    , m_graph(graph)
{
}

void FrameRouter::setLink(SlaveProtocol *link)
{
    // By signature text, as the graph window's frame intake has always been reached.
    connect(link, SIGNAL(AxitReceive(QList<Axit_t>&,uint)), m_graph, SLOT(setItemData(QList<Axit_t>&,uint)));
    connect(link, SIGNAL(AxitReceive(QList<Axit_t>&,uint,uint)), m_graph,
            SLOT(setItemData(QList<Axit_t>&,uint,uint)));
}

void FrameRouter::setReplay(ReplayWindow *replay)
{
    connect(replay, SIGNAL(AxitReceive(QList<Axit_t>&,uint,uint)), m_graph,
            SLOT(setItemData(QList<Axit_t>&,uint,uint)));
    connect(replay, &ReplayWindow::historyRestarted, m_graph, &CurveGraphic::clearHistory);
    connect(replay, &ReplayWindow::replayStarted, this, &FrameRouter::replayStarted);
    connect(replay, &ReplayWindow::replayEnded, this, &FrameRouter::replayEnded);
}

void FrameRouter::replayStarted(int sensorCount)
{
    m_replaying = true;
    if (!m_graph)
        return;
    m_graph->setSensorNum(uint(sensorCount));
    m_graph->setDataMode(0);
    m_graph->setStopped(false);
}

void FrameRouter::replayEnded()
{
    m_replaying = false;
    applyLive();
}

void FrameRouter::applyLive()
{
    if (!m_graph || m_replaying)
        return;
    m_graph->setSensorNum(uint(m_sensorCount));
    m_graph->setDataMode(m_dataMode);
    m_graph->setStopped(!m_linkOpen);
}

void FrameRouter::setSensorCount(int count)
{
    m_sensorCount = count;
    if (m_graph && !m_replaying)
        m_graph->setSensorNum(uint(count));
}

void FrameRouter::setDataMode(int mode)
{
    m_dataMode = mode;
    if (m_graph && !m_replaying)
        m_graph->setDataMode(mode);
}

void FrameRouter::setLinkOpen(bool open)
{
    m_linkOpen = open;
    if (m_graph && !m_replaying)
        m_graph->setStopped(!open);
}
