#pragma once

class QWidget;

// Closes every table editor open inside the window without committing its text: an entry the
// user left unfinished when the window went away is dropped, never stored unchecked.
void dropOpenEditors(QWidget *window);

// Cuts every connection from the window's own widgets and models to the window, so nothing
// they emit while they are being destroyed (an editor committing, a field losing the focus)
// reaches a window that is already half gone.
void disconnectChildren(QWidget *window);
