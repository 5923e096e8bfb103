#pragma once

#include <QObject>

#include "CliOptions.h"
#include "Device.h"

namespace praxon {
class Engine;
}

namespace praxon::cli {

class CliHost;

// Exit status of praxon-cli.
enum ExitCode { ExitSuccess = 0, ExitFailure = 1, ExitUsage = 2 };

// Runs one command on the engine: connect first, then one operation. program reads its file
// before connecting, so a bad file sends nothing to the board.
class CliRunner : public QObject {
    Q_OBJECT
public:
    CliRunner(Engine& engine, CliHost& host, const CliOptions& options, QObject* parent = nullptr);

    // Returns the exit status. Runs the waits' event loops inside, so stop() can arrive meanwhile.
    int run();
    bool stopped() const { return stopped_; }

public slots:
    // Ctrl+C: the Stop button. The running wait fails at its next check.
    void stop();

private:
    bool execute();

    Engine& engine_;
    CliHost& host_;
    CliOptions options_;
    bool stopped_ = false;
};

// devices: a heading, then one line per product ID the engine knows, in the table's order.
QString DeviceListText(const std::vector<DeviceInfo>& devices);
// info: what connect() learnt, one "Name: value" line each. flashOverrideKB: the size given
// with --flash-kb; 0: none. options: the option bytes as connect read them (readout level and
// write-protected units); none: not read.
QString TargetSummaryText(const TargetInfo& target, int flashOverrideKB,
                          const std::optional<OptionBytesState>& options = std::nullopt);

}  // namespace praxon::cli
