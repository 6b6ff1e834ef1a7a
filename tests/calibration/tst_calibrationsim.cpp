#include "calibration.h"
#include "linkthread.h"
#include "modaldialoghelper.h"
#include "simloopbacklink.h"

#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QThread>

// The window against the simulated card on its own link thread: read, acquire, write, read back.
class TestCalibrationSim : public QObject
{
    Q_OBJECT

private slots:
    void readAcquireWriteReadBack();
};

namespace {

QList<SimSample> cardBaseline(SimLoopbackLink *link)
{
    QList<SimSample> baseline;
    link->withCard([&baseline](SimCard &card) {
        for (int i = 0; i < card.sensorCount(); ++i)
            baseline << card.baseline(i);
    });
    return baseline;
}

} // namespace

void TestCalibrationSim::readAcquireWriteReadBack()
{
    ModalDialogHelper dialogs;
    LinkThread<SimLoopbackLink> thread(7);
    SimLoopbackLink *link = thread.link;
    link->card().setPressing(false); // source data then sits on the baseline, plus noise
    link->setOpen(true);
    thread.start();

    Calibration window;
    window.setLink(link);
    window.setSensorCount(4);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *model = qobject_cast<QStandardItemModel *>(window.findChild<QTableView *>("tableView")->model());
    auto value = [model](int row, int column) { return model->index(row, column).data().toString().toInt(); };
    auto click = [&window](const char *name) { window.findChild<QPushButton *>(name)->click(); };

    const QList<SimSample> baseline = cardBaseline(link);
    QCOMPARE(baseline.size(), int(SimCard::DefaultSensors));

    click("btnRead");
    QCOMPARE(dialogs.waitForNext(), (DialogRecord{"information", "系统提示", "基准数据读取成功"}));
    QCOMPARE(model->rowCount(), baseline.size());
    for (int i = 0; i < baseline.size(); ++i) {
        QCOMPARE(value(i, 2), int(baseline[i].x));
        QCOMPARE(value(i, 3), int(baseline[i].y));
        QCOMPARE(value(i, 4), int(baseline[i].z));
    }

    dialogs.clear();
    click("btnCheck");
    QCOMPARE(dialogs.records().last(), (DialogRecord{"information", "系统提示", "校准数据获取完成"}));
    QCOMPARE(model->rowCount(), baseline.size());
    for (int i = 0; i < baseline.size(); ++i) {
        // Averaged noise plus the truncation of the average stay within a few counts.
        QVERIFY2(qAbs(value(i, 2) - baseline[i].x) <= 2, qPrintable(QString::number(i)));
        QVERIFY2(qAbs(value(i, 3) - baseline[i].y) <= 2, qPrintable(QString::number(i)));
        QVERIFY2(qAbs(value(i, 4) - baseline[i].z) <= 2, qPrintable(QString::number(i)));
    }
    int dataType = -1;
    link->withCard([&dataType](SimCard &card) { dataType = card.dataType(); });
    QCOMPARE(dataType, 0); // checking mode ended

    const QList<int> written{-1234, 0, 32000};
    for (int row : {1, 4}) {
        for (int c = 0; c < 3; ++c)
            model->setData(model->index(row, 2 + c), QString::number(written[c] + row));
        model->setData(model->index(row, 1), true, Qt::UserRole);
    }
    dialogs.clear();
    dialogs.answerNext(QMessageBox::Yes);
    click("btnWrite");
    QVERIFY(dialogs.waitForCount(2));
    QCOMPARE(dialogs.records().at(1), (DialogRecord{"information", "提示", "写入成功"}));

    const QList<SimSample> after = cardBaseline(link);
    for (int i = 0; i < baseline.size(); ++i) {
        const bool changed = i == 1 || i == 4;
        QCOMPARE(int(after[i].x), changed ? written[0] + i : int(baseline[i].x));
        QCOMPARE(int(after[i].z), changed ? written[2] + i : int(baseline[i].z));
    }

    dialogs.clear();
    click("btnRead");
    QCOMPARE(dialogs.waitForNext(), (DialogRecord{"information", "系统提示", "基准数据读取成功"}));
    for (int i = 0; i < after.size(); ++i) {
        QCOMPARE(value(i, 2), int(after[i].x));
        QCOMPARE(value(i, 3), int(after[i].y));
        QCOMPARE(value(i, 4), int(after[i].z));
        QVERIFY(!model->index(i, 1).data(Qt::UserRole).toBool());
    }
}

QTEST_MAIN(TestCalibrationSim)
#include "tst_calibrationsim.moc"
