// Connect: open the port, enter and synchronise the bootloader, identify the chip.
#include "EnginePrivate.h"
#include "LoaderLink.h"

namespace praxon {

bool Engine::Private::connect(const QString& port) {
    report(EventCode::ConnectBegun);
    target = TargetInfo();
    options.reset();
    optionsTried = false;
    link.setStopped(false);
    if (!link.openPort(port)) {
        Event e = event(EventCode::ConnectPortFailed);
        e.portError = link.openFailure().error;
        report(e);
        return false;
    }
    // A board wired for it is reset into its bootloader.
    if (lines.boot && !link.runLines(lines.boot->entry)) {
        report(EventCode::BoardSilent);
        return false;
    }
    const Reply sync = synchronise();
    if (!sync.ok()) {
        Event e = event(EventCode::BoardSilent);
        e.withReply(sync.status, sync.first);
        report(e);
        return false;
    }
    report(EventCode::Synchronised);
    report(EventCode::Connected);
    identify();
    askBootloader();
    learnFlashSize();
    // Compatible mode keeps the shortest sequence for an STM32F10x: the option bytes are read
    // before an erase instead, the unique ID not at all.
    if (fast() || !plainSequence()) {
        learnUniqueId();
        learnOptions();
    }
    link.reportReady(readable());
    return true;
}

Reply Engine::Private::synchronise() {
    Reply sync = link.sync();
    bool loaderTried = false;
    while (sync.status == ReplyStatus::Timeout) {
        // A bootloader that was synchronised before takes this 0x7F for a command byte and waits
        // for its complement: a second 0x7F is a wrong one, which it answers with NACK.
        const Reply again = link.sync();
        // An ACK now may be the first 0x7F's answer come late, which leaves the second one
        // pending as a command byte: not a state to go on from.
        if (again.status == ReplyStatus::Nack && again.last == kNack) {
            report(EventCode::AlreadySynchronised);
            sync = Reply{ReplyStatus::Ack, kAck, kAck};
            break;
        }
        // A wired board was just reset into its bootloader: no loader can run there.
        if (again.status != ReplyStatus::Timeout || loaderTried || lines.boot ||
            !resetLoaderFound())
            break;
        loaderTried = true;
        sync = link.sync();
    }
    return sync;
}

// A chip that ignores 0x7F may still run the turbo loader of an earlier session that ended
// without leaving it (the host killed, the line lost): when HELLO answers, the loader resets
// the chip into its ROM bootloader.
bool Engine::Private::resetLoaderFound() {
    flash::LoaderLink probe(link);
    probe.adoptRunning(lines.baudRate);
    if (!probe.resetChip(3, false)) return false;
    report(EventCode::LoaderFoundAtConnect);
    return link.pause(20'000'000);  // the ROM bootloader starts after the reset
}

void Engine::Private::identify() {
    uint16_t pid = 0;
    QByteArray id;
    const CommandResult r = GetId(link, &pid, &id);
    if (r.failed == Step::Command) {
        reportReason(EventCode::GetIdFailed, r);
        return;
    }
    if (!r.ok()) {
        report(EventCode::IdUnrecognised);
        return;
    }
    target.pid = pid;
    target.device = FindDevice(pid);
    Event e = event(EventCode::ChipIdentified);
    e.pid = pid;
    e.bytes = id;
    if (target.device) e.family = target.device->family;
    report(e);
}

// Get tells the protocol version and the commands, among them which erase the bootloader has.
// Compatible mode leaves it out for a chip that may be an STM32F10x.
void Engine::Private::askBootloader() {
    const DeviceInfo* dev = target.device;
    if (fast() || !plainSequence()) {
        uint8_t version = 0;
        std::vector<uint8_t> commands;
        const CommandResult r = GetCommands(link, &version, &commands);
        if (r.ok()) {
            target.version = version;
            target.commands = commands;
            if (fast() && !plainSequence())
                report(event(EventCode::BootloaderVersion).withValue(version));
        } else {
            reportReason(EventCode::GetFailed, r);
        }
    }
    const auto offers = [&](uint8_t c) {
        return std::find(target.commands.begin(), target.commands.end(), c) !=
               target.commands.end();
    };
    if (!target.commands.empty())
        target.eraseCommand = offers(opcode::kExtendedErase) ? opcode::kExtendedErase
                              : offers(opcode::kErase)       ? opcode::kErase
                                                             : 0;
    else if (dev)
        target.eraseCommand = dev->expectedEraseCommand();
    if (!target.version && dev) target.version = dev->protocol;
}

void Engine::Private::learnFlashSize() {
    const DeviceInfo* dev = target.device;
    std::optional<uint16_t> value;  // the size register's value
    bool unreadable = false;
    if (plainSequence()) {
        // Four bytes at the register; GD32 parts keep their RAM size in the upper two.
        uint8_t word[4] = {};
        if (readBlock(dev ? dev->flashSizeRegister : kF1FlashSizeRegister, 4, word)) {
            value = uint16_t(word[0] | word[1] << 8);
            const int ram = word[2] | word[3] << 8;
            target.ramSizeKB = ram == 0xFFFF || ram == 0 ? -1 : ram;
        } else {
            unreadable = true;
        }
    } else if (dev) {
        // The word around the value: some chips refuse reads of two bytes there.
        const uint32_t at = dev->flashSizeRegister & ~3u;
        uint8_t word[4] = {};
        const CommandResult r = ReadMemory(link, at, 4, word, false);
        if (r.ok()) {
            const int offset = int(dev->flashSizeRegister - at);
            value = uint16_t(word[offset] | (offset < 3 ? word[offset + 1] << 8 : 0));
        } else {
            unreadable = true;
            reportReason(EventCode::ReadReplyFailed, r, at);
        }
    }
    int kb = -1;
    if (value && dev) {
        switch (dev->sizeCoding) {
            case SizeCoding::Codes:
                for (const auto& [code, bytes] : dev->sizeCodes)
                    if (code == *value) kb = int(bytes / 1024);
                break;
            case SizeCoding::KiBLowByte:
                kb = *value & 0xFF;
                break;
            default:
                kb = *value;
                break;
        }
    } else if (value) {
        kb = *value;
    }
    // 0 and 0xFFFF (unprogrammed) say nothing: early L1 and some F103 clones read 0 there.
    if (kb == 0 || kb == 0xFFFF) kb = -1;
    if (flashOverrideKB > 0) {
        target.flashSizeKB = flashOverrideKB;
        Event e = event(EventCode::FlashSizeStated);
        e.flashKB = flashOverrideKB;
        report(e);
    } else if (kb > 0) {
        target.flashSizeKB = kb;
    } else if (dev && !(unreadable && plainSequence() && !fast())) {
        // Compatible mode leaves an unreadable STM32F10x register unknown.
        target.flashSizeKB = int(dev->maxFlashBytes / 1024);
        target.flashSizeAssumed = true;
        Event e = event(EventCode::FlashSizeAssumed);
        e.flashKB = target.flashSizeKB;
        if (value) e.value = *value;
        report(e);
    }
    if (target.flashSizeKB < 1) {
        report(target.pid && !dev ? EventCode::FlashSizeUnknownChip : EventCode::FlashSizeUnknown);
        return;
    }
    Event e = event(EventCode::FlashSize);
    e.flashKB = target.flashSizeKB;
    e.ramKB = target.ramSizeKB;
    report(e);
}

}  // namespace praxon
