#include "QtSerialPort.h"

#include <QFile>
#include <QFileInfo>
#ifdef Q_OS_UNIX
#include <poll.h>
#include <unistd.h>
#endif
#include <functional>

namespace praxon {

QtSerialPort::QtSerialPort(QObject* parent) : SerialPort(parent) {
    connect(&port_, &QSerialPort::readyRead, this, &SerialPort::dataReceived);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

QtSerialPort::~QtSerialPort() = default;

bool QtSerialPort::isPseudoTerminal(const QString& path) {
    QString full = path.startsWith(QLatin1Char('/')) ? path : QStringLiteral("/dev/") + path;
    QString canonical = QFileInfo(full).canonicalFilePath();
    return canonical.startsWith(QStringLiteral("/dev/pts/"));
}

PortError QtSerialPort::kindOf(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return PortError::NotFound;
        case QSerialPort::PermissionError:
            return PortError::NoPermission;
        case QSerialPort::OpenError:
            return PortError::InUse;
        default:
            return PortError::Other;
    }
}

bool QtSerialPort::open(const QString& name, int baudRate, PortOpenFailure* failure) {
    if (port_.isOpen()) port_.close();
    port_.clearError();
    port_.setPortName(name);
    opening_ = true;
    const bool pty = pseudoTerminal_ = isPseudoTerminal(name);
    QString failed;
    PortError kind = PortError::None;
    // On a pseudo-terminal parity and the modem lines cannot be set; nothing depends on them there.
    auto step = [&](const std::function<bool()>& apply, const char* what, bool ptyMayRefuse) {
        if (!failed.isEmpty()) return;
        if (!apply() &&
            !(ptyMayRefuse && pty && port_.error() == QSerialPort::UnsupportedOperationError)) {
            failed = QLatin1String(what) + QStringLiteral(": ") + port_.errorString();
            kind = kindOf(port_.error());
        }
        port_.clearError();
    };
    step([&] { return port_.open(QIODevice::ReadWrite); }, "open", false);
#ifdef Q_OS_UNIX
    // QSerialPort reports a port held by another program (EBUSY, its lock file) as a permission
    // error too; the file's access rights tell the two apart.
    if (kind == PortError::NoPermission) {
        const QByteArray path = QFile::encodeName(
            name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name);
        if (::access(path.constData(), R_OK | W_OK) == 0) kind = PortError::InUse;
    }
#else
    // Windows refuses a port another program holds with "access denied".
    if (kind == PortError::NoPermission) kind = PortError::InUse;
#endif
    step([&] { return port_.setBaudRate(baudRate); }, "baud rate", false);
    step([&] { return port_.setDataBits(QSerialPort::Data8); }, "data bits", false);
    step([&] { return port_.setParity(QSerialPort::EvenParity); }, "parity", true);
    step([&] { return port_.setStopBits(QSerialPort::OneStop); }, "stop bits", false);
    step([&] { return port_.setFlowControl(QSerialPort::NoFlowControl); }, "flow control", false);
    step([&] { return port_.setDataTerminalReady(true); }, "DTR", true);
    step([&] { return port_.setRequestToSend(true); }, "RTS", true);
    opening_ = false;
    if (!failed.isEmpty()) {
        if (port_.isOpen()) port_.close();
        if (failure) *failure = {kind == PortError::None ? PortError::Other : kind, failed};
        return false;
    }
    return true;
}

void QtSerialPort::close() {
    if (port_.isOpen()) port_.close();
}

bool QtSerialPort::isOpen() const {
    return port_.isOpen();
}

bool QtSerialPort::write(const QByteArray& frame) {
    if (!port_.isOpen()) return false;
    if (port_.write(frame) != frame.size()) return false;
    // Hand the frame to the driver now instead of on the next event-loop pass, but only while
    // the driver takes bytes: QSerialPort reports a full output buffer (EAGAIN, as when a window
    // of turbo frames is more than a pseudo-terminal or an adapter's driver holds) as a resource
    // error, which would look like a vanished port. The rest goes out as the driver takes it.
    if (driverTakesBytes()) port_.flush();
    return port_.isOpen();
}

bool QtSerialPort::driverTakesBytes() {
#ifdef Q_OS_UNIX
    pollfd out{int(port_.handle()), POLLOUT, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & POLLOUT);
#else
    return true;
#endif
}

bool QtSerialPort::setDataTerminalReady(bool asserted) {
    port_.clearError();
    return port_.isOpen() && port_.setDataTerminalReady(asserted);
}

bool QtSerialPort::setRequestToSend(bool asserted) {
    port_.clearError();
    return port_.isOpen() && port_.setRequestToSend(asserted);
}

bool QtSerialPort::setBaudRate(int baudRate) {
    port_.clearError();
    return port_.isOpen() && port_.setBaudRate(baudRate);
}

bool QtSerialPort::setEvenParity(bool even) {
    port_.clearError();
    if (!port_.isOpen()) return false;
    if (port_.setParity(even ? QSerialPort::EvenParity : QSerialPort::NoParity)) return true;
    const bool ptyRefused =
        pseudoTerminal_ && port_.error() == QSerialPort::UnsupportedOperationError;
    port_.clearError();
    return ptyRefused;
}

bool QtSerialPort::setBreak(bool on) {
    port_.clearError();
    return port_.isOpen() && port_.setBreakEnabled(on);
}

QByteArray QtSerialPort::readAll() {
    if (!port_.isOpen()) return {};
    return port_.readAll();
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    if (opening_ || !port_.isOpen()) return;
    // A vanished device (USB adapter unplugged, pty peer gone) shows as a read, write or resource
    // error that would otherwise repeat on every event-loop pass.
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
        error == QSerialPort::WriteError) {
        port_.close();
        emit lineLost();
    }
}

bool QtSerialPort::discardOutput() {
    return port_.isOpen() && port_.clear(QSerialPort::Output);
}

}  // namespace praxon
