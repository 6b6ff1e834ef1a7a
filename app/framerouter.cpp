#include "framerouter.h"

#include "analysiswindow.h"
#include "curvegraphic.h"
#include "replaycsv.h"
#include "replaywindow.h"
#include "slaveprotocol.h"

FrameRouter::FrameRouter(CurveGraphic *graph, QObject *parent)
    : QObject(parent)
    , m_graph(graph)
{
}

void FrameRouter::setLink(SlaveProtocol *link)
{
    m_link = link;
    // By signature text, as the graph window's frame intake has always been reached.
    connect(link, SIGNAL(AxitReceive(QList<Axit_t>&,uint)), m_graph, SLOT(setItemData(QList<Axit_t>&,uint)));
    connect(link, SIGNAL(AxitReceive(QList<Axit_t>&,uint,uint)), m_graph,
            SLOT(setItemData(QList<Axit_t>&,uint,uint)));
}

void FrameRouter::setReplay(ReplayWindow *replay)
{
    m_replay = replay;
    connect(replay, SIGNAL(AxitReceive(QList<Axit_t>&,uint,uint)), m_graph,
            SLOT(setItemData(QList<Axit_t>&,uint,uint)));
    connect(replay, &ReplayWindow::historyRestarted, m_graph, &CurveGraphic::clearHistory);
    connect(replay, &ReplayWindow::replayStarted, this, &FrameRouter::replayStarted);
    connect(replay, &ReplayWindow::replayEnded, this, &FrameRouter::replayEnded);
}

void FrameRouter::setAnalysis(AnalysisWindow *analysis)
{
    m_analysis = analysis;
    if (m_link) {
        connect(m_link, SIGNAL(AxitReceive(QList<Axit_t>&,uint)), analysis, SLOT(setItemData(QList<Axit_t>&,uint)));
        connect(m_link, SIGNAL(AxitReceive(QList<Axit_t>&,uint,uint)), analysis,
                SLOT(setItemData(QList<Axit_t>&,uint,uint)));
    }
    if (m_replay) {
        connect(m_replay, SIGNAL(AxitReceive(QList<Axit_t>&,uint,uint)), analysis,
                SLOT(setItemData(QList<Axit_t>&,uint,uint)));
        connect(m_replay, &ReplayWindow::historyRestarted, analysis, &AnalysisWindow::clearHistory);
    }
    analysis->setSensorNum(uint(m_sensorCount));
    analysis->setDataMode(m_dataMode);
}

void FrameRouter::replayStarted(int sensorCount)
{
    m_replaying = true;
    if (m_analysis) {
        // A recording's frame time is its own, its values demarcated, and its export the file's.
        m_analysis->clearHistory();
        m_analysis->setSensorNum(uint(sensorCount));
        m_analysis->setDataMode(0);
        m_analysis->setFrameTimeFromStamps(true);
        m_analysis->setRecording(m_replay ? m_replay->recording() : nullptr);
    }
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
    if (m_replaying)
        return;
    if (m_analysis) {
        m_analysis->setRecording(nullptr);
        m_analysis->setFrameTimeFromStamps(false);
        m_analysis->setSensorNum(uint(m_sensorCount));
        m_analysis->setDataMode(m_dataMode);
        m_analysis->clearHistory();
    }
    if (!m_graph)
        return;
    m_graph->setSensorNum(uint(m_sensorCount));
    m_graph->setDataMode(m_dataMode);
    m_graph->setStopped(!m_linkOpen);
}

void FrameRouter::setSensorCount(int count)
{
    m_sensorCount = count;
    if (m_replaying)
        return;
    if (m_graph)
        m_graph->setSensorNum(uint(count));
    if (m_analysis)
        m_analysis->setSensorNum(uint(count));
}

void FrameRouter::setDataMode(int mode)
{
    m_dataMode = mode;
    if (m_replaying)
        return;
    if (m_graph)
        m_graph->setDataMode(mode);
    if (m_analysis)
        m_analysis->setDataMode(mode);
}

void FrameRouter::setLinkOpen(bool open)
{
    m_linkOpen = open;
    if (m_graph && !m_replaying)
        m_graph->setStopped(!open);
}
