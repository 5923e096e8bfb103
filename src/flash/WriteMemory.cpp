#include "WriteMemory.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <array>
#include <cstring>

#include "BootLink.h"
#include "WordAligner.h"

namespace praxon {

bool SendWriteMemoryCmd(BootLink& link) {
    link.RecvCount = 0;
    if (!link.writeFrame(QByteArray("\x31\xCE", 2), false)) return false;
    QElapsedTimer start;
    start.start();
    for (;;) {
        QCoreApplication::processEvents();
        if (link.RecvCount >= 1 && link.RecvIdle) {
            if (link.RecvBuf[0] == kAck) return true;
            if (link.RecvBuf[0] == kNack) link.EnableCmds(false);
            return false;
        }
        if (link.lineGone()) {
            link.reportPortFailure();
            return false;
        }
        if (BootLink::timedOut(start) || link.StopFlag) return false;
        link.sleepUntilEvent(start, true);
    }
}

bool SendData2STM32(BootLink& link, const uint8_t* data, int n) {
    link.RecvCount = 0;
    QByteArray frame;
    frame.reserve(n + 2);
    frame.append(char(n - 1));
    frame.append(reinterpret_cast<const char*>(data), n);
    uint8_t sum = 0;
    for (char c : frame) sum ^= uint8_t(c);
    frame.append(char(sum));
    if (!link.writeFrame(frame, false)) return false;
    QElapsedTimer start;
    start.start();
    for (;;) {
        // This wait tests before it lets events run.
        if (link.RecvCount >= 1) {
            if (link.RecvBuf[0] == kAck) return true;
            link.host().showMessage(QStringLiteral("传送数据时应答为非ACK，应答值=") +
                                    BootLink::hexNoPad(link.RecvBuf[size_t(link.RecvCount - 1)]));
            return false;
        }
        if (link.lineGone()) {
            link.reportPortFailure();
            return false;
        }
        if (BootLink::timedOut(start) || link.StopFlag) return false;
        link.sleepUntilEvent(start, true);  // runs the pending events too
    }
}

bool WriteMemoryBlock(BootLink& link, uint32_t address, const uint8_t* data, int n) {
    return SendWriteMemoryCmd(link) && link.SendAbsMemoryAdd(address) &&
           SendData2STM32(link, data, n);
}

bool VerifyBlock(BootLink& link, uint32_t address, const uint8_t* data, int n,
                 const std::vector<bool>* compare) {
    if (!link.SendCmdWaitAck(0x11)) {
        link.ShowMsg(QStringLiteral("下发送命令失败"));
        return false;
    }
    if (!link.SendAbsMemoryAdd(address)) {
        link.ShowMsg(QStringLiteral("下发地址命令失败"));
        return false;
    }
    if (!link.SendReadCount(uint8_t(n - 1))) {
        link.ShowMsg(QStringLiteral("下发读个数失败"));
        return false;
    }
    if (!link.WaitForDataBytes(n)) {
        link.ShowMsg(QStringLiteral("超时."));
        return false;
    }
    if (link.RecvBuf[0] != kAck) {
        link.ShowMsg(QStringLiteral("非ACK应答，数据校验不正确."));
        return false;
    }
    for (int i = 0; i < n; ++i) {
        if ((!compare || (*compare)[size_t(i)]) && link.RecvBuf[size_t(i) + 1] != data[i]) {
            link.ShowMsg(QStringLiteral("数据校验不正确."));
            return false;
        }
    }
    return true;
}

bool DownLoad2STM32(BootLink& link, const AlignedBlock& block,
                    const std::function<bool()>& verify) {
    if (!WriteMemoryBlock(link, block.address, block.bytes.data(), int(block.bytes.size())))
        return false;
    if (!verify || !verify()) return true;
    const int first = block.firstGiven(), last = block.lastGiven();
    const std::vector<bool> compare(block.given.begin() + first, block.given.begin() + last + 1);
    return VerifyBlock(link, block.address + uint32_t(first), block.bytes.data() + first,
                       last - first + 1, &compare);
}

}  // namespace praxon
