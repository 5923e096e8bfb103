#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "Host.h"
#include "SerialPort.h"

namespace praxon {

class BootLink;

// The user operations, one per button of the window. The window's click handlers and the command
// line call these and nothing else, so both run the same code.
//
// While one operation runs (its waits let the event loop run), every other operation is refused
// and returns false at once; only CmdStop_Click acts.
class Engine : public QObject {
    Q_OBJECT
public:
    Engine(Host& host, SerialPort& port, QObject* parent = nullptr);
    ~Engine() override;

    // The engine's part of the window's load: idle, grey lamp, operation buttons disabled.
    void initialise();

    bool CHECKCMD_Click();          // connect and identify; true when the bootloader answered
    bool CmdDownLoad_Click();       // choose the HEX file; true when a file was chosen
    bool CmdStart_Click();          // program from the HEX file; true when the download succeeded
    bool CmdRead_Click();           // read the flash to a file; true when the file is complete
    bool Command_ER_Click();        // mass erase; true when acknowledged
    bool Command_GO_Click();        // Go; true when the Go command was acknowledged
    bool CmdReadProtect_Click();    // true when acknowledged
    bool CmdReadUnProtect_Click();  // true when acknowledged
    void CmdStop_Click();           // abort the running wait; always acts
    void CombComPort_LostFocus();   // open the chosen port, result ignored

    bool busy() const;  // an operation is running: a close request must be refused
    int flashSizeKB() const;
    BootLink& link();
    QString uploadFileName() const;  // UploadFileName: the path last chosen for a read

signals:
    void busyChanged(bool busy);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace praxon
