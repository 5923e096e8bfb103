#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace praxon {

// One serial port and what the system knows of it. Fields the system does not report are empty.
struct PortInfo {
    QString name;          // what --port and the window's field take: "ttyUSB0", "COM3"
    QString location;      // the device path: "/dev/ttyUSB0"
    QString description;   // "CP2102 USB to UART Bridge Controller"
    QString manufacturer;  // "Silicon Labs"
    std::optional<uint16_t> vendorId, productId;  // USB adapters only
    QString serialNumber;
    bool simulated = false;  // a board praxon-sim announces

    bool isUsb() const { return vendorId.has_value() && productId.has_value(); }
};

// Where the ports come from: the system, or a fixed list in tests.
class PortSource {
public:
    virtual ~PortSource() = default;
    // Taken afresh at every call, so an adapter plugged in since shows up.
    virtual std::vector<PortInfo> ports() = 0;
};

// The serial ports the system reports, sorted by name, followed by the simulated boards of live
// praxon-sim processes.
class SystemPortSource : public PortSource {
public:
    std::vector<PortInfo> ports() override;
};

class FixedPortSource : public PortSource {
public:
    explicit FixedPortSource(std::vector<PortInfo> ports) : ports_(std::move(ports)) {}
    std::vector<PortInfo> ports() override { return ports_; }

private:
    std::vector<PortInfo> ports_;
};

// What is known of a port beyond its name, on one line: description, maker, "(vid:pid)" and
// "S/N serial", e.g. "CP2102 USB to UART Bridge Controller, Silicon Labs (10c4:ea60) S/N 0001";
// "praxon-sim" for a simulated board; empty when nothing is known.
QString PortDetails(const PortInfo& port);

// The choice behind --port auto: the USB serial adapters present decide it.
struct AutoPortChoice {
    enum Outcome { One, None, Several };
    Outcome outcome = None;
    std::vector<PortInfo> adapters;  // the USB serial adapters found: one for One
};
AutoPortChoice ChooseAutoPort(const std::vector<PortInfo>& ports);

// Folder in which each running praxon-sim leaves "<pid>.port", its boards' port paths one a line.
QString simulatedBoardsFolder();
// Port paths of the simulated boards whose process is alive and whose port exists, by pid.
QStringList simulatedBoardPorts(const QString& folder = simulatedBoardsFolder());

}  // namespace praxon
