#pragma once

#include "slavetypes.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// What one published frame says besides its samples. seq is 1 for the first frame after the
// link opened; hostMs is the PC's Unix time in ms when the frame was decoded.
struct MqttFrame
{
    quint64 seq = 0;
    qint64 hostMs = 0;
    int type = 0;
    uint timeStamp = 0; // the card's clock; sent for type 2 only
};

// {"seq":…,"host_ms":…,"type":T,"card_ms":…,"n":S,"raw":[…],"force":[…]}, compact. card_ms is
// there for type 2, force (the graph window's conversion) for types 0 and 2. Only the first n
// samples are sent, and never more than the list holds.
QByteArray mqttFramePayload(const MqttFrame &frame, const QList<Axit_t> &samples, uint n);

enum class MqttLinkState { Closed, Open, Lost };

struct MqttStatus
{
    QString port;
    MqttLinkState link = MqttLinkState::Closed;
    int type = 0;
    double rateHz = 0;
    bool recording = false;
    quint64 published = 0;
    quint64 dropped = 0;
    // Further counts (link health and the like), written after the fixed fields in this order.
    QList<QPair<QString, qint64>> counts;
};

// {"online":true,"port":…,"link":"open|closed|lost","type":T,"rate_hz":…,"recording":…,
// "published":N,"dropped":N,…counts}, compact.
QByteArray mqttStatusPayload(const MqttStatus &status);
// The retained status while no publisher is connected.
QByteArray mqttOfflinePayload();

// The topic under a prefix: "lab/tactilon" and "lab/tactilon/" both give "lab/tactilon/frames".
QByteArray mqttTopic(const QString &prefix, const char *leaf);
// A prefix the publisher can use: not empty, no wildcard, a valid topic once a leaf is added.
bool isValidMqttTopicPrefix(const QString &prefix);
