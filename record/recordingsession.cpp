#include "recordingsession.h"

#include "recordformat.h"
#include "replacingfile.h"
#include "recordjournal.h"
#include "slaveprotocol.h"
#include "workerprogress.h"

#include <QDebug>
#include <QTime>
#include <algorithm>

#include <cerrno>
#include <unistd.h>

RecordingSession::RecordingSession(QObject *parent)
    : QObject(parent)
{
}

RecordingSession::~RecordingSession() = default;

void RecordingSession::setLink(SlaveProtocol *link)
{
    if (m_link)
        disconnect(m_link, nullptr, this, nullptr);
    m_link = link;
    if (!link)
        return;
    connect(link, &SlaveProtocol::timeStampSyncResult, this, &RecordingSession::onSyncResult);
    connect(link, &SlaveProtocol::DataTypeSetResult, this, &RecordingSession::onDataTypeResult);
    // Only the time-stamped form: frames without a time stamp are never recorded.
    connect(link, qOverload<QList<Axit_t> &, uint, uint>(&SlaveProtocol::AxitReceive), this,
            &RecordingSession::setItemData);
}

void RecordingSession::setJournalFolder(const QString &folder)
{
    m_journalFolder = folder;
}

void RecordingSession::setOutputFile(const QString &path)
{
    m_outputPath = path;
}

bool RecordingSession::start()
{
    if (m_startPending || m_state != Idle || !m_link)
        return false;
    const QTime now = QTime::currentTime();
    m_startDateTime = QDateTime::currentDateTime();
    m_startTime = timeOfDayMs(uint(now.hour()), uint(now.minute()), uint(now.second()), uint(now.msec()));
    qDebug().noquote().nospace() << now.hour() << ":" << now.minute() << ":" << now.second() << ":" << now.msec();
    m_startPending = true;
    m_pendingRows.clear();
    m_pendingCount = 0;
    m_sinceRequest.start();
    QMetaObject::invokeMethod(m_link, "timeStampSync", Qt::QueuedConnection, Q_ARG(uint, m_startTime));
    return true;
}

void RecordingSession::onSyncResult(int res)
{
    if (m_resyncPending) {
        m_resyncPending = false;
        if (res != 0) {
            emit resumeFailed(res);
            return;
        }
        m_outage = false;
        emit resumed();
        return;
    }
    if (!m_startPending)
        return; // a late answer to a request given up on, or someone else's
    m_startPending = false;
    if (res != 0) {
        m_pendingRows.clear();
        m_pendingCount = 0;
        emit startFailed(res);
        return;
    }
    // The previous recording goes: its journal too once it has been exported; one that never was
    // stays, unlocked, for the next start of the tool to offer.
    if (m_store && m_exported)
        m_store->remove();
    m_store.reset();
    m_headerBytes = 0;
    m_exported = false;
    m_rows = 0;
    m_maxSensors = 0;
    m_outage = false;
    m_gapOpen = false;
    m_outages = 0;
    m_lostMs = 0;
    if (m_pendingCount > 0) {
        beginStore(m_pendingFirstSensors);
        m_store->append(m_pendingRows);
        m_rows = m_pendingCount;
        m_maxSensors = m_pendingMaxSensors;
        m_lastTimeStamp = m_pendingLastStamp;
        m_lastFieldOne = m_pendingLastFieldOne;
    }
    m_pendingRows.clear();
    m_pendingCount = 0;
    m_state = Recording;
    emit started();
}

void RecordingSession::beginStore(int sensors)
{
    m_store = std::make_unique<RecordJournal>();
    if (m_closeWaitMs >= 0)
        m_store->setCloseWaitMs(m_closeWaitMs);
    if (m_sync)
        m_store->setSyncFunction(m_sync);
    connect(m_store.get(), &RecordJournal::writeFailed, this,
            [this](const QString &, const QString &reason) { emit storeFailed(reason); });
    if (m_discardRows)
        m_store->beginDiscarding();
    else if (!m_outputPath.isEmpty())
        m_store->beginOutput(m_outputPath);
    else if (!m_journalFolder.isEmpty())
        m_store->beginJournal(m_journalFolder, journalFileName(m_startDateTime));
    else
        m_store->beginInMemory();
    const QByteArray header = recordHeader(sensors);
    m_store->append(header);
    m_headerBytes = header.size();
}

void RecordingSession::setItemData(QList<Axit_t> &axit, uint, uint timeStamp)
{
    if (m_state == Recording) {
        // After an outage only what the card stamps with the clock set again belongs here: not
        // ahead of our own clock, and not before the last row (appendRow sees to that).
        if (m_outage
            && !(m_resyncPending
                 && stampedAfterSync(timeStamp, m_startTime,
                                     msSinceStart(uint(QTime::currentTime().msecsSinceStartOfDay()), m_startTime))))
            return;
        appendRow(axit, timeStamp);
        return;
    }
    if (m_state != Idle || !m_startPending || !stampedAfterSync(timeStamp, m_startTime, m_sinceRequest.elapsed()))
        return;
    const uint fieldOne = msSinceStart(timeStamp, m_startTime);
    if (m_pendingCount > 0 && !fieldOneFollows(m_pendingLastFieldOne, fieldOne))
        return;
    if (m_pendingCount == 0) {
        m_pendingFirstSensors = int(axit.size());
        m_pendingMaxSensors = 0;
    }
    appendRecordRow(m_pendingRows, timeStamp, m_startTime, axit);
    ++m_pendingCount;
    m_pendingMaxSensors = std::max(m_pendingMaxSensors, int(axit.size()));
    m_pendingLastStamp = timeStamp;
    m_pendingLastFieldOne = fieldOne;
}

