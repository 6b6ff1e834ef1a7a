#include "modaldialoghelper.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QAbstractItemView>
#include <QDialog>
#include <QMenu>
#include <QProgressDialog>
#include <QTest>

char *toString(const DialogRecord &r)
{
    return QTest::toString(QString("%1 | %2 | %3%4").arg(r.kind, r.title, r.text, r.detail.isEmpty() ? QString() : " | " + r.detail));
}

DialogRecord ModalDialogHelper::clickFor(QAbstractButton *button)
{
    const qsizetype before = m_records.size();
    QTest::mouseClick(button, Qt::LeftButton);
    // A progress dialog on the way (a slow build, a long file) is not what the click leads to.
    auto answer = [this, before] {
        for (qsizetype i = before; i < m_records.size(); ++i)
            if (m_records.at(i).kind != QLatin1String("progress"))
                return i;
        return qsizetype(-1);
    };
    if (!QTest::qWaitFor([&answer] { return answer() >= 0; }, 5000))
        return {};
    return m_records.at(answer());
}

ModalDialogHelper::ModalDialogHelper(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalDialogHelper::poll);
    m_timer.start(20);
    qApp->installEventFilter(this);
}

bool ModalDialogHelper::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType() && qobject_cast<QDialog *>(watched))
        emit shown(static_cast<QWidget *>(watched));
    return false;
}

QString progressForm(const QProgressDialog *dialog)
{
    if (!dialog)
        return QStringLiteral("no dialog");
    const auto *cancel = dialog->findChild<QAbstractButton *>();
    const int width = dialog->minimumWidth() == dialog->maximumWidth() ? dialog->width() : -1;
    return QStringLiteral("%1, %2 wide, %3..%4, %5")
        .arg(dialog->windowModality() == Qt::WindowModal ? "window-modal" : "not window-modal")
        .arg(width)
        .arg(dialog->minimum())
        .arg(dialog->maximum())
        .arg(cancel ? cancel->text() : QStringLiteral("no cancel"));
}

static QString kindOf(QMessageBox *box)
{
    switch (box->icon()) {
    case QMessageBox::Information: return "information";
    case QMessageBox::Warning: return "warning";
    case QMessageBox::Critical: return "critical";
    case QMessageBox::Question: return "question";
    default: return "messagebox";
    }
}

// A popup menu gets one of its actions clicked or is left with Escape; any other popup (a combo
// box's list) gets one of its rows clicked or Escape. The input is given from a timer of its own:
// what it starts may open further dialogs, and this poll must be free to answer them.
bool ModalDialogHelper::answerPopup()
{
    QWidget *popup = QApplication::activePopupWidget();
    if (!popup || !popup->isVisible())
        return false;
    if (m_popupPending)
        return true;
    ++m_popups;
    QPointer<QWidget> target(popup);
    QPoint at;
    if (auto *menu = qobject_cast<QMenu *>(popup)) {
        QList<QAction *> actions;
        for (QAction *a : menu->actions())
            if (a->isVisible() && a->isEnabled() && !a->isSeparator())
                actions.append(a);
        const int pick = below(int(actions.size()) + 1);
        if (pick < actions.size())
            at = menu->actionGeometry(actions.at(pick)).center();
    } else if (auto *view = popup->findChild<QAbstractItemView *>(); view && view->model()
               && view->model()->rowCount() > 0 && below(4) > 0) {
        const QModelIndex index = view->model()->index(below(view->model()->rowCount()), 0);
        view->scrollTo(index);
        target = view->viewport();
        at = view->visualRect(index).center();
    }
    m_popupPending = true;
    QTimer::singleShot(0, this, [this, target, at] {
        m_popupPending = false;
        if (!target || !target->isVisible())
            return;
        if (at.isNull())
            QTest::keyClick(target, Qt::Key_Escape);
        else
            QTest::mouseClick(target, Qt::LeftButton, {}, at);
    });
    return true;
}

void ModalDialogHelper::poll()
{
    if (m_rng && answerPopup())
        return;
    QWidget *w = QApplication::activeModalWidget();
    if (!w)
        return;
    if (auto *box = qobject_cast<QMessageBox *>(w)) {
        if (!box->isVisible())
            return;
        DialogRecord r{kindOf(box), box->windowTitle(), box->text(), box->informativeText()};
        m_records.append(r);
        QAbstractButton *button = nullptr;
        if (!m_answers.isEmpty())
            button = box->button(m_answers.takeFirst());
        else if (m_rng && !box->buttons().isEmpty())
            button = box->buttons().at(below(int(box->buttons().size())));
        if (!button)
            button = box->button(QMessageBox::Ok);
        if (!button)
            button = box->button(QMessageBox::No);
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        emit recorded(r);
        if (button)
            button->click();
        else
            box->reject();
        return;
    }
    if (auto *progress = qobject_cast<QProgressDialog *>(w)) {
        if (!m_seen.contains(progress)) {
            m_seen.insert(progress);
            connect(progress, &QObject::destroyed, this, [this, progress] { m_seen.remove(progress); });
            DialogRecord r{"progress", progress->windowTitle(), progress->labelText()};
            m_records.append(r);
            emit recorded(r);
            if (m_cancelProgressAfterMs < 0 && m_rng && below(3) == 0)
                m_cancelProgressAfterMs = below(4000);
            if (m_cancelProgressAfterMs >= 0) {
                QPointer<QProgressDialog> target(progress);
                QTimer::singleShot(m_cancelProgressAfterMs, this, [target] {
                    if (target)
                        target->cancel();
                });
                m_cancelProgressAfterMs = -1;
            }
        }
        return;
    }
    if (!m_seen.contains(w)) {
        m_seen.insert(w);
        connect(w, &QObject::destroyed, this, [this, w] { m_seen.remove(w); });
        DialogRecord r{w->metaObject()->className(), w->windowTitle(), QString()};
        m_records.append(r);
        emit recorded(r);
    }
    if (m_rng)
        if (auto *dialog = qobject_cast<QDialog *>(w))
            dialog->reject();
}

bool ModalDialogHelper::waitForCount(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_records.size() < count && !deadline.hasExpired())
        QTest::qWait(10);
    return m_records.size() >= count;
}

DialogRecord ModalDialogHelper::waitForNext(int timeoutMs)
{
    const int before = int(m_records.size());
    if (!waitForCount(before + 1, timeoutMs))
        return {};
    return m_records.at(before);
}
