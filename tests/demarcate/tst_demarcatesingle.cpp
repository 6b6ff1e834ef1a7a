#include "demarcatefixture.h"
#include "tempfolder.h"
#include "userinput.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char *const Edits[4] = {"ltxtSingleDemarcateX", "ltxtSingleDemarcateY", "ltxtSingleDemarcateZ",
                              "ltxtSinglePressure"};

QByteArray readFrame(int xyz, int sensor, const QList<singleDemarcateInfoUnit_t> &points)
{
    QByteArray payload = QByteArray(1, char(xyz)) + char(sensor);
    for (const auto &p : points)
        payload += be16(p.pressure) + be16(p.x) + be16(p.y) + be16(p.z);
    return cardFrame(0x8C, payload);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writePoint(WindowFixture &f, const QStringList &fields) // X, Y, Z, pressure
{
    for (int i = 0; i < 4; ++i)
        f.child<QLineEdit>(Edits[i])->setText(fields[i]);
    f.click("btnSingleWrite");
}

void writePoint(WindowFixture &f, int pressure, int x, int y, int z)
{
    writePoint(f, {QString::number(x), QString::number(y), QString::number(z), QString::number(pressure)});
}

// Without a card the tab's buttons work on the window's own lists.
struct ClosedLink : WindowFixture
{
    ClosedLink() { card.link->setOpen(false); }
};

const QString Header = "pressure(kg),x,y,z,xlabel,ylabel,zlabel\n";

} // namespace

class TestDemarcateSingle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void withoutCardListsKeepAscendingPressure();
    void writeRefusesIncompleteInput_data();
    void writeRefusesIncompleteInput();
    void lineEditsAcceptOnlySixteenBitValues_data();
    void lineEditsAcceptOnlySixteenBitValues();
    void selectionTitlesAndReadsCard();
    void cardWriteAddsPointWhenAccepted_data();
    void cardWriteAddsPointWhenAccepted();
    void cardAnswersGoToListTheyWereSentFor();
    void overlappingWritesAllReachTheListAndTheExport();
    void cardRemovalRemovesNamedPressures();
    void exportLines_data();
    void exportLines();
    void exportRemembersFolderAndReplacesFile();

private:
    TemporaryWorkingFolder m_dir;
};

void TestDemarcateSingle::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestDemarcateSingle::withoutCardListsKeepAscendingPressure()
{
    ClosedLink f;
    writePoint(f, 30, 1, 1, 1);
    writePoint(f, 10, 2, 2, 2);
    writePoint(f, 20, 3, 3, 3);
    QCOMPARE(f.column("singleReadTable", 1), (QStringList{"10", "20", "30"}));
    f.tick("singleReadTable", 1);
    writePoint(f, 20, 7, -8, 9);
    QCOMPARE(f.column("singleReadTable", 1), (QStringList{"10", "20", "30"}));
    QCOMPARE(f.cell("singleReadTable", 1, 2) + f.cell("singleReadTable", 1, 3) + f.cell("singleReadTable", 1, 4),
             QString("7-89"));
    QVERIFY(!f.model("singleReadTable")->index(1, 0).data(Qt::UserRole).toBool());

    f.tick("singleReadTable", 0);
    f.tick("singleReadTable", 2);
    f.click("btnSingleRemove");
    QCOMPARE(f.column("singleReadTable", 1), QStringList{"20"});
    f.click("btnSingleRemoveAll");
    QVERIFY(f.window.singleList(0, 0).isEmpty());
    QCOMPARE(f.model("singleReadTable")->rowCount(), 0);
    QCOMPARE(f.dialogs.count(), 0);

    f.click("btnSingleRead");
    QCOMPARE(f.dialogs.records(), QList<DialogRecord>{info("提示", "请打开通信接口")});
    QVERIFY(f.card.link->sentFrames().isEmpty());
}

void TestDemarcateSingle::writeRefusesIncompleteInput_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    const QString noReadings = "请“单点标定”后再写入";
    QTest::newRow("no X") << QStringList{"", "1", "1", "5"} << "information" << noReadings;
    QTest::newRow("Z not a number") << QStringList{"1", "1", "z", "5"} << "information" << noReadings;
    QTest::newRow("no pressure") << QStringList{"1", "1", "1", ""} << "information" << "请输入标定的压力值";
    QTest::newRow("Y beyond 16 bits") << QStringList{"1", "40000", "1", "5"} << "warning"
                                      << "允许输入范围：-32767~32767";
}

void TestDemarcateSingle::writeRefusesIncompleteInput()
{
    QFETCH(QStringList, fields);
    QFETCH(QString, kind);
    QFETCH(QString, message);
    ClosedLink f;
    writePoint(f, fields);
    QCOMPARE(f.dialogs.records(), (QList<DialogRecord>{{kind, "提示", message}}));
    QVERIFY(f.window.singleList(0, 0).isEmpty());
    if (kind == "warning")
        QCOMPARE(f.child<QLineEdit>(Edits[1])->text(), QString("0"));
}

