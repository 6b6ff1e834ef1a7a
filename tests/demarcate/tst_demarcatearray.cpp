#include "demarcatefixture.h"
#include "tempfolder.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>

namespace {

QByteArray pointFrame(int type, int pressure, const QList<int> &values)
{
    QByteArray payload = QByteArray(1, char(type)) + be16(pressure);
    for (int v : values)
        payload += be16(v);
    return cardFrame(0x88, payload);
}

// X: 10.00, 20.00, 30.00 (shown last); Y: 5.00, 6.00, 7.00; Z: 1.00.
void feedPointsOfAllAxes(WindowFixture &f)
{
    for (int p : {700, 500, 600})
        f.card.feed(pointFrame(1, p, {p, -p}));
    f.card.feed(pointFrame(2, 100, {1}));
    for (int p : {1000, 3000, 2000})
        f.card.feed(pointFrame(0, p, {p / 10, 2, 3, 4}));
}

} // namespace

class TestDemarcateArray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pointsFromCardAscendAndEqualPressureReplaces();
    void removeAllEmptiesListsOnlyWhenCardAgrees_data();
    void removeAllEmptiesListsOnlyWhenCardAgrees();
    void axisSelectionKeepsTableAndRemovalActsOnTheRowsShown();
    void writeTableCellChecks_data();
    void writeTableCellChecks();
    void sensorCountResizesTablesAndSelector();
    void everyButtonFitsTheWindowAtItsDefaultSize();

private:
    TemporaryWorkingFolder m_dir;
};

void TestDemarcateArray::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestDemarcateArray::pointsFromCardAscendAndEqualPressureReplaces()
{
    WindowFixture f;
    feedPointsOfAllAxes(f);
    QTRY_COMPARE(f.column("readTable", 1), (QStringList{"10.00", "20.00", "30.00"}));
    QCOMPARE(f.column("readTable", 2), (QStringList{"100", "200", "300"}));

    // A later 2000 replaces the stored one; its missing values leave none of the old behind.
    f.tick("readTable", 1);
    f.card.feed(pointFrame(0, 2000, {-7, 8}));
    QTRY_COMPARE(f.cell("readTable", 1, 2), QString("-7"));
    QCOMPARE(f.column("readTable", 1), (QStringList{"10.00", "20.00", "30.00"}));
    QCOMPARE(f.cell("readTable", 1, 4), QString());
    QVERIFY(!f.model("readTable")->index(1, 0).data(Qt::UserRole).toBool());

    // Values for 16 sensors show those of the 4 configured ones.
    QList<int> values;
    for (int i = 0; i < 16; ++i)
        values << i;
    f.card.feed(pointFrame(0, 4000, values));
    QTRY_COMPARE(f.model("readTable")->rowCount(), 4);
    QCOMPARE(f.model("readTable")->columnCount(), 6);
    QCOMPARE(f.cell("readTable", 3, 5), QString("3"));

    f.card.feed(pointFrame(3, 1000, {1}));
    QCOMPARE(f.dialogs.waitForNext(), warning("提示", "指定轴有误"));
    QCOMPARE(f.window.pointList(0).size(), 4);
}

void TestDemarcateArray::removeAllEmptiesListsOnlyWhenCardAgrees_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("no answer") << -1;
    QTest::newRow("refused") << 1;
    QTest::newRow("done") << 0;
}

void TestDemarcateArray::removeAllEmptiesListsOnlyWhenCardAgrees()
{
    QFETCH(int, status);
    WindowFixture f;
    feedPointsOfAllAxes(f);
    QTRY_COMPARE(f.window.pointList(0).size(), 3);
    f.card.setStatus(0x87, status);
    f.click("btnRemoveAll");
    if (status != 0) {
        QCOMPARE(f.dialogs.waitForNext(), info("错误信息", "删除驱动卡标定数据失败"));
        QCOMPARE(f.window.pointList(1).size() + f.window.pointList(2).size(), 4);
        QCOMPARE(f.model("readTable")->rowCount(), 3);
    } else {
        QTRY_COMPARE(f.model("readTable")->rowCount(), 0);
        QVERIFY(f.window.pointList(0).isEmpty() && f.window.pointList(1).isEmpty() && f.window.pointList(2).isEmpty());
        QCOMPARE(f.dialogs.count(), 0);
    }
    QCOMPARE(f.card.sentWithCode(0x87).size(), status < 0 ? 3 : 1);
}

