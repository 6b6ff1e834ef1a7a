#pragma once

class QWidget;

// Closes every table editor open inside the window without committing its text: an entry the
// user left unfinished when the window went away is dropped, never stored unchecked.
void dropOpenEditors(QWidget *window);

// Cuts every connection from the window's own widgets and models to the window, so nothing
// they emit while they are being destroyed (an editor committing, a field losing the focus)
// reaches a window that is already half gone.
void disconnectChildren(QWidget *window);

class QStandardItem;
class QStandardItemModel;
class QModelIndex;
class QString;

// A table cell's range warning, and the cell then given its replacement. When the bad text comes
// from an editor of one of the window's tables, both wait until the commit has finished: a modal
// box opened inside it lets the view go on with an editor that was deleted while the box was up.
void warnAfterEdit(QWidget *window, QStandardItemModel *model, const QModelIndex &cell, const QString &title,
                   const QString &text, QStandardItem *(*replacement)());
