#pragma once

#include <QString>

namespace praxon {

// Picture shown in status-bar panel 6.
enum class Lamp { Gray, Green };

// Enabled state of the operation buttons, as EnableCmds sets them.
// The two write-protect buttons are always disabled and so are not listed.
struct CommandStates {
    bool readProtect = false;    // CmdReadProtect
    bool readUnprotect = false;  // CmdReadUnProtect
    bool start = false;          // CmdStart
    bool erase = false;          // Command_ER
    bool go = false;             // Command_GO
    bool read = false;           // CmdRead
};

// Everything the engine needs from whoever presents it: the window, the command line or a test.
// The engine never touches a widget, never prints and never exits; it reports through this only.
class Host {
public:
    virtual ~Host() = default;

    // One finished log line: time stamp, one space, the message (no line break).
    // clearFirst: the log passed its size limit and must be emptied before this line is added.
    virtual void appendLog(const QString& line, bool clearFirst) = 0;
    // Status-bar panels are numbered 1 to 6 as on the window.
    virtual void setPanelText(int panel, const QString& text) = 0;
    virtual void setLamp(Lamp lamp) = 0;
    // Modal message with an OK button; returns once the user has acknowledged it.
    virtual void showMessage(const QString& text) = 0;
    virtual void enableCommands(const CommandStates& states) = 0;

    // Option values, read at the moment the engine needs them.
    virtual QString portText() const = 0;          // CombComPort
    virtual QString goAddressText() const = 0;     // GATEXT
    virtual QString downloadFileText() const = 0;  // TxtDownloadFile
    virtual void setDownloadFileText(const QString& path) = 0;
    virtual bool eraseChecked() const = 0;    // ChkErase
    virtual bool verifyChecked() const = 0;   // ChkCheck
    virtual bool protectChecked() const = 0;  // ChkSetreadProtect

    // File dialogs; an empty result means the user cancelled.
    virtual QString askOpenHexFile() = 0;  // CommonDlgHexFile
    virtual QString askSaveFile() = 0;     // CommDlgSave

    // Progress of a long operation changed (already shown through setPanelText); a front end
    // may use it to keep a terminal progress line. Default: nothing.
    virtual void progress(const QString& /*panelText*/) {}
};

}  // namespace praxon
