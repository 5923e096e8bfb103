#pragma once

#include <cstdint>

namespace praxon {

class BootLink;

// The address frame that follows an acknowledged Go command (21 DE): four address bytes, most
// significant first, and their XOR. The answer is not read; a failed write goes unreported.
void SendGoAddress(BootLink& link, uint32_t address);
// Go command then address frame. True when the command was acknowledged.
bool Go(BootLink& link, uint32_t address);

}  // namespace praxon