void RecordingSession::appendRow(const QList<Axit_t> &axit, uint timeStamp)
{
    const uint fieldOne = msSinceStart(timeStamp, m_startTime);
    // A frame the card stamped before its clock was set (a late sync answer, a repeated request)
    // would make time go back: it is not part of this recording.
    if (m_rows != 0 && !fieldOneFollows(m_lastFieldOne, fieldOne))
        return;
    if (!m_store)
        beginStore(int(axit.size()));
    m_row.clear();
    appendRecordRow(m_row, timeStamp, m_startTime, axit);
    m_store->append(m_row);
    if (m_gapOpen) {
        m_gapOpen = false;
        m_lostMs += fieldOne >= m_lastFieldOne ? fieldOne - m_lastFieldOne : fieldOne + MsPerDay - m_lastFieldOne;
    }
    if (m_rows >= 0)
        ++m_rows;
    if (m_maxSensors >= 0)
        m_maxSensors = std::max(m_maxSensors, int(axit.size()));
    m_lastTimeStamp = timeStamp;
    m_lastFieldOne = fieldOne;
}

void RecordingSession::pause()
{
    if (m_state == Recording)
        m_state = Paused;
}

void RecordingSession::resume()
{
    if (m_state == Paused)
        m_state = Recording;
}

void RecordingSession::stop()
{
    if (m_link)
        QMetaObject::invokeMethod(m_link, "setInfoType", Qt::QueuedConnection, Q_ARG(uchar, 0), Q_ARG(int, 0));
}

void RecordingSession::onDataTypeResult(int res, int id)
{
    // id 1 answers the main window's own data-type change.
    if (id != 0)
        return;
    if (res != 0) {
        emit stopFailed(res);
        return;
    }
    endRecording();
    emit stopped();
}

void RecordingSession::endLocally()
{
    endRecording();
}

void RecordingSession::linkLost()
{
    if (m_state == Idle || m_outage)
        return;
    m_outage = true;
    m_resyncPending = false;
    m_gapOpen = m_rows > 0;
    m_sinceLoss.start();
    ++m_outages;
}

void RecordingSession::linkBack()
{
    if (!m_outage || m_resyncPending || !m_link)
        return;
    m_resyncPending = true;
    const uint now = uint(QTime::currentTime().msecsSinceStartOfDay());
    QMetaObject::invokeMethod(m_link, "timeStampSync", Qt::QueuedConnection, Q_ARG(uint, now));
}

void RecordingSession::endRecording()
{
    m_state = Idle;
    m_outage = false;
    m_resyncPending = false;
    if (m_store)
        m_store->finish();
}

bool RecordingSession::adoptJournal(const QString &path)
{
    if (m_state != Idle || m_startPending)
        return false;
    auto store = std::make_unique<RecordJournal>();
    if (m_closeWaitMs >= 0)
        store->setCloseWaitMs(m_closeWaitMs);
    JournalCheck check;
    if (!store->adopt(path, &check))
        return false;
    if (m_store && m_exported)
        m_store->remove();
    m_store = std::move(store);
    m_headerBytes = check.headerBytes;
    // The rows are not counted, and the sensors only when the header names all there can be:
    // either would mean reading the whole journal.
    m_rows = -1;
    m_maxSensors = check.headerSensors == 16 ? 16 : -1;
    m_exported = false;
    return true;
}

void RecordingSession::discardJournal()
{
    if (m_store)
        m_store->remove();
}

QString RecordingSession::journalPath() const
{
    return m_store && m_store->isJournal() ? m_store->path() : QString();
}

qint64 RecordingSession::exportBytes() const
{
    return m_store ? m_store->size() - m_headerBytes : 0;
}

RecordingSession::ExportJob RecordingSession::exportJob() const
{
    // With no row the header names what the link last saw, as an export always did.
    const int known = m_rows == 0 || !m_store ? (m_link ? m_link->axitNum() : 0) : m_maxSensors;
    if (!m_store || m_rows == 0)
        return [known](int fd, WorkerProgress *) {
            const QByteArray header = recordHeader(known);
            return writeAll(fd, header.constData(), header.size());
        };
    const RecordJournal::Reader rows = m_store->reader();
    const qint64 from = m_headerBytes;
    return [rows, from, known](int fd, WorkerProgress *progress) {
        // A stop has just handed the last rows to the writer; a hung disk is left to the cancel.
        while (!rows.waitDrained(100))
            if (progress && progress->cancel)
                return false;
        int sensors = known;
        if (sensors < 0) {
            // A journal taken over names its first row's count; its rows say the largest.
            sensors = 0;
            qint64 commas = 0;
            rows.forEachPiece(from, rows.size(), nullptr, [&](const char *p, qint64 n) {
                for (qint64 i = 0; i < n; ++i) {
                    if (p[i] == ',') {
                        ++commas;
                    } else if (p[i] == '\n') {
                        sensors = std::max(sensors, int(std::min<qint64>(16, (commas - 2) / 3)));
                        commas = 0;
                    }
                }
                return !(progress && progress->cancel);
            });
        }
        const QByteArray header = recordHeader(sensors);
        return writeAll(fd, header.constData(), header.size()) && rows.copyTo(fd, from, progress);
    };
}

QByteArray RecordingSession::rows() const
{
    if (!m_store)
        return {};
    m_store->waitDrained(5000);
    return m_store->read(m_headerBytes, m_store->size() - m_headerBytes);
}