void TestDemarcateSingle::lineEditsAcceptOnlySixteenBitValues_data()
{
    QTest::addColumn<int>("edit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("pressure 32768") << 3 << "32768" << false;
    QTest::newRow("pressure -32767") << 3 << "-32767" << true;
    QTest::newRow("X -32768") << 0 << "-32768" << false;
    QTest::newRow("Y 32767") << 1 << "32767" << true;
    QTest::newRow("Z text") << 2 << "abc" << false;
}

void TestDemarcateSingle::lineEditsAcceptOnlySixteenBitValues()
{
    QFETCH(int, edit);
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    ClosedLink f;
    auto *line = f.child<QLineEdit>(Edits[edit]);
    typeInto(line, typed);
    QCOMPARE(line->text(), accepted ? typed : QString("0"));
    QCOMPARE(f.dialogs.records(),
             accepted ? QList<DialogRecord>() : QList{warning("提示", "允许输入范围：-32767~32767")});
}

void TestDemarcateSingle::selectionTitlesAndReadsCard()
{
    WindowFixture f;
    QCOMPARE(f.child<QGroupBox>("singleReadGroupBox")->title(), QString("传感器1-X轴已写入标定信息"));
    f.select("sensorIdSelect", 3);
    f.select("comSingleAxitSelect", 2);
    QCOMPARE(f.child<QGroupBox>("singleReadGroupBox")->title(), QString("传感器4-Z轴已写入标定信息"));
    QTRY_COMPARE(f.card.sentWithCode(0x8C).size(), 2);
    QCOMPARE(f.card.sentWithCode(0x8C).last(), cardFrame(0x8C, QByteArray::fromHex("0203")));

    // Each answer fills its own list; answers outside the store are refused or ignored.
    f.card.feed(readFrame(2, 1, {{5, 5, 5, 5}}));
    f.card.feed(readFrame(0, 16, {{5, 5, 5, 5}}));
    f.card.feed(readFrame(2, 3, {{40, 1, 2, 3}, {-10, 4, 5, 6}}));
    f.card.feed(readFrame(3, 3, {{5, 5, 5, 5}}));
    QCOMPARE(f.dialogs.waitForNext(), info("错误信息", "单点数据读取有误"));
    QCOMPARE(f.column("singleReadTable", 1), (QStringList{"40", "-10"}));
    QCOMPARE(f.window.singleList(2, 1).size(), 1);
    QCOMPARE(f.dialogs.count(), 1);

    f.click("btnSingleRead");
    QTRY_COMPARE(f.card.sentWithCode(0x8C).size(), 3);
}

void TestDemarcateSingle::cardWriteAddsPointWhenAccepted_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("accepted") << 0 << "";
    QTest::newRow("full") << 2 << "标定数据空间已写满，请先删除，再写入";
    QTest::newRow("no answer") << -1 << "标定数据写入失败";
}

void TestDemarcateSingle::cardWriteAddsPointWhenAccepted()
{
    QFETCH(int, status);
    QFETCH(QString, message);
    WindowFixture f;
    f.select("sensorIdSelect", 2);
    f.select("comSingleAxitSelect", 1);
    f.card.setStatus(0x89, status);
    writePoint(f, 250, 100, -2, 3);
    const QByteArray payload = QByteArray::fromHex("0102") + be16(250) + be16(100) + be16(-2) + be16(3);
    QTRY_COMPARE(f.card.sentWithCode(0x89).value(0), cardFrame(0x89, payload));
    if (message.isEmpty()) {
        QTRY_COMPARE(f.column("singleReadTable", 1), QStringList{"250"});
    } else {
        QCOMPARE(f.dialogs.waitForNext(), info("错误信息", message));
        QVERIFY(f.window.singleList(1, 2).isEmpty());
    }
}

void TestDemarcateSingle::cardAnswersGoToListTheyWereSentFor()
{
    WindowFixture f;
    f.card.link->setReplyTimeout(3000);
    f.card.replyDelayMs = 150;
    f.card.feed(readFrame(0, 1, {{5, 5, 5, 5}}));
    QTRY_COMPARE(f.window.singleList(0, 1).size(), 1);

    // The selection moves on while the card is still answering.
    f.select("sensorIdSelect", 2);
    writePoint(f, 250, 100, -2, 3);
    f.select("sensorIdSelect", 0);
    QTRY_COMPARE(f.window.singleList(0, 2).size(), 1);
    QVERIFY(f.window.singleList(0, 0).isEmpty());

    f.select("sensorIdSelect", 1);
    f.click("btnSingleRemoveAll");
    f.select("sensorIdSelect", 2);
    QTRY_VERIFY(f.window.singleList(0, 1).isEmpty());
    QCOMPARE(f.card.sentWithCode(0x8B), QList<QByteArray>{cardFrame(0x8B, QByteArray::fromHex("0001"))});
    QCOMPARE(f.column("singleReadTable", 1), QStringList{"250"});
}

