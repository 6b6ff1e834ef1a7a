#include "recordformat.h"

#include <QTest>

namespace {

QList<Axit_t> axits(std::initializer_list<Axit_t> list)
{
    return QList<Axit_t>(list);
}

} // namespace

class TestRecordFormat : public QObject
{
    Q_OBJECT

private slots:
    void splitsTimeOfDay_data();
    void splitsTimeOfDay();
    void countsFromStartAcrossMidnight_data();
    void countsFromStartAcrossMidnight();
    void formatsRows_data();
    void formatsRows();
    void buildsHeaderForSensorCount_data();
    void buildsHeaderForSensorCount();
    void padsClockDigits_data();
    void padsClockDigits();
};

void TestRecordFormat::splitsTimeOfDay_data()
{
    QTest::addColumn<uint>("ms");
    QTest::addColumn<QList<uint>>("fields");
    QTest::newRow("midnight") << 0u << QList<uint>{0, 0, 0, 0};
    QTest::newRow("9:05:07.042") << 32707042u << QList<uint>{9, 5, 7, 42};
    QTest::newRow("last ms of the day") << 86399999u << QList<uint>{23, 59, 59, 999};
    QTest::newRow("one day later wraps") << 86400000u + 100u << QList<uint>{0, 0, 0, 100};
    QTest::newRow("largest stamp") << 4294967295u << QList<uint>{17, 2, 47, 295};
}

void TestRecordFormat::splitsTimeOfDay()
{
    QFETCH(uint, ms);
    QFETCH(QList<uint>, fields);
    const TimeOfDay t = splitTimeOfDay(ms);
    QCOMPARE((QList<uint>{t.hour, t.minute, t.second, t.msec}), fields);
    if (ms < MsPerDay)
        QCOMPARE(timeOfDayMs(t.hour, t.minute, t.second, t.msec), ms);
}

void TestRecordFormat::countsFromStartAcrossMidnight_data()
{
    QTest::addColumn<uint>("timeStamp");
    QTest::addColumn<uint>("startTime");
    QTest::addColumn<uint>("expected");
    QTest::newRow("same instant") << 5000u << 5000u << 0u;
    QTest::newRow("later the same day") << 45000123u << 45000000u << 123u;
    QTest::newRow("23:59:59.900 to 00:00:00.100") << 100u << 86399900u << 200u;
    QTest::newRow("just before start wraps a full day") << 4999u << 5000u << 86399999u;
    QTest::newRow("stamp beyond one day") << 86400000u + 7000u << 5000u << 2000u;
}

void TestRecordFormat::countsFromStartAcrossMidnight()
{
    QFETCH(uint, timeStamp);
    QFETCH(uint, startTime);
    QFETCH(uint, expected);
    QCOMPARE(msSinceStart(timeStamp, startTime), expected);
}

void TestRecordFormat::formatsRows_data()
{
    QTest::addColumn<uint>("timeStamp");
    QTest::addColumn<uint>("startTime");
    QTest::addColumn<QList<Axit_t>>("samples");
    QTest::addColumn<QByteArray>("row");
    QTest::newRow("across midnight")
        << 100u << 86399900u << axits({{1, 2, 3}}) << QByteArray("200,0:0:0:100,1,2,3,\n");
    QTest::newRow("three entries, every field followed by a comma")
        << 32707042u << 32707000u << axits({{10, 20, 30}, {40, 50, 60}, {70, 80, 90}})
        << QByteArray("42,9:5:7:42,10,20,30,40,50,60,70,80,90,\n");
    QTest::newRow("negative and extreme values")
        << 1000u << 0u << axits({{-1, -32768, 32767}, {0, -300, 5}})
        << QByteArray("1000,0:0:1:0,-1,-32768,32767,0,-300,5,\n");
    QTest::newRow("no entries") << 3600000u << 0u << axits({}) << QByteArray("3600000,1:0:0:0,\n");
}

void TestRecordFormat::formatsRows()
{
    QFETCH(uint, timeStamp);
    QFETCH(uint, startTime);
    QFETCH(QList<Axit_t>, samples);
    QFETCH(QByteArray, row);
    QCOMPARE(recordRow(timeStamp, startTime, samples), row);

    // Appending keeps what is already there.
    QByteArray out("previous\n");
    appendRecordRow(out, timeStamp, startTime, samples);
    QCOMPARE(out, "previous\n" + row);
}

void TestRecordFormat::buildsHeaderForSensorCount_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("header");
    QTest::newRow("none") << 0 << QByteArray("millisecond,time stamp,\n");
    QTest::newRow("two") << 2 << QByteArray("millisecond,time stamp,X1,y1,z1,X2,y2,z2,\n");
}

void TestRecordFormat::buildsHeaderForSensorCount()
{
    QFETCH(int, count);
    QFETCH(QByteArray, header);
    QCOMPARE(recordHeader(count), header);
}

void TestRecordFormat::padsClockDigits_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");
    QTest::newRow("ms 7") << 7u << 3 << "007";
    QTest::newRow("ms 42") << 42u << 3 << "042";
    QTest::newRow("ms 0") << 0u << 3 << "000";
    QTest::newRow("ms 999") << 999u << 3 << "999";
    QTest::newRow("hour 5") << 5u << 2 << "05";
    QTest::newRow("minute 0") << 0u << 2 << "00";
    QTest::newRow("second 59") << 59u << 2 << "59";
}

void TestRecordFormat::padsClockDigits()
{
    QFETCH(uint, value);
    QFETCH(int, width);
    QFETCH(QString, text);
    QCOMPARE(zeroPadded(value, width), text);
}

QTEST_APPLESS_MAIN(TestRecordFormat)
#include "tst_recordformat.moc"
