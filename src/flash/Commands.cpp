#include "Commands.h"

namespace praxon {
namespace {

CommandResult failed(Step step, const Reply& reply) {
    CommandResult r;
    r.failed = step;
    r.reply = reply;
    return r;
}

// The address frame; a refusal is reported with the last byte received.
Reply SendAddress(BootLink& link, uint32_t address, bool showRefusal = true) {
    const Reply reply = link.frame(BootLink::addressFrame(address), ReplyRule::FirstByte);
    if (showRefusal && reply.status == ReplyStatus::Nack) {
        Event e(EventCode::AddressRefused);
        e.address = address;
        e.actual = reply.last;
        link.report(e);
    }
    return reply;
}

QByteArray CommandFrame(uint8_t command) {
    QByteArray frame;
    frame.append(char(command));
    frame.append(char(command ^ 0xFF));
    return frame;
}

// A command answered with ACK, then with a second ACK once the chip's work is done.
CommandResult TwoAcks(BootLink& link, uint8_t command, qint64 workNs) {
    Reply reply = link.command(command);
    if (!reply.ok()) return failed(Step::Command, reply);
    reply = link.awaitNextReply(link.replyTimeout() + workNs);
    if (!reply.ok()) return failed(Step::Data, reply);
    return {};
}

}  // namespace

CommandResult ReadMemory(BootLink& link, uint32_t address, int n, uint8_t* out, bool showRefusal) {
    Reply reply = link.command(opcode::kReadMemory);
    if (!reply.ok()) return failed(Step::Command, reply);
    reply = SendAddress(link, address, showRefusal);
    if (!reply.ok()) return failed(Step::Address, reply);
    // The count goes out as a byte and its complement.
    if (link.quietReplies()) {
        reply = link.command(uint8_t(n - 1), ReplyRule::Quiet);
        if (!reply.ok()) return failed(Step::Count, reply);
        reply = link.awaitData(n);
    } else {
        reply = link.frame(CommandFrame(uint8_t(n - 1)), ReplyRule::AckAndData, n);
        // A first byte other than ACK is the count refused.
        if (reply.status == ReplyStatus::Nack) return failed(Step::Count, reply);
    }
    if (!reply.ok()) return failed(Step::Data, reply);
    std::copy(link.received() + 1, link.received() + 1 + n, out);
    return {};
}

CommandResult WriteMemory(BootLink& link, uint32_t address, const uint8_t* data, int n,
                          qint64 writeNs) {
    Reply reply = link.command(opcode::kWriteMemory);
    if (!reply.ok()) {
        // The chip refuses writes (readout protection): the connection is of no further use.
        if (reply.status == ReplyStatus::Nack && reply.first == kNack) link.reportClosed();
        return failed(Step::Command, reply);
    }
    reply = SendAddress(link, address);
    if (!reply.ok()) return failed(Step::Address, reply);
    QByteArray frame;
    frame.reserve(n + 2);
    frame.append(char(n - 1));
    frame.append(reinterpret_cast<const char*>(data), n);
    reply = link.frame(BootLink::withChecksum(frame), ReplyRule::FirstByte, 0,
                       link.replyTimeout() + writeNs);
    if (reply.status == ReplyStatus::Nack) {
        Event e(EventCode::DataRefused);
        e.address = address;
        e.actual = reply.last;
        link.report(e);
    }
    if (!reply.ok()) return failed(Step::Data, reply);
    return {};
}

CommandResult MassErase(BootLink& link, uint8_t opcode, qint64 eraseNs) {
    Reply reply = link.command(opcode);
    if (!reply.ok()) return failed(Step::Command, reply);
    const QByteArray code =
        opcode == opcode::kErase ? QByteArray("\xFF\x00", 2) : QByteArray("\xFF\xFF\x00", 3);
    reply = link.frame(code, link.defaultRule(), 0, link.replyTimeout() + eraseNs);
    if (!reply.ok()) return failed(Step::Data, reply);
    return {};
}

CommandResult BankErase(BootLink& link, int bank, qint64 eraseNs) {
    Reply reply = link.command(opcode::kExtendedErase);
    if (!reply.ok()) return failed(Step::Command, reply);
    const QByteArray code =
        bank == 1 ? QByteArray("\xFF\xFE\x01", 3) : QByteArray("\xFF\xFD\x02", 3);
    reply = link.frame(code, link.defaultRule(), 0, link.replyTimeout() + eraseNs);
    if (!reply.ok()) return failed(Step::Data, reply);
    return {};
}

CommandResult ErasePages(BootLink& link, uint8_t opcode, const std::vector<uint32_t>& pages,
                         qint64 eraseNs) {
    Reply reply = link.command(opcode);
    if (!reply.ok()) return failed(Step::Command, reply);
    QByteArray frame;
    const auto n = uint32_t(pages.size() - 1);
    if (opcode == opcode::kErase) {
        frame.append(char(n));
        for (uint32_t page : pages) frame.append(char(page));
    } else {
        frame.append(char(n >> 8));
        frame.append(char(n));
        for (uint32_t page : pages) {
            frame.append(char(page >> 8));
            frame.append(char(page));
        }
    }
    // The chip answers once every page is erased.
    reply = link.frame(BootLink::withChecksum(frame), ReplyRule::FirstByte, 0,
                       link.replyTimeout() + eraseNs);
    if (!reply.ok()) return failed(Step::Data, reply);
    return {};
}

CommandResult Go(BootLink& link, uint32_t address) {
    Reply reply = link.command(opcode::kGo);
    if (!reply.ok()) return failed(Step::Command, reply);
    // The chip acknowledges an address it can jump to and then leaves the bootloader; a refused
    // one leaves it waiting for the next command. The first byte decides: the started program
    // may talk on the line at once.
    reply = link.frame(BootLink::addressFrame(address), ReplyRule::FirstByte);
    if (!reply.ok()) return failed(Step::Address, reply);
    return {};
}

// A command answered with ACK, a count N, N + 1 bytes and a closing ACK (Get, Get ID). Fast mode
// reads the ACK and the count first, then waits for exactly the rest.
static Reply CountedReply(BootLink& link, uint8_t command) {
    if (link.quietReplies()) return link.command(command, ReplyRule::Quiet);
    Reply reply = link.frame(CommandFrame(command), ReplyRule::AckAndData, 1);
    if (reply.ok()) reply = link.awaitData(link.received()[1] + 3);
    return reply;
}

CommandResult GetId(BootLink& link, uint16_t* pid, QByteArray* id) {
    const Reply reply = CountedReply(link, opcode::kGetId);
    if (!reply.ok()) return failed(Step::Command, reply);
    const uint8_t* r = link.received();
    const int count = link.receivedCount();
    // Four identity bytes (79 03 b b b b 79), or the two a real F10x sends (79 01 b b 79). The
    // count check keeps bytes of an earlier reply from being taken for this one.
    int idBytes = 0;
    if (count >= 7 && r[1] == 0x03 && r[6] == kAck)
        idBytes = 4;
    else if (count >= 5 && r[1] == 0x01 && r[4] == kAck)
        idBytes = 2;
    if (idBytes == 0) {
        Reply bad;
        bad.status = ReplyStatus::Nack;
        bad.first = r[0];
        bad.last = r[count - 1];
        return failed(Step::Data, bad);
    }
    if (id) *id = QByteArray(reinterpret_cast<const char*>(r + 2), idBytes);
    if (pid) *pid = uint16_t(r[2] << 8 | r[3]);
    return {};
}

CommandResult GetCommands(BootLink& link, uint8_t* version, std::vector<uint8_t>* commands) {
    const Reply reply = CountedReply(link, opcode::kGet);
    if (!reply.ok()) return failed(Step::Command, reply);
    const uint8_t* r = link.received();
    const int count = link.receivedCount();
    const int codes = count >= 2 ? r[1] : 0;
    if (count < codes + 4 || r[codes + 3] != kAck) {
        Reply bad;
        bad.status = ReplyStatus::Nack;
        bad.first = r[0];
        bad.last = r[count - 1];
        return failed(Step::Data, bad);
    }
    if (version) *version = r[2];
    if (commands) commands->assign(r + 3, r + 3 + codes);
    return {};
}

CommandResult ReadoutProtect(BootLink& link, qint64 workNs) {
    return TwoAcks(link, opcode::kReadoutProtect, workNs);
}

CommandResult ReadoutUnprotect(BootLink& link, qint64 workNs) {
    return TwoAcks(link, opcode::kReadoutUnprotect, workNs);
}

CommandResult WriteProtect(BootLink& link, const std::vector<uint8_t>& codes, qint64 workNs) {
    Reply reply = link.command(opcode::kWriteProtect);
    if (!reply.ok()) return failed(Step::Command, reply);
    QByteArray frame;
    frame.append(char(codes.size() - 1));
    for (uint8_t code : codes) frame.append(char(code));
    reply = link.frame(BootLink::withChecksum(frame), link.defaultRule(), 0,
                       link.replyTimeout() + workNs);
    if (!reply.ok()) return failed(Step::Data, reply);
    return {};
}

CommandResult WriteUnprotect(BootLink& link, qint64 workNs) {
    return TwoAcks(link, opcode::kWriteUnprotect, workNs);
}

}  // namespace praxon
