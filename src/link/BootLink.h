#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "Host.h"
#include "SerialPort.h"

class QEventLoop;

namespace praxon {

// Bootloader protocol bytes.
constexpr uint8_t kAck = 0x79;
constexpr uint8_t kNack = 0x1F;
constexpr uint8_t kSync = 0x7F;

// The serial link to the STM32 bootloader: the port, the receive buffer with its idle timer, the
// message log, the command/address/count frames with their waits, and the connect sequence.
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

    // Shared state.
    std::array<uint8_t, 259> RecvBuf{};
    int RecvCount = 0;
    bool RecvIdle = false;
    bool StopFlag = true;
    QString CurPort;  // device name last given to the port
    int FlashSizeKB = 0;
    int RamSizeKB = 0;
    QTimer TimInterVal;

    // Port and receive path.
    bool OpenCommPort();
    void MSComm1_OnComm();
    void TimInterVal_Timer();

    // Log, buttons, Stop.
    void ShowMsg(const QString& message);
    void EnableCmds(bool enable);
    void CmdStop_Click();
    // The front end emptied its log by itself.
    void resetLogLength() { logLength_ = 0; }
    // Time of day for the log; tests put a fixed clock here.
    void setTimeOfDaySource(std::function<QTime()> source) { timeOfDay_ = std::move(source); }

    // Frames and their waits.
    bool SyncTarget();
    bool SendCmdWaitAck(uint8_t command);
    // Four address bytes, most significant first, and their XOR.
    static QByteArray AddressFrame(uint32_t address);
    bool SendAbsMemoryAdd(uint32_t address);
    bool SendReadCount(uint8_t count);
    // After SendReadCount succeeded: waits until ACK + n data bytes are in RecvBuf (true), or the
    // time limit passes or Stop is pressed (false). Shared by ReadMemoryBlock and the verify.
    bool WaitForDataBytes(int n);
    // Reads n (1 to 256) bytes at address into buffer; logs its own failure.
    bool ReadMemoryBlock(uint32_t address, uint8_t* buffer, int n);

    // Connect sequence.
    bool CHECKCMD_Click();
    void GetDeviceInfo();
    int GetMemorySize();  // flash KB; -1 when the read failed or the word reads FFFF

    // Shows the port message, marks the operation stopped. Used when a frame cannot be written.
    void reportPortFailure(bool setStop = true);
    // Writes one frame; on failure shows the port message (and sets StopFlag when asked).
    bool writeFrame(const QByteArray& frame, bool setStopOnFailure = true);
    // The line vanished under a running wait (port closed behind our back).
    bool lineGone() const { return !port_.isOpen(); }

    // Between two passes of a wait: runs the event loop until something that can change the
    // outcome happens (received chunk, idle timer, Stop, line lost) or the time limit of a wait
    // started at `start` passes. Returns at once when the next check decides anyway. Each pass of
    // a wait runs QCoreApplication::processEvents() where the protocol lets pending events run.
    void sleepUntilEvent(const QElapsedTimer& start, bool watchStop);
    static bool timedOut(const QElapsedTimer& start);

    // Port name from the port list text: Windows "COM" + number; elsewhere a device name
    // (ttyUSB0 -> /dev/ttyUSB0) or a path. Empty when the text names no port.
    static QString portNameFromText(const QString& text, bool windows);

    // Upper-case hex without leading zero, as in the non-ACK messages.
    static QString hexNoPad(uint8_t byte);
    static QString hex2(uint8_t byte);

    static constexpr qint64 kReplyTimeoutNs = 500'000'000;

signals:
    void woke();

private:
    void wake();

    Host& host_;
    SerialPort& port_;
    QEventLoop* waitLoop_ = nullptr;
    qint64 logLength_ = 0;
    std::function<QTime()> timeOfDay_;
};

}  // namespace praxon
