#include "curvemath.h"
#include "modaldialoghelper.h"
#include "mqttdialog.h"
#include "mqttpayload.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

using Samples = QList<Axit_t>;
using Counts = QList<QPair<QString, qint64>>;
Q_DECLARE_METATYPE(MqttFrame)
Q_DECLARE_METATYPE(MqttStatus)

namespace {

QByteArray forceList(const Samples &raw, int n)
{
    QByteArrayList values;
    for (int i = 0; i < n; ++i) {
        const Axit_t f = curveSample(raw[i], 0).value;
        values << QByteArray::number(f.x) << QByteArray::number(f.y) << QByteArray::number(f.z);
    }
    return '[' + values.join(',') + ']';
}

template <typename T>
T *field(QWidget &dialog, const char *name)
{
    return dialog.findChild<T *>(name);
}

void press(QWidget &dialog, QDialogButtonBox::StandardButton button)
{
    QTest::mouseClick(dialog.findChild<QDialogButtonBox *>()->button(button), Qt::LeftButton);
}

// What the dialog's fields show, in one line: enabled host port topic user password.
QString shown(QWidget &d)
{
    return QStringList({field<QCheckBox>(d, "chkMqttEnable")->isChecked() ? "1" : "0",
                        field<QLineEdit>(d, "lineMqttHost")->text(),
                        QString::number(field<QSpinBox>(d, "spinMqttPort")->value()),
                        field<QLineEdit>(d, "lineMqttTopic")->text(), field<QLineEdit>(d, "lineMqttUser")->text(),
                        field<QLineEdit>(d, "lineMqttPassword")->text()})
        .join(' ');
}

} // namespace

class TestPublish : public QObject
{
    Q_OBJECT

private slots:
    void framePayload_data();
    void framePayload();
    void statusPayload_data();
    void statusPayload();

    void dialogRefusesUnusableFields_data();
    void dialogRefusesUnusableFields();
    void dialogRemembersAllButThePassword();

private:
    QTemporaryDir m_dir;
};

// The force is what the graph window plots; the rest is written out literally, field order included.
void TestPublish::framePayload_data()
{
    QTest::addColumn<MqttFrame>("frame");
    QTest::addColumn<Samples>("samples");
    QTest::addColumn<uint>("num");
    QTest::addColumn<QByteArray>("head"); // up to and including "raw"
    QTest::addColumn<bool>("hasForce");

    QTest::newRow("demarcated") << MqttFrame{1, 1767225600123, 0, 0} << Samples{{1000, -200, 3000}} << 1u
                                << QByteArray(R"({"seq":1,"host_ms":1767225600123,"type":0,"n":1,"raw":[1000,-200,3000])")
                                << true;
    QTest::newRow("source values carry no force")
        << MqttFrame{42, 5, 1, 0} << Samples{{-32768, 32767, 0}, {-1, -2, -3}} << 2u
        << QByteArray(R"({"seq":42,"host_ms":5,"type":1,"n":2,"raw":[-32768,32767,0,-1,-2,-3])") << false;
    QTest::newRow("time-stamped, stamp at its largest")
        << MqttFrame{8, 9, 2, 0xFFFFFFFFu} << Samples{{12000, 8000, -9000}} << 1u
        << QByteArray(R"({"seq":8,"host_ms":9,"type":2,"card_ms":61367295,"n":1,"raw":[12000,8000,-9000])") << true;

    Samples sixteen;
    QByteArrayList raw;
    for (int s = 0; s < 16; ++s) {
        sixteen.append(Axit_t{qint16(s * 1500 - 9000), qint16(-s * 700), qint16(s * 2000)});
        raw << QByteArray::number(s * 1500 - 9000) << QByteArray::number(-s * 700) << QByteArray::number(s * 2000);
    }
    QTest::newRow("16 sensors") << MqttFrame{1000000, 1, 0, 0} << sixteen << 16u
                                << R"({"seq":1000000,"host_ms":1,"type":0,"n":16,"raw":[)" + raw.join(',') + ']'
                                << true;
    QTest::newRow("count beyond the list") << MqttFrame{1, 1, 1, 0} << Samples{{1, 2, 3}, {4, 5, 6}} << 5u
                                           << QByteArray(R"({"seq":1,"host_ms":1,"type":1,"n":2,"raw":[1,2,3,4,5,6])")
                                           << false;
}

void TestPublish::framePayload()
{
    QFETCH(MqttFrame, frame);
    QFETCH(Samples, samples);
    QFETCH(uint, num);
    QFETCH(QByteArray, head);
    QFETCH(bool, hasForce);

    const int n = int(qMin<qsizetype>(num, samples.size()));
    const QByteArray expected = head + (hasForce ? R"(,"force":)" + forceList(samples, n) : QByteArray()) + '}';
    QCOMPARE(mqttFramePayload(frame, samples, num), expected);
}

