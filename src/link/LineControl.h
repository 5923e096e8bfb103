#pragma once

#include <QString>
#include <optional>
#include <vector>

// Driving a board's reset and BOOT0 through the adapter's DTR and RTS lines (and break): the
// sequences, the usual wirings, and a text form for boards wired otherwise.
namespace praxon {

struct LineStep {
    enum Kind { Dtr, Rts, Break, Pause };
    Kind kind = Pause;
    bool on = false;  // Dtr, Rts: asserted; Break: on
    int ms = 0;       // Pause
    bool operator==(const LineStep& o) const {
        return kind == o.kind && on == o.on && ms == o.ms;
    }
};
using LineSequence = std::vector<LineStep>;

constexpr int kDefaultPauseMs = 100;

// What the lines do for one board.
struct BootLines {
    LineSequence idle;   // right after the port opens: the board runs as it is
    LineSequence entry;  // before synchronising: reset with BOOT0 high (the bootloader starts)
    LineSequence exit;   // to leave the bootloader: reset with BOOT0 low (the program starts)
};

enum class WiredLine { None, Dtr, Rts };

// Where the board's NRST and BOOT0 are wired. Direct: an asserted line (0 V) pulls the pin low;
// inverted (through a transistor): an asserted line drives the pin high.
struct Wiring {
    WiredLine reset = WiredLine::None;
    bool resetInverted = false;
    WiredLine boot0 = WiredLine::None;
    bool boot0Inverted = false;
};

// The sequences for a wiring; nullopt for "none" (both lines asserted at open, the user resets
// the board by hand). *error is set (and nullopt returned) when both pins are on one line.
std::optional<BootLines> LinesForWiring(const Wiring& wiring, QString* error = nullptr);

// Text form "ENTRY:EXIT" (either part may be empty), steps separated by commas, case and blanks
// ignored: "dtr=1" asserts DTR, "dtr=0" releases it, likewise "rts=", "brk=1"/"brk=0" for the
// break condition, "wait" pauses 100 ms and "wait=N" N ms (0 to 10000).
// Example (reset on DTR, BOOT0 on RTS, both direct):
//   "rts=0,dtr=1,wait,dtr=0,wait:rts=1,dtr=1,wait,dtr=0"
struct SequenceError {
    int position = 0;  // 1-based character position of the offending step
    QString message;   // what is wrong there
};
std::optional<BootLines> ParseSequence(const QString& text, SequenceError* error);
// The text form of entry and exit (the idle part has none).
QString SequenceText(const BootLines& lines);

}  // namespace praxon
