#include "checkboxdelegate.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPixmap>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

class TestCheckBoxDelegate : public QObject
{
    Q_OBJECT

private slots:
    void pixmapsPerStyle_data();
    void pixmapsPerStyle();
    void unknownStyleHasNoPixmaps();
    void mouseEvents_data();
    void mouseEvents();
    void clickInTableTogglesOnce();
    void paintsTickCentredInCell();
};

void TestCheckBoxDelegate::pixmapsPerStyle_data()
{
    QTest::addColumn<int>("style");
    QTest::newRow("application style") << 0;
    QTest::newRow("drawn box") << 1;
    QTest::newRow("resource images") << 2;
}

void TestCheckBoxDelegate::pixmapsPerStyle()
{
    QFETCH(int, style);
    CheckBoxDelegate delegate(style);
    QVERIFY(delegate.tickedPixmap());
    QVERIFY(delegate.untickedPixmap());
    QVERIFY(!delegate.tickedPixmap()->isNull());
    QVERIFY(!delegate.untickedPixmap()->isNull());
    QCOMPARE(delegate.tickedPixmap()->size(), QSize(13, 13));
    const QImage ticked = delegate.tickedPixmap()->toImage();
    const QImage unticked = delegate.untickedPixmap()->toImage();
    QVERIFY2(ticked != unticked, "a tick must look different from no tick");
    // Something must be drawn at all, not just two different kinds of nothing.
    bool opaque = false;
    for (int y = 0; y < 13 && !opaque; ++y)
        for (int x = 0; x < 13 && !opaque; ++x)
            opaque = qAlpha(unticked.pixel(x, y)) > 0;
    QVERIFY(opaque);
}

void TestCheckBoxDelegate::unknownStyleHasNoPixmaps()
{
    CheckBoxDelegate delegate(3);
    QVERIFY(!delegate.tickedPixmap());
    QVERIFY(!delegate.untickedPixmap());
}

void TestCheckBoxDelegate::mouseEvents_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<QVariant>("before");
    QTest::addColumn<bool>("after");

    const QPoint inside(40, 20);
    const QVariant none;
    QTest::newRow("press ticks an untouched cell") << int(QEvent::MouseButtonPress) << inside << none << true;
    QTest::newRow("press unticks") << int(QEvent::MouseButtonPress) << inside << QVariant(true) << false;
    QTest::newRow("double-click toggles") << int(QEvent::MouseButtonDblClick) << inside << QVariant(false) << true;
    QTest::newRow("release does not") << int(QEvent::MouseButtonRelease) << inside << QVariant(false) << false;
    QTest::newRow("press left of the cell") << int(QEvent::MouseButtonPress) << QPoint(9, 20) << QVariant(false)
                                            << false;
    QTest::newRow("press below the cell") << int(QEvent::MouseButtonPress) << QPoint(40, 40) << QVariant(true)
                                          << true;
    QTest::newRow("press on the cell's corner") << int(QEvent::MouseButtonPress) << QPoint(10, 10)
                                                << QVariant(false) << true;
}

void TestCheckBoxDelegate::mouseEvents()
{
    QFETCH(int, type);
    QFETCH(QPoint, position);
    QFETCH(QVariant, before);
    QFETCH(bool, after);

    QStandardItemModel model(1, 1);
    const QModelIndex index = model.index(0, 0);
    if (before.isValid())
        model.setData(index, before, Qt::UserRole);
    CheckBoxDelegate delegate(0);
    QStyleOptionViewItem option;
    option.rect = QRect(10, 10, 70, 30);
    const QPointF at(position);
    const bool held = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
    QMouseEvent event(QEvent::Type(type), at, at, Qt::LeftButton, held ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
    delegate.editorEvent(&event, &model, option, index);
    QCOMPARE(index.data(Qt::UserRole).toBool(), after);
}

void TestCheckBoxDelegate::clickInTableTogglesOnce()
{
    QStandardItemModel model(2, 2);
    QTableView view;
    view.setModel(&model);
    view.setItemDelegateForColumn(1, new CheckBoxDelegate(0, &view));
    view.resize(300, 150);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const QModelIndex tick = model.index(1, 1);
    const QPoint centre = view.visualRect(tick).center();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centre);
    QCOMPARE(tick.data(Qt::UserRole).toBool(), true);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centre);
    QCOMPARE(tick.data(Qt::UserRole).toBool(), false);

    // Column 0 has the default delegate: no tick appears there.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(model.index(1, 0)).center());
    QVERIFY(!model.index(1, 0).data(Qt::UserRole).isValid());
}

void TestCheckBoxDelegate::paintsTickCentredInCell()
{
    QStandardItemModel model(1, 2);
    QTableView view;
    view.setModel(&model);
    view.setItemDelegateForColumn(1, new CheckBoxDelegate(1, &view));
    view.setColumnWidth(1, 71);
    view.verticalHeader()->setDefaultSectionSize(31);
    view.resize(300, 150);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const QModelIndex tick = model.index(0, 1);
    const QRect cell = view.visualRect(tick);
    // Where the 13 x 13 pixmap must land, halvings truncated.
    const QPoint origin(cell.x() + cell.width() / 2 - 13 / 2, cell.y() + cell.height() / 2 - 13 / 2);
    const QPoint onTickLine = origin + QPoint(6, 6);
    const QPoint leftEdge = origin + QPoint(0, 6);
    const QPoint topEdge = origin + QPoint(6, 0);

    QImage unticked = view.viewport()->grab().toImage();
    QCOMPARE(QColor(unticked.pixel(onTickLine)), QColor(Qt::white));

    model.setData(tick, true, Qt::UserRole);
    const QImage ticked = view.viewport()->grab().toImage();
    const QColor line(ticked.pixel(onTickLine));
    QVERIFY2(line.green() > 200 && line.red() < 100 && line.blue() < 100, qPrintable(line.name()));

    // The green outline starts exactly at the computed origin, background just outside it.
    for (const QImage &image : {unticked, ticked}) {
        QVERIFY(QColor(image.pixel(leftEdge)).red() < 200);
        QVERIFY(QColor(image.pixel(topEdge)).red() < 200);
        QVERIFY(QColor(image.pixel(leftEdge - QPoint(1, 0))).red() > 240);
        QVERIFY(QColor(image.pixel(topEdge - QPoint(0, 1))).red() > 240);
    }
}

QTEST_MAIN(TestCheckBoxDelegate)
#include "tst_checkboxdelegate.moc"
