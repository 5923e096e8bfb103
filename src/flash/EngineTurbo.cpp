// Programming through the turbo loader in the chip's RAM.
#include <QElapsedTimer>

#include "EnginePrivate.h"
#include "LoaderLink.h"
#include "LoaderStage.h"

namespace praxon {

using flash::LoaderLink;
using flash::LoaderOutcome;
using flash::LoaderProgramReport;
using flash::LoaderResult;

namespace {

// Whole pages the image touches, merged where they meet: the image's bytes (0xFF where it
// gives none) and which bytes it gives.
struct PageRun {
    uint32_t address = 0;
    QByteArray bytes;
    std::vector<bool> given;
};

std::vector<PageRun> PageRuns(const FirmwareImage& image, uint32_t flashBase, uint32_t pageSize) {
    std::vector<PageRun> runs;
    for (const ImageSegment& segment : image.segments()) {
        const uint32_t first = segment.address - (segment.address - flashBase) % pageSize;
        const uint64_t last =
            segment.end() + (pageSize - (segment.end() - flashBase) % pageSize) % pageSize;
        if (runs.empty() || uint64_t(runs.back().address) + runs.back().bytes.size() < first) {
            runs.push_back({first, {}, {}});
        }
        PageRun& run = runs.back();
        const uint64_t runEnd = uint64_t(run.address) + run.bytes.size();
        if (last > runEnd) {
            run.bytes.append(QByteArray(int(last - runEnd), char(0xFF)));
            run.given.resize(run.bytes.size(), false);
        }
        const uint32_t offset = segment.address - run.address;
        for (size_t i = 0; i < segment.bytes.size(); ++i) {
            run.bytes[int(offset + i)] = char(segment.bytes[i]);
            run.given[offset + i] = true;
        }
    }
    return runs;
}

}  // namespace

std::optional<bool> Engine::Private::programTurbo(const FirmwareImage& image,
                                                  const ProgramOptions& options) {
    const DeviceInfo* dev = target.device;
    const auto unavailable = [&](int why) -> std::optional<bool> {
        report(event(EventCode::TurboUnavailable).withValue(why));
        return std::nullopt;
    };
    if (!target.pid || !dev) return unavailable(0);
    const std::optional<flash::LoaderChoice> choice =
        flash::ChooseLoader(*dev, *target.pid, flashBytes(), flashSizeKnown(), lines.baudRate);
    if (!choice) return unavailable(0);
    // The loader writes the main flash only.
    for (const ImageSegment& segment : image.segments())
        if (segment.address < dev->flashBase ||
            segment.end() > uint64_t(dev->flashBase) + flashBytes())
            return unavailable(0);

    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<LoaderLink> loader = std::make_unique<LoaderLink>(link);
    // A session that ends early must not leave the chip running the loader, where the next
    // connect would find no ROM bootloader: the loader resets it while the line still works.
    const auto leaveLoader = [&] {
        if (!loader || !loader->mayRun() || !link.port().isOpen()) return;
        Event e = event(EventCode::TurboChipReset);
        e.ok = loader->resetChip();
        loader.reset();
        report(e);
    };
    const auto failed = [&](const LoaderResult& r) -> std::optional<bool> {
        if (r.outcome == LoaderOutcome::ChipError) {
            report(event(EventCode::TurboFailed).at(r.address).withValue(r.status));
        } else if (r.outcome == LoaderOutcome::NoAnswer || r.outcome == LoaderOutcome::BadRequest) {
            report(EventCode::TurboFailed);
        }
        if (r.outcome != LoaderOutcome::LineLost) leaveLoader();
        link.setStopped(true);
        link.reportClosed();
        report(EventCode::ProgramFailed);
        return false;
    };

    // The LZMA decoder's table takes RAM from the receive buffer: worth it for an image that
    // compresses; one that does not goes raw in larger frames.
    flash::LoaderChoice chosen = *choice;
    QByteArray content;
    for (const ImageSegment& segment : image.segments())
        content.append(reinterpret_cast<const char*>(segment.bytes.data()),
                       int(segment.bytes.size()));
    chosen.parameters.lzmaTable = flash::DeflateRaw(content, {}).size() < content.size() * 9 / 10;
    // Above the connect speed a first stage takes the loader at the fast speed (LoaderStage.h).
    const flash::StageAttempt staged =
        flash::StartThroughStage(*loader, link, chosen, options.turboBaudRate);
    if (staged.tried && (!staged.result || staged.result->outcome == LoaderOutcome::NotStarted))
        report(event(EventCode::TurboStageFallback).withValue(int(staged.failure)));
    const LoaderResult started =
        staged.result ? *staged.result : loader->start(*chosen.binary, chosen.parameters);
    if (staged.result && started.ok())
        report(event(EventCode::TurboStageStarted).withValue(options.turboBaudRate));
    if (started.outcome == LoaderOutcome::NotStarted) {
        // Nothing is written yet: back to the ROM bootloader (a reset where the wiring allows)
        // and on in the fast mode.
        loader.reset();
        if (lines.boot && !link.runLines(lines.boot->entry))
            return failed({LoaderOutcome::LineLost});
        const Reply sync = synchronise();
        if (sync.status != ReplyStatus::Ack && sync.status != ReplyStatus::Nack)
            return failed({LoaderOutcome::NoAnswer});
        return unavailable(1);
    }
    if (!started.ok()) return failed(started);
    report(event(EventCode::TurboStarted).withValue(loader->info().rxSize));

    if (options.turboBaudRate && uint32_t(options.turboBaudRate) != loader->info().baud) {
        LoaderResult r;
        const flash::BaudOutcome speed = loader->changeBaud(uint32_t(options.turboBaudRate), &r);
        if (speed == flash::BaudOutcome::Failed) return failed(r);
        Event e = event(EventCode::TurboSpeed).withValue(options.turboBaudRate);
        e.ok = speed == flash::BaudOutcome::Changed;
        report(e);
    }

    if (options.erase == EraseScope::Chip) {
        report(EventCode::ChipEraseBegun);
        const LoaderResult r = loader->massErase();
        if (!r.ok()) return failed(r);
    }
    report(EventCode::ProgramBegun);
    qint64 before = 0, total = 0;
    for (const ImageSegment& segment : image.segments()) total += qint64(segment.bytes.size());
    // Progress in the image's bytes: what the frames written so far carried, at most all of it.
    loader->setProgress([&](qint64 done, qint64) {
        Event e = event(EventCode::Progress);
        e.done = std::min(total, before + done);
        e.total = total;
        report(e);
    });
    const uint32_t pageSize = loader->info().pageSize;
    const bool skipUnchanged = options.erase != EraseScope::Chip;
    int pages = 0, skipped = 0;
    qint64 bytesSkipped = 0, given = 0;
    for (PageRun& run : PageRuns(image, dev->flashBase, pageSize)) {
        // Without erase the bytes the image leaves out keep what the chip holds.
        if (options.erase == EraseScope::None &&
            std::find(run.given.begin(), run.given.end(), false) != run.given.end()) {
            QByteArray chip;
            const LoaderResult r = loader->read(run.address, int(run.bytes.size()), &chip);
            if (!r.ok()) return failed(r);
            for (int i = 0; i < run.bytes.size(); ++i)
                if (!run.given[size_t(i)]) run.bytes[i] = chip[i];
        }
        LoaderProgramReport done;
        const LoaderResult r = flash::ProgramThroughLoader(*loader, run.address, run.bytes,
                                                           skipUnchanged, options.verify, &done);
        if (r.outcome == LoaderOutcome::VerifyFailed) {
            current = Operation::Verify;
            report(event(EventCode::TurboVerifyMismatch)
                       .at(done.mismatch.address)
                       .withValue(done.mismatch.length));
            QByteArray actual;
            if (done.firstDifference && loader->read(done.firstDifference, 1, &actual).ok()) {
                Event e = event(EventCode::VerifyMismatchAt).at(done.firstDifference);
                e.expected = uint8_t(run.bytes[int(done.firstDifference - run.address)]);
                e.actual = uint8_t(actual[0]);
                report(e);
            }
            current = Operation::Program;
            leaveLoader();
            link.setStopped(true);
            link.reportClosed();
            report(EventCode::ProgramFailed);
            return false;
        }
        if (!r.ok()) return failed(r);
        before += qint64(run.bytes.size());
        pages += done.pages;
        skipped += done.pagesSkipped;
        bytesSkipped += done.bytesSkipped;
        given += std::count(run.given.begin(), run.given.end(), true);
    }
    if (skipUnchanged) {
        Event e = event(EventCode::TurboSkipped).withValue(skipped);
        e.total = pages;
        e.done = bytesSkipped;
        report(e);
    }
    written = given;
    if (options.verify) {
        Event e = event(EventCode::Verified);
        e.done = given;
        report(e);
    }
    // A line that needed repairs works, but slowly: worth a look at the cable or the speed.
    const flash::LoaderLinkStats& repairs = loader->stats();
    if (repairs.resends > 0) {
        Event e = event(EventCode::TurboLineRepaired).withValue(repairs.resends);
        e.total = repairs.framesSent;
        report(e);
    }
    Event done = event(EventCode::Programmed);
    done.elapsedNs = clock.nsecsElapsed();
    done.done = given;
    report(done);

    // Leaving the loader: straight into the program when asked and nothing else is to follow,
    // otherwise a reset back into the ROM bootloader (BOOT0 is high).
    if (options.run && !options.protect && !lines.boot) {
        const LoaderResult r = loader->go(options.goAddress);
        loader.reset();
        if (!r.ok()) {
            report(EventCode::GoSilent);
            link.reportClosed();
            return false;
        }
        report(event(EventCode::Started).at(options.goAddress));
        link.reportClosed();
        return true;
    }
    loader->go(0xFFFFFFFFu);
    loader.reset();
    link.pause(20'000'000);  // the ROM bootloader starts after the reset
    const Reply sync = link.sync();
    if (sync.status != ReplyStatus::Ack) {
        // Programmed and verified; only the way back failed: the next operation connects anew.
        link.reportClosed();
        return !options.protect && !options.run;
    }
    if (options.protect && !readProtect()) return false;
    if (options.run) return runProgram(options.goAddress);
    return true;
}

}  // namespace praxon
