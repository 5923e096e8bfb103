#include "ComPorts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <signal.h>
#include <sys/types.h>
#include <cerrno>
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

QString simulatedBoardsFolder() {
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty()) base = QStringLiteral("/tmp");
    return base + QStringLiteral("/praxon-sim");
}

namespace {

bool processAlive(qint64 pid) {
#ifdef Q_OS_WIN
    Q_UNUSED(pid);
    return true;
#else
    if (pid <= 0) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
#endif
}

}  // namespace

QStringList simulatedBoardPorts(const QString& folder) {
    QDir dir(folder);
    QList<std::pair<qint64, QString>> found;
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.port")}, QDir::Files);
    for (const QFileInfo& info : files) {
        bool ok = false;
        const qint64 pid = info.completeBaseName().toLongLong(&ok);
        if (!ok || !processAlive(pid)) continue;
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
        const QString path = QString::fromUtf8(file.readLine(4096)).trimmed();
        if (path.isEmpty() || !QFileInfo::exists(path)) continue;
        found.append({pid, path});
    }
    std::sort(found.begin(), found.end());
    QStringList ports;
    for (const auto& f : found) ports.append(f.second);
    return ports;
}

#ifdef Q_OS_WIN

namespace {

// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM through the single-byte registry calls.
class RegistryPortMap : public PortMap {
public:
    bool open() override {
        key_ = nullptr;
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

private:
    HKEY key_ = nullptr;
};

}  // namespace

std::unique_ptr<PortMap> systemPortMap() {
    return std::make_unique<RegistryPortMap>();
}

#else

namespace {

// Taken afresh at every open, so an adapter plugged in later shows up at the next listing.
class SystemPortMap : public ListPortMap {
public:
    bool open() override {
        entries_.clear();
        QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        std::sort(ports.begin(), ports.end(),
                  [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
                      return a.portName() < b.portName();
                  });
        for (const QSerialPortInfo& port : ports)
            entries_.push_back({port.systemLocation(), port.portName(), true});
        for (const QString& path : simulatedBoardPorts())
            entries_.push_back({QStringLiteral("sim:") + path, path, true});
        return ListPortMap::open();
    }
};

}  // namespace

std::unique_ptr<PortMap> systemPortMap() {
    return std::make_unique<SystemPortMap>();
}

#endif

}  // namespace praxon
