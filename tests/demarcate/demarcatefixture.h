#pragma once

#include "demarcate.h"
#include "modaldialoghelper.h"
#include "scriptedcard.h"
#include "userinput.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

// The window as the main window sets it up. Members go in reverse: helper, window, link.
struct WindowFixture
{
    explicit WindowFixture(int sensors = 4)
    {
        window.setLink(card.link);
        window.setSensorCount(sensors);
        window.show();
    }

    template <typename T>
    T *child(const char *name) { return ::child<T>(window, name); }
    QAbstractItemModel *model(const char *table) { return child<QTableView>(table)->model(); }
    QString cell(const char *table, int row, int column) { return model(table)->index(row, column).data().toString(); }
    QStringList column(const char *table, int column)
    {
        QStringList texts;
        for (int r = 0; r < model(table)->rowCount(); ++r)
            texts << cell(table, r, column);
        return texts;
    }
    QStringList headers(const char *table)
    {
        QStringList texts;
        for (int c = 0; c < model(table)->columnCount(); ++c)
            texts << model(table)->headerData(c, Qt::Horizontal).toString();
        return texts;
    }
    void tick(const char *table, int row) { model(table)->setData(model(table)->index(row, 0), true, Qt::UserRole); }
    void click(const char *button) { ::click(window, button); }
    void select(const char *combo, int index) { child<QComboBox>(combo)->setCurrentIndex(index); }

    ScriptedCard card;
    Demarcate window;
    ModalDialogHelper dialogs;
};

