#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "Event.h"
#include "LineControl.h"
#include "LineSpeeds.h"
#include "SerialPort.h"

class QEventLoop;

namespace praxon {

// Bootloader protocol bytes.
constexpr uint8_t kAck = 0x79;
constexpr uint8_t kNack = 0x1F;
constexpr uint8_t kSync = 0x7F;

// The bootloader's command codes.
namespace opcode {
constexpr uint8_t kGet = 0x00;
constexpr uint8_t kGetId = 0x02;
constexpr uint8_t kReadMemory = 0x11;
constexpr uint8_t kGo = 0x21;
constexpr uint8_t kWriteMemory = 0x31;
constexpr uint8_t kErase = 0x43;
constexpr uint8_t kExtendedErase = 0x44;
constexpr uint8_t kWriteProtect = 0x63;
constexpr uint8_t kWriteUnprotect = 0x73;
constexpr uint8_t kReadoutProtect = 0x82;
constexpr uint8_t kReadoutUnprotect = 0x92;
}  // namespace opcode

// How long the link and the operations wait.
namespace timeout {
// The limit of every reply; the chip's own work time is added where it has some.
constexpr qint64 kReplyNs = 500'000'000;
// The quiet period that ends a reply under the quiet-line rules.
constexpr int kIdleMs = 2;
// Erase times of the device table are for genuine parts; clone flash may be slower.
constexpr qint64 kSlowFlashMargin = 2;
// Added to the reply limit for the answer to written data, for the same reason.
constexpr qint64 kWriteNs = 500'000'000;
// Option-byte work of Readout Protect.
constexpr qint64 kOptionBytesNs = 2'000'000'000;
// Mass erase of a chip the device table does not know.
constexpr qint64 kUnknownMassEraseNs = 35'000'000'000;
}  // namespace timeout

struct Reply {
    ReplyStatus status = ReplyStatus::Timeout;
    uint8_t first = 0;  // first byte of the reply (Nack)
    uint8_t last = 0;   // last byte received when the wait ended (Nack)
    bool ok() const { return status == ReplyStatus::Ack; }
};

// When a reply counts as complete.
enum class ReplyRule {
    // At least one byte, then a quiet line for one idle period; the first byte decides.
    Quiet,
    // The first byte decides at once.
    FirstByte,
    // Synchronisation: an ACK or NACK decides; other bytes keep the wait going. Under the
    // quiet-line rules the last byte before the line fell quiet decides.
    Sync,
    // The count frame of a read: ACK followed by n data bytes; a first byte other than ACK
    // decides at once (fast) or after a quiet line (quiet).
    AckAndData,
    // The data of a read whose count frame was acknowledged: n bytes behind the ACK; the first
    // byte decides once they are there.
    Data,
};

// The serial link to the STM32 bootloader: the port, the receive buffer with its idle timer, the
// frames and the one wait routine that every exchange uses. It reports what happens to the port
// and the link as events.
//
// Everything runs on one thread. A wait sleeps in a local event loop until something that can
// change its outcome happens (a received chunk, the idle timer, Stop, the line going away, its
// deadline) and then runs its checks, so replies are noticed at once without spinning.
class BootLink : public QObject {
    Q_OBJECT
public:
    BootLink(EventSink& sink, SerialPort& port, QObject* parent = nullptr);
    ~BootLink() override;

    void report(const Event& event) { sink_.report(event); }
    SerialPort& port() { return port_; }

    // Quiet-line rules (compatible) or first-byte rules (fast).
    bool quietReplies() const { return quietReplies_; }
    void setQuietReplies(bool quiet) { quietReplies_ = quiet; }
    void setReplyTimeout(qint64 nanoseconds) { replyTimeoutNs_ = nanoseconds; }
    // The quiet period that ends a reply under the quiet-line rules.
    void setIdlePeriod(int milliseconds) { idleTimer_.setInterval(milliseconds); }
    qint64 replyTimeout() const { return replyTimeoutNs_; }

    // Operation state: false while an operation runs, true when idle or after Stop.
    bool stopped() const { return stopped_; }
    void setStopped(bool stopped) { stopped_ = stopped; }
    // Stop: the running wait ends at its next check.
    void stop();

