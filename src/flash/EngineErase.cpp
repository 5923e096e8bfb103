// Erase planning: the whole flash, or the pages and sectors a range or an image covers, with a
// bank erase for a bank covered whole.
#include "EnginePrivate.h"

namespace praxon {
namespace {

// Page numbers one command carries at most: Erase's count is a byte; Extended Erase's was
// refused above 511 by some chips.
constexpr size_t kPagesPerErase = 255;
constexpr size_t kPagesPerExtendedErase = 511;

}  // namespace

// The whole flash: one command where the bootloader has it, unit by unit where not (L0, L1).
bool Engine::Private::eraseChip(std::vector<AddressRange>* erased) {
    const DeviceInfo* dev = target.device;
    const AddressRange flash{dev->flashBase, uint64_t(dev->flashBase) + flashExtent()};
    if (dev->massErase) {
        if (!massErase()) return false;
        if (erased) erased->push_back(flash);
        return true;
    }
    const uint32_t bytes = flashBytes();
    const std::vector<uint32_t> units =
        dev->unitsCovering({dev->flashBase, uint64_t(dev->flashBase) + bytes}, bytes);
    if (!eraseUnits(units, true)) return false;
    for (uint32_t unit : units)
        if (erased) erased->push_back(dev->unit(unit, bytes));
    return true;
}

bool Engine::Private::massErase() {
    if (target.eraseCommand == 0) {
        report(EventCode::EraseCommandMissing);
        return false;
    }
    const CommandResult r =
        MassErase(link, target.eraseCommand,
                  timeout::kSlowFlashMargin * target.device->massEraseMs * 1'000'000);
    if (r.failed != Step::Command) report(EventCode::ChipEraseBegun);
    if (r.ok()) {
        report(EventCode::Erased);
        return true;
    }
    return eraseFailed(r);
}

bool Engine::Private::eraseFailed(const CommandResult& r) {
    report(EventCode::EraseFailed);
    reportReason(EventCode::EraseReplyFailed, r);
    return false;
}

// Units by number; a bank they cover whole goes with one bank erase.
bool Engine::Private::eraseUnits(const std::vector<uint32_t>& units, bool wholeChip) {
    const DeviceInfo* dev = target.device;
    const uint8_t code = target.eraseCommand;
    if (code == 0) {
        report(EventCode::EraseCommandMissing);
        return false;
    }
    // Where an option bit decides the banks and it is unknown, page numbers would be guesses.
    const std::optional<uint32_t> bank2 = bank2Address();
    if (!bank2) {
        report(EventCode::BankLayoutUnknown);
        return false;
    }
    const uint32_t bytes = flashBytes();
    const auto number = [&](uint32_t unit) {
        return dev->eraseNumber(unit, bytes, flashSizeKnown());
    };
    if (code == opcode::kErase && number(units.back()) > 0xFF) {
        report(event(EventCode::PageOutOfRange).withValue(number(units.back())));
        return false;
    }
    if (wholeChip)
        report(EventCode::ChipEraseBegun);
    else
        report(event(EventCode::PagesEraseBegun).withValue(qint64(units.size())));
    std::vector<uint32_t> rest = units;
    const qint64 bankEraseNs = timeout::kSlowFlashMargin * dev->massEraseMs * 1'000'000;
    if (code == opcode::kExtendedErase && dev->massErase && *bank2) {
        const uint64_t end = uint64_t(dev->flashBase) + bytes;
        const std::vector<uint32_t> banks[2] = {dev->unitsCovering({dev->flashBase, *bank2}, bytes),
                                                dev->unitsCovering({*bank2, end}, bytes)};
        for (int bank = 1; bank <= 2; ++bank) {
            const std::vector<uint32_t>& whole = banks[bank - 1];
            if (whole.empty() ||
                !std::includes(rest.begin(), rest.end(), whole.begin(), whole.end()))
                continue;
            const CommandResult r = BankErase(link, bank, bankEraseNs);
            if (!r.ok()) return eraseFailed(r);
            std::vector<uint32_t> left;
            std::set_difference(rest.begin(), rest.end(), whole.begin(), whole.end(),
                                std::back_inserter(left));
            rest.swap(left);
        }
    }
    const size_t perCommand = code == opcode::kErase ? kPagesPerErase : kPagesPerExtendedErase;
    for (size_t i = 0; i < rest.size(); i += perCommand) {
        const std::vector<uint32_t> part(
            rest.begin() + long(i), rest.begin() + long(std::min(rest.size(), i + perCommand)));
        qint64 eraseNs = 0;
        std::vector<uint32_t> numbers;
        for (uint32_t unit : part) {
            eraseNs += timeout::kSlowFlashMargin * dev->unitEraseNs(unit, flashExtent());
            numbers.push_back(number(unit));
        }
        const CommandResult r = ErasePages(link, code, numbers, eraseNs);
        if (!r.ok()) return eraseFailed(r);
    }
    report(EventCode::Erased);
    return true;
}

}  // namespace praxon
