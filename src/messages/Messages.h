#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "Event.h"
#include "Language.h"

// The one message catalogue: every event the core reports, in Chinese and English, and how a
// front end presents it. The core's events carry data only; the texts live here.
namespace praxon {

// Where a status text belongs.
enum class StatusField {
    Progress,  // progress and results of the running operation
    Device,    // identity of the connected chip
    Link,      // connected or not (beside the lamp)
};

// How a front end shows one text.
enum class Presentation {
    Log,      // a log line (the front end adds its time stamp)
    Status,   // the status text of a field
    Message,  // a modal message with an OK button
};

struct Shown {
    Presentation how = Presentation::Log;
    StatusField field = StatusField::Progress;  // Status only
    QString text;
    bool operator==(const Shown& o) const {
        return how == o.how && field == o.field && text == o.text;
    }
};

// The texts of one event, in the order they are shown; empty for events no one reads.
QList<Shown> Render(const Event& event, Language language);

// The link lamp.
enum class Lamp { Gray, Green };

// Which operations a front end should offer now.
struct CommandStates {
    bool protect = false;
    bool unprotect = false;
    bool program = false;
    bool erase = false;
    bool go = false;
    bool read = false;
};

// What an event changes of the link's lamp and the operations offered.
struct LinkChange {
    std::optional<Lamp> lamp;
    std::optional<CommandStates> commands;
};
LinkChange LinkChangeOf(const Event& event);

// Stable names for machine-readable output (snake_case).
QString EventName(EventCode code);
QString OperationName(Operation operation);
QString ReplyName(ReplyStatus status);
QString StepName(Step step);
QString PortErrorName(PortError error);
QString HexLineErrorName(HexLineError error);

// Seconds with two decimals; Chinese leaves out the zero before the point (".57", "12.35").
QString SecondsText(qint64 nanoseconds, Language language);

}  // namespace praxon
