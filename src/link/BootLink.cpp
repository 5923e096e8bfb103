#include "BootLink.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <cstring>

namespace praxon {

BootLink::BootLink(Host& host, SerialPort& port, QObject* parent)
    : QObject(parent), host_(host), port_(port) {
    idleTimer_.setInterval(2);
    idleTimer_.setSingleShot(true);
    idleTimer_.setTimerType(Qt::PreciseTimer);
    connect(&idleTimer_, &QTimer::timeout, this, &BootLink::onIdle);
    connect(&port_, &SerialPort::dataReceived, this, &BootLink::onDataReceived);
    // A vanished line (adapter unplugged) ends the connection: show it, and end a running wait.
    connect(&port_, &SerialPort::lineLost, this, [this] {
        enableCommands(false, false);
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

void BootLink::setLineSettings(int baudRate, const LineSequence& idle) {
    baudRate_ = baudRate;
    idleLines_ = idle;
}

bool BootLink::openPort(const QString& text) {
#ifdef Q_OS_WIN
    const bool windows = true;
#else
    const bool windows = false;
#endif
    const QString name = portNameFromText(text, windows);
    if (port_.isOpen() && !name.isEmpty() && name == currentPort_ && openBaudRate_ == baudRate_)
        return true;
    if (port_.isOpen()) port_.close();
    currentPort_ = name;
    openBaudRate_ = baudRate_;
    QString error;
    if (name.isEmpty() || !port_.open(name, baudRate_, &error)) {
        host_.showMessage(QStringLiteral("指定的串口不存在或已被占用。"));
        return false;
    }
    // Opening a serial device asserts DTR and RTS; a board wired to them is put back at once.
    if (!runLines(idleLines_)) {
        port_.close();
        return false;
    }
    return true;
}

bool BootLink::runLines(const LineSequence& steps) {
    for (const LineStep& step : steps) {
        bool ok = true;
        switch (step.kind) {
            case LineStep::Dtr:
                ok = port_.setDataTerminalReady(step.on);
                break;
            case LineStep::Rts:
                ok = port_.setRequestToSend(step.on);
                break;
            case LineStep::Break:
                ok = port_.setBreak(step.on);
                break;
            case LineStep::Pause: {
                QEventLoop loop;
                QTimer::singleShot(step.ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
                loop.exec();
                break;
            }
        }
        if (!ok) {
            host_.showMessage(QStringLiteral(
                "串口无法控制DTR/RTS信号，不能自动复位目标板。请检查复位接线设置。"));
            return false;
        }
    }
    return true;
}

void BootLink::onDataReceived() {
    idle_ = false;
    idleTimer_.stop();
    const QByteArray chunk = port_.readAll();
    if (receiver_) {
        receiver_(chunk);
        wake();
        return;
    }
    const int n = int(chunk.size());
    // More than one reply's worth: start over, so the buffer always holds the latest bytes.
    if (count_ + n > 257) count_ = 0;
    if (n > 257) {
        // Longer than any reply: dropped; the waiting sender runs into its time limit.
        wake();
        return;
    }
    if (n > 0) std::memcpy(buffer_.data() + count_, chunk.constData(), size_t(n));
    count_ += n;
    // Only the quiet-line rules need to know when the line fell silent.
    if (quietReplies_) idleTimer_.start();
    wake();
}

void BootLink::onIdle() {
    idle_ = true;
    wake();
}

// ---------------------------------------------------------------------------------------------
// Log, offered operations, Stop

void BootLink::log(const QString& message) {
    const bool clearFirst = logLength_ > 8096;
    if (clearFirst) logLength_ = 0;
    const QString line =
        timeOfDay_().toString(QStringLiteral("hh:mm:ss")) + QLatin1Char(' ') + message;
    logLength_ += line.size() + 2;  // the window ends each line with CR LF
    host_.appendLog(line, clearFirst);
}

void BootLink::enableCommands(bool enable, bool readable) {
    CommandStates s;
    s.protect = enable;
    s.unprotect = enable;
    s.program = enable;
    s.erase = enable;
    s.go = enable;
    s.read = enable && readable;
    host_.enableCommands(s);
    if (!enable) {
        host_.setStatusText(StatusField::Link, QStringLiteral("未连接"));
        host_.setLamp(Lamp::Gray);
    }
}

void BootLink::stop() {
    stopped_ = true;
    enableCommands(false, false);
    wake();
}

// ---------------------------------------------------------------------------------------------
// Waiting

void BootLink::wake() {
    if (waitLoop_) waitLoop_->quit();
}

void BootLink::sleepUntilEvent(const QElapsedTimer& start, qint64 timeoutNs, bool watchStop) {
    const qint64 leftNs = timeoutNs - start.nsecsElapsed();
    // The outcome is decided at the next check; nothing to sleep for.
    if ((watchStop && stopped_) || !port_.isOpen() || leftNs < 0) return;
    QEventLoop loop;
    QEventLoop* outer = waitLoop_;
    waitLoop_ = &loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // One millisecond past the limit, so that "more than the limit" holds when it fires.
    deadline.start(int(leftNs / 1'000'000) + 1);
    loop.exec();
    waitLoop_ = outer;
}

void BootLink::reportPortFailure() {
    host_.showMessage(QStringLiteral("请指定可用串行口。"));
    stopped_ = true;
}

bool BootLink::write(const QByteArray& bytes) {
    count_ = 0;
    idle_ = false;
    idleTimer_.stop();
    return port_.write(bytes);
}

bool BootLink::send(const QByteArray& bytes) {
    return write(bytes);
}

Reply BootLink::wait(ReplyRule rule, int dataBytes, qint64 timeoutNs, bool watchStop) {
    QElapsedTimer start;
    start.start();
    const auto decided = [this](bool ack) {
        Reply r;
        r.status = ack ? ReplyStatus::Ack : ReplyStatus::Nack;
        r.first = buffer_[0];
        r.last = buffer_[size_t(count_ - 1)];
        return r;
    };
    for (;;) {
        QCoreApplication::processEvents();
        switch (rule) {
            case ReplyRule::Quiet:
                if (count_ >= 1 && idle_) return decided(buffer_[0] == kAck);
                break;
            case ReplyRule::FirstByte:
                if (count_ >= 1) return decided(buffer_[0] == kAck);
                break;
            case ReplyRule::Sync:
                if (quietReplies_) {
                    if (count_ >= 1 && idle_) {
                        const uint8_t last = buffer_[size_t(count_ - 1)];
                        if (last == kAck || last == kNack) return decided(last == kAck);
                    }
                } else {
                    // Bytes before the answer (a running program's output) are passed over.
                    for (int i = 0; i < count_; ++i) {
                        if (buffer_[size_t(i)] == kAck || buffer_[size_t(i)] == kNack) {
                            Reply r = decided(buffer_[size_t(i)] == kAck);
                            r.first = r.last = buffer_[size_t(i)];
                            return r;
                        }
                    }
                }
                break;
            case ReplyRule::AckAndData:
                if (count_ >= 1 && buffer_[0] != kAck && (!quietReplies_ || idle_))
                    return decided(false);
                if (count_ >= dataBytes + 1 && buffer_[0] == kAck) return decided(true);
                break;
            case ReplyRule::Data:
                if (count_ >= dataBytes + 1) return decided(buffer_[0] == kAck);
                break;
        }
        if (!port_.isOpen()) {
            reportPortFailure();
            return Reply{ReplyStatus::LineLost};
        }
        if (start.nsecsElapsed() > timeoutNs) return Reply{ReplyStatus::Timeout};
        if (watchStop && stopped_) return Reply{ReplyStatus::Stopped};
        sleepUntilEvent(start, timeoutNs, watchStop);
    }
}

ReplyStatus BootLink::waitUntil(const std::function<bool()>& done, qint64 timeoutNs) {
    QElapsedTimer start;
    start.start();
    for (;;) {
        QCoreApplication::processEvents();
        if (done()) return ReplyStatus::Ack;
        if (!port_.isOpen()) {
            reportPortFailure();
            return ReplyStatus::LineLost;
        }
        if (start.nsecsElapsed() > timeoutNs) return ReplyStatus::Timeout;
        if (stopped_) return ReplyStatus::Stopped;
        sleepUntilEvent(start, timeoutNs, true);
    }
}

// ---------------------------------------------------------------------------------------------
// Frames

Reply BootLink::sync() {
    port_.readAll();
    if (!write(QByteArray(1, char(kSync)))) {
        reportPortFailure();
        return Reply{ReplyStatus::LineLost};
    }
    return wait(ReplyRule::Sync, 0, replyTimeoutNs_, false);
}

Reply BootLink::command(uint8_t command, ReplyRule rule) {
    QByteArray frame;
    frame.append(char(command));
    frame.append(char(command ^ 0xFF));
    return this->frame(frame, rule);
}

Reply BootLink::frame(const QByteArray& bytes, ReplyRule rule, int dataBytes, qint64 timeoutNs) {
    if (!write(bytes)) {
        reportPortFailure();
        return Reply{ReplyStatus::LineLost};
    }
    return wait(rule, dataBytes, timeoutNs > 0 ? timeoutNs : replyTimeoutNs_, true);
}

Reply BootLink::awaitData(int n) {
    return wait(ReplyRule::Data, n, replyTimeoutNs_, true);
}

Reply BootLink::awaitNextReply(qint64 timeoutNs) {
    if (count_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + 1, size_t(count_ - 1));
        --count_;
    }
    return wait(defaultRule(), 0, timeoutNs > 0 ? timeoutNs : replyTimeoutNs_, true);
}

bool BootLink::pause(qint64 nanoseconds) {
    QElapsedTimer start;
    start.start();
    while (!stopped_ && port_.isOpen() && start.nsecsElapsed() < nanoseconds)
        sleepUntilEvent(start, nanoseconds, true);
    return !stopped_ && port_.isOpen();
}

QByteArray BootLink::addressFrame(uint32_t address) {
    QByteArray frame;
    frame.append(char(address >> 24));
    frame.append(char(address >> 16));
    frame.append(char(address >> 8));
    frame.append(char(address));
    return withChecksum(frame);
}

QByteArray BootLink::withChecksum(const QByteArray& bytes) {
    uint8_t sum = 0;
    for (char c : bytes) sum ^= uint8_t(c);
    QByteArray frame = bytes;
    frame.append(char(sum));
    return frame;
}

QString BootLink::hexNoPad(uint8_t byte) {
    return QString::number(byte, 16).toUpper();
}

QString BootLink::hex2(uint8_t byte) {
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

QString BootLink::describe(const Reply& reply) {
    switch (reply.status) {
        case ReplyStatus::Ack:
            return QStringLiteral("ACK");
        case ReplyStatus::Nack:
            return reply.first == kNack ? QStringLiteral("目标板应答NACK")
                                        : QStringLiteral("目标板应答") + hex2(reply.first);
        case ReplyStatus::Timeout:
            return QStringLiteral("等待应答超时");
        case ReplyStatus::Stopped:
            return QStringLiteral("已停止");
        case ReplyStatus::LineLost:
            return QStringLiteral("串口已断开");
    }
    return {};
}

}  // namespace praxon
