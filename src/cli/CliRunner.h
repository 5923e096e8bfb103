#pragma once

#include <QObject>

#include "BoardReport.h"
#include "CliOptions.h"
#include "Device.h"
#include "SerialNumber.h"

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

    // program: the image read and checked beforehand (several boards read the file once); run()
    // then neither reads the file nor checks the serial number's place against it.
    void setImage(const FirmwareImage& image) { image_ = image; }
    // program --serial: where the numbers come from (shared by the boards of one run).
    void setSerialState(SerialStateFile* state) { serialState_ = state; }
    // After run(): what the summary and the record say of this board.
    const BoardOutcome& outcome() const { return outcome_; }

public slots:
    // Ctrl+C: the Stop button. The running wait fails at its next check.
    void stop();

private:
    bool execute();
    // program with a serial number: takes one, writes it into a copy of the image and tells the
    // state file whether the board now holds it.
    bool programNumbered(const FirmwareImage& image);
    void noteTarget();

    Engine& engine_;
    CliHost& host_;
    CliOptions options_;
    bool stopped_ = false;
    std::optional<FirmwareImage> image_;
    SerialStateFile* serialState_ = nullptr;
    BoardOutcome outcome_;
};

// program --serial: what can be checked before any board is touched: the state file, and that
// the number's place holds none of the file's own data. Reported when not.
bool CheckSerialPlan(const CliOptions& options, const FirmwareImage& image, SerialStateFile& state,
                     EventSink& sink);

// devices: a heading, then one line per product ID the engine knows, in the table's order.
QString DeviceListText(const std::vector<DeviceInfo>& devices);
// info: what connect() learnt, one "Name: value" line each. flashOverrideKB: the size given
// with --flash-kb; 0: none. options: the option bytes as connect read them (readout level and
// write-protected units); none: not read.
QString TargetSummaryText(const TargetInfo& target, int flashOverrideKB,
                          const std::optional<OptionBytesState>& options = std::nullopt);

}  // namespace praxon::cli
