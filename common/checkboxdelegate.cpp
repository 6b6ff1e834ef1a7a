#include "checkboxdelegate.h"

#include <QApplication>
#include <QCheckBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

QPixmap *styleIndicator(bool ticked)
{
    auto *pixmap = new QPixmap(13, 13);
    pixmap->fill(Qt::transparent);
    // A check-box option: styles such as Fusion draw no indicator for any other option type.
    QStyleOptionButton option;
    option.rect = QRect(0, 0, 13, 13);
    option.iconSize = QSize(13, 13);
    option.state = QStyle::State_Enabled | (ticked ? QStyle::State_On : QStyle::State_Off);
    QCheckBox box;
    QPainter painter(pixmap);
    QApplication::style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, &box);
    return pixmap;
}

QPixmap *drawnBox(bool ticked)
{
    auto *pixmap = new QPixmap(13, 13);
    pixmap->fill(Qt::transparent);
    QPainter painter(pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect r(0, 0, 13, 13);
    painter.setPen(QColor(0, 255, 0));
    painter.setBrush(Qt::white);
    painter.drawRect(r);
    if (ticked) {
        painter.setPen(QPen(QColor(0, 255, 0), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        const int x = r.x(), y = r.y(), w = r.width(), h = r.height();
        const QPoint points[3] = {{x + 2 * w / 11, y + 6 * h / 11},
                                  {x + 4 * w / 11, y + 8 * h / 11},
                                  {x + 9 * w / 11, y + 3 * h / 11}};
        painter.drawPolyline(points, 3);
    }
    return pixmap;
}

} // namespace

CheckBoxDelegate::CheckBoxDelegate(int style, QObject *parent)
    : QStyledItemDelegate(parent)
{
    switch (style) {
    case 0:
        m_ticked = styleIndicator(true);
        m_unticked = styleIndicator(false);
        break;
    case 1:
        m_ticked = drawnBox(true);
        m_unticked = drawnBox(false);
        break;
    case 2:
        m_ticked = new QPixmap(":/image/checked.png");
        m_unticked = new QPixmap(":/image/unchecked.png");
        break;
    default:
        break;
    }
}

CheckBoxDelegate::~CheckBoxDelegate()
{
    delete m_ticked;
    delete m_unticked;
}

void CheckBoxDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem copy(option);
    initStyleOption(&copy, index);
    copy.state &= ~QStyle::State_HasFocus; // no focus frame around the tick
    QStyledItemDelegate::paint(painter, copy, index);

    const QPixmap *pixmap = index.data(Qt::UserRole).toBool() ? m_ticked : m_unticked;
    // A style-2 delegate whose images are missing draws no tick.
    if (!pixmap || pixmap->isNull())
        return;
    const QRect rect = option.rect;
    const QRect target = pixmap->rect().translated(rect.x() + rect.width() / 2 - pixmap->width() / 2,
                                                   rect.y() + rect.height() / 2 - pixmap->height() / 2);
    painter->drawPixmap(target, *pixmap);
}

bool CheckBoxDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                   const QModelIndex &index)
{
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (option.rect.contains(mouse->position().toPoint()))
            model->setData(index, !index.data(Qt::UserRole).toBool(), Qt::UserRole);
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}
