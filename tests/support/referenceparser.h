#pragma once

#include <QByteArray>
#include <QList>
#include <cstdint>

// The receive algorithm as the card's documentation describes it, moving the buffer after
// every frame. The codec must deliver exactly the frames this delivers (command + payload),
// in the same order.
class ReferenceParser
{
public:
    QList<QByteArray> input(const QByteArray &chunk)
    {
        buf += chunk;
        QList<QByteArray> frames;
        int s = 0;
        while (!buf.isEmpty()) {
            const int h = int(buf.indexOf(char(0xA5), s));
            if (h < 0) {
                buf.clear();
                break;
            }
            if (h == buf.size() - 1)
                break;
            const int l = uint8_t(buf[h + 1]);
            if (l < 2) {
                s = h + 1;
                continue;
            }
            if (buf.size() - h < l + 2) {
                buf = buf.mid(h);
                break;
            }
            uint8_t sum = 0;
            for (int i = h; i <= h + l; ++i)
                sum = uint8_t(sum + uint8_t(buf[i]));
            if (sum != uint8_t(buf[h + l + 1])) {
                s = h + 1;
                continue;
            }
            frames.append(buf.mid(h + 2, l - 1));
            buf.remove(0, h + l + 2);
            s = 0;
        }
        return frames;
    }
    void timeout() { buf.clear(); }

    QByteArray buf;
};
