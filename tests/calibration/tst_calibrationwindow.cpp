#include "calibration.h"
#include "checkboxdelegate.h"
#include "modaldialoghelper.h"
#include "scriptedcard.h"

#include <QApplication>
#include <QHeaderView>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace {

const DialogRecord rangeWarning = warning("提示", "允许输入范围：-32767~32767");
const DialogRecord writeQuestion{"question", "提示", "确定写入吗?"};
const DialogRecord acquisitionProgress{"progress", "校准", "正在获取校准数据..."};

} // namespace

class TestCalibrationWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formAndTable();
    void setSensorCountBuildsOrKeepsRows();
    void cellCheck_data();
    void cellCheck();
    void buttonsNeedOpenLink_data();
    void buttonsNeedOpenLink();
    void readReplies_data();
    void readReplies();
    void writeSendsTickedRowsInOrder();
    void writeSendsNothingWithoutTickOrOnNo();
    void writeResults_data();
    void writeResults();
    void abortedAcquisitionEndsCheckingFirst_data();
    void abortedAcquisitionEndsCheckingFirst();
    void acquisitionWithLinkOnGuiThreadStillSwitchesCard();
    void completedAcquisitionShowsAverages();

private:
    QTableView *view() const { return m_window->findChild<QTableView *>("tableView"); }
    QStandardItemModel *model() const { return qobject_cast<QStandardItemModel *>(view()->model()); }
    QPushButton *button(const char *name) const { return m_window->findChild<QPushButton *>(name); }
    QString cell(int row, int column) const { return model()->index(row, column).data().toString(); }
    bool ticked(int row) const { return model()->index(row, 1).data(Qt::UserRole).toBool(); }
    void tick(int row) { model()->setData(model()->index(row, 1), true, Qt::UserRole); }
    void edit(int row, int column, const QString &text) { model()->setData(model()->index(row, column), text); }
    QStringList column(int c) const
    {
        QStringList texts;
        for (int row = 0; row < model()->rowCount(); ++row)
            texts << cell(row, c);
        return texts;
    }

    Calibration *m_window = nullptr;
    ModalDialogHelper *m_dialogs = nullptr;
    // The link runs on its own thread, as in the program: setChecking is called blocking-queued.
    ScriptedCard *m_link = nullptr;
};

void TestCalibrationWindow::init()
{
    m_dialogs = new ModalDialogHelper;
    m_link = new ScriptedCard(SlaveProtocol::DefaultReplyTimeoutMs);
    m_link->replyDelayMs = 2;
    m_window = new Calibration;
    m_window->setLink(m_link->link);
    m_window->setSensorCount(4);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestCalibrationWindow::cleanup()
{
    delete m_window;
    delete m_link;
    delete m_dialogs;
}

void TestCalibrationWindow::formAndTable()
{
    Calibration fresh;
    QCOMPARE(fresh.size(), QSize(550, 369));
    QCOMPARE(fresh.maximumWidth(), 550);
    auto *table = fresh.findChild<QTableView *>("tableView");
    QCOMPARE(table->model()->rowCount(), 0);
    QStringList headers;
    for (int c = 0; c < table->model()->columnCount(); ++c)
        headers << table->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers, (QStringList{"ID", "选择", "X轴", "Y轴", "Z轴"}));
    QCOMPARE(table->editTriggers(), QAbstractItemView::EditTriggers(QAbstractItemView::DoubleClicked));
    QVERIFY(qobject_cast<CheckBoxDelegate *>(table->itemDelegateForColumn(1)));
    QVERIFY(!table->itemDelegateForColumn(2));
}

