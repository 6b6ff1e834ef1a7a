#include "unfinishedinput.h"

#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QMessageBox>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStandardItemModel>
#include <QTimer>
#include <QWidget>

void dropOpenEditors(QWidget *window)
{
    const auto views = window->findChildren<QAbstractItemView *>();
    for (QAbstractItemView *view : views) {
        // The tables hold no persistent editors: a widget at the current cell is the open editor.
        const QModelIndex index = view->currentIndex();
        QWidget *editor = view->indexWidget(index);
        QAbstractItemDelegate *delegate = view->itemDelegateForIndex(index);
        if (editor && delegate)
            emit delegate->closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    }
}

void disconnectChildren(QWidget *window)
{
    const auto children = window->findChildren<QObject *>();
    for (QObject *child : children)
        QObject::disconnect(child, nullptr, window, nullptr);
}

void warnAfterEdit(QWidget *window, QStandardItemModel *model, const QModelIndex &cell, const QString &title,
                   const QString &text, QStandardItem *(*replacement)())
{
    bool editing = false;
    for (const QAbstractItemView *view : window->findChildren<QAbstractItemView *>())
        editing = editing || (view->model() == model && view->indexWidget(cell));
    if (!editing) { // filled by the window itself: nothing is in the middle of a commit
        QMessageBox::warning(window, title, text);
        model->setItem(cell.row(), cell.column(), replacement());
        return;
    }
    const QPersistentModelIndex where(cell);
    const QPointer<QStandardItemModel> owner(model);
    QTimer::singleShot(0, window, [=] {
        QMessageBox::warning(window, title, text);
        if (owner && where.isValid())
            owner->setItem(where.row(), where.column(), replacement());
    });
}
