#pragma once

#include "replaycsv.h"
#include "slavetypes.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class Config;
class QTimer;
class ReplayPlayer;

namespace Ui {
class ReplayWindow;
}

// Plays a recording exported by the record window: a source of frames in the link's form, which
// the main window connects to the same consumers as the card's frames. It holds no link: nothing
// of a replay reaches the card or the record window.
class ReplayWindow : public QWidget
{
    Q_OBJECT

public:
    using OpenFileDialog =
        std::function<QString(QWidget *parent, const QString &caption, const QString &folder, const QString &filter)>;

    // Speeds offered, in quarters of the recorded pace, and the row chosen at first.
    static const QStringList speedTexts;
    static const QList<int> speedQuarters;
    enum : int { DefaultSpeedRow = 2 };
    // Files from this size on load on a worker thread under a progress dialog.
    enum : qint64 { LargeFileBytes = 4 << 20 };

    // A jump shows the rows that lead up to the new position, up to this many, as playing would.
    enum : int { HistoryRows = 1000 };

    explicit ReplayWindow(QWidget *parent = nullptr, const QString &configFile = QStringLiteral("Recordconfig.ini"));
    ~ReplayWindow() override;

    // Asks for a recording with the file dialog (parent dialogParent, start folder that of the
    // last export or replay) and reads it; true when it is ready to play.
    bool chooseAndOpen(QWidget *dialogParent);
    // Reads the file; on failure a message parented to messageParent says why and the
    // replay shown before, if any, stays.
    bool openFile(const QString &path, QWidget *messageParent);

    bool hasRecording() const { return bool(m_table); }
    std::shared_ptr<const ReplayTable> recording() const { return m_table; }
    bool isLoading() const { return m_loading; }
    ReplayPlayer *player() const { return m_player; }

    // Asks for the file to replay; QFileDialog::getOpenFileName unless replaced.
    OpenFileDialog openFileDialog;

signals:
    // One row of the file, as the card would have sent it: its samples and its time of day.
    void AxitReceive(QList<Axit_t> &Axit, uint num, uint timeStamp);
    // A recording is shown: the largest number of sensors of its rows, demarcated values.
    void replayStarted(int sensorCount);
    // A jump: what was shown before no longer leads up to the position. The rows that do follow.
    void historyRestarted();
    void replayEnded();

private slots:
    void on_btnReplayPlay_clicked();
    void on_btnReplayRewind_clicked();
    void on_comboReplaySpeed_currentIndexChanged(int index);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    ReplayLoad loadWithProgress(const QString &path, qint64 size, QWidget *dialogParent);
    void deliverRow(qsizetype row);
    void jumpTo(qsizetype row);
    void seekTo(int ms);
    void updatePosition();
    void endReplay();

    std::unique_ptr<Ui::ReplayWindow> ui;
    std::unique_ptr<Config> m_config;
    ReplayPlayer *m_player = nullptr;
    QTimer *m_positionTimer = nullptr;
    std::shared_ptr<const ReplayTable> m_table;
    QList<Axit_t> m_frame;
    bool m_loading = false;
    bool m_settingSlider = false;
};
