#include "modaldialoghelper.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QProgressDialog>
#include <QTest>

char *toString(const DialogRecord &r)
{
    return QTest::toString(QString("%1 | %2 | %3").arg(r.kind, r.title, r.text));
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

void ModalDialogHelper::poll()
{
    QWidget *w = QApplication::activeModalWidget();
    if (!w)
        return;
    if (auto *box = qobject_cast<QMessageBox *>(w)) {
        if (!box->isVisible())
            return;
        DialogRecord r{kindOf(box), box->windowTitle(), box->text()};
        m_records.append(r);
        QAbstractButton *button = nullptr;
        if (!m_answers.isEmpty())
            button = box->button(m_answers.takeFirst());
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
        DialogRecord r{w->metaObject()->className(), w->windowTitle(), QString()};
        m_records.append(r);
        emit recorded(r);
    }
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
