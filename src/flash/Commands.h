#pragma once

#include <cstdint>
#include <vector>

#include "BootLink.h"

// The bootloader commands, each one transaction on the link with a typed result. The reply
// rules follow the link's mode; refused address and data frames are reported here, the rest is
// left to the operations.
namespace praxon {

struct CommandResult {
    Step failed = Step::None;
    Reply reply;  // of the failed step
    bool ok() const { return failed == Step::None; }
};

// Read Memory: n (1 to 256) bytes at address into out. showRefusal: a refused address is
// reported (AddressRefused) with the last byte received.
CommandResult ReadMemory(BootLink& link, uint32_t address, int n, uint8_t* out,
                         bool showRefusal = true);
// Write Memory: n (1 to 256) bytes at address; the data's answer may come writeNs after the reply
// limit. A NACK to the command ends the connection.
CommandResult WriteMemory(BootLink& link, uint32_t address, const uint8_t* data, int n,
                          qint64 writeNs = 0);
// Erase of the whole flash: 43 BC, FF 00 (Erase) or 44 BB, FF FF 00 (Extended Erase). The answer
// may come eraseNs after the reply limit.
CommandResult MassErase(BootLink& link, uint8_t opcode, qint64 eraseNs);
// Extended Erase of bank 1 (FF FE 01) or bank 2 (FF FD 02).
CommandResult BankErase(BootLink& link, int bank, qint64 eraseNs);
// Erase of the listed pages or sectors: with 0x43 one byte each (at most 255, numbers below 256),
// with 0x44 two bytes each, most significant first (at most 511 go in one command here).
CommandResult ErasePages(BootLink& link, uint8_t opcode, const std::vector<uint32_t>& pages,
                         qint64 eraseNs);
// Go: 21 DE acknowledged, then the address frame, whose answer says whether the chip jumps
// (ACK) or refused the address (Step::Address).
CommandResult Go(BootLink& link, uint32_t address);
// Get ID: the product ID, from the two-byte answer of the chip or a four-byte one (idBytes: the
// bytes as the chip sent them).
CommandResult GetId(BootLink& link, uint16_t* pid, QByteArray* idBytes);
// Get: the protocol version byte (0x31 = 3.1) and the command codes the bootloader offers.
CommandResult GetCommands(BootLink& link, uint8_t* version, std::vector<uint8_t>* commands);
// Readout Protect (82 7D) and Readout Unprotect (92 6D): the command's ACK, then the second one
// after the option-byte work (and, for Unprotect, the erase), which may take workNs.
CommandResult ReadoutProtect(BootLink& link, qint64 workNs);
CommandResult ReadoutUnprotect(BootLink& link, qint64 workNs);
// Write Protect (63 9C): the count and group codes with their checksum, answered with the
// second ACK once the option bytes are written; the chip then resets. codes: 1 to 256.
CommandResult WriteProtect(BootLink& link, const std::vector<uint8_t>& codes, qint64 workNs);
// Write Unprotect (73 8C): two ACKs, then the chip resets.
CommandResult WriteUnprotect(BootLink& link, qint64 workNs);

}  // namespace praxon