void TestPublish::statusPayload_data()
{
    QTest::addColumn<MqttStatus>("status");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("closed, nothing set")
        << MqttStatus{}
        << QByteArray(R"({"online":true,"port":"","link":"closed","type":0,"rate_hz":0.0,"recording":false,"published":0,"dropped":0})");
    QTest::newRow("open and recording, link health counts in their order")
        << MqttStatus{"/dev/ttyUSB0", MqttLinkState::Open, 2, 199.96, true, 12345, 7,
                      Counts{{"frames_decoded", 12352}, {"checksum_errors", 3}, {"discarded_bytes", 0}, {"outages", 1}}}
        << QByteArray(R"({"online":true,"port":"/dev/ttyUSB0","link":"open","type":2,"rate_hz":200.0,"recording":true,)"
                      R"("published":12345,"dropped":7,"frames_decoded":12352,"checksum_errors":3,"discarded_bytes":0,"outages":1})");
    QTest::newRow("lost; names that would break the document")
        << MqttStatus{"COM\"3\\\n", MqttLinkState::Lost, 1, 12.34, false, 0, 99, Counts{{"a\"b", -5}}}
        << QByteArray(R"({"online":true,"port":"COM\"3\\\u000a","link":"lost","type":1,"rate_hz":12.3,"recording":false,)"
                      R"("published":0,"dropped":99,"a\"b":-5})");
}

void TestPublish::statusPayload()
{
    QFETCH(MqttStatus, status);
    QFETCH(QByteArray, expected);
    QCOMPARE(mqttStatusPayload(status), expected);
}

void TestPublish::dialogRefusesUnusableFields_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("warning");

    QTest::newRow("empty host") << "" << "tactilon" << "服务器地址不能为空";
    QTest::newRow("blank host") << "   " << "tactilon" << "服务器地址不能为空";
    QTest::newRow("empty topic") << "broker.lab" << "" << "主题前缀不能为空";
    QTest::newRow("plus") << "broker.lab" << "lab/+" << "主题前缀不能包含通配符 + 或 #";
    QTest::newRow("hash") << "broker.lab" << "lab/#" << "主题前缀不能包含通配符 + 或 #";
}

void TestPublish::dialogRefusesUnusableFields()
{
    QFETCH(QString, host);
    QFETCH(QString, topic);
    QFETCH(QString, warning);

    const QString file = m_dir.filePath(QString("refuse-%1.ini").arg(QTest::currentDataTag()));
    MqttDialog dialog(nullptr, file);
    dialog.show();
    field<QCheckBox>(dialog, "chkMqttEnable")->setChecked(true);
    field<QLineEdit>(dialog, "lineMqttHost")->setText(host);
    field<QLineEdit>(dialog, "lineMqttTopic")->setText(topic);

    ModalDialogHelper dialogs;
    press(dialog, QDialogButtonBox::Ok);
    QCOMPARE(dialogs.records(), (QList<DialogRecord>{{"warning", "提示", warning}}));
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.publishEnabled());
    QVERIFY(!QFile::exists(file));
}

void TestPublish::dialogRemembersAllButThePassword()
{
    const QString file = m_dir.filePath("Mqttconfig.ini");
    {
        MqttDialog dialog(nullptr, file);
        QCOMPARE(dialog.windowTitle(), QString("MQTT 发布"));
        QCOMPARE(shown(dialog), QString("0 localhost 1883 tactilon  "));
        QCOMPARE(field<QLineEdit>(dialog, "lineMqttPassword")->echoMode(), QLineEdit::Password);

        dialog.show();
        field<QCheckBox>(dialog, "chkMqttEnable")->setChecked(true);
        field<QLineEdit>(dialog, "lineMqttHost")->setText(" broker.lab ");
        field<QSpinBox>(dialog, "spinMqttPort")->setValue(8883);
        field<QLineEdit>(dialog, "lineMqttTopic")->setText("lab/array1");
        field<QLineEdit>(dialog, "lineMqttUser")->setText("ana");
        field<QLineEdit>(dialog, "lineMqttPassword")->setText("s3cret-pw");
        press(dialog, QDialogButtonBox::Ok);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.publishEnabled());
        const MqttSettings s = dialog.settings();
        QCOMPARE(QStringList({s.host, QString::number(s.port), s.topicPrefix, s.user, s.password}),
                 QStringList({"broker.lab", "8883", "lab/array1", "ana", "s3cret-pw"}));

        // Cancel leaves what was accepted.
        dialog.show();
        field<QLineEdit>(dialog, "lineMqttHost")->setText("elsewhere");
        field<QCheckBox>(dialog, "chkMqttEnable")->setChecked(false);
        press(dialog, QDialogButtonBox::Cancel);
        QVERIFY(dialog.publishEnabled());
        QCOMPARE(dialog.settings().host, QString("broker.lab"));
        QCOMPARE(shown(dialog), QString("1 broker.lab 8883 lab/array1 ana s3cret-pw"));
    }

    QFile ini(file);
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(!ini.readAll().contains("s3cret"));
    MqttDialog again(nullptr, file);
    QVERIFY(again.publishEnabled());
    QCOMPARE(shown(again), QString("1 broker.lab 8883 lab/array1 ana "));
}

QTEST_MAIN(TestPublish)
#include "tst_publish.moc"
