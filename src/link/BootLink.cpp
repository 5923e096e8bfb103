#include "BootLink.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <cstring>

namespace praxon {

BootLink::BootLink(Host& host, SerialPort& port, QObject* parent)
    : QObject(parent), host_(host), port_(port) {
    TimInterVal.setInterval(2);
    TimInterVal.setSingleShot(true);
    TimInterVal.setTimerType(Qt::PreciseTimer);
    connect(&TimInterVal, &QTimer::timeout, this, &BootLink::TimInterVal_Timer);
    connect(&port_, &SerialPort::dataReceived, this, &BootLink::MSComm1_OnComm);
    // A vanished line (adapter unplugged) ends the connection: show it, and end a running wait.
    connect(&port_, &SerialPort::lineLost, this, [this] {
        EnableCmds(false);
        wake();
    });
    timeOfDay_ = [] { return QTime::currentTime(); };
}

BootLink::~BootLink() = default;

// ---------------------------------------------------------------------------------------------
// Port and receive path

QString BootLink::portNameFromText(const QString& text, bool windows) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return {};
    if (windows) {
        static const QRegularExpression com(QStringLiteral("^COM0*(\\d+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
        const auto m = com.match(t);
        if (!m.hasMatch()) return {};
        const QString digits = m.captured(1).isEmpty() ? QStringLiteral("0") : m.captured(1);
        if (digits == QLatin1String("0")) return {};
        return QStringLiteral("COM") + digits;
    }
    if (t.startsWith(QLatin1Char('/'))) return t;
    return QStringLiteral("/dev/") + t;
}

bool BootLink::OpenCommPort() {
#ifdef Q_OS_WIN
    const bool windows = true;
#else
    const bool windows = false;
#endif
    const QString name = portNameFromText(host_.portText(), windows);
    if (port_.isOpen() && !name.isEmpty() && name == CurPort) return true;
    if (port_.isOpen()) port_.close();
    CurPort = name;
    QString error;
    if (name.isEmpty() || !port_.open(name, &error)) {
        host_.showMessage(QStringLiteral("指定的串口不存在或已被占用。"));
        return false;
    }
    return true;
}

void BootLink::MSComm1_OnComm() {
    RecvIdle = false;
    TimInterVal.stop();
    const QByteArray chunk = port_.readAll();
    const int n = int(chunk.size());
    if (RecvCount + n > 257) RecvCount = 0;
    if (n > 257) {
        // Longer than any reply: dropped; the waiting sender runs into its time limit.
        wake();
        return;
    }
    if (n > 0) std::memcpy(RecvBuf.data() + RecvCount, chunk.constData(), size_t(n));
    RecvCount += n;
    TimInterVal.start();
    wake();
}

void BootLink::TimInterVal_Timer() {
    RecvIdle = true;
    TimInterVal.stop();
    wake();
}

// ---------------------------------------------------------------------------------------------
// Log, buttons, Stop

void BootLink::ShowMsg(const QString& message) {
    const bool clearFirst = logLength_ > 8096;
    if (clearFirst) logLength_ = 0;
    const QString line =
        timeOfDay_().toString(QStringLiteral("hh:mm:ss")) + QLatin1Char(' ') + message;
    logLength_ += line.size() + 2;  // the window ends each line with CR LF
    host_.appendLog(line, clearFirst);
}

void BootLink::EnableCmds(bool enable) {
    CommandStates s;
    s.readProtect = enable;
    s.readUnprotect = enable;
    s.start = enable;
    s.erase = enable;
    s.go = enable;
    s.read = enable && FlashSizeKB > 0;
    host_.enableCommands(s);
    if (!enable) {
        host_.setPanelText(6, QStringLiteral("未连接"));
        host_.setLamp(Lamp::Gray);
    }
}

void BootLink::CmdStop_Click() {
    StopFlag = true;
    EnableCmds(false);
    wake();
}

// ---------------------------------------------------------------------------------------------
// Waiting

void BootLink::wake() {
    if (waitLoop_) waitLoop_->quit();
    emit woke();
}

bool BootLink::timedOut(const QElapsedTimer& start) {
    return start.nsecsElapsed() > kReplyTimeoutNs;
}

void BootLink::sleepUntilEvent(const QElapsedTimer& start, bool watchStop) {
    const qint64 leftNs = kReplyTimeoutNs - start.nsecsElapsed();
    // The outcome is decided at the next check; nothing to sleep for.
    if ((watchStop && StopFlag) || lineGone() || leftNs < 0) return;
    QEventLoop loop;
    QEventLoop* outer = waitLoop_;
    waitLoop_ = &loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // One millisecond past the limit, so that "more than 0.5 s" holds when it fires.
    deadline.start(int(leftNs / 1'000'000) + 1);
    loop.exec();
    waitLoop_ = outer;
}

void BootLink::reportPortFailure(bool setStop) {
    host_.showMessage(QStringLiteral("请指定可用串行口。"));
    if (setStop) StopFlag = true;
}

bool BootLink::writeFrame(const QByteArray& frame, bool setStopOnFailure) {
    if (port_.write(frame)) return true;
    reportPortFailure(setStopOnFailure);
    return false;
}

QString BootLink::hexNoPad(uint8_t byte) {
    return QString::number(byte, 16).toUpper();
}

QString BootLink::hex2(uint8_t byte) {
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

// ---------------------------------------------------------------------------------------------
// Frames

bool BootLink::SyncTarget() {
    RecvCount = 0;
    if (!writeFrame(QByteArray(1, char(kSync)))) return false;
    QElapsedTimer start;
    start.start();
    for (;;) {
        QCoreApplication::processEvents();
        if (RecvCount >= 1 && RecvIdle) {
            const uint8_t last = RecvBuf[size_t(RecvCount - 1)];
            if (last == kAck) {
                host_.setLamp(Lamp::Green);
                host_.setPanelText(6, QStringLiteral("已连接."));
                host_.setPanelText(2, QStringLiteral("收到ACK，可以ISP了。"));
                return true;
            }
            if (last == kNack) {
                host_.setPanelText(2, QStringLiteral("收到NACK，请复位目标板并重新连接。"));
                return false;
            }
        }
        if (lineGone()) {
            reportPortFailure();
            return false;
        }
        if (timedOut(start)) {
            host_.setPanelText(2, QStringLiteral("请复位目标板并重新连接！"));
            return false;
        }
        sleepUntilEvent(start, false);  // Stop does not end the synchronisation
    }
}

bool BootLink::SendCmdWaitAck(uint8_t command) {
    RecvCount = 0;
    QByteArray frame;
    frame.append(char(command));
    frame.append(char(command ^ 0xFF));
    if (!writeFrame(frame)) return false;
    QElapsedTimer start;
    start.start();
    for (;;) {
        QCoreApplication::processEvents();
        if (RecvCount >= 1 && RecvIdle) return RecvBuf[0] == kAck;
        if (lineGone()) {
            reportPortFailure();
            return false;
        }
        if (timedOut(start)) return false;
        if (StopFlag) return false;
        sleepUntilEvent(start, true);
    }
}

QByteArray BootLink::AddressFrame(uint32_t address) {
    QByteArray frame;
    frame.append(char(address >> 24));
    frame.append(char(address >> 16));
    frame.append(char(address >> 8));
    frame.append(char(address));
    frame.append(char(frame[0] ^ frame[1] ^ frame[2] ^ frame[3]));
    return frame;
}

bool BootLink::SendAbsMemoryAdd(uint32_t address) {
    RecvCount = 0;
    if (!writeFrame(AddressFrame(address), false)) return false;
    QElapsedTimer start;
    start.start();
    for (;;) {
        QCoreApplication::processEvents();
        // The first byte decides; the reply need not be complete.
        if (RecvCount >= 1) {
            if (RecvBuf[0] == kAck) return true;
            host_.showMessage(QStringLiteral("传送地址时应答为非ACK，应答值=") +
                              hexNoPad(RecvBuf[size_t(RecvCount - 1)]));
            return false;
        }
        if (lineGone()) {
            reportPortFailure();
            return false;
        }
        if (timedOut(start) || StopFlag) return false;
        sleepUntilEvent(start, true);
    }
}

bool BootLink::SendReadCount(uint8_t count) {
    return SendCmdWaitAck(count);
}

bool BootLink::WaitForDataBytes(int n) {
    QElapsedTimer start;
    start.start();
    for (;;) {
        QCoreApplication::processEvents();
        if (RecvCount >= n + 1) return true;
        if (lineGone()) {
            reportPortFailure();
            return false;
        }
        if (timedOut(start) || StopFlag) return false;
        sleepUntilEvent(start, true);
    }
}

bool BootLink::ReadMemoryBlock(uint32_t address, uint8_t* buffer, int n) {
    if (!SendCmdWaitAck(0x11)) {
        ShowMsg(QStringLiteral("下发读命令失败。"));
        return false;
    }
    if (!SendAbsMemoryAdd(address)) {
        ShowMsg(QStringLiteral("下发地址命令失败。"));
        return false;
    }
    if (!SendReadCount(uint8_t(n - 1))) {
        ShowMsg(QStringLiteral("下发读个数失败。"));
        return false;
    }
    // RecvBuf keeps the count's ACK at index 0; the data arrive behind it.
    if (!WaitForDataBytes(n)) {
        ShowMsg(QStringLiteral("读存储器内容超时."));
        return false;
    }
    if (RecvBuf[0] != kAck) {
        ShowMsg(QStringLiteral("读存储器内容非ACK应答, 中止读数."));
        return false;
    }
    std::memcpy(buffer, RecvBuf.data() + 1, size_t(n));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Connect sequence

void BootLink::GetDeviceInfo() {
    if (!SendCmdWaitAck(0x02)) return;
    QString id;
    // Four identity bytes (0x79 0x03 b b b b 0x79), or the two a real F10x sends (0x79 0x01 b b
    // 0x79). The count check keeps bytes of an earlier reply from being taken for this one.
    if (RecvCount >= 7 && RecvBuf[1] == 0x03 && RecvBuf[6] == kAck) {
        for (int i = 2; i <= 5; ++i) id += hex2(RecvBuf[size_t(i)]);
    } else if (RecvCount >= 5 && RecvBuf[1] == 0x01 && RecvBuf[4] == kAck) {
        for (int i = 2; i <= 3; ++i) id += hex2(RecvBuf[size_t(i)]);
    } else {
        ShowMsg(QStringLiteral("器件信息不可识别."));
        return;
    }
    const QString text = QStringLiteral("STM32F10x, PID=") + id;
    host_.setPanelText(4, text);
    ShowMsg(QStringLiteral("器件信息为") + text);
}

int BootLink::GetMemorySize() {
    int result = -1;
    uint8_t buffer[5] = {};
    if (ReadMemoryBlock(0x1FFFF7E0u, buffer, 4)) {
        result = buffer[0] + 256 * buffer[1];
        RamSizeKB = buffer[2] + 256 * buffer[3];
        // An unprogrammed size word reads FFFF: the flash size is not known, and reading
        // 64 MB from a chip that has far less would only fail at its end.
        if (result == 0xFFFF) result = -1;
    }
    return result;
}

bool BootLink::CHECKCMD_Click() {
    host_.setLamp(Lamp::Gray);
    host_.setPanelText(6, QStringLiteral("未连接."));
    host_.setPanelText(4, QString());
    ShowMsg(QStringLiteral("连接目标板......"));
    FlashSizeKB = -1;
    StopFlag = false;
    if (!OpenCommPort()) {
        StopFlag = true;
        ShowMsg(QStringLiteral("指定的串行口不存在或被其它应用程序占用。"));
        return false;
    }
    if (!SyncTarget()) {
        ShowMsg(QStringLiteral("目标板未响应，检查连接情况，请复位后再次连接。"));
        StopFlag = true;
        return false;
    }
    ShowMsg(QStringLiteral("连接成功，准备获取器件信息......"));
    GetDeviceInfo();
    FlashSizeKB = GetMemorySize();
    if (FlashSizeKB < 1) {
        ShowMsg(QStringLiteral("取器件存储器容量失败."));
    } else {
        // 0xFFFF is what the reserved half-word reads on STM32: the RAM size is not known.
        const QString ram = RamSizeKB == 0xFFFF ? QStringLiteral("未知.")
                                                : QString::number(RamSizeKB) + QStringLiteral("K.");
        ShowMsg(QStringLiteral("FLASH容量为: ") + QString::number(FlashSizeKB) +
                QStringLiteral("K; RAM容量为: ") + ram);
    }
    EnableCmds(true);
    StopFlag = true;
    return true;
}

}  // namespace praxon
