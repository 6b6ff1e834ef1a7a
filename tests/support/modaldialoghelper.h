#pragma once

#include <QDialogButtonBox>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <random>

// What the user would have read in one modal dialog.
struct DialogRecord
{
    DialogRecord() = default;
    DialogRecord(QString kind, QString title, QString text, QString detail = {})
        : kind(std::move(kind)), title(std::move(title)), text(std::move(text)), detail(std::move(detail))
    {
    }

    QString kind;  // "information", "warning", "critical", "question", "progress", or the class name
    QString title;
    QString text;  // message text, or the label of a progress dialog
    QString detail; // a message box's second line (its informative text)

    bool operator==(const DialogRecord &o) const
    {
        return kind == o.kind && title == o.title && text == o.text && detail == o.detail;
    }
};

char *toString(const DialogRecord &r); // for QCOMPARE

inline DialogRecord info(const QString &title, const QString &text)
{
    return {"information", title, text};
}
inline DialogRecord warning(const QString &title, const QString &text)
{
    return {"warning", title, text};
}

class QAbstractButton;
class QProgressDialog;
// The form of a progress dialog as the user meets it, e.g. "window-modal, 300 wide, 0..20, 取消".
QString progressForm(const QProgressDialog *dialog);

// Polls for modal dialogs every 20 ms, records each once and answers it: message boxes with
// the next queued button (OK, or No for a question, when nothing is queued), progress dialogs
// by cancelling them when asked to.
class ModalDialogHelper : public QObject
{
    Q_OBJECT

public:
    explicit ModalDialogHelper(QObject *parent = nullptr);

    void answerNext(QMessageBox::StandardButton button) { m_answers.append(button); }
    // Cancels the next progress dialog once it has been shown for the given time.
    void cancelNextProgressAfter(int ms) { m_cancelProgressAfterMs = ms; }
    // With a generator (not owned), what nothing queued answers is answered at random: any
    // button of a message box, a progress dialog cancelled after a while or left to finish, a
    // popup menu's action or none, a row of a combo box's list; other dialogs are rejected so
    // that nothing stays open. Null turns it off.
    void answerAtRandom(std::mt19937 *rng) { m_rng = rng; }
    int popupsAnswered() const { return m_popups; }

    const QList<DialogRecord> &records() const { return m_records; }
    int count() const { return int(m_records.size()); }
    void clear() { m_records.clear(); }
    // Spins the event loop until `count` dialogs have been recorded, or the time runs out.
    bool waitForCount(int count, int timeoutMs = 5000);
    // The next dialog recorded after this call (an empty record on time-out).
    DialogRecord waitForNext(int timeoutMs = 5000);

    // Presses the button and returns the dialog it leads to, shown at once or on an answer.
    DialogRecord clickFor(QAbstractButton *button);

signals:
    void recorded(const DialogRecord &record);
    // A dialog is being shown: emitted at once, while the code that opened it is still running.
    void shown(QWidget *dialog);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void poll();
    bool answerPopup();
    int below(int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(*m_rng)); }

    QTimer m_timer;
    QList<DialogRecord> m_records;
    QList<QMessageBox::StandardButton> m_answers;
    QSet<QObject *> m_seen;
    int m_cancelProgressAfterMs = -1;
    std::mt19937 *m_rng = nullptr;
    int m_popups = 0;
    bool m_popupPending = false;
};
