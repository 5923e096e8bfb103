#pragma once
// The turbo loader's two-stage start (loader/PROTOCOL.md section 9): a first stage of a few
// hundred bytes, written through the ROM bootloader at the connect speed, raises the clock and
// the line, takes the loader's image at the fast speed and starts it there, so that neither the
// loader's upload through the ROM nor a BAUD exchange costs the connect speed's time.
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "LoaderImage.h"
#include "LoaderLink.h"

namespace praxon {
class BootLink;
}

namespace praxon::flash {

// A first stage's binary (loader/bin/stage-<family>.bin, embedded by loader/Embed.cmake). Its
// code runs wherever it is written; the host writes the head's two words.
struct StageBinary {
    LoaderFamily family;
    const unsigned char* bytes;  // nullptr in the placeholder row of a build without stages
    std::size_t size;
};
extern const StageBinary kStageBinaries[];
extern const std::size_t kStageBinaryCount;

constexpr std::uint32_t kStageMagic = 0x31535850;  // "PXS1" at image offset 8
// The stage's bytes to the host: its announcement at the fast speed, then its verdict on the image.
constexpr std::uint8_t kStageAnnounce = 0x53, kStageAccepted = 0x06, kStageRejected = 0x15;
constexpr std::uint32_t kStageStackBytes = 128;  // below the stage, above the loader's image

const StageBinary* StageFor(LoaderFamily family);

// The stage's image to write at `address`, the loader's `image` (parameters filled) to go to
// `loaderAddress` at line speed `baud`. Empty when the binary lacks the parameter block's magic.
QByteArray StageImage(const StageBinary& stage, std::uint32_t address, std::uint32_t baud,
                      std::uint32_t loaderAddress, const QByteArray& loaderImage);

// Where the stage goes: at the top of the loader's RAM, its stack below it and above the loader's
// image; 0 when that does not fit.
std::uint32_t StageAddress(std::uint32_t stageSize, std::uint32_t loaderAddress,
                           std::uint32_t loaderImageSize, std::uint32_t ramEnd);

// Why a stage start fell back to writing the loader through the ROM.
enum class StageFailure {
    Refused = 1,   // the ROM refused the stage's image or Go
    Silent = 2,    // no announcement at the fast speed
    Rejected = 3,  // the stage found the image damaged, or its answer did not come
    NoHello = 4,   // the loader did not answer HELLO at the fast speed
};

struct StageAttempt {
    bool tried = false;  // a stage was written (the engine logs a fallback)
    StageFailure failure = StageFailure::Refused;
    // The start's result when the stage decided it: the loader runs (Done), or Stop or a lost
    // line ended it. nullopt: the chip is back in the ROM bootloader at the connect speed (or
    // was never left) and the loader goes through the ROM.
    std::optional<LoaderResult> result;
};

// Starts the loader of `choice` through its family's stage when `fastBaud` is above the connect
// speed (choice.parameters.baud); otherwise nothing is tried.
StageAttempt StartThroughStage(LoaderLink& loader, BootLink& link, const LoaderChoice& choice,
                               int fastBaud);

}  // namespace praxon::flash
