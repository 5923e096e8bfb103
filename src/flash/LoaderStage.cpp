#include "LoaderStage.h"

#include <algorithm>

#include "BootLink.h"
#include "Commands.h"
#include "TurboFrames.h"

namespace praxon::flash {

namespace {

constexpr qint64 kMs = 1'000'000;
// The stage sets up its clock and announces itself every 5 ms from a few milliseconds after Go;
// it waits 300 ms for the image's first byte and 50 ms for each next one before it resets the
// chip.
constexpr qint64 kAnnounceNs = 100 * kMs;
constexpr qint64 kStageGiveUpNs = 400 * kMs;
constexpr qint64 kAnswerMarginNs = 100 * kMs;
constexpr qint64 kRomRestartNs = 20 * kMs;

void WriteWord(QByteArray& bytes, int offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = char(value >> (8 * i));
}

std::uint32_t ReadWord(const QByteArray& bytes, int offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | std::uint8_t(bytes[offset + i]);
    return value;
}

}  // namespace

const StageBinary* StageFor(LoaderFamily family) {
    for (std::size_t i = 0; i < kStageBinaryCount; ++i)
        if (kStageBinaries[i].family == family && kStageBinaries[i].bytes)
            return &kStageBinaries[i];
    return nullptr;
}

QByteArray StageImage(const StageBinary& stage, std::uint32_t address, std::uint32_t baud,
                      std::uint32_t loaderAddress, const QByteArray& loaderImage) {
    QByteArray image(reinterpret_cast<const char*>(stage.bytes), int(stage.size));
    constexpr int kParameters = 8;
    if (image.size() < kParameters + 20 || ReadWord(image, kParameters) != kStageMagic) return {};
    // The binary is linked at 0x20000000: the entry word keeps its offset from there.
    const std::uint32_t entryOffset = ReadWord(image, 4) - 0x20000000u;
    WriteWord(image, 0, address);  // the stack grows down from the stage
    WriteWord(image, 4, address + entryOffset);
    WriteWord(image, kParameters + 4, baud);
    WriteWord(image, kParameters + 8, loaderAddress);
    WriteWord(image, kParameters + 12, std::uint32_t(loaderImage.size()));
    WriteWord(image, kParameters + 16, turbo::Crc32Words(loaderImage));
    while (image.size() % 4) image.append(char(0xFF));
    return image;
}

std::uint32_t StageAddress(std::uint32_t stageSize, std::uint32_t loaderAddress,
                           std::uint32_t loaderImageSize, std::uint32_t ramEnd) {
    const std::uint64_t need =
        std::uint64_t(loaderAddress) + loaderImageSize + kStageStackBytes + ((stageSize + 3) & ~3u);
    if (need > ramEnd) return 0;
    return (ramEnd - ((stageSize + 3) & ~3u)) & ~3u;
}

StageAttempt StartThroughStage(LoaderLink& loader, BootLink& link, const LoaderChoice& choice,
                               int fastBaud) {
    StageAttempt attempt;
    const int connectBaud = int(choice.parameters.baud);
    const StageBinary* stage = StageFor(choice.binary->family);
    if (!stage || fastBaud <= connectBaud) return attempt;
    LoaderParameters fast = choice.parameters;
    fast.baud = std::uint32_t(fastBaud);  // the loader starts at the fast speed: no BAUD step
    const QByteArray loaderImage = LoaderImage(*choice.binary, fast);
    const std::uint32_t address =
        StageAddress(std::uint32_t(stage->size), choice.binary->loadAddress,
                     std::uint32_t(loaderImage.size()), fast.ramEnd);
    const QByteArray image =
        address ? StageImage(*stage, address, fast.baud, choice.binary->loadAddress, loaderImage)
                : QByteArray();
    if (loaderImage.isEmpty() || image.isEmpty()) return attempt;

    attempt.tried = true;
    const auto ended = [&](ReplyStatus status) {
        LoaderResult r;
        r.outcome =
            status == ReplyStatus::Stopped ? LoaderOutcome::Stopped : LoaderOutcome::LineLost;
        attempt.result = r;
        return attempt;
    };
    for (int offset = 0; offset < image.size(); offset += 256) {
        const int n = std::min(256, int(image.size()) - offset);
        const CommandResult written =
            WriteMemory(link, address + std::uint32_t(offset),
                        reinterpret_cast<const uint8_t*>(image.constData()) + offset, n);
        if (written.reply.status == ReplyStatus::Stopped ||
            written.reply.status == ReplyStatus::LineLost)
            return ended(written.reply.status);
        if (!written.ok()) return attempt;
    }
    const CommandResult went = Go(link, address);
    if (went.reply.status == ReplyStatus::Stopped || went.reply.status == ReplyStatus::LineLost)
        return ended(went.reply.status);
    if (!went.ok()) return attempt;

    QByteArray received;
    link.setReceiver([&](const QByteArray& chunk) { received += chunk; });
    const auto backToRom = [&]() -> StageAttempt {
        // The stage resets the chip on silence; the ROM bootloader then waits for 0x7F at the
        // connect speed. Until then the host sends nothing.
        link.setReceiver(nullptr);
        link.port().setBaudRate(connectBaud);
        link.port().setEvenParity(true);
        if (!link.pause(kStageGiveUpNs + kRomRestartNs))
            return ended(link.stopped() ? ReplyStatus::Stopped : ReplyStatus::LineLost);
        Reply sync = link.sync();
        if (sync.status == ReplyStatus::Timeout) sync = link.sync();
        if (sync.status == ReplyStatus::Stopped || sync.status == ReplyStatus::LineLost)
            return ended(sync.status);
        // A NACK is an answer too: the ROM had taken a garbled byte for its synchronisation.
        if (sync.status != ReplyStatus::Ack && sync.status != ReplyStatus::Nack) {
            LoaderResult r;
            r.outcome = LoaderOutcome::NotStarted;
            attempt.result = r;
        }
        return attempt;
    };
    // The stage's line is the loader's: the fast speed without parity (LoaderImage.h).
    if (!link.port().setBaudRate(fastBaud) || !link.port().setEvenParity(false))
        return attempt.failure = StageFailure::Silent, backToRom();
    // Bytes the stage sent before the port switched arrive garbled: only the announcement counts.
    ReplyStatus status =
        link.waitUntil([&] { return received.contains(char(kStageAnnounce)); }, kAnnounceNs);
    if (status == ReplyStatus::Stopped || status == ReplyStatus::LineLost) {
        link.setReceiver(nullptr);
        return ended(status);
    }
    if (!received.contains(char(kStageAnnounce))) {
        attempt.failure = StageFailure::Silent;
        return backToRom();
    }
    received.clear();
    const QByteArray line = turbo::EscapeForLine(loaderImage);
    if (!link.send(line)) {
        link.setReceiver(nullptr);
        return ended(ReplyStatus::LineLost);
    }
    const qint64 wireNs = LoaderLineNs(line.size(), fastBaud);
    // The stage may announce itself once more before the image's first byte reaches it.
    const auto answer = [&] {
        for (char byte : received)
            if (std::uint8_t(byte) != kStageAnnounce) return std::optional<std::uint8_t>(byte);
        return std::optional<std::uint8_t>();
    };
    status = link.waitUntil([&] { return answer().has_value(); }, wireNs + kAnswerMarginNs);
    if (status == ReplyStatus::Stopped || status == ReplyStatus::LineLost) {
        link.setReceiver(nullptr);
        return ended(status);
    }
    if (answer() != kStageAccepted) {
        attempt.failure = StageFailure::Rejected;
        return backToRom();
    }
    link.setReceiver(nullptr);
    loader.adoptRunning(fastBaud, connectBaud);
    LoaderResult hello = loader.hello(10, 50);
    if (hello.outcome == LoaderOutcome::NoAnswer) {
        // The loader may run at the fast speed without answering, or the chip reset: leave it
        // by a reset where it answers, and go on through the ROM.
        attempt.failure = StageFailure::NoHello;
        loader.resetChip(3, false);
        return backToRom();
    }
    attempt.result = hello;
    return attempt;
}

}  // namespace praxon::flash
