// Writing an image and verifying it.
#include "EnginePrivate.h"

namespace praxon {
namespace {

int givenCount(const AlignedBlock& block) {
    return int(std::count(block.given.begin(), block.given.end(), true));
}

}  // namespace

bool Engine::Private::checkImage(const FirmwareImage& image, EraseScope scope) {
    const DeviceInfo* dev = target.device;
    if (scope != EraseScope::None && target.eraseCommand == 0) {
        report(EventCode::EraseCommandMissing);
        return false;
    }
    if (scope == EraseScope::Pages && !dev->unitsKnown(flashBytes(), flashSizeKnown())) {
        report(unitsUnknownEvent());
        return false;
    }
    std::vector<AddressRange> writable = dev->ram;
    writable.push_back({dev->flashBase, uint64_t(dev->flashBase) + flashExtent()});
    for (const ImageSegment& segment : image.segments()) {
        uint64_t at = segment.address;
        // Walk the segment through the writable ranges; the first byte outside names the problem.
        while (at < segment.end()) {
            const auto inside =
                std::find_if(writable.begin(), writable.end(),
                             [&](const AddressRange& r) { return at >= r.begin && at < r.end; });
            if (inside == writable.end()) {
                report(event(EventCode::OutsideMemory).at(uint32_t(at)));
                return false;
            }
            at = inside->end;
        }
    }
    return true;
}

bool Engine::Private::writeImage(const FirmwareImage& image,
                                 const std::vector<AddressRange>& erased, bool verify) {
    const DeviceInfo* dev = target.device;
    std::vector<AlignedBlock> blocks;
    // Compatible mode sends one Write Memory per HEX record where the chip takes 4-byte words
    // erased to 0xFF; other chips get aligned blocks padded with their erased value.
    if (fast() || dev->writeAlign != 4 || dev->erasedValue != 0xFF) {
        FastPlanOptions plan;
        plan.erased = erased;
        plan.erasedValue = dev->erasedValue;
        plan.alignment = dev->writeAlign;
        blocks = PlanFastWrite(image, plan);
    } else {
        blocks = PlanRecordWrite(image);
    }
    qint64 total = 0, done = 0;
    written = 0;
    for (const AlignedBlock& block : blocks) total += givenCount(block);
    for (const AlignedBlock& block : blocks) {
        const CommandResult r = WriteMemory(link, block.address, block.bytes.data(),
                                            int(block.bytes.size()), timeout::kWriteNs);
        if (!r.ok()) {
            reportReason(EventCode::WriteFailed, r, block.address);
            return false;
        }
        // Compatible mode reads each record back as soon as it is written.
        if (verify && !fast() && !verifyBlock(block)) return false;
        done += givenCount(block);
        written = done;
        Event e = event(EventCode::Progress);
        e.done = done;
        e.total = total;
        report(e);
        // Stop between two blocks: no further Write Memory goes out.
        if (link.stopped()) return false;
    }
    if (verify && fast()) return verifyImage(image);
    if (verify) {
        Event e = event(EventCode::Verified);
        e.done = total;
        report(e);
    }
    return true;
}

bool Engine::Private::verifyBlock(const AlignedBlock& block) {
    const int first = block.firstGiven(), last = block.lastGiven();
    const int n = last - first + 1;
    uint8_t readBack[256];
    const CommandResult r = ReadMemory(link, block.address + uint32_t(first), n, readBack);
    if (!r.ok()) {
        Event e = event(EventCode::VerifyStepFailed);
        e.step = r.failed;
        e.withReply(r.reply.status, r.reply.first);
        report(e);
        return false;
    }
    for (int i = 0; i < n; ++i) {
        if (block.given[size_t(first + i)] && readBack[i] != block.bytes[size_t(first + i)]) {
            Event e = event(EventCode::VerifyMismatch).at(block.address + uint32_t(first + i));
            e.expected = block.bytes[size_t(first + i)];
            e.actual = readBack[i];
            report(e);
            return false;
        }
    }
    return true;
}

bool Engine::Private::verifyImage(const FirmwareImage& image) {
    const std::vector<AddressRange> reads = PlanVerifyReads(image, 256);
    qint64 total = 0, done = 0;
    for (const AddressRange& range : reads) total += qint64(range.end - range.begin);
    uint8_t readBack[256];
    const Operation program = current;
    current = Operation::Verify;
    const auto finish = [&](bool ok) {
        current = program;
        return ok;
    };
    for (const AddressRange& range : reads) {
        const int n = int(range.end - range.begin);
        const CommandResult r = ReadMemory(link, range.begin, n, readBack);
        if (!r.ok()) {
            Event e = event(EventCode::VerifyReadFailed).at(range.begin);
            e.step = r.failed;
            e.withReply(r.reply.status, r.reply.first);
            report(e);
            return finish(false);
        }
        for (int i = 0; i < n; ++i) {
            const uint32_t address = range.begin + uint32_t(i);
            const std::optional<uint8_t> expected = image.byteAt(address);
            if (expected && *expected != readBack[i]) {
                Event e = event(EventCode::VerifyMismatchAt).at(address);
                e.expected = *expected;
                e.actual = readBack[i];
                report(e);
                return finish(false);
            }
        }
        done += n;
        Event e = event(EventCode::Progress);
        e.done = done;
        e.total = total;
        report(e);
        if (link.stopped()) return finish(false);
    }
    Event e = event(EventCode::Verified);
    e.done = written;
    report(e);
    return finish(true);
}

}  // namespace praxon
