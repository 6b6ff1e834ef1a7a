#include "demarcate.h"
#include "linkthread.h"
#include "modaldialoghelper.h"
#include "simloopbacklink.h"
#include "tempfolder.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

class TestDemarcateSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void singlePointAcquiredWrittenReadBackAndExported();
    void cleanupTestCase();

private:
    TemporaryWorkingFolder m_dir;
    std::unique_ptr<LinkThread<SimLoopbackLink>> m_thread;
    SimLoopbackLink *m_link = nullptr;
};

void TestDemarcateSim::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_thread = std::make_unique<LinkThread<SimLoopbackLink>>(7);
    m_link = m_thread->link;
    m_link->card().setSensorCount(4);
    m_link->card().setCorruption(0);
    m_link->setOpen(true);
    m_thread->start();
}

void TestDemarcateSim::cleanupTestCase()
{
    m_thread.reset();
}

void TestDemarcateSim::singlePointAcquiredWrittenReadBackAndExported()
{
    QString x, y, z;
    {
        Demarcate w;
        ModalDialogHelper dialogs;
        w.setLink(m_link);
        w.setSensorCount(4);
        w.show();
        w.findChild<QComboBox *>("sensorIdSelect")->setCurrentIndex(2);
        w.findChild<QComboBox *>("comSingleAxitSelect")->setCurrentIndex(1);
        m_link->withCard([](SimCard &card) { card.clearStreamLog(); });
        w.findChild<QPushButton *>("btnSingleDemarcate")->click();
        QCOMPARE(dialogs.records().value(1), (DialogRecord{"information", "系统提示", "单点标定成功"}));

        // The readings are the averages of the first 20 source frames the card sent.
        qint64 sums[3] = {0, 0, 0};
        int frames = 0;
        m_link->withCard([&](SimCard &card) {
            for (const SimStreamRecord &r : card.streamLog()) {
                if (r.type != 1 || frames == Demarcate::AcquireFrames)
                    continue;
                sums[0] += r.samples[2].x;
                sums[1] += r.samples[2].y;
                sums[2] += r.samples[2].z;
                ++frames;
            }
        });
        QCOMPARE(frames, int(Demarcate::AcquireFrames));
        x = w.findChild<QLineEdit *>("ltxtSingleDemarcateX")->text();
        y = w.findChild<QLineEdit *>("ltxtSingleDemarcateY")->text();
        z = w.findChild<QLineEdit *>("ltxtSingleDemarcateZ")->text();
        QCOMPARE((QStringList{x, y, z}), (QStringList{QString::number(sums[0] / 20), QString::number(sums[1] / 20),
                                                      QString::number(sums[2] / 20)}));

        w.findChild<QLineEdit *>("ltxtSinglePressure")->setText("150");
        w.findChild<QPushButton *>("btnSingleWrite")->click();
        QTRY_COMPARE(w.singleList(1, 2).size(), 1);
    }

    // A window that knows nothing reads the point back from the card and exports it.
    Demarcate fresh;
    ModalDialogHelper dialogs;
    fresh.setLink(m_link);
    fresh.setSensorCount(4);
    fresh.findChild<QComboBox *>("sensorIdSelect")->setCurrentIndex(2);
    fresh.findChild<QComboBox *>("comSingleAxitSelect")->setCurrentIndex(1);
    QTRY_COMPARE(fresh.singleList(1, 2).size(), 1);

    const QString path = m_dir.filePath("sim.csv");
    fresh.saveFileName = [&](QWidget *, const QString &, const QString &, const QString &) { return path; };
    fresh.findChild<QPushButton *>("btnSingleExport")->click();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLatin1(file.readAll()),
             QString("pressure(kg),x,y,z,xlabel,ylabel,zlabel\n150,%1,%2,%3,0,75.00,129.90\n").arg(x, y, z));
}

QTEST_MAIN(TestDemarcateSim)
#include "tst_demarcatesim.moc"
