#pragma once

#include <cstdint>
#include <vector>

#include "BootLink.h"

// The bootloader commands, each one transaction on the link with a typed result. The reply
// rules follow the link's mode; message boxes for refused address and data frames are shown
// here, log lines are left to the operations.
namespace praxon {

// Which step of a transaction failed.
enum class Step { None, Command, Address, Count, Data };

struct CommandResult {
    Step failed = Step::None;
    Reply reply;  // of the failed step
    bool ok() const { return failed == Step::None; }
};

// Read Memory: n (1 to 256) bytes at address into out.
CommandResult ReadMemory(BootLink& link, uint32_t address, int n, uint8_t* out);
// Write Memory: n (1 to 256) bytes at address. A NACK to the command ends the connection.
CommandResult WriteMemory(BootLink& link, uint32_t address, const uint8_t* data, int n);
// Global erase: 43 BC, then FF 00.
CommandResult EraseAll(BootLink& link);
// Erase of the listed pages (at most 255 page numbers below 256 per call), waiting for each
// page as long as pageTimeNs on top of the reply limit.
CommandResult ErasePages(BootLink& link, const std::vector<uint32_t>& pages, qint64 pageTimeNs);
// Go: 21 DE acknowledged, then the address frame (its answer is not read).
CommandResult Go(BootLink& link, uint32_t address);
// Get ID: the product ID, from the two-byte answer of the chip or a four-byte one.
CommandResult GetId(BootLink& link, uint16_t* pid, QString* idText);
// Readout Protect (82 7D) and Readout Unprotect (92 6D): the command's ACK.
CommandResult ReadoutProtect(BootLink& link);
CommandResult ReadoutUnprotect(BootLink& link);

}  // namespace praxon
