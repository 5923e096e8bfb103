#pragma once

#include <QString>
#include <QtGlobal>

namespace praxon {

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

// Where a status text belongs.
enum class StatusField {
    Progress,  // progress and results of the running operation
    Device,    // identity of the connected chip
    Link,      // connected or not (beside the lamp)
};

// Everything the engine reports, to whoever presents it: the window, the command line or a test.
// The engine never touches a widget, never prints and never exits; it reports through this only,
// and takes its inputs as parameters.
class Host {
public:
    virtual ~Host() = default;

    // One finished log line: time stamp, one space, the message (no line break).
    // clearFirst: the log passed its size limit and must be emptied before this line is added.
    virtual void appendLog(const QString& line, bool clearFirst) = 0;
    virtual void setStatusText(StatusField field, const QString& text) = 0;
    virtual void setLamp(Lamp lamp) = 0;
    // Modal message with an OK button; returns once the user has acknowledged it.
    virtual void showMessage(const QString& text) = 0;
    virtual void enableCommands(const CommandStates& states) = 0;
    // Progress of a long operation in bytes (already shown as a Progress text); a front end may
    // use it for a progress bar or a terminal progress line. Default: nothing.
    virtual void progress(qint64 /*done*/, qint64 /*total*/) {}
};

}  // namespace praxon
