#include "demarcatefixture.h"
#include "tempfolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTest>

namespace {

// Four sensors; frame k gives sensor i x = k + 100 i, y = -k, z = 1000 + i. Over frames
// 0..19 the sums of sensor 2 are 4190, -190 and 20040.
QList<Axit_t> ramp(int k)
{
    QList<Axit_t> samples;
    for (int i = 0; i < 4; ++i)
        samples.append(Axit_t{int16_t(k + 100 * i), int16_t(-k), int16_t(1000 + i)});
    return samples;
}

const DialogRecord progressOf(const char *title)
{
    return {"progress", title, "正在获取校准数据..."};
}

} // namespace

class TestDemarcateAcquisition : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void singleAcquisitionFillsReadingsOfSelectedSensor();
    void arrayAcquisitionFillsWriteRow();
    void failedAcquisitionStopsCardBeforeWarning_data();
    void failedAcquisitionStopsCardBeforeWarning();
    void watchdogEndsAcquisitionOfSilentCard();

private:
    TemporaryWorkingFolder m_dir;
};

void TestDemarcateAcquisition::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestDemarcateAcquisition::singleAcquisitionFillsReadingsOfSelectedSensor()
{
    WindowFixture f;
    f.card.setStream(ramp);
    f.select("sensorIdSelect", 2);
    // A busy link must not let the first poll read the remaining count before the start.
    QMetaObject::invokeMethod(f.card.link, [] { QThread::msleep(150); });
    f.click("btnSingleDemarcate");

    QCOMPARE(f.dialogs.records(), (QList<DialogRecord>{progressOf("单点标定"), info("系统提示", "单点标定成功")}));
    QCOMPARE(f.child<QLineEdit>("ltxtSingleDemarcateX")->text(), QString("209"));
    QCOMPARE(f.child<QLineEdit>("ltxtSingleDemarcateY")->text(), QString("-9"));
    QCOMPARE(f.child<QLineEdit>("ltxtSingleDemarcateZ")->text(), QString("1002"));
    const QList<QByteArray> switches = f.card.sentWithCode(0x82);
    QCOMPARE(switches, (QList<QByteArray>{cardFrame(0x82, QByteArray(1, 1)), cardFrame(0x82, QByteArray(1, 0))}));
    QVERIFY(f.window.findChildren<QProgressDialog *>().isEmpty());
}

void TestDemarcateAcquisition::arrayAcquisitionFillsWriteRow()
{
    WindowFixture f;
    f.card.setStream(ramp);
    f.select("comAxitSelect", 2);
    QAbstractItemModel *row = f.model("writeTable");
    row->setData(row->index(0, 0), "1.5");
    f.click("btnDemarcate");

    QCOMPARE(f.dialogs.records(), (QList<DialogRecord>{progressOf("校准"), info("系统提示", "标定成功")}));
    QCOMPARE(f.cell("writeTable", 0, 0), QString("1.5"));
    QCOMPARE(f.cell("writeTable", 0, 1), QString("1000"));
    QCOMPARE(f.cell("writeTable", 0, 4), QString("1003"));
}

void TestDemarcateAcquisition::failedAcquisitionStopsCardBeforeWarning_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("linkLost");
    QTest::addColumn<QString>("failure");
    QTest::newRow("array, cancelled") << "btnDemarcate" << false << "标定失败！！！";
    QTest::newRow("single, cancelled") << "btnSingleDemarcate" << false << "单点标定失败！！！";
    QTest::newRow("single, link lost") << "btnSingleDemarcate" << true << "单点标定失败！！！";
}

void TestDemarcateAcquisition::failedAcquisitionStopsCardBeforeWarning()
{
    QFETCH(QString, button);
    QFETCH(bool, linkLost);
    QFETCH(QString, failure);
    WindowFixture f;
    // The card was sending time-stamped frames; the stop must bring those back.
    f.card.feed(cardFrame(0x02, be32(1)));
    QTRY_COMPARE(int(f.card.link->recvInfoType()), 2);

    if (linkLost)
        QTimer::singleShot(100, [&f] { f.card.link->setOpen(false); });
    else
        f.dialogs.cancelNextProgressAfter(100);
    QList<QByteArray> sentAtWarning;
    QString form;
    connect(&f.dialogs, &ModalDialogHelper::recorded, this, [&](const DialogRecord &r) {
        if (r.kind == "warning")
            sentAtWarning = f.card.sentWithCode(0x82);
        if (r.kind == "progress")
            form = progressForm(f.window.findChild<QProgressDialog *>());
    });
    f.click(qPrintable(button));
    QCOMPARE(form, QString("window-modal, 300 wide, 0..20, 取消"));

    QCOMPARE(f.dialogs.records().value(1), warning("提示", failure));
    QCOMPARE(sentAtWarning, (QList<QByteArray>{cardFrame(0x82, QByteArray(1, 1)), cardFrame(0x82, QByteArray(1, 2))}));
    QCOMPARE(f.card.sentWithCode(0x82).size(), 2);
    QCOMPARE(f.child<QLineEdit>("ltxtSingleDemarcateX")->text(), QString());
}

void TestDemarcateAcquisition::watchdogEndsAcquisitionOfSilentCard()
{
    WindowFixture f;
    QElapsedTimer elapsed;
    elapsed.start();
    f.click("btnSingleDemarcate");
    QVERIFY2(elapsed.elapsed() >= Demarcate::AcquireWatchdogMs - 100, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(f.dialogs.records(), (QList<DialogRecord>{progressOf("单点标定"), warning("提示", "单点标定失败！！！")}));
    QCOMPARE(f.card.sentWithCode(0x82).last(), cardFrame(0x82, QByteArray(1, 0)));
}

QTEST_MAIN(TestDemarcateAcquisition)
#include "tst_demarcateacquisition.moc"
