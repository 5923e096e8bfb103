#include "PortList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>
#include <utility>

#ifndef Q_OS_WIN
#include <signal.h>
#include <sys/types.h>
#include <cerrno>
#endif

namespace praxon {

std::vector<PortInfo> SystemPortSource::ports() {
    QList<QSerialPortInfo> found = QSerialPortInfo::availablePorts();
    std::sort(found.begin(), found.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        return a.portName() < b.portName();
    });
    std::vector<PortInfo> ports;
    for (const QSerialPortInfo& p : found) {
        PortInfo info;
        info.name = p.portName();
        info.location = p.systemLocation();
        info.description = p.description().trimmed();
        info.manufacturer = p.manufacturer().trimmed();
        if (p.hasVendorIdentifier() && p.hasProductIdentifier()) {
            info.vendorId = p.vendorIdentifier();
            info.productId = p.productIdentifier();
        }
        info.serialNumber = p.serialNumber().trimmed();
        ports.push_back(info);
    }
    for (const QString& path : simulatedBoardPorts()) {
        PortInfo info;
        info.name = info.location = path;
        info.simulated = true;
        ports.push_back(info);
    }
    return ports;
}

QString PortDetails(const PortInfo& port) {
    if (port.simulated) return QStringLiteral("praxon-sim");
    QStringList parts;
    if (!port.description.isEmpty()) parts << port.description;
    const QString vendorHex = port.vendorId ? QString::asprintf("%04x", *port.vendorId) : QString();
    // Some drivers report the vendor ID as the maker, or repeat it inside the description.
    if (!port.manufacturer.isEmpty() &&
        port.manufacturer.compare(vendorHex, Qt::CaseInsensitive) != 0 &&
        !port.description.contains(port.manufacturer, Qt::CaseInsensitive))
        parts << port.manufacturer;
    QString text = parts.join(QStringLiteral(", "));
    if (port.isUsb()) {
        if (!text.isEmpty()) text += QLatin1Char(' ');
        text += QString::asprintf("(%04x:%04x)", *port.vendorId, *port.productId);
    }
    if (!port.serialNumber.isEmpty()) {
        if (!text.isEmpty()) text += QLatin1Char(' ');
        text += QStringLiteral("S/N ") + port.serialNumber;
    }
    return text;
}

AutoPortChoice ChooseAutoPort(const std::vector<PortInfo>& ports) {
    AutoPortChoice choice;
    for (const PortInfo& p : ports)
        if (p.isUsb() && !p.simulated) choice.adapters.push_back(p);
    choice.outcome = choice.adapters.empty()       ? AutoPortChoice::None
                     : choice.adapters.size() == 1 ? AutoPortChoice::One
                                                   : AutoPortChoice::Several;
    return choice;
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
    // By pid, then in the order the process wrote them (its boards 1 to N).
    QList<std::pair<qint64, int>> order;
    QStringList paths;
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.port")}, QDir::Files);
    for (const QFileInfo& info : files) {
        bool ok = false;
        const qint64 pid = info.completeBaseName().toLongLong(&ok);
        if (!ok || !processAlive(pid)) continue;
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
        // A process serving several boards names one port a line.
        while (!file.atEnd()) {
            const QString path = QString::fromUtf8(file.readLine(4096)).trimmed();
            if (path.isEmpty() || !QFileInfo::exists(path)) continue;
            order.append({pid, int(paths.size())});
            paths.append(path);
        }
    }
    std::sort(order.begin(), order.end());
    QStringList ports;
    for (const auto& o : order) ports.append(paths[o.second]);
    return ports;
}

}  // namespace praxon
