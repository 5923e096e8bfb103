#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "Host.h"
#include "LineControl.h"
#include "LineSpeeds.h"
#include "SerialPort.h"

class QEventLoop;

namespace praxon {

// Bootloader protocol bytes.
constexpr uint8_t kAck = 0x79;
constexpr uint8_t kNack = 0x1F;
constexpr uint8_t kSync = 0x7F;

// How a wait for the bootloader ended.
enum class ReplyStatus {
    Ack,       // the reply is there and says ACK
    Nack,      // the reply is there and says something else (NACK or a stray byte)
    Timeout,   // nothing decisive within the reply time limit
    Stopped,   // the user pressed Stop
    LineLost,  // the port could not be written or the line went away (already shown as a message)
};

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
    // Synchronisation: an ACK or NACK decides; other bytes keep the wait going. With quiet set,
    // the last byte after a quiet line decides (what the original tool did).
    Sync,
    // The count frame of a read: ACK followed by n data bytes; a first byte other than ACK
    // decides at once (fast) or after a quiet line (quiet).
    AckAndData,
    // The data of a read whose count frame was acknowledged: n bytes behind the ACK; the first
    // byte decides once they are there.
    Data,
};

// The serial link to the STM32 bootloader: the port, the receive buffer with its idle timer, the
// message log, the frames and the one wait routine that every exchange uses.
//
// Everything runs on one thread. A wait sleeps in a local event loop until something that can
// change its outcome happens (a received chunk, the idle timer, Stop, the line going away, its
// deadline) and then runs its checks, so replies are noticed at once without spinning.
class BootLink : public QObject {
    Q_OBJECT
public:
    BootLink(Host& host, SerialPort& port, QObject* parent = nullptr);
    ~BootLink() override;

    Host& host() { return host_; }
    SerialPort& port() { return port_; }

    // Quiet-line rules (compatible) or first-byte rules (fast).
    bool quietReplies() const { return quietReplies_; }
    void setQuietReplies(bool quiet) { quietReplies_ = quiet; }
    void setReplyTimeout(qint64 nanoseconds) { replyTimeoutNs_ = nanoseconds; }
    // The quiet period that ends a reply under the quiet-line rules (2 ms).
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
    // idle state. Shows the port message on failure.
    bool openPort(const QString& name);
    QString currentPort() const { return currentPort_; }
    // Drives the modem lines; pauses sleep in the event loop. False (after a message) when the
    // port cannot set a line.
    bool runLines(const LineSequence& steps);

    // Log and offered operations.
    void log(const QString& message);
    void setTimeOfDaySource(std::function<QTime()> source) { timeOfDay_ = std::move(source); }
    // Offers the operations (read only when the flash size is known) or shows "not connected".
    void enableCommands(bool enable, bool readable);

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
    // Writes a frame without awaiting anything (Go's address). False when it could not be written.
    bool send(const QByteArray& bytes);

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

    // Upper-case hex without leading zero, as in the non-ACK messages; two digits.
    static QString hexNoPad(uint8_t byte);
    static QString hex2(uint8_t byte);
    // What ended a failed wait, for the log.
    static QString describe(const Reply& reply);

    static constexpr qint64 kReplyTimeoutNs = 500'000'000;

private:
    void onDataReceived();
    void onIdle();
    void wake();
    bool write(const QByteArray& bytes);
    void reportPortFailure();
    Reply wait(ReplyRule rule, int dataBytes, qint64 timeoutNs, bool watchStop);
    void sleepUntilEvent(const QElapsedTimer& start, qint64 timeoutNs, bool watchStop);

    Host& host_;
    SerialPort& port_;
    // Receive buffer: one reply at most (ACK + 256 data bytes), two spare.
    std::array<uint8_t, 259> buffer_{};
    int count_ = 0;
    bool idle_ = false;
    QTimer idleTimer_;
    bool stopped_ = true;
    bool quietReplies_ = false;
    qint64 replyTimeoutNs_ = kReplyTimeoutNs;
    QString currentPort_;
    int baudRate_ = kDefaultLineSpeed;
    int openBaudRate_ = 0;
    LineSequence idleLines_;
    QEventLoop* waitLoop_ = nullptr;
    qint64 logLength_ = 0;
    std::function<QTime()> timeOfDay_;
    std::function<void(const QByteArray&)> receiver_;
};

}  // namespace praxon
