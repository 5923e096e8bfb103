#pragma once

#include <QSerialPort>

#include "SerialPort.h"

namespace praxon {

// The serial line on a real port (or a pseudo-terminal) through QSerialPort.
class QtSerialPort : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    bool open(const QString& name, int baudRate, PortOpenFailure* failure) override;
    // The kind of an open failure QSerialPort reported.
    static PortError kindOf(QSerialPort::SerialPortError error);
    void close() override;
    bool isOpen() const override;
    bool write(const QByteArray& frame) override;
    QByteArray readAll() override;
    bool setDataTerminalReady(bool asserted) override;
    bool setRequestToSend(bool asserted) override;
    bool setBreak(bool on) override;
    bool setBaudRate(int baudRate) override;
    bool setEvenParity(bool even) override;
    bool discardOutput() override;

    // A pseudo-terminal has no parity and no modem lines; those settings are then not required.
    static bool isPseudoTerminal(const QString& path);

private:
    void onError(QSerialPort::SerialPortError error);
    // The driver has room for at least some bytes now (always true where that cannot be asked).
    bool driverTakesBytes();

    QSerialPort port_;
    bool opening_ = false;
    bool pseudoTerminal_ = false;
};

}  // namespace praxon
