// Differential fuzzing of the device link's receive side: arbitrary bytes in arbitrary chunks go
// through the codec and every decoder behind it, and through the reference algorithm with an
// independent decoder model; both must report the same things. ASan/UBSan catch any access
// outside the buffers.
#include "referenceparser.h"
#include "slavecodec.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace {

struct Observer : SlaveCodec
{
    Observer()
    {
        connect(this, qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive), this,
                [this](QList<Axit_t> &a, uint n) { log += samples("S", a, n); });
        connect(this, qOverload<QList<Axit_t> &, uint, uint>(&SlaveProtocol::AxitReceive), this,
                [this](QList<Axit_t> &a, uint n, uint t) { log += samples("T" + QByteArray::number(t), a, n); });
        connect(this, &SlaveProtocol::slaveCheckRec, this, [this](bool ok) {
            log += ok ? "C1;" : "C0;";
            if (ok)
                for (int i = 0; i < axitNum(); ++i)
                    log += QByteArray::number(checkData()[i].x) + "," + QByteArray::number(checkData()[i].y) + ","
                           + QByteArray::number(checkData()[i].z) + ";";
        });
        connect(this, &SlaveProtocol::demarcateInfo, this, [this](int type, short p, QList<short> &v) {
            log += "D" + QByteArray::number(type) + "," + QByteArray::number(p);
            for (short s : v)
                log += "," + QByteArray::number(s);
            log += ";";
        });
        connect(this, &SlaveProtocol::demarcateSingleReadInfo, this,
                [this](int xyz, int sensor, QList<singleDemarcateInfoUnit_t> &list) {
                    log += "P" + QByteArray::number(xyz) + "," + QByteArray::number(sensor);
                    for (const auto &u : list)
                        log += "," + QByteArray::number(u.pressure) + "," + QByteArray::number(u.x) + ","
                               + QByteArray::number(u.y) + "," + QByteArray::number(u.z);
                    log += ";";
                });
    }
    static QByteArray samples(const QByteArray &tag, const QList<Axit_t> &a, uint n)
    {
        QByteArray out = tag + ":" + QByteArray::number(n);
        for (const Axit_t &s : a)
            out += "," + QByteArray::number(s.x) + "," + QByteArray::number(s.y) + "," + QByteArray::number(s.z);
        return out + ";";
    }
    qint64 portWrite(const uint8_t *, qint64 len) override { return len; }
    void input(const uint8_t *p, uint16_t n) { rx_data_input(p, n); }
    QByteArray log;
};

int16_t i16(const QByteArray &f, int at)
{
    return int16_t(uint16_t(uint8_t(f[at]) << 8 | uint8_t(f[at + 1])));
}

// What the link should report for one delivered frame (command byte + payload).
QByteArray expectedReport(const QByteArray &f, int &checkCount, int32_t check[16][3])
{
    const int cmd = uint8_t(f[0]);
    const int len = int(f.size()) - 1;
    QByteArray out;
    auto samples = [&](int at, int n) {
        for (int i = 0; i < n; ++i)
            out += "," + QByteArray::number(i16(f, at + 6 * i)) + "," + QByteArray::number(i16(f, at + 6 * i + 2)) + ","
                   + QByteArray::number(i16(f, at + 6 * i + 4));
    };
    if (cmd == 0 || cmd == 1) {
        const int n = len / 6;
        if (n > 16)
            return {};
        out = "S:" + QByteArray::number(n);
        samples(1, n);
        return out + ";";
    }
    if (cmd == 2) {
        if (len < 4 || (len - 4) / 6 > 16)
            return {};
        const uint32_t t = uint32_t(uint8_t(f[1])) << 24 | uint32_t(uint8_t(f[2])) << 16 | uint32_t(uint8_t(f[3])) << 8
                           | uint8_t(f[4]);
        const int n = (len - 4) / 6;
        out = "T" + QByteArray::number(t) + ":" + QByteArray::number(n);
        samples(5, n);
        return out + ";";
    }
    if (cmd == 0x81) {
        if (len % 6 != 0 || len / 6 > 16)
            return "C0;";
        checkCount = len / 6;
        out = "C1;";
        for (int i = 0; i < checkCount; ++i) {
            check[i][0] = i16(f, 1 + 6 * i);
            check[i][1] = i16(f, 3 + 6 * i);
            check[i][2] = i16(f, 5 + 6 * i);
        }
        for (int i = 0; i < checkCount; ++i)
            out += QByteArray::number(check[i][0]) + "," + QByteArray::number(check[i][1]) + ","
                   + QByteArray::number(check[i][2]) + ";";
        return out;
    }
    if (cmd == 0x88) {
        if (len < 3)
            return {};
        out = "D" + QByteArray::number(uint8_t(f[1])) + "," + QByteArray::number(i16(f, 2));
        for (int i = 0; i < (len - 3) / 2; ++i)
            out += "," + QByteArray::number(i16(f, 4 + 2 * i));
        return out + ";";
    }
    if (cmd == 0x8C) {
        if (len < 2)
            return {};
        out = "P" + QByteArray::number(uint8_t(f[1])) + "," + QByteArray::number(uint8_t(f[2]));
        for (int i = 0; i < (len - 2) / 8; ++i)
            for (int k = 0; k < 4; ++k)
                out += "," + QByteArray::number(i16(f, 3 + 8 * i + 2 * k));
        return out + ";";
    }
    return {};
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte picks the chunking, the rest is the byte stream.
    const unsigned seed = data[0];
    const uint8_t *stream = data + 1;
    const size_t total = size - 1;

    Observer link;
    ReferenceParser reference;
    QByteArray expected;
    int checkCount = 0;
    int32_t check[16][3] = {};
    size_t pos = 0;
    unsigned step = seed;
    while (pos < total) {
        step = step * 1103515245u + 12345u;
        size_t n = seed & 1 ? 1 + (step >> 16) % 300 : 1 + (step >> 16) % 70000;
        n = std::min({n, total - pos, size_t(0xFFFF)});
        const QByteArray chunk(reinterpret_cast<const char *>(stream + pos), int(n));
        for (const QByteArray &f : reference.input(chunk)) {
            // Every frame the reference delivers has a valid length and checksum and lies in the input.
            const int l = int(f.size()) + 1;
            QByteArray whole;
            whole.append(char(0xA5)).append(char(l)).append(f);
            uint8_t sum = 0;
            for (char c : whole)
                sum = uint8_t(sum + uint8_t(c));
            whole.append(char(sum));
            if (l < 2 || l > 255
                || !QByteArray::fromRawData(reinterpret_cast<const char *>(stream), int(total)).contains(whole))
                std::abort();
            expected += expectedReport(f, checkCount, check);
        }
        link.input(stream + pos, uint16_t(n));
        pos += n;
        if (link.log != expected) {
            std::fprintf(stderr, "link reported:\n%s\nexpected:\n%s\n", link.log.constData(), expected.constData());
            std::abort();
        }
        if (link.rxBuffered() > 0x100000)
            std::abort();
    }
    return 0;
}
