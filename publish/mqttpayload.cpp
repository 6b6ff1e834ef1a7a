#include "mqttpayload.h"

#include "curvemath.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <mosquitto.h>

namespace {

void appendInt(QByteArray &out, long long value)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, int(r.ptr - buf));
}

void appendTriples(QByteArray &out, const char *key, const QList<Axit_t> &samples, int n, bool force)
{
    out.append(key);
    out.append('[');
    for (int i = 0; i < n; ++i) {
        const Axit_t a = force ? curveSample(samples[i], 0).value : samples[i];
        if (i > 0)
            out.append(',');
        appendInt(out, a.x);
        out.append(',');
        appendInt(out, a.y);
        out.append(',');
        appendInt(out, a.z);
    }
    out.append(']');
}

// A port name or a count name is the caller's text: quotes, backslashes and control characters
// must not break the document.
void appendString(QByteArray &out, const QString &text)
{
    out.append('"');
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\') {
            out.append('\\');
            out.append(c);
        } else if (uchar(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(uchar(c)));
            out.append(esc);
        } else {
            out.append(c);
        }
    }
    out.append('"');
}

const char *linkName(MqttLinkState state)
{
    switch (state) {
    case MqttLinkState::Open:
        return "open";
    case MqttLinkState::Lost:
        return "lost";
    case MqttLinkState::Closed:
        break;
    }
    return "closed";
}

} // namespace

QByteArray mqttFramePayload(const MqttFrame &frame, const QList<Axit_t> &samples, uint n)
{
    const int count = int(qMin<qsizetype>(n, samples.size()));
    QByteArray out;
    out.reserve(96 + count * 2 * 3 * 7);
    out.append("{\"seq\":");
    appendInt(out, qint64(frame.seq));
    out.append(",\"host_ms\":");
    appendInt(out, frame.hostMs);
    out.append(",\"type\":");
    appendInt(out, frame.type);
    if (frame.type == 2) {
        out.append(",\"card_ms\":");
        appendInt(out, frame.timeStamp % 86400000u);
    }
    out.append(",\"n\":");
    appendInt(out, count);
    appendTriples(out, ",\"raw\":", samples, count, false);
    if (frame.type == 0 || frame.type == 2)
        appendTriples(out, ",\"force\":", samples, count, true);
    out.append('}');
    return out;
}

QByteArray mqttStatusPayload(const MqttStatus &status)
{
    QByteArray out;
    out.reserve(192 + int(status.counts.size()) * 32);
    out.append("{\"online\":true,\"port\":");
    appendString(out, status.port);
    out.append(",\"link\":\"");
    out.append(linkName(status.link));
    out.append("\",\"type\":");
    appendInt(out, status.type);
    out.append(",\"rate_hz\":");
    out.append(QByteArray::number(std::isfinite(status.rateHz) ? status.rateHz : 0.0, 'f', 1));
    out.append(",\"recording\":");
    out.append(status.recording ? "true" : "false");
    out.append(",\"published\":");
    appendInt(out, qint64(status.published));
    out.append(",\"dropped\":");
    appendInt(out, qint64(status.dropped));
    for (const auto &count : status.counts) {
        out.append(',');
        appendString(out, count.first);
        out.append(':');
        appendInt(out, count.second);
    }
    out.append('}');
    return out;
}

QByteArray mqttOfflinePayload()
{
    return QByteArrayLiteral("{\"online\":false}");
}

QByteArray mqttTopic(const QString &prefix, const char *leaf)
{
    QByteArray topic = prefix.toUtf8();
    while (topic.endsWith('/'))
        topic.chop(1);
    return topic + '/' + leaf;
}

bool isValidMqttTopicPrefix(const QString &prefix)
{
    if (prefix.isEmpty() || prefix.contains('+') || prefix.contains('#'))
        return false;
    const QByteArray topic = mqttTopic(prefix, "status");
    return mosquitto_pub_topic_check2(topic.constData(), size_t(topic.size())) == MOSQ_ERR_SUCCESS;
}