void TestCalibrationWindow::setSensorCountBuildsOrKeepsRows()
{
    QCOMPARE(column(0), (QStringList{"0", "1", "2", "3"}));
    for (int c : {2, 3, 4})
        QCOMPARE(column(c), (QStringList{"0", "0", "0", "0"}));
    for (int c : {0, 2, 3, 4})
        QCOMPARE(model()->index(3, c).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
    QCOMPARE(model()->flags(model()->index(0, 0)) & Qt::ItemIsEditable, Qt::ItemFlags());
    QCOMPARE(model()->flags(model()->index(0, 1)) & (Qt::ItemIsEditable | Qt::ItemIsSelectable), Qt::ItemFlags());
    QVERIFY(model()->flags(model()->index(0, 2)) & Qt::ItemIsEditable);
    QVERIFY(!model()->index(0, 1).data(Qt::UserRole).isValid());

    // Ticking is no cell edit: no range check, no dialog.
    tick(2);
    edit(2, 3, "-15");
    m_window->setSensorCount(4);
    QVERIFY(ticked(2));
    QCOMPARE(cell(2, 3), QString("-15"));

    m_window->setSensorCount(6);
    QCOMPARE(column(0), (QStringList{"0", "1", "2", "3", "4", "5"}));
    QCOMPARE(cell(2, 3), QString("0"));
    QVERIFY(!ticked(2));

    m_window->setSensorCount(2);
    QCOMPARE(model()->rowCount(), 2);
    QTest::qWait(60);
    QCOMPARE(m_dialogs->count(), 0);
}

void TestCalibrationWindow::cellCheck_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("lowest") << "-32767" << true;
    QTest::newRow("highest") << "32767" << true;
    QTest::newRow("below") << "-32768" << false;
    QTest::newRow("above") << "32768" << false;
    QTest::newRow("text") << "abc" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("fraction") << "12.5" << false;
}

void TestCalibrationWindow::cellCheck()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    for (int c : {2, 3, 4}) {
        m_dialogs->clear();
        edit(1, c, text);
        QTRY_COMPARE(cell(1, c), accepted ? text : QString("0"));
        QCOMPARE(m_dialogs->records(), accepted ? QList<DialogRecord>{} : QList<DialogRecord>{rangeWarning});
    }
    QCOMPARE(model()->rowCount(), 4);
}

void TestCalibrationWindow::buttonsNeedOpenLink_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("withLink");
    for (const char *name : {"btnRead", "btnCheck", "btnWrite"}) {
        QTest::addRow("%s, link closed", name) << QByteArray(name) << true;
        QTest::addRow("%s, no link", name) << QByteArray(name) << false;
    }
}

void TestCalibrationWindow::buttonsNeedOpenLink()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, withLink);
    m_link->link->setOpen(false);
    if (!withLink)
        m_window->setLink(nullptr);
    tick(0);
    button(name.constData())->click();
    QVERIFY(m_dialogs->waitForCount(1));
    QTest::qWait(100);
    QCOMPARE(m_dialogs->records(), QList<DialogRecord>{info("提示", "请打开通信接口")});
    QCOMPARE(m_link->link->sentCount(), 0);
    QVERIFY(button("btnRead")->isEnabled());
    QVERIFY(button("btnWrite")->isEnabled());
}

void TestCalibrationWindow::readReplies_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QList<DialogRecord>>("dialogs");
    QTest::addColumn<QStringList>("xs");
    QTest::addColumn<bool>("tickKept");

    const DialogRecord ok = info("系统提示", "基准数据读取成功");
    const DialogRecord failed = info("系统提示", "基准数据读取失败");
    const QStringList unchanged{"0", "7", "0", "0"};
    QTest::newRow("no sensors") << QByteArray() << QList<DialogRecord>{ok} << unchanged << true;
    QTest::newRow("two sensors") << xyzPayload({{-5, 6, 7}, {32767, -32767, 0}}) << QList<DialogRecord>{ok}
                                 << QStringList{"-5", "32767"} << false;
    QTest::newRow("value outside the range") << xyzPayload({{-32768, 1, 2}}) << QList<DialogRecord>{rangeWarning, ok}
                                             << QStringList{"0"} << false;
    QTest::newRow("13 bytes") << QByteArray(13, 1) << QList<DialogRecord>{failed} << unchanged << true;
}

