#include "unfinishedinput.h"

#include <QAbstractItemDelegate>
#include <QAbstractItemView>
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