void TestDemarcateSingle::overlappingWritesAllReachTheListAndTheExport()
{
    WindowFixture f;
    f.card.link->setReplyTimeout(3000);
    f.card.replyDelayMs = 300;
    writePoint(f, 250, 1, 2, 3);
    writePoint(f, 100, 4, 5, 6); // while the card has not answered the first
    QTRY_COMPARE_WITH_TIMEOUT(f.column("singleReadTable", 1), (QStringList{"100", "250"}), 5000);
    QCOMPARE(f.card.sentWithCode(0x89).size(), 2);
    const QString path = m_dir.filePath("overlap.csv");
    f.window.saveFileName = [&](QWidget *, const QString &, const QString &, const QString &) { return path; };
    f.click("btnSingleExport");
    QCOMPARE(readFile(path), (Header + "100,4,5,6,50.00,0,86.60\n250,1,2,3,125.00,0,216.50\n").toUtf8());
    QCOMPARE(f.dialogs.records(), QList<DialogRecord>{info("导出文件", "文件导出成功")});
}

void TestDemarcateSingle::cardRemovalRemovesNamedPressures()
{
    WindowFixture f;
    f.card.feed(readFrame(0, 0, {{10, 1, 1, 1}, {20, 2, 2, 2}, {30, 3, 3, 3}}));
    QTRY_COMPARE(f.model("singleReadTable")->rowCount(), 3);
    f.tick("singleReadTable", 1);
    f.click("btnSingleRemove");
    QTRY_COMPARE(f.column("singleReadTable", 1), (QStringList{"10", "30"}));
    QCOMPARE(f.card.sentWithCode(0x8A), QList<QByteArray>{cardFrame(0x8A, QByteArray::fromHex("0000") + be16(20))});

    QList<short> named{30, 99};
    emit f.card.link->demarcateSingleRemoveResult(0, 0, 0, named);
    QCOMPARE(f.dialogs.records(), QList<DialogRecord>{info("错误信息", "标定压力值“99”删除失败")});
    QCOMPARE(f.column("singleReadTable", 1), QStringList{"10"});

    f.card.setStatus(0x8B, 1);
    f.click("btnSingleRemoveAll");
    QCOMPARE(f.dialogs.waitForNext(), info("错误信息", "删除驱动卡标定数据失败"));
    QCOMPARE(f.window.singleList(0, 0).size(), 1);
}

void TestDemarcateSingle::exportLines_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<QString>("line");
    QTest::newRow("X") << 0 << "100,12,-3,250,50.00,0,86.60\n";
    QTest::newRow("Y") << 1 << "100,12,-3,250,0,50.00,86.60\n";
    QTest::newRow("Z") << 2 << "100,12,-3,250,0,0,100\n";
}

void TestDemarcateSingle::exportLines()
{
    QFETCH(int, axis);
    QFETCH(QString, line);
    ClosedLink f;
    f.select("comSingleAxitSelect", axis);
    writePoint(f, 100, 12, -3, 250);
    QString path = m_dir.filePath("lines.csv");
    f.window.saveFileName = [&](QWidget *, const QString &, const QString &, const QString &) { return path; };
    f.click("btnSingleExport");
    QCOMPARE(readFile(path), (Header + line).toUtf8());
    QCOMPARE(f.dialogs.records(), QList<DialogRecord>{info("导出文件", "文件导出成功")});

    f.dialogs.clear();
    path = m_dir.filePath("no-such-folder/points.csv");
    f.click("btnSingleExport");
    QCOMPARE(f.dialogs.records(), QList<DialogRecord>{warning("错误", "文件无法创建")});

    // Opened but not written (a full disk): never reported as exported.
    f.dialogs.clear();
    path = "/dev/full";
    f.click("btnSingleExport");
    QCOMPARE(f.dialogs.records(), QList<DialogRecord>{warning("错误", "文件写入失败")});
}

void TestDemarcateSingle::exportRemembersFolderAndReplacesFile()
{
    TemporaryWorkingFolder work; // no remembered file there yet
    QTemporaryDir target;
    const QString path = target.filePath("points.csv");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(500, 'x')) == 500);
    old.close();
    {
        ClosedLink f;
        QStringList asked;
        QWidget *parent = nullptr;
        QString answer = path;
        f.window.saveFileName = [&](QWidget *p, const QString &caption, const QString &dir, const QString &filter) {
            parent = p;
            asked = QStringList{caption, dir, filter};
            return answer;
        };
        f.click("btnSingleExport");
        QCOMPARE(parent, &f.window);
        QCOMPARE(asked, (QStringList{"选择文件", QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                     "*.csv"}));
        QCOMPARE(readFile(path), Header.toUtf8()); // an empty list writes the header alone

        answer.clear(); // cancelled: nothing written, nothing said, the file stays remembered
        f.click("btnSingleExport");
        f.click("btnSingleExport");
        QCOMPARE(asked.value(1), target.path());
        QCOMPARE(f.dialogs.count(), 1);
    }
    QSettings stored(work.filePath("Demarcateconfig.ini"), QSettings::IniFormat);
    QCOMPARE(stored.value("Demarcateconfig/path").toString(), path);
}

QTEST_MAIN(TestDemarcateSingle)
#include "tst_demarcatesingle.moc"
