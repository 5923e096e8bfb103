#pragma once

namespace praxon {

class BootLink;

// Readout Protect (82 7D) and Readout Unprotect (92 6D); only the ACK of the command is awaited.
// Both take effect on the chip after its next reset.
bool SendReadProtect(BootLink& link);
bool SendReadUnprotect(BootLink& link);

}  // namespace praxon
