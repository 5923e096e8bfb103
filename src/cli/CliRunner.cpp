#include "CliRunner.h"

#include "CliHost.h"
#include "Engine.h"

namespace praxon::cli {

CliRunner::CliRunner(Engine& engine, CliHost& host, const CliOptions& options, QObject* parent)
    : QObject(parent), engine_(engine), host_(host), options_(options) {}

void CliRunner::stop() {
    stopped_ = true;
    engine_.stop();
}

int CliRunner::run() {
    engine_.setMode(options_.mode);
    engine_.setLineOptions(options_.lines);  // before the port opens
    const bool ok = execute();
    if (stopped_) host_.note(QStringLiteral("Stopped."));
    host_.finish();
    return ok && !stopped_ ? ExitSuccess : ExitFailure;
}

bool CliRunner::execute() {
    std::optional<FirmwareImage> image;
    if (options_.command == Command::Program) {
        image = engine_.loadImage(options_.imageSource());
        if (!image) return false;
    }
    // A stop during the connect may leave its later steps failing quietly; it must not go on
    // into the operation.
    if (!engine_.connect(options_.port) || stopped_) return false;
    switch (options_.command) {
        case Command::Info:
            return true;
        case Command::Program:
            return engine_.program(*image, options_.program);
        case Command::Read:
            return engine_.readToFile(
                options_.file,
                IsHexFileName(options_.file) ? ImageFormat::Hex : ImageFormat::Binary,
                options_.range);
        case Command::Erase:
            return engine_.erase(options_.range);
        case Command::Go:
            return engine_.go(options_.goAddress);
        case Command::Protect:
            return engine_.protect();
        case Command::Unprotect:
            return engine_.unprotect();
        case Command::None:
            break;
    }
    return false;
}

}  // namespace praxon::cli
