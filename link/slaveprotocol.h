#pragma once

#include "slavetypes.h"

#include <QMutex>
#include <QObject>
#include <array>
#include <atomic>
#include <functional>

// What the line delivered and lost since the link was opened. Counted on the link thread, read
// from any thread.
struct LinkHealth
{
    quint64 framesDecoded = 0;  // whole frames with a good checksum
    quint64 framesDropped = 0;  // frames refused for a bad checksum or length
    quint64 bytesDiscarded = 0; // bytes thrown away while looking for the next frame
    quint64 gaps = 0;           // time-stamped frames more than 1.5 intervals after the one before
    quint64 missingMs = 0;      // the time those gaps left without frames

    // Counts over several connections (the port lost and opened again).
    LinkHealth &operator+=(const LinkHealth &o)
    {
        framesDecoded += o.framesDecoded;
        framesDropped += o.framesDropped;
        bytesDiscarded += o.bytesDiscarded;
        gaps += o.gaps;
        missingMs += o.missingMs;
        return *this;
    }
};

// Command and reply layer of the device link. Lives on the link thread; the GUI thread
// reaches it through queued (or blocking-queued) calls and reads the atomic getters directly.
class SlaveProtocol : public QObject
{
    Q_OBJECT

public:
    enum : int { MaxSensors = 16, MaxPressures = 55, DefaultReplyTimeoutMs = 3000 };

    explicit SlaveProtocol(QObject *parent = nullptr);
    ~SlaveProtocol() override;

    void readCurrentSampleFre(int mesc);
    void setSampleFre(uint freIndex, int mesc);

    int freIndex() const { return m_freIndex.load(); }
    uint8_t recvInfoType() const { return m_recvInfoType.load(); }
    int axitNum() const { return m_axitNum.load(); }
    bool isPortOpen() const { return m_portOpen.load(); }
    // Read only after an acquisition has ended or in the slot of slaveCheckRec.
    const CheckData_t *checkData() const { return m_checkData.data(); }
    uint32_t demarcateRemain() const { return m_demarcateRemain.load(); }

    LinkHealth health() const;
    // Counting starts again (a link that has just opened).
    void resetHealth();

    // While set, a request waiting for its reply gives up at the next 10 ms slice with -1, and new
    // requests give up after sending once: a program told to stop must not sit out three seconds.
    void setRequestsCancelled(bool cancelled) { m_requestsCancelled.store(cancelled); }
    // Reply time-out of the commands whose time-out is fixed (3000 ms unless set).
    void setReplyTimeoutMs(int ms) { m_replyTimeoutMs = ms; }

signals:
    void slaveCheckRec(bool ok);
    void AxitReceive(QList<Axit_t> &Axit, uint num);
    void AxitReceive(QList<Axit_t> &Axit, uint num, uint timeStamp);
    void sampleFreResult(int option, int res, int param);
    void demarcateOperationResult(int option, int res, int param);
    void demarcateInfo(int type, short pressure, QList<short> &info);
    void demarcateRemoveResult(int res, int xyz, QList<short> &list);
    void demarcateSingleRemoveResult(int res, int xyz, int sensorId, QList<short> &list);
    void demarcateSingleReadInfo(int xyz, int sensorId, QList<singleDemarcateInfoUnit_t> &list);
    void calibrationDataWriteResult(int res);
    void timeStampSyncResult(int res);
    void DataTypeSetResult(int res, int id);

public slots:
    int readCheckData();
    void setChecking(bool check);
    void demarcateStop();
    void demarcateStart(uint count);
    void checkDataWrite(QList<AxitSingle_t> &axit);
    void demarcateRemoveAll();
    void demarcateRemove(int xyz, QList<short> &list);
    void demarcateSingleRemove(int xyz, int sensorId, QList<short> &list);
    void demarcateSingleRemoveAll(int xyz, int sensorId);
    void demarcateSingleWrite(int xyz, int sensorId, short pressure, short x, short y, short z);
    void demarcateSingleRead(int xyz, int sensorId);
    void timeStampSync(uint timeStamp);
    void setInfoType(uchar type, int id);
    void readDemarcateInfo(int xyz);

public:
    virtual int tx_frame_send(uint8_t cmd, const uint8_t *payload, int len);

protected:
    // Sends the command up to three times and waits in 10 ms slices for its status reply.
    // Returns the card's status, or -1 when nothing answered.
    // beforeRepeat, when given, runs before every attempt after the first (it may rewrite the payload).
    int requestReply(uint8_t cmd, const uint8_t *payload, int len, int timeoutMs,
                     const std::function<void()> &beforeRepeat = {});
    // Frame handler: data[0] is the command code, data[1..n-1] the payload.
    void decodeSlaveBase(const uint8_t *data, uint16_t n);

    void setPortOpen(bool open) { m_portOpen.store(open); }
    // The codec's part of the counting.
    void countDropped() { m_framesDropped.fetch_add(1, std::memory_order_relaxed); }
    void countDiscarded(size_t bytes)
    {
        if (bytes)
            m_bytesDiscarded.fetch_add(bytes, std::memory_order_relaxed);
    }
    void resetFreIndex() { m_freIndex.store(-1); }

    // Reply time-out of the commands whose time-out is fixed; tests shorten it.
    int m_replyTimeoutMs = DefaultReplyTimeoutMs;

private:
    void decodeSamples(const uint8_t *p, int count);
    void countStamp(uint32_t timeStamp);
    void accumulate();
    void decodeCheckData(const uint8_t *p, int len);
    void decodeDemarcateInfo(const uint8_t *p, int len);
    void decodeSingleInfo(const uint8_t *p, int len);

    static constexpr int ReplyPending = -256;

    std::atomic<int> m_freIndex{-1};
    int m_readFreIndex = -1; // the last index the card reported
    std::atomic<uint8_t> m_recvInfoType{0};
    std::atomic<int> m_axitNum{0};
    std::atomic<bool> m_portOpen{false};
    std::atomic<bool> m_requestsCancelled{false};
    std::atomic<quint64> m_framesDecoded{0};
    std::atomic<quint64> m_framesDropped{0};
    std::atomic<quint64> m_bytesDiscarded{0};
    std::atomic<quint64> m_gaps{0};
    std::atomic<quint64> m_missingMs{0};
    uint32_t m_lastStamp = 0;
    bool m_haveStamp = false;
    // One status per command code, so a late reply to another command cannot end this wait.
    std::array<int, 256> m_replyStatus;
    QList<Axit_t> m_samples;

    std::array<CheckData_t, MaxSensors> m_checkData{};
    bool m_checking = false;
    std::atomic<uint32_t> m_demarcateRemain{0};
    uint8_t m_savedInfoType = 0;
    uint16_t m_accumulated = 0;
    QMutex m_checkMutex;
};
