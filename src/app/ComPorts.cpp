#include "ComPorts.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace praxon {

QString StripNulls(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

qint16 EnumComPorts(QStringList& names, const qint16& capacity, PortMap& map) {
    map.open();  // a missing map shows up as the first lookup failing
    qint16 i = 0;
    do {
        QString rawName;
        if (!map.valueName(i, &rawName)) break;
        const QString name = StripNulls(rawName);
        QString data;
        if (map.valueData(name, &data) && i < names.size()) names[i] = StripNulls(data);
        ++i;
    } while (i < capacity);
    map.close();
    return i;
}

qint16 EnumComPorts(QStringList& names, const qint16& capacity) {
    auto map = systemPortMap();
    return EnumComPorts(names, capacity, *map);
}

ListPortMap ListPortMap::fromNames(const QStringList& portNames) {
    std::vector<Entry> entries;
    for (int i = 0; i < portNames.size(); ++i)
        entries.push_back({QStringLiteral("\\Device\\Serial%1").arg(i), portNames.at(i), true});
    return ListPortMap(std::move(entries));
}

bool ListPortMap::open() {
    open_ = present_;
    return open_;
}

bool ListPortMap::valueName(int index, QString* name) {
    if (!open_ || index < 0 || index >= int(entries_.size())) return false;
    *name = entries_[size_t(index)].name;
    return true;
}

bool ListPortMap::valueData(const QString& name, QString* data) {
    if (!open_) return false;
    for (const Entry& e : entries_) {
        if (StripNulls(e.name) != name) continue;  // as the registry looks names up
        if (!e.readable) return false;
        *data = e.data;
        return true;
    }
    return false;
}

bool PortSourceMap::open() {
    entries_.clear();
    details_.clear();
    for (const PortInfo& port : source_->ports()) {
        const QString path =
            port.simulated ? QStringLiteral("sim:") + port.location : port.location;
        entries_.push_back({path.isEmpty() ? port.name : path, port.name, true});
        details_.insert(port.name, PortDetails(port));
    }
    return ListPortMap::open();
}

#ifdef Q_OS_WIN

namespace {

// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM through the single-byte registry calls.
class RegistryPortMap : public PortMap {
public:
    bool open() override {
        key_ = nullptr;
        details_.clear();
        for (const PortInfo& port : SystemPortSource().ports())
            details_.insert(port.name, PortDetails(port));
        return RegOpenKeyA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", &key_) == 0;
    }
    bool valueName(int index, QString* name) override {
        char buffer[255] = {};
        DWORD length = sizeof buffer;
        if (RegEnumValueA(key_, DWORD(index), buffer, &length, nullptr, nullptr, nullptr,
                          nullptr) != 0)
            return false;
        *name = QString::fromLocal8Bit(buffer, int(sizeof buffer));
        return true;
    }
    bool valueData(const QString& name, QString* data) override {
        char buffer[255] = {};
        DWORD size = sizeof buffer;
        const QByteArray valueName = name.toLocal8Bit();
        if (RegQueryValueExA(key_, valueName.constData(), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size) != 0)
            return false;
        *data = QString::fromLocal8Bit(buffer, int(sizeof buffer));
        return true;
    }
    void close() override {
        if (key_) RegCloseKey(key_);
        key_ = nullptr;
    }
    QString details(const QString& portName) override { return details_.value(portName); }

private:
    HKEY key_ = nullptr;
    QHash<QString, QString> details_;
};

}  // namespace

std::unique_ptr<PortMap> systemPortMap() {
    return std::make_unique<RegistryPortMap>();
}

#else

std::unique_ptr<PortMap> systemPortMap() {
    return std::make_unique<PortSourceMap>(std::make_unique<SystemPortSource>());
}

#endif

}  // namespace praxon
