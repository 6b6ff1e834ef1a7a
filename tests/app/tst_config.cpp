#include "config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestConfig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void storesUnderGroupSection();
    void missingKeyIsInvalid();
    void removeThenSetReplaces();
    void emptyNameUsesExecutableFolder();
    void startFolderFallsBackToDesktop_data();
    void startFolderFallsBackToDesktop();
};

void TestConfig::storesUnderGroupSection()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Recordconfig.ini");
    {
        Config config(file);
        config.setValue("Recordconfig", "path", "/data/run 1.csv");
        QCOMPARE(config.value("Recordconfig", "path").toString(), QString("/data/run 1.csv"));
    } // written at the latest when the store goes
    QFile ini(file);
    QVERIFY(ini.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(ini.readAll());
    QVERIFY2(text.contains("[Recordconfig]\npath=/data/run 1.csv"), qPrintable(text));
    Config again(file);
    QCOMPARE(again.value("Recordconfig", "path").toString(), QString("/data/run 1.csv"));
}

void TestConfig::missingKeyIsInvalid()
{
    QTemporaryDir dir;
    Config config(dir.filePath("none.ini"));
    const QVariant v = config.value("Demarcateconfig", "path");
    QVERIFY(!v.isValid());
    QVERIFY(v.toString().isEmpty());
}

void TestConfig::removeThenSetReplaces()
{
    QTemporaryDir dir;
    Config config(dir.filePath("c.ini"));
    config.setValue("g", "k", 1);
    config.remove("g", "k");
    QVERIFY(!config.value("g", "k").isValid());
    config.setValue("g", "k", "two");
    QCOMPARE(config.value("g", "k").toString(), QString("two"));
    QVERIFY(!config.value("k", "g").isValid()); // group and key are not interchangeable
}

void TestConfig::emptyNameUsesExecutableFolder()
{
    Config config(QString{});
    QCOMPARE(config.fileName(), QCoreApplication::applicationDirPath() + "/Config.ini");
}

void TestConfig::startFolderFallsBackToDesktop_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("desktop");
    QTest::newRow("missing") << QString() << true;
    QTest::newRow("folder removed since") << "/no/such/folder/x.csv" << true;
    QTest::newRow("existing folder") << "TEMP/run.csv" << false;
}

void TestConfig::startFolderFallsBackToDesktop()
{
    QFETCH(QString, stored);
    QFETCH(bool, desktop);
    QTemporaryDir dir;
    Config config(dir.filePath("c.ini"));
    stored.replace("TEMP", dir.path());
    if (!stored.isEmpty())
        config.setValue("Recordconfig", "path", stored);
    const QString folder = exportStartFolder(config, "Recordconfig");
    if (desktop)
        QCOMPARE(folder, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    else
        QCOMPARE(folder, dir.path());
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