void TestDemarcateArray::axisSelectionKeepsTableAndRemovalActsOnTheRowsShown()
{
    WindowFixture f;
    feedPointsOfAllAxes(f);
    QTRY_COMPARE(f.model("readTable")->rowCount(), 3);
    f.select("comAxitSelect", 1);
    QCOMPARE(f.child<QGroupBox>("writtenGroupBox")->title(), QString("Y轴已写入数据"));
    f.select("comAxitSelect", 0);
    QCOMPARE(f.child<QGroupBox>("writtenGroupBox")->title(), QString("X轴已写入数据"));
    f.select("comAxitSelect", 1);
    QCOMPARE(f.cell("readTable", 0, 1), QString("10.00"));

    // The ticked rows show X points 10.00 and 30.00: those are removed, whatever the selection.
    f.tick("readTable", 0);
    f.tick("readTable", 2);
    f.card.setStatus(0x86, 1);
    f.click("btnRemove");
    QCOMPARE(f.dialogs.waitForNext(), info("错误信息", "删除驱动卡指定的标定数据失败"));
    QCOMPARE(f.card.sentWithCode(0x86), QList<QByteArray>{cardFrame(0x86, QByteArray(1, 0) + be16(1000) + be16(3000))});

    f.click("btnRead");
    QVERIFY(f.window.pointList(1).isEmpty());
    QCOMPARE(f.window.pointList(0).size(), 3);
    QCOMPARE(f.model("readTable")->rowCount(), 0);
    QTRY_COMPARE(f.card.sentWithCode(0x88), QList<QByteArray>{cardFrame(0x88, QByteArray(1, 1))});
}

void TestDemarcateArray::writeTableCellChecks_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("warning");
    const QString pressureRange = "允许输入范围：-327.00~327.00";
    const QString valueRange = "允许输入范围：-32767~32767";
    QTest::newRow("five decimals") << 0 << "1.23456" << "1.235" << "";
    QTest::newRow("two decimals") << 0 << "1.23" << "1.23" << "";
    QTest::newRow("three decimals") << 0 << "-2.500" << "-2.500" << "";
    QTest::newRow("lowest pressure") << 0 << "-327" << "-327" << "";
    QTest::newRow("pressure too high") << 0 << "327.5" << "0.000" << pressureRange;
    QTest::newRow("pressure not a number") << 0 << "abc" << "0.000" << pressureRange;
    QTest::newRow("highest value") << 1 << "32767" << "32767" << "";
    QTest::newRow("lowest value") << 4 << "-32767" << "-32767" << "";
    QTest::newRow("value too high") << 2 << "32768" << "0" << valueRange;
    QTest::newRow("value too low") << 2 << "-32768" << "0" << valueRange;
    QTest::newRow("value not a number") << 3 << "1.5" << "0" << valueRange;
}

void TestDemarcateArray::writeTableCellChecks()
{
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, warning);
    WindowFixture f;
    QAbstractItemModel *m = f.model("writeTable");
    m->setData(m->index(0, column), typed);
    QTRY_COMPARE(f.cell("writeTable", 0, column), shown); // a warning comes once the edit is over
    QCOMPARE(f.dialogs.records(), warning.isEmpty() ? QList<DialogRecord>() : QList{::warning("提示", warning)});
    if (column == 0 && !warning.isEmpty()) // the pressure put back is centred
        QCOMPARE(m->index(0, 0).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
}

void TestDemarcateArray::sensorCountResizesTablesAndSelector()
{
    WindowFixture f(1);
    auto *sensors = f.child<QComboBox>("sensorIdSelect");
    auto items = [sensors] {
        QStringList texts;
        for (int i = 0; i < sensors->count(); ++i)
            texts << sensors->itemText(i);
        return texts;
    };
    QCOMPARE(f.child<QTabWidget>("tabWidget")->currentWidget()->objectName(), QString("singleTab"));
    QCOMPARE(f.headers("readTable"), (QStringList{"选择", "压力", "0"}));

    f.window.setSensorCount(4);
    QCOMPARE(f.headers("readTable"), (QStringList{"选择", "压力", "0", "1", "2", "3"}));
    QCOMPARE(f.headers("writeTable"), (QStringList{"压力", "0", "1", "2", "3"}));
    QCOMPARE(items(), (QStringList{"1", "2", "3", "4"}));

    sensors->setCurrentIndex(3);
    f.window.setSensorCount(2);
    QCOMPARE(f.headers("readTable"), (QStringList{"选择", "压力", "0", "1"}));
    QCOMPARE(f.headers("writeTable"), (QStringList{"压力", "0", "1"}));
    QCOMPARE(items(), (QStringList{"1", "2"}));
    QCOMPARE(f.child<QGroupBox>("singleReadGroupBox")->title(), QString("传感器2-X轴已写入标定信息"));

    f.window.setSensorCount(3);
    QCOMPARE(f.headers("writeTable"), (QStringList{"压力", "0", "1", "2"}));
    f.window.setSensorCount(0);
    f.window.setSensorCount(17);
    QCOMPARE(items(), (QStringList{"1", "2", "3"}));
}

void TestDemarcateArray::everyButtonFitsTheWindowAtItsDefaultSize()
{
    WindowFixture f;
    auto *tabs = f.child<QTabWidget>("tabWidget");
    for (int tab = 0; tab < 2; ++tab) {
        tabs->setCurrentIndex(tab);
        QApplication::processEvents();
        for (QPushButton *b : tabs->currentWidget()->findChildren<QPushButton *>()) {
            if (b->isHidden())
                continue;
            const QString why = QString("%1 is squeezed: %2 < %3")
                                    .arg(b->objectName())
                                    .arg(b->height())
                                    .arg(b->minimumSizeHint().height());
            QVERIFY2(b->height() >= b->minimumSizeHint().height(), qPrintable(why));
        }
    }
}

QTEST_MAIN(TestDemarcateArray)

#include "tst_demarcatearray.moc"
