#pragma once

#include <QStyledItemDelegate>

class QPixmap;

// Draws and toggles the tick of a table cell; the tick is the item's Qt::UserRole bool.
class CheckBoxDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // Style 0: the application style's check box; 1: drawn green box; 2: the resource images.
    explicit CheckBoxDelegate(int style, QObject *parent = nullptr);
    ~CheckBoxDelegate() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

    const QPixmap *tickedPixmap() const { return m_ticked; }
    const QPixmap *untickedPixmap() const { return m_unticked; }

private:
    QPixmap *m_ticked = nullptr;
    QPixmap *m_unticked = nullptr;
};
