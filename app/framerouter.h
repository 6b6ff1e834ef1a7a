#pragma once

#include <QObject>
#include <QPointer>

class AnalysisWindow;
class CurveGraphic;
class ReplayWindow;
class SlaveProtocol;

// Wires the sources of frames (the card's link, a replay) to their consumers and switches between
// them. The live settings (the user's sensor count, the card's data type, whether the link is
// open) apply while no replay shows; a replay shows the file's sensors as demarcated values, drawn
// although the link is closed, and when it ends the live settings come back.
class FrameRouter : public QObject
{
    Q_OBJECT

public:
    explicit FrameRouter(CurveGraphic *graph, QObject *parent = nullptr);

    void setLink(SlaveProtocol *link);
    void setReplay(ReplayWindow *replay);
    void setAnalysis(AnalysisWindow *analysis);

    void setSensorCount(int count);
    void setDataMode(int mode);
    void setLinkOpen(bool open);

    bool isReplaying() const { return m_replaying; }

private:
    void replayStarted(int sensorCount);
    void replayEnded();
    void applyLive();

    QPointer<CurveGraphic> m_graph;
    QPointer<AnalysisWindow> m_analysis;
    QPointer<SlaveProtocol> m_link;
    QPointer<ReplayWindow> m_replay;
    int m_sensorCount = 0;
    int m_dataMode = 0;
    bool m_linkOpen = false;
    bool m_replaying = false;
};
