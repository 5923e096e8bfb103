#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "Event.h"

namespace praxon {

// Why open() failed: the kind and the system's own words.
struct PortOpenFailure {
    PortError error = PortError::None;
    QString text;
};

// The one serial line to the bootloader. Small on purpose so tests can put a scripted or failing
// device in its place.
class SerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override = default;

    // Opens the named port at baudRate, 8 data bits, even parity, 1 stop bit, DTR and RTS
    // asserted. Returns false (port closed) when any step fails; *failure then says why.
    virtual bool open(const QString& name, int baudRate, PortOpenFailure* failure) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Writes the whole frame in one go. False when the port is not open or the write fails.
    virtual bool write(const QByteArray& frame) = 0;
    // Everything received so far.
    virtual QByteArray readAll() = 0;
    // Modem lines and break, for boards that wire them to reset and BOOT0. Asserted DTR or RTS
    // is a logical 1: on a TTL adapter the pin is then at 0 V. False when the port cannot.
    virtual bool setDataTerminalReady(bool asserted) = 0;
    virtual bool setRequestToSend(bool asserted) = 0;
    virtual bool setBreak(bool on) = 0;
    // Changes the line speed of the open port without closing it (closing would move the modem
    // lines, which may reset the board). False when the port cannot.
    virtual bool setBaudRate(int baudRate) {
        Q_UNUSED(baudRate);
        return false;
    }
    // Even parity (the ROM bootloader's line) or none (the RAM loader's), without closing the
    // port. A pseudo-terminal carries no parity: asking it for even parity is no failure there.
    // False when the port cannot.
    virtual bool setEvenParity(bool even) {
        Q_UNUSED(even);
        return false;
    }
    // Drops the bytes written but not yet on the line (the port's and the driver's queues).
    // False when the port cannot.
    virtual bool discardOutput() { return false; }

signals:
    // Bytes are waiting to be read.
    void dataReceived();
    // The line went away (adapter unplugged, peer hung up); the port is closed.
    void lineLost();
};

}  // namespace praxon