void TestCalibrationWindow::readReplies()
{
    QFETCH(QByteArray, payload);
    QFETCH(QList<DialogRecord>, dialogs);
    QFETCH(QStringList, xs);
    QFETCH(bool, tickKept);

    edit(1, 2, "7");
    tick(1);
    m_link->setReply(0x81, cardFrame(0x81, payload));
    button("btnRead")->click();
    QVERIFY(m_dialogs->waitForCount(dialogs.size()));
    QTest::qWait(60);
    QCOMPARE(m_dialogs->records(), dialogs);
    QCOMPARE(m_link->link->sentFrames(), QList<QByteArray>{hex("A5028128")});
    QCOMPARE(column(2), xs);
    QCOMPARE(ticked(1), tickKept);
    if (xs.size() == 2)
        QCOMPARE(column(4), (QStringList{"7", "0"}));
}

void TestCalibrationWindow::writeSendsTickedRowsInOrder()
{
    m_window->setSensorCount(5);
    edit(1, 2, "100");
    edit(1, 3, "-100");
    edit(1, 4, "300");
    edit(2, 2, "55"); // not ticked, not sent
    edit(3, 2, "-1");
    edit(3, 4, "32767");
    tick(3);
    tick(1);
    tick(4);
    model()->setData(model()->index(4, 1), false, Qt::UserRole);
    m_link->setStatus(0x80, 0);

    bool defaultIsNo = false;
    connect(m_dialogs, &ModalDialogHelper::recorded, this, [&defaultIsNo](const DialogRecord &r) {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (r.kind == "question" && box)
            defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
    });
    m_dialogs->answerNext(QMessageBox::Yes);
    button("btnWrite")->click();
    QVERIFY(m_dialogs->waitForCount(2));
    QCOMPARE(m_dialogs->records(), (QList<DialogRecord>{writeQuestion, info("提示", "写入成功")}));
    QVERIFY(defaultIsNo);

    const QByteArray records = hex("01") + be16(100) + be16(-100) + be16(300) //
                               + hex("03") + be16(-1) + be16(0) + be16(32767);
    QCOMPARE(m_link->link->sentFrames(), QList<QByteArray>{cardFrame(0x80, records)});
    QCOMPARE(m_link->link->sentFrames().first().left(3), hex("A51080"));
}

void TestCalibrationWindow::writeSendsNothingWithoutTickOrOnNo()
{
    QSignalSpy emitted(m_window, &Calibration::checkDataWrite);
    m_dialogs->answerNext(QMessageBox::Yes);
    button("btnWrite")->click();
    QVERIFY(m_dialogs->waitForCount(2));
    QCOMPARE(m_dialogs->records(), (QList<DialogRecord>{writeQuestion, info("提示", "没有选择要校准的传感器")}));

    m_dialogs->clear();
    tick(0);
    button("btnWrite")->click(); // the helper answers the question with No
    QVERIFY(m_dialogs->waitForCount(1));
    QTest::qWait(100);
    QCOMPARE(m_dialogs->records(), QList<DialogRecord>{writeQuestion});
    QCOMPARE(emitted.count(), 0);
    QCOMPARE(m_link->link->sentCount(), 0);
}

void TestCalibrationWindow::writeResults_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("written") << 0 << "写入成功";
    QTest::newRow("refused") << 1 << "失败失败";
    QTest::newRow("other refusal") << 2 << "通信超时";
    QTest::newRow("no answer") << -1 << "通信超时";
}

void TestCalibrationWindow::writeResults()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    m_link->link->setReplyTimeout(300);
    m_link->setStatus(0x80, status); // -1: the card stays silent
    tick(2);
    m_dialogs->answerNext(QMessageBox::Yes);
    button("btnWrite")->click();
    QVERIFY(m_dialogs->waitForCount(2));
    QCOMPARE(m_dialogs->records().at(1), info("提示", text));
    QCOMPARE(m_link->link->sentCount(), status >= 0 ? 1 : 3);
    QCOMPARE(checkDataWriteResultText(status), text);
}

void TestCalibrationWindow::abortedAcquisitionEndsCheckingFirst_data()
{
    QTest::addColumn<bool>("linkLost");
    QTest::newRow("cancelled") << false;
    QTest::newRow("link lost") << true;
}

