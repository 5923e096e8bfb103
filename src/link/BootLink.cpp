#include "BootLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <cstring>

namespace praxon {

BootLink::BootLink(EventSink& sink, SerialPort& port, QObject* parent)
    : QObject(parent), sink_(sink), port_(port) {
    idleTimer_.setInterval(timeout::kIdleMs);
    idleTimer_.setSingleShot(true);
    idleTimer_.setTimerType(Qt::PreciseTimer);
    connect(&idleTimer_, &QTimer::timeout, this, &BootLink::onIdle);
    connect(&port_, &SerialPort::dataReceived, this, &BootLink::onDataReceived);
    // A vanished line (adapter unplugged) ends the connection: show it, and end a running wait.
    connect(&port_, &SerialPort::lineLost, this, [this] {
        reportClosed();
        wake();
    });
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
    PortOpenFailure failure;
    if (name.isEmpty() || !port_.open(name, baudRate_, &failure)) {
        if (name.isEmpty()) failure = {PortError::NotFound, QString()};
        openFailure_ = failure;
        Event e(EventCode::PortOpenFailed);
        e.portError = failure.error;
        e.text = name.isEmpty() ? text.trimmed() : name;
        e.detail = failure.text;
        report(e);
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
                // Stop ends the pause and the sequence; the lines stay as they are now.
                const quint64 stops = stopCount_;
                const qint64 ns = qint64(step.ms) * 1'000'000;
                QElapsedTimer start;
                start.start();
                while (stopCount_ == stops && port_.isOpen() && start.nsecsElapsed() < ns)
                    sleepUntilEvent(start, ns, false);
                if (stopCount_ != stops) return false;
                break;
            }
        }
        if (!ok) {
            report(Event(EventCode::PortLinesFailed));
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
// Stop

void BootLink::stop() {
    stopped_ = true;
    ++stopCount_;
    reportClosed();
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
    report(Event(EventCode::PortUnusable));
    stopped_ = true;
}

bool BootLink::write(const QByteArray& bytes) {
    count_ = 0;
    idle_ = false;
    idleTimer_.stop();
    return port_.write(bytes);
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

}  // namespace praxon
