#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

#include "PortList.h"

namespace praxon {

// The system's serial-port map, read the way the Windows registry key
// HARDWARE\DEVICEMAP\SERIALCOMM is read: each value is one device, its name an internal path and
// its data the port name. Other platforms present their ports through the same four calls.
class PortMap {
public:
    virtual ~PortMap() = default;
    virtual bool open() = 0;
    // Name of the value at index; false when there is none (end of the list, map not open).
    virtual bool valueName(int index, QString* name) = 0;
    // Data of the named value; false when it cannot be read.
    virtual bool valueData(const QString& name, QString* data) = 0;
    virtual void close() = 0;
    // What the system knows of the port whose data is portName, as PortDetails gives it, taken
    // at the last open(); empty when nothing is known.
    virtual QString details(const QString& portName) {
        Q_UNUSED(portName);
        return QString();
    }
};

// A map held in memory. Entries without data stand for values whose data cannot be read.
class ListPortMap : public PortMap {
public:
    struct Entry {
        QString name;
        QString data;
        bool readable = true;
    };
    ListPortMap() = default;
    explicit ListPortMap(std::vector<Entry> entries, bool present = true)
        : entries_(std::move(entries)), present_(present) {}
    // One readable entry per port name, named like the Windows device paths.
    static ListPortMap fromNames(const QStringList& portNames);

    bool open() override;
    bool valueName(int index, QString* name) override;
    bool valueData(const QString& name, QString* data) override;
    void close() override { open_ = false; }

protected:
    std::vector<Entry> entries_;
    bool present_ = true;

private:
    bool open_ = false;
};

// The ports a PortSource lists, taken afresh at every open: each value is named after the port's
// device path and holds its name.
class PortSourceMap : public ListPortMap {
public:
    explicit PortSourceMap(std::unique_ptr<PortSource> source) : source_(std::move(source)) {}
    bool open() override;
    QString details(const QString& portName) override { return details_.value(portName); }

private:
    std::unique_ptr<PortSource> source_;
    QHash<QString, QString> details_;
};

// The ports of this machine: on Windows the registry map; elsewhere the serial ports Qt finds
// (sorted by name; the data is the port name the serial link accepts) followed by the simulated
// boards that praxon-sim announces.
std::unique_ptr<PortMap> systemPortMap();

// The text up to, not including, its first NUL; the whole text when it has none.
QString StripNulls(const QString& text);

// Reads up to capacity port names from map into names[0..], in the map's order, and returns the
// number of values read (0 to capacity, at least 1 value is attempted even for a capacity below
// 1). A value whose data cannot be read is counted and leaves its entry unchanged. Entries
// beyond the end of names are never written.
qint16 EnumComPorts(QStringList& names, const qint16& capacity, PortMap& map);
// The same with the system's map.
qint16 EnumComPorts(QStringList& names, const qint16& capacity);

}  // namespace praxon
