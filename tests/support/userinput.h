#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

// Input as the user gives it: through the mouse and the keyboard, so the widget's own handling
// (focus, editing, check-state toggling) runs instead of a signal emitted by hand.

// A named child, or a fatal error that names it: a test of a renamed widget stops at once.
template <typename T>
T *child(QWidget &w, const char *name)
{
    T *c = w.findChild<T *>(name);
    if (!c)
        qFatal("no widget %s", name);
    return c;
}

// Clicks the named button with the mouse.
inline void click(QWidget &w, const char *button)
{
    QTest::mouseClick(child<QAbstractButton>(w, button), Qt::LeftButton);
}

// Clicks into the field, replaces its text by typing, and with `finish` presses Enter.
inline void typeInto(QLineEdit *edit, const QString &text, bool finish = true)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
    if (finish)
        QTest::keyClick(edit, Qt::Key_Return);
}

// Clicks the check box of a list row.
inline void clickCheckBox(QListWidget *list, int row)
{
    QStyleOptionViewItem option;
    option.initFrom(list->viewport());
    option.rect = list->visualItemRect(list->item(row));
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
}
