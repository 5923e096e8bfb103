#include "Commands.h"

namespace praxon {
namespace {

CommandResult failed(Step step, const Reply& reply) {
    CommandResult r;
    r.failed = step;
    r.reply = reply;
    return r;
}

// The address frame; a refusal is shown with the last byte received, as the original tool did.
Reply SendAddress(BootLink& link, uint32_t address) {
    const Reply reply = link.frame(BootLink::addressFrame(address), ReplyRule::FirstByte);
    if (reply.status == ReplyStatus::Nack)
        link.host().showMessage(QStringLiteral("传送地址时应答为非ACK，应答值=") +
                                BootLink::hexNoPad(reply.last));
    return reply;
}

QByteArray CommandFrame(uint8_t command) {
    QByteArray frame;
    frame.append(char(command));
    frame.append(char(command ^ 0xFF));
    return frame;
}

}  // namespace

CommandResult ReadMemory(BootLink& link, uint32_t address, int n, uint8_t* out) {
    Reply reply = link.command(0x11);
    if (!reply.ok()) return failed(Step::Command, reply);
    reply = SendAddress(link, address);
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

CommandResult WriteMemory(BootLink& link, uint32_t address, const uint8_t* data, int n) {
    Reply reply = link.command(0x31);
    if (!reply.ok()) {
        // The chip refuses writes (readout protection): the connection is of no further use.
        if (reply.status == ReplyStatus::Nack && reply.first == kNack)
            link.enableCommands(false, false);
        return failed(Step::Command, reply);
    }
    reply = SendAddress(link, address);
    if (!reply.ok()) return failed(Step::Address, reply);
    QByteArray frame;
    frame.reserve(n + 2);
    frame.append(char(n - 1));
    frame.append(reinterpret_cast<const char*>(data), n);
    reply = link.frame(BootLink::withChecksum(frame), ReplyRule::FirstByte);
    if (reply.status == ReplyStatus::Nack)
        link.host().showMessage(QStringLiteral("传送数据时应答为非ACK，应答值=") +
                                BootLink::hexNoPad(reply.last));
    if (!reply.ok()) return failed(Step::Data, reply);
    return {};
}

CommandResult EraseAll(BootLink& link) {
    Reply reply = link.command(0x43);
    if (!reply.ok()) return failed(Step::Command, reply);
    reply = link.command(0xFF);
    if (!reply.ok()) return failed(Step::Data, reply);
    return {};
}

CommandResult ErasePages(BootLink& link, const std::vector<uint32_t>& pages, qint64 pageTimeNs) {
    Reply reply = link.command(0x43);
    if (!reply.ok()) return failed(Step::Command, reply);
    QByteArray frame;
    frame.append(char(pages.size() - 1));
    for (uint32_t page : pages) frame.append(char(page));
    // The chip answers once every page is erased.
    const qint64 limit = link.replyTimeout() + pageTimeNs * qint64(pages.size());
    reply = link.frame(BootLink::withChecksum(frame), ReplyRule::FirstByte, 0, limit);
    if (!reply.ok()) return failed(Step::Data, reply);
    return {};
}

CommandResult Go(BootLink& link, uint32_t address) {
    const Reply reply = link.command(0x21);
    if (!reply.ok()) return failed(Step::Command, reply);
    link.send(BootLink::addressFrame(address));
    return {};
}

CommandResult GetId(BootLink& link, uint16_t* pid, QString* idText) {
    Reply reply;
    if (link.quietReplies()) {
        reply = link.command(0x02, ReplyRule::Quiet);
    } else {
        // ACK and the count byte first, then count + 1 identity bytes and the closing ACK.
        reply = link.frame(CommandFrame(0x02), ReplyRule::AckAndData, 1);
        if (reply.ok()) reply = link.awaitData(link.received()[1] + 3);
    }
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
    QString text;
    for (int i = 2; i < 2 + idBytes; ++i) text += BootLink::hex2(r[i]);
    if (idText) *idText = text;
    if (pid) *pid = uint16_t(r[2] << 8 | r[3]);
    return {};
}

CommandResult ReadoutProtect(BootLink& link) {
    const Reply reply = link.command(0x82);
    if (!reply.ok()) return failed(Step::Command, reply);
    return {};
}

CommandResult ReadoutUnprotect(BootLink& link) {
    const Reply reply = link.command(0x92);
    if (!reply.ok()) return failed(Step::Command, reply);
    return {};
}

}  // namespace praxon
