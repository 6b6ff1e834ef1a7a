#pragma once

#include "pressuremath.h"
#include "slavetypes.h"

#include <QList>
#include <QPolygonF>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>

class Config;
class CopView;
class QCPGraph;
class QCustomPlot;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;
class ReplayTable;

// Pressure analysis of the whole array: total force, shear, contact area, centre of pressure and
// peak of the latest frame, their recent history and the centre's trail. Fed with the same frames
// as the graph window; while hidden it only summarises them.
class AnalysisWindow : public QWidget
{
    Q_OBJECT

public:
    using SaveFileDialog =
        std::function<QString(QWidget *parent, const QString &caption, const QString &folder, const QString &filter)>;
    // Milliseconds on a steady clock: when a frame arrived.
    using Clock = std::function<qint64()>;

    enum : int {
        HistoryFrames = 1000,    // as the graph window's curves
        TrailMs = 2000,
        RefreshMs = 30,
        ExportProgressAfterMs = 1000, // quicker exports flash no dialog
    };
    static constexpr qint64 ExportSpanMs = 3600 * 1000;
    // A bound on the export buffer for frame times that stand still (repeated stamps).
    enum : qsizetype { MaxExportRows = 1000000 };

    explicit AnalysisWindow(QWidget *parent = nullptr, const QString &configFile = QStringLiteral("Analysisconfig.ini"));
    ~AnalysisWindow() override;

    void setClock(Clock clock);

    uint sensorNum() const { return m_sensorNum; }
    int dataMode() const { return m_dataMode; }
    // Frame time of the latest frame, in ms.
    qint64 latestFrameMs() const { return m_frameMs; }
    const QTimer *refreshTimer() const { return m_refreshTimer; }
    CopView *copView() const { return m_copView; }

    // Asks for the export file name; QFileDialog::getSaveFileName unless replaced.
    SaveFileDialog saveFileDialog;
    // An export still running this long shows its progress dialog (tests: at once).
    int exportProgressAfterMs = ExportProgressAfterMs;

public slots:
    void setItemData(QList<Axit_t> &axit, uint num);
    void setItemData(QList<Axit_t> &axit, uint num, uint timeStamp);
    void setSensorNum(uint num);
    // 0: demarcated data, converted; any other value: source data as received.
    void setDataMode(int mode);
    // A seek in a replay or a change of source: the plot's history and the trail start afresh.
    void clearHistory();
    // Frame time from the frames' time stamps (ms, modulo one day) instead of their arrival.
    void setFrameTimeFromStamps(bool on);
    // A loaded recording is what the export writes, computed from the whole file; null: the frames seen.
    void setRecording(std::shared_ptr<const ReplayTable> table);
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildUi();
    void takeFrame(const QList<Axit_t> &axit, uint num, bool stamped, uint timeStamp);
    qint64 frameTime(bool stamped, uint timeStamp);
    void contactThresholdChanged(int percent);
    void resummarise();
    QList<QPolygonF> trailPieces() const;
    void exportClicked();

    QLabel *m_labTotalForce = nullptr;
    QLabel *m_labShear = nullptr;
    QLabel *m_labContact = nullptr;
    QLabel *m_labCop = nullptr;
    QLabel *m_labPeak = nullptr;
    QSpinBox *m_spinThreshold = nullptr;
    QPushButton *m_btnExport = nullptr;
    QCustomPlot *m_plot = nullptr;
    QCPGraph *m_fzGraph = nullptr;
    QCPGraph *m_shearGraph = nullptr;
    QCPGraph *m_contactGraph = nullptr;
    CopView *m_copView = nullptr;
    QTimer *m_refreshTimer = nullptr;
    std::unique_ptr<Config> m_config;

    uint m_sensorNum = 0;
    int m_dataMode = 0;
    float m_share = contactShare(DefaultContactPercent);
    QList<Axit_t> m_latestFrame;
    int m_latestMode = 0; // the data mode the latest frame came in
    PressureSummary m_latest;
    bool m_dirty = true;
    double m_frameCount = 0;

    Clock m_clock;
    bool m_useStamps = false;
    bool m_timeStarted = false;
    bool m_stampValid = false;
    uint m_lastStamp = 0;
    qint64 m_lastArrival = 0;
    qint64 m_frameMs = 0;

    struct TrailPoint
    {
        qint64 ms;
        bool hasCop;
        QPointF cop;
    };
    std::deque<TrailPoint> m_trail;

    bool m_everShown = false;
    std::deque<AnalysisRow> m_exportRows;
    std::shared_ptr<const ReplayTable> m_recording;
};
