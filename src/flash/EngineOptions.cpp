// Option bytes: reading and decoding them, writing edits, Write Protect and Write Unprotect, the
// reconnect after the chip's reset that loads them, and what connect learns from them (unique
// ID, bank layout, protected units).
#include <QElapsedTimer>
#include <set>

#include "EnginePrivate.h"

namespace praxon {
namespace {

// The chip needs a moment after its last ACK to reset and start its bootloader again.
constexpr qint64 kResetSettleNs = 100'000'000;
// Between two syncs while waiting for a reset by hand.
constexpr qint64 kResetPollNs = 200'000'000;

uint32_t FieldMask(int width) {
    return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// What connect learns

void Engine::Private::learnUniqueId() {
    const DeviceInfo* dev = target.device;
    if (!dev || !dev->hasUid()) return;
    const auto& words = dev->uidWords;
    std::vector<uint8_t> id(12);
    CommandResult r;
    uint32_t at = words[0];
    if (words[1] == words[0] + 4 && words[2] == words[0] + 8) {
        r = ReadMemory(link, at, 12, id.data(), false);
    } else {
        for (size_t i = 0; i < 3 && r.ok(); ++i) {
            at = words[i];
            r = ReadMemory(link, at, 4, id.data() + 4 * i, false);
        }
    }
    if (!r.ok()) {
        // A readout-protected chip refuses every read: not a failed connect.
        Event e = event(EventCode::UniqueIdUnreadable).at(at);
        e.step = r.failed;
        e.withReply(r.reply.status, r.reply.first);
        report(e);
        return;
    }
    target.uniqueId = id;
    Event e = event(EventCode::UniqueId).at(words[0]);
    e.bytes = QByteArray(reinterpret_cast<const char*>(id.data()), int(id.size()));
    report(e);
}

std::vector<FlashUnit> Engine::Private::flashUnits() const {
    const DeviceInfo* dev = target.device;
    std::vector<FlashUnit> units;
    if (!dev || target.flashSizeKB < 1 || !dev->unitsKnown(flashBytes(), flashSizeKnown()))
        return units;
    const uint32_t bytes = flashBytes();
    for (uint32_t index :
         dev->unitsCovering({dev->flashBase, uint64_t(dev->flashBase) + bytes}, bytes)) {
        const AddressRange unit = dev->unit(index, bytes);
        units.push_back({unit.begin - dev->flashBase, uint32_t(unit.end - unit.begin)});
    }
    return units;
}

Engine::Private::OptionsRead Engine::Private::fetchOptions(bool loud) {
    optionsTried = true;
    const DeviceInfo* dev = target.device;
    const OptionLayout* layout = dev ? FindOptionLayout(*dev) : nullptr;
    if (!layout || dev->optionBytes == 0 || layout->size > 256) {
        if (loud) {
            Event e = event(EventCode::OptionBytesUnsupported);
            if (dev) e.family = dev->family;
            report(e);
        }
        options.reset();
        applyBankLayout();
        return OptionsRead::Unsupported;
    }
    std::vector<uint8_t> raw(layout->size);
    const CommandResult r = ReadMemory(link, dev->optionBytes, int(raw.size()), raw.data(), false);
    if (!r.ok()) {
        // The bootloader of a readout-protected chip refuses Read Memory itself.
        const bool refused = r.failed == Step::Command && r.reply.status == ReplyStatus::Nack;
        if (loud) {
            Event e =
                event(refused ? EventCode::OptionBytesProtected : EventCode::OptionBytesReadFailed)
                    .at(dev->optionBytes);
            if (!refused) {
                e.step = r.failed;
                e.withReply(r.reply.status, r.reply.first);
            }
            report(e);
        }
        options.reset();
        applyBankLayout();
        return refused ? OptionsRead::Protected : OptionsRead::Failed;
    }
    OptionBytesState state;
    state.layout = layout;
    state.address = dev->optionBytes;
    state.raw = raw;
    state.fields = DecodeOptionBytes(*dev, *layout, raw);
    state.readoutLevel = ReadoutLevel(*layout, raw);
    for (const OptionField& f : layout->fields)
        if (f.kind == OptionKind::Bank && f.appliesTo(dev->pid))
            state.dualBank = OptionFieldValue(f, raw) != 0;
    options = std::move(state);
    // The units the protection is counted in may follow from these very bytes.
    applyBankLayout();
    const std::vector<FlashUnit> units = flashUnits();
    options->unitsKnown = !units.empty();
    const std::vector<bool> isProtected = ProtectedUnits(*layout, dev->pid, units, raw);
    for (size_t i = 0; i < isProtected.size(); ++i)
        if (isProtected[i]) options->protectedUnits.push_back(uint32_t(i));
    return OptionsRead::Ok;
}

void Engine::Private::applyBankLayout() {
    banksFromOptions = banksUnknown = false;
    const DeviceInfo* table = target.pid ? FindDevice(*target.pid) : nullptr;
    if (!table) return;
    target.device = table;
    const uint32_t bytes = flashBytes();
    if (!OptionsDecideBanks(*table, bytes)) return;
    banksFromOptions = true;
    // A size taken for the line's largest may be wrong, and with it the layout.
    const BankLayoutRule* rule =
        options && flashSizeKnown()
            ? FindBankLayout(*options->layout, table->pid, bytes, options->raw)
            : nullptr;
    if (rule) {
        optionLayout = DeviceInfo(WithBankLayout(*table, *rule));
    } else {
        optionLayout = *table;
        optionLayout.units.clear();
        optionLayout.bank2 = 0;
        optionLayout.bank2AtHalf = optionLayout.bank2AtMaxOnly = false;
        banksUnknown = true;
    }
    target.device = &optionLayout;
}

void Engine::Private::learnOptions() {
    const DeviceInfo* dev = target.device;
    if (!dev) return;
    if (fetchOptions(false) == OptionsRead::Ok) reportProtection();
    if (!target.device->bank2AtMaxOnly && !banksFromOptions) return;
    const std::optional<uint32_t> bank2 = bank2Address();
    Event e = event(bank2 ? EventCode::BankLayout : EventCode::BankLayoutUnknown);
    if (bank2) {
        e.value = *bank2 ? 2 : 1;
        e.address = *bank2;
    }
    report(e);
}

void Engine::Private::reportProtection() {
    const DeviceInfo* dev = target.device;
    if (!options || !dev) return;
    const std::vector<FlashUnit> units = flashUnits();
    // Without the erase units nothing can be said of their protection.
    if (units.empty()) return;
    Event summary = event(EventCode::WriteProtection);
    summary.value = qint64(options->protectedUnits.size());
    summary.total = qint64(units.size());
    report(summary);
    const std::vector<uint32_t>& p = options->protectedUnits;
    for (size_t i = 0; i < p.size();) {
        size_t j = i;
        while (j + 1 < p.size() && p[j + 1] == p[j] + 1) ++j;
        Event e = event(EventCode::WriteProtectedRange).at(dev->flashBase + units[p[i]].offset);
        e.value = qint64(units[p[j]].offset) + units[p[j]].size - units[p[i]].offset;
        e.done = p[i];
        e.total = p[j];
        report(e);
        i = j + 1;
    }
}

std::optional<uint32_t> Engine::Private::bank2Address() const {
    const DeviceInfo* dev = target.device;
    const uint32_t bytes = flashBytes();
    if (banksUnknown) return std::nullopt;
    if (dev->bank2AtMaxOnly && !(flashSizeKnown() && bytes == dev->maxFlashBytes)) {
        if (!options || !options->dualBank) return std::nullopt;
        return dev->flashBase + bytes / 2;
    }
    return dev->bank2Address(bytes, flashSizeKnown());
}

bool Engine::Private::refuseProtected(const std::vector<uint32_t>& units) {
    if (!options || options->protectedUnits.empty()) return false;
    std::vector<uint32_t> hit;
    std::set_intersection(units.begin(), units.end(), options->protectedUnits.begin(),
                          options->protectedUnits.end(), std::back_inserter(hit));
    if (hit.empty()) return false;
    const std::vector<FlashUnit> all = flashUnits();
    Event e = event(EventCode::UnitsWriteProtected);
    if (hit.front() < all.size()) e.address = target.device->flashBase + all[hit.front()].offset;
    e.value = qint64(hit.size());
    e.text = QString::fromStdString(UnitRuns(hit));
    report(e);
    return true;
}

bool Engine::Private::refuseProtectedUnits(const std::optional<std::vector<uint32_t>>& units) {
    if (!optionsTried) fetchOptions(false);
    if (units) return refuseProtected(*units);
    std::vector<uint32_t> all(flashUnits().size());
    for (uint32_t i = 0; i < all.size(); ++i) all[i] = i;
    return refuseProtected(all);
}

bool Engine::Private::refuseProtectedUnits(const FirmwareImage& image, EraseScope scope) {
    const DeviceInfo* dev = target.device;
    if (scope == EraseScope::Chip) return refuseProtectedUnits(std::nullopt);
    // Writing alone erases nothing: the options read at connect suffice.
    if (scope == EraseScope::None && !options) return false;
    if (!dev->unitsKnown(flashBytes(), flashSizeKnown())) return false;
    return refuseProtectedUnits(dev->unitsTouched(image, flashExtent()));
}

// ---------------------------------------------------------------------------------------------
// After the chip's reset

bool Engine::Private::reconnectAfterReset() {
    report(EventCode::ChipResetting);
    link.reportClosed();
    Reply sync;
    if (lines.boot) {
        if (!link.runLines(lines.boot->entry)) {
            report(EventCode::ReconnectFailed);
            return false;
        }
        sync = link.sync();
    } else {
        // A board whose BOOT0 is held high comes back into its bootloader by itself.
        for (int attempt = 0; attempt < 2 && !sync.ok(); ++attempt) {
            if (!link.pause(kResetSettleNs)) break;
            sync = link.sync();
        }
        if (!sync.ok() && !link.stopped()) {
            report(event(EventCode::ResetBoardRequest).withValue(resetWaitNs / 1'000'000'000));
            QElapsedTimer waited;
            waited.start();
            while (!sync.ok() && !link.stopped() && waited.nsecsElapsed() < resetWaitNs) {
                QElapsedTimer attempt;
                attempt.start();
                sync = link.sync();
                // A quick refusal must not turn the wait into a busy loop.
                if (!sync.ok() && attempt.nsecsElapsed() < kResetPollNs &&
                    !link.pause(kResetPollNs - attempt.nsecsElapsed()))
                    break;
            }
        }
    }
    if (!sync.ok()) {
        report(EventCode::ReconnectFailed);
        return false;
    }
    report(EventCode::Synchronised);
    link.reportReady(readable());
    return true;
}

// ---------------------------------------------------------------------------------------------
// Operations

std::optional<OptionBytesState> Engine::readOptionBytes() {
    Private::Running run(*d, Operation::OptionBytes);
    if (run.refused()) return std::nullopt;
    d->link.setStopped(false);
    if (d->refuseUnknownChip() || d->fetchOptions(true) != Private::OptionsRead::Ok)
        return std::nullopt;
    const OptionBytesState& state = *d->options;
    Event read = d->event(EventCode::OptionBytesRead).at(state.address);
    read.value = state.readoutLevel;
    read.text = QString::fromStdString(state.layout->name);
    read.bytes = QByteArray(reinterpret_cast<const char*>(state.raw.data()), int(state.raw.size()));
    d->report(read);
    for (const DecodedOption& field : state.fields) {
        Event e = d->event(EventCode::OptionFieldValue).withValue(field.value);
        e.text = QString::fromStdString(field.name);
        e.detail = QString::fromStdString(field.meaning);
        d->report(e);
    }
    d->reportProtection();
    run.end(true);
    return state;
}

bool Engine::writeOptionBytes(const std::vector<std::string>& edits, bool allowPermanent) {
    Private::Running run(*d, Operation::OptionWrite);
    if (run.refused()) return false;
    BootLink& link = d->link;
    link.setStopped(false);
    if (d->refuseUnknownChip() || d->fetchOptions(true) != Private::OptionsRead::Ok) return false;
    const DeviceInfo& dev = *d->target.device;
    const OptionLayout& layout = *d->options->layout;
    if (layout.readOnly) {
        Event e = d->event(EventCode::OptionBytesReadOnly);
        e.family = dev.family;
        d->report(e);
        return false;
    }
    // Each edit checked here, so that every refusal is an event with its data.
    for (const std::string& edit : edits) {
        const size_t eq = edit.find('=');
        if (eq == std::string::npos || eq == 0) {
            d->report(
                d->event(EventCode::OptionEditMalformed).withText(QString::fromStdString(edit)));
            return false;
        }
        const std::string name = edit.substr(0, eq);
        const OptionField* field = FindOptionField(layout, dev.pid, name);
        if (!field) {
            QStringList names;
            for (const OptionField& f : layout.fields)
                if (f.appliesTo(dev.pid)) names << QString::fromStdString(f.name);
            Event e = d->event(EventCode::OptionNameUnknown).withText(QString::fromStdString(name));
            e.detail = names.join(',');
            d->report(e);
            return false;
        }
        const bool readout = field->kind == OptionKind::Readout;
        const uint64_t max = readout ? (layout.level2 < 0 ? 1 : 2) : FieldMask(field->width);
        uint64_t value = 0;
        if (!ParseOptionNumber(edit.substr(eq + 1), max, &value)) {
            d->report(
                d->event(readout ? EventCode::OptionLevelInvalid : EventCode::OptionValueInvalid)
                    .withText(QString::fromStdString(edit))
                    .withValue(qint64(max)));
            return false;
        }
    }
    std::vector<uint8_t> image = d->options->raw;
    bool permanent = false;
    std::string error;
    if (!EncodeOptionEdits(dev, layout, edits, &image, &permanent, &error)) {
        d->report(d->event(EventCode::OptionEditMalformed)
                      .withText(QString::fromStdString(edits.empty() ? std::string() : edits[0])));
        return false;
    }
    if (permanent && !allowPermanent) {
        d->report(EventCode::ReadoutLevel2Refused);
        return false;
    }
    if (image == d->options->raw) {
        d->report(EventCode::OptionBytesUnchanged);
        return run.end(true);
    }
    const uint32_t address = d->options->address;
    Event writing = d->event(EventCode::OptionBytesWriting).at(address);
    writing.bytes = QByteArray(reinterpret_cast<const char*>(image.data()), int(image.size()));
    d->report(writing);
    const CommandResult r =
        WriteMemory(link, address, image.data(), int(image.size()), timeout::kOptionBytesNs);
    if (!r.ok()) {
        Event e = d->event(EventCode::OptionBytesWriteFailed);
        e.step = r.failed;
        e.withReply(r.reply.status, r.reply.first);
        d->report(e);
        return false;
    }
    const int level = ReadoutLevel(layout, image);
    if (level == 2) {
        // Level 2 turns the bootloader off for good: there is nothing to reconnect to.
        d->report(EventCode::ChipResetting);
        link.reportClosed();
        d->options.reset();
        d->report(d->event(EventCode::OptionBytesWritten).withValue(level));
        return run.end(true);
    }
    if (!d->reconnectAfterReset()) return false;
    const Private::OptionsRead back = d->fetchOptions(level == 0);
    // A chip now readout-protected refuses the read: that is the protection at work.
    if (level > 0 && back == Private::OptionsRead::Protected) {
        d->report(d->event(EventCode::OptionBytesWritten).withValue(level));
        return run.end(true);
    }
    if (back != Private::OptionsRead::Ok) return false;
    // Only the bits the layout's fields hold are compared: the rest may read back otherwise.
    std::vector<uint8_t> mask(image.size(), 0);
    for (const OptionField& f : layout.fields)
        if (f.appliesTo(dev.pid)) SetOptionFieldValue(f, 0xFFFFFFFF, &mask);
    const std::vector<uint8_t>& now = d->options->raw;
    for (size_t i = 0; i < image.size(); ++i) {
        if (((image[i] ^ now[i]) & mask[i]) == 0) continue;
        Event e = d->event(EventCode::OptionBytesMismatch).at(uint32_t(i));
        e.expected = image[i];
        e.actual = now[i];
        d->report(e);
        return false;
    }
    d->report(d->event(EventCode::OptionBytesWritten).withValue(level));
    d->reportProtection();
    return run.end(true);
}

bool Engine::writeProtect(const std::optional<AddressRange>& range) {
    Private::Running run(*d, Operation::WriteProtect);
    if (run.refused()) return false;
    BootLink& link = d->link;
    link.setStopped(false);
    if (d->refuseUnknownChip()) return false;
    const DeviceInfo& dev = *d->target.device;
    const OptionLayout* layout = FindOptionLayout(dev);
    if (layout && layout->grain == ProtectionGrain::Pages) {
        d->report(EventCode::WriteProtectUnsupported);
        return false;
    }
    // Write Protect replaces the protection there was: what is protected now is sent again.
    if (d->fetchOptions(true) != Private::OptionsRead::Ok) return false;
    const std::vector<FlashUnit> units = d->flashUnits();
    if (units.empty()) {
        d->report(EventCode::EraseUnitsUnknown);
        return false;
    }
    std::vector<uint32_t> wanted;
    if (range) {
        wanted = dev.unitsCovering(*range, d->flashBytes());
    } else {
        for (uint32_t i = 0; i < units.size(); ++i) wanted.push_back(i);
    }
    const unsigned groupCount = ProtectionGroupCount(*layout, dev.pid);
    std::set<uint8_t> codes;
    std::vector<uint32_t> covered;  // the units asked for that a group covers
    for (uint32_t unit : wanted) {
        const unsigned group = ProtectionGroupOfUnit(*layout, dev.pid, units, unit);
        if (group >= groupCount) continue;
        codes.insert(uint8_t(group));
        covered.push_back(unit);
    }
    if (codes.empty()) {
        d->report(EventCode::WriteProtectOutside);
        return false;
    }
    for (uint32_t unit : d->options->protectedUnits) {
        const unsigned group = ProtectionGroupOfUnit(*layout, dev.pid, units, unit);
        if (group < groupCount) codes.insert(uint8_t(group));
    }
    const std::vector<uint8_t> list(codes.begin(), codes.end());
    Event begun = d->event(EventCode::WriteProtectBegun).withValue(qint64(list.size()));
    begun.bytes = QByteArray(reinterpret_cast<const char*>(list.data()), int(list.size()));
    d->report(begun);
    const CommandResult r = WriteProtect(link, list, timeout::kOptionBytesNs);
    if (!r.ok()) {
        Event e = d->event(EventCode::WriteProtectFailed);
        e.step = r.failed;
        e.withReply(r.reply.status, r.reply.first);
        d->report(e);
        return false;
    }
    if (!d->reconnectAfterReset() || d->fetchOptions(true) != Private::OptionsRead::Ok)
        return false;
    const std::vector<uint32_t>& now = d->options->protectedUnits;
    for (uint32_t unit : covered)
        if (!std::binary_search(now.begin(), now.end(), unit)) {
            d->report(d->event(EventCode::WriteProtectFailed).withValue(unit));
            return false;
        }
    d->report(d->event(EventCode::WriteProtectDone).withValue(qint64(now.size())));
    d->reportProtection();
    return run.end(true);
}

bool Engine::writeUnprotect() {
    Private::Running run(*d, Operation::WriteUnprotect);
    if (run.refused()) return false;
    BootLink& link = d->link;
    link.setStopped(false);
    d->report(EventCode::WriteUnprotectBegun);
    const CommandResult r = WriteUnprotect(link, timeout::kOptionBytesNs);
    if (!r.ok()) {
        Event e = d->event(EventCode::WriteUnprotectFailed);
        e.step = r.failed;
        e.withReply(r.reply.status, r.reply.first);
        d->report(e);
        return false;
    }
    if (!d->reconnectAfterReset()) return false;
    const Private::OptionsRead back = d->fetchOptions(false);
    if (back == Private::OptionsRead::Ok && !d->options->protectedUnits.empty()) {
        d->report(d->event(EventCode::WriteUnprotectFailed)
                      .withValue(qint64(d->options->protectedUnits.size())));
        d->reportProtection();
        return false;
    }
    d->report(d->event(EventCode::WriteUnprotectDone)
                  .withValue(back == Private::OptionsRead::Ok ? 0 : -1));
    return run.end(true);
}

const std::optional<OptionBytesState>& Engine::optionBytes() const {
    return d->options;
}

void Engine::setResetWait(int milliseconds) {
    d->resetWaitNs = qint64(milliseconds) * 1'000'000;
}

}  // namespace praxon
