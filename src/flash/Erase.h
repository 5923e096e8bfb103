#pragma once

namespace praxon {

class BootLink;

// Global erase: 43 BC, then FF 00, each acknowledged within the reply time limit. Logs and shows
// the outcome in panel 2.
bool MassErase(BootLink& link);

}  // namespace praxon
