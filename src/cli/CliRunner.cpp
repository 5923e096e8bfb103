#include "CliRunner.h"

#include "CliHost.h"
#include "Engine.h"

namespace praxon::cli {

CliRunner::CliRunner(Engine& engine, CliHost& host, const CliOptions& options, QObject* parent)
    : QObject(parent), engine_(engine), host_(host), options_(options) {}

void CliRunner::stop() {
    stopped_ = true;
    engine_.CmdStop_Click();
}

int CliRunner::run() {
    bool ok = engine_.CHECKCMD_Click();
    // A stop during the connect leaves the later steps of the connect failing quietly; it must
    // not go on into the operation.
    if (ok && !stopped_) ok = runOperation();
    if (stopped_) host_.note(QStringLiteral("Stopped."));
    host_.finish();
    return ok && !stopped_ ? ExitSuccess : ExitFailure;
}

bool CliRunner::runOperation() {
    switch (options_.command) {
        case Command::Info:
            return true;
        case Command::Program:
            return engine_.CmdStart_Click();
        case Command::Read:
            // The engine refuses (and logs why) when the flash size is not known.
            return engine_.CmdRead_Click();
        case Command::Erase:
            return engine_.Command_ER_Click();
        case Command::Go:
            return engine_.Command_GO_Click();
        case Command::Protect:
            return engine_.CmdReadProtect_Click();
        case Command::Unprotect:
            return engine_.CmdReadUnProtect_Click();
        case Command::None:
            break;
    }
    return false;
}

}  // namespace praxon::cli