    // Line speed and the idle state of the modem lines, for the next time the port opens.
    void setLineSettings(int baudRate, const LineSequence& idle);
    // Opens the named port unless it is open already with these settings, then sets the lines'
    // idle state. Reports why on failure.
    bool openPort(const QString& name);
    // Why the last openPort() failed.
    const PortOpenFailure& openFailure() const { return openFailure_; }
    // Drives the modem lines; pauses sleep in the event loop and end early on Stop. False when
    // Stop came or the port cannot set a line (reported).
    bool runLines(const LineSequence& steps);

    // The link's state: connected with every operation offered (Read only when the flash size
    // is known), or not connected.
    void reportReady(bool readable) {
        Event e(EventCode::LinkReady);
        e.readable = readable;
        report(e);
    }
    void reportClosed() { report(Event(EventCode::LinkClosed)); }

    // Frames and their waits. Every one starts with an empty receive buffer.
    // 0x7F, after dropping whatever arrived before (a running program's output); Stop does not
    // end it.
    Reply sync();
    // A command byte and its complement.
    Reply command(uint8_t command, ReplyRule rule);
    Reply command(uint8_t command) { return this->command(command, defaultRule()); }
    // Any frame; dataBytes for AckAndData; timeoutNs 0: the reply time limit.
    Reply frame(const QByteArray& bytes, ReplyRule rule, int dataBytes = 0, qint64 timeoutNs = 0);
    // Goes on waiting for n data bytes behind the reply already received (Data rule).
    Reply awaitData(int n);
    // The second answer of a command that answers twice (ACK, work, ACK): the first byte of the
    // reply received is dropped and the next one awaited under the mode's rule. timeoutNs 0: the
    // reply time limit.
    Reply awaitNextReply(qint64 timeoutNs = 0);
    // Sleeps for the chip's work; false when Stop came first or the line went away.
    bool pause(qint64 nanoseconds);
    // The rule for a one-byte reply to a command frame in the current mode.
    ReplyRule defaultRule() const {
        return quietReplies_ ? ReplyRule::Quiet : ReplyRule::FirstByte;
    }
    // Received bytes of the last reply (after a successful AckAndData wait: ACK, then the data).
    const uint8_t* received() const { return buffer_.data(); }
    int receivedCount() const { return count_; }

    // Writes bytes without awaiting anything (the turbo loader's frames). False when they could
    // not be written.
    bool send(const QByteArray& bytes) { return write(bytes); }
    // A protocol with frames of its own (the turbo loader): while a receiver is set, every chunk
    // received goes to it instead of the reply buffer.
    void setReceiver(std::function<void(const QByteArray&)> receiver) {
        receiver_ = std::move(receiver);
    }
    // Sleeps until done() holds (Ack), Stop, the line going away or timeoutNs, checking done()
    // after every received chunk.
    ReplyStatus waitUntil(const std::function<bool()>& done, qint64 timeoutNs);

    // Four address bytes, most significant first, and their XOR.
    static QByteArray addressFrame(uint32_t address);
    // Bytes followed by their XOR.
    static QByteArray withChecksum(const QByteArray& bytes);

    // Port name from the port list text: Windows "COM" + number; elsewhere a device name
    // (ttyUSB0 -> /dev/ttyUSB0) or a path. Empty when the text names no port.
    static QString portNameFromText(const QString& text, bool windows);

    static constexpr qint64 kReplyTimeoutNs = timeout::kReplyNs;

private:
    void onDataReceived();
    void onIdle();
    void wake();
    bool write(const QByteArray& bytes);
    void reportPortFailure();
    Reply wait(ReplyRule rule, int dataBytes, qint64 timeoutNs, bool watchStop);
    void sleepUntilEvent(const QElapsedTimer& start, qint64 timeoutNs, bool watchStop);

    EventSink& sink_;
    SerialPort& port_;
    // Receive buffer: one reply at most (ACK + 256 data bytes), two spare.
    std::array<uint8_t, 259> buffer_{};
    int count_ = 0;
    bool idle_ = false;
    QTimer idleTimer_;
    bool stopped_ = true;
    bool quietReplies_ = false;
    qint64 replyTimeoutNs_ = kReplyTimeoutNs;
    QString currentPort_;  // the port open now
    PortOpenFailure openFailure_;
    int baudRate_ = kDefaultLineSpeed;
    int openBaudRate_ = 0;
    LineSequence idleLines_;
    QEventLoop* waitLoop_ = nullptr;
    quint64 stopCount_ = 0;  // Stop presses so far: a pause of the line steps ends on a new one
    std::function<void(const QByteArray&)> receiver_;
};

}  // namespace praxon