void TestCalibrationWindow::abortedAcquisitionEndsCheckingFirst()
{
    QFETCH(bool, linkLost);
    edit(0, 4, "-9");
    tick(3);

    QList<QByteArray> sentAtWarning;
    bool buttonsDisabled = false;
    bool tickTimerStopped = false;
    QString form;
    connect(m_dialogs, &ModalDialogHelper::recorded, this, [&](const DialogRecord &r) {
        if (r.kind == "warning") {
            sentAtWarning = m_link->link->sentFrames();
            auto *ticks = m_window->findChild<QTimer *>("tickTimer");
            tickTimerStopped = ticks && !ticks->isActive();
        }
        if (r.kind != "progress")
            return;
        buttonsDisabled = !button("btnRead")->isEnabled() && !button("btnWrite")->isEnabled();
        form = progressForm(m_window->findChild<QProgressDialog *>());
        if (linkLost)
            QTimer::singleShot(150, this, [this] { m_link->link->setOpen(false); });
    });
    if (!linkLost)
        m_dialogs->cancelNextProgressAfter(150);

    button("btnCheck")->click();
    QCOMPARE(m_dialogs->records(), (QList<DialogRecord>{acquisitionProgress, warning("提示", "校准数据获取失败")}));
    QCOMPARE(sentAtWarning, (QList<QByteArray>{hex("A50382012B"), hex("A50382002A")}));
    QVERIFY(buttonsDisabled);
    QVERIFY(tickTimerStopped);
    QCOMPARE(form, QString("window-modal, 300 wide, 0..100, 取消"));
    QVERIFY(button("btnRead")->isEnabled());
    QVERIFY(button("btnWrite")->isEnabled());
    QVERIFY(!m_window->findChild<QProgressDialog *>());
    QCOMPARE(cell(0, 4), QString("-9"));
    QVERIFY(ticked(3));
}

void TestCalibrationWindow::acquisitionWithLinkOnGuiThreadStillSwitchesCard()
{
    FakeLink local;
    local.setOpen(true);
    m_window->setLink(&local);
    m_dialogs->cancelNextProgressAfter(100);
    button("btnCheck")->click();
    QCOMPARE(m_dialogs->records(), (QList<DialogRecord>{acquisitionProgress, warning("提示", "校准数据获取失败")}));
    QCOMPARE(local.sentFrames(), (QList<QByteArray>{hex("A50382012B"), hex("A50382002A")}));
}

void TestCalibrationWindow::completedAcquisitionShowsAverages()
{
    tick(1);
    // Frames come in pairs, so every sum holds an even number of frames and averages exactly.
    const QByteArray pair = sampleFrame(0x01, {{100, -200, 300}, {7, 8, 9}, {-1000, 0, 32767}})
                            + sampleFrame(0x01, {{102, -201, 300}, {7, 8, 9}, {-1002, 0, 32767}});
    QTimer card;
    int progressSeen = 0; // the bar follows the acquisition
    connect(&card, &QTimer::timeout, this, [this, &pair, &progressSeen] {
        m_link->feed(pair);
        if (auto *progress = m_window->findChild<QProgressDialog *>())
            progressSeen = std::max(progressSeen, progress->value());
    });
    card.start(20);

    button("btnCheck")->click();
    card.stop();
    QCOMPARE(m_dialogs->records(), (QList<DialogRecord>{acquisitionProgress, info("系统提示", "校准数据获取完成")}));
    QVERIFY2(progressSeen >= 50, qPrintable(QString::number(progressSeen)));
    const QList<QByteArray> sent = m_link->link->sentFrames();
    QCOMPARE(sent, (QList<QByteArray>{hex("A50382012B"), hex("A50382002A")}));

    QCOMPARE(column(0), (QStringList{"0", "1", "2"}));
    QCOMPARE(column(2), (QStringList{"101", "7", "-1001"}));
    QCOMPARE(column(3), (QStringList{"-200", "8", "0"}));
    QCOMPARE(column(4), (QStringList{"300", "9", "32767"}));
    QVERIFY(!ticked(1));
    QVERIFY(button("btnRead")->isEnabled());
    QVERIFY(button("btnWrite")->isEnabled());
}

QTEST_MAIN(TestCalibrationWindow)
#include "tst_calibrationwindow.moc"
