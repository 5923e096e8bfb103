#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>

#include "Event.h"
#include "Messages.h"

// An event sink that records every event the core reports and, through the message catalogue,
// what a window would show. Shared by the link, engine and end-to-end tests.
class RecordingHost : public praxon::EventSink {
public:
    QList<praxon::Event> events;  // every event, in order
    QStringList logMessages;      // every log line (without a time stamp), in Chinese
    praxon::Lamp lamp = praxon::Lamp::Gray;
    QStringList messages;  // modal message texts, in order
    praxon::CommandStates commands;
    QList<QPair<qint64, qint64>> progressHistory;  // (done, total) of every progress event

    // Called with every event once it is recorded (a test may press Stop there).
    std::function<void(const praxon::Event&)> onEvent;

    void clearRecords();
    void report(const praxon::Event& event) override;

    // The last event with this code (a default one when there is none).
    praxon::Event last(praxon::EventCode code) const;
    bool has(praxon::EventCode code) const;
};

// The events as "name" or "name@ADDRESS", leaving out the operation frame and progress. With
// reasons: then the failed step, how the wait ended and the byte received ("=1F").
QStringList Described(const QList<praxon::Event>& events, bool withReasons = false);
