// Codec throughput over back-to-back 16-sensor sample frames, fed in chunks of several sizes,
// clean and with 1 % random garbage bytes. Prints MB/s; run by hand.
#include "slavecodec.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

class CountingCodec : public SlaveCodec
{
public:
    CountingCodec()
    {
        connect(this, qOverload<QList<Axit_t> &, uint>(&SlaveProtocol::AxitReceive), this,
                [this](QList<Axit_t> &, uint) { ++frames; });
    }
    qint64 portWrite(const uint8_t *, qint64 len) override { return len; }
    void input(const QByteArray &chunk)
    {
        rx_data_input(reinterpret_cast<const uint8_t *>(chunk.constData()), uint16_t(chunk.size()));
    }
    long frames = 0;
};

QByteArray buildStream(qsizetype bytes, double garbageShare, QRandomGenerator &rng)
{
    QByteArray stream;
    stream.reserve(bytes + 256);
    int n = 0;
    while (stream.size() < bytes) {
        QByteArray f;
        f.append(char(0xA5)).append(char(96 + 2)).append(char(0x00));
        for (int i = 0; i < 48; ++i) {
            const int v = (n * 7 + i * 131) % 20000 - 10000;
            f.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF));
        }
        uint8_t sum = 0;
        for (char c : f)
            sum = uint8_t(sum + uint8_t(c));
        f.append(char(sum));
        for (char c : f) {
            if (garbageShare > 0 && rng.generateDouble() < garbageShare)
                stream.append(char(rng.bounded(256)));
            stream.append(c);
        }
        ++n;
    }
    return stream;
}

// Best of several rounds: the machine is shared, and the fastest round is the least disturbed.
double measure(const QByteArray &stream, int chunk, long *frames)
{
    CountingCodec codec;
    const int rounds = 7;
    qint64 best = std::numeric_limits<qint64>::max();
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        for (qsizetype pos = 0; pos < stream.size(); pos += chunk)
            codec.input(QByteArray::fromRawData(stream.constData() + pos,
                                                std::min<qsizetype>(chunk, stream.size() - pos)));
        best = std::min(best, timer.nsecsElapsed());
    }
    *frames = codec.frames / rounds;
    return double(stream.size()) / (best / 1e9) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QRandomGenerator rng(42);
    // bench_codec <chunk bytes> [garbage share]: one pass over an 8 MB stream, for counting
    // instructions with valgrind --tool=callgrind, which, unlike the clock, is repeatable here.
    // A chunk size of 0 only builds the stream: the count to subtract.
    if (argc > 1) {
        const int chunk = std::atoi(argv[1]);
        const QByteArray stream = buildStream(8 * 1000 * 1000, argc > 2 ? std::atof(argv[2]) : 0.0, rng);
        CountingCodec codec;
        for (qsizetype pos = 0; chunk > 0 && pos < stream.size(); pos += chunk)
            codec.input(QByteArray::fromRawData(stream.constData() + pos, std::min<qsizetype>(chunk, stream.size() - pos)));
        std::printf("%ld frames from %lld bytes in %d-byte chunks\n", codec.frames,
                    static_cast<long long>(stream.size()), chunk);
        return 0;
    }
    const QByteArray clean = buildStream(32 * 1024 * 1024, 0.0, rng);
    const QByteArray noisy = buildStream(32 * 1024 * 1024, 0.01, rng);
    std::printf("codec throughput, 16-sensor frames (99 bytes), %lld MB stream, best of 7 rounds\n",
                static_cast<long long>(clean.size() / 1000000));
    struct Case { const char *name; const QByteArray *stream; int chunk; };
    const Case cases[] = {{"clean, 64 KiB chunks", &clean, 65535},
                          {"clean, 4 KiB chunks", &clean, 4096},
                          {"clean, 100-byte chunks", &clean, 100},
                          {"1% garbage, 4 KiB chunks", &noisy, 4096}};
    for (const Case &c : cases) {
        long frames = 0;
        const double mbps = measure(*c.stream, c.chunk, &frames);
        std::printf("  %-28s %8.1f MB/s  (%ld frames per round)\n", c.name, mbps, frames);
    }
    return 0;
}
