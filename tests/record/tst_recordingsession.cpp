// The one recording session behind the record window and tactilon-record, driven for both through
// the same scripted card: each keeps its rows its own way, and the rows are the same.
#include "recordformat.h"
#include "recordingsession.h"
#include "recordjournal.h"
#include "scriptedcard.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestRecordingSession : public QObject
{
    Q_OBJECT

private slots:
    void keepsTheSameRowsForEveryUser_data();
    void keepsTheSameRowsForEveryUser();
};

void TestRecordingSession::keepsTheSameRowsForEveryUser_data()
{
    QTest::addColumn<QString>("store");
    QTest::newRow("record window: a journal in its folder") << "journal";
    QTest::newRow("tactilon-record: the file it was given") << "output";
    QTest::newRow("record window without a folder: memory") << "memory";
}

void TestRecordingSession::keepsTheSameRowsForEveryUser()
{
    QFETCH(QString, store);
    QTemporaryDir dir;
    ScriptedCard l;
    // The card streams right behind its answer: those frames are the recording's first rows.
    l.setAfterSyncReply([](uint start) { return stampedFrame(afterStart(start, 2), {{1, 2, 3}}); });
    RecordingSession session;
    session.setLink(l.link);
    if (store == "journal")
        session.setJournalFolder(dir.filePath("journals"));
    else if (store == "output")
        session.setOutputFile(dir.filePath("out.csv"));
    QSignalSpy started(&session, &RecordingSession::started);
    QSignalSpy stopped(&session, &RecordingSession::stopped);
    QSignalSpy resumed(&session, &RecordingSession::resumed);

    QVERIFY(session.start());
    QVERIFY(!session.start()); // one start at a time
    QVERIFY(started.wait());
    const uint start = l.syncedStartTime();
    QByteArray rows = expectedRow(2, afterStart(start, 2), {{1, 2, 3}});
    for (uint ms : {10u, 20u}) {
        l.feed(stampedFrame(afterStart(start, ms), {{int(ms), 0, 0}, {0, 0, 1}}));
        rows += expectedRow(ms, afterStart(start, ms), {{int(ms), 0, 0}, {0, 0, 1}});
    }
    QVERIFY(l.settle());

    // The port goes and the card comes back: its clock is set again and the same recording goes
    // on, field 1 counting from the first start, so the outage is a gap.
    QTest::qWait(60); // this computer's clock passes the card's last stamp, as it would in use
    session.linkLost();
    QVERIFY(session.isWaitingForCard());
    l.feed(stampedFrame(afterStart(start, 30), {{9, 9, 9}})); // nothing while the card is away
    QVERIFY(l.settle());
    session.linkBack();
    QVERIFY(resumed.wait());
    QCOMPARE(l.sentWithCode(0x8D).size(), 2);
    const uint again = msSinceStart(l.syncedStartTime(), start);
    QVERIFY(again > 0 && again < 60000); // the time of day then, not the first start
    // The frame that came with the answer is the first after the gap.
    rows += expectedRow(again + 2, afterStart(start, again + 2), {{1, 2, 3}});
    const uint after = again + 5;
    l.feed(stampedFrame(afterStart(start, after), {{4, 4, 4}}));
    rows += expectedRow(after, afterStart(start, after), {{4, 4, 4}});
    QVERIFY(l.settle());
    // Paused, nothing; stamped before the last row, nothing either.
    session.pause();
    l.feed(stampedFrame(afterStart(start, after + 5), {{5, 5, 5}}));
    QVERIFY(l.settle());
    session.resume();
    l.feed(stampedFrame(afterStart(start, after - 1), {{6, 6, 6}}));
    l.feed(stampedFrame(afterStart(start, after + 10), {{7, 7, 7}}));
    rows += expectedRow(after + 10, afterStart(start, after + 10), {{7, 7, 7}});
    QVERIFY(l.settle());
    QCOMPARE(session.outageCount(), 1);
    QCOMPARE(session.lostMs(), qint64(again + 2 - 20));

    session.stop();
    QVERIFY(stopped.wait());
    QCOMPARE(session.rowCount(), 6);
    QCOMPARE(session.sensorCount(), 2);
    QCOMPARE(session.rows(), rows);
    QVERIFY(session.store()->waitFinished(5000));
    const QByteArray file = recordHeader(1) + rows; // the header names the first frame's sensors
    if (store == "journal")
        QCOMPARE(readFile(session.journalPath()), file);
    if (store == "output")
        QCOMPARE(readFile(dir.filePath("out.csv")), file);
    if (store == "memory")
        QVERIFY(session.journalPath().isEmpty());

    // What an export writes: the largest sensor count over the same rows.
    QFile exported(dir.filePath("export.csv"));
    QVERIFY(exported.open(QIODevice::ReadWrite));
    QVERIFY(session.exportJob()(exported.handle(), nullptr));
    QCOMPARE(readFile(exported.fileName()), recordHeader(2) + rows);
}

QTEST_MAIN(TestRecordingSession)
#include "tst_recordingsession.moc"
