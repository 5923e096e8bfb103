#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "Engine.h"
#include "Language.h"

namespace praxon::cli {

enum class Command { None, Info, Program, Read, Erase, Go, Protect, Unprotect, Devices };

// What the command line asked for.
struct CliOptions {
    Command command = Command::None;
    QString port;
    QString file;  // program: the image file; read: the output file
    WriteMode mode = WriteMode::Fast;
    // program: a binary file's load address; read, erase: the range's start.
    std::optional<uint32_t> address;
    // read, erase: [address, address + size); none: the whole flash.
    std::optional<AddressRange> range;
    uint32_t goAddress = 0x08000000;  // go
    ProgramOptions program;
    LineOptions lines;  // every command: speed and wiring
    int flashKB = 0;    // the chip's flash as stated (clones whose size register lies); 0: read it
    bool json = false;  // one JSON object per line instead of text
    std::optional<Language> language;  // --lang; none: from the locale

    // program: how FILE is read (binary unless its name ends in ".hex").
    ImageSource imageSource() const;
};

struct ParseResult {
    enum Status { Run, Help, UsageError };
    Status status = UsageError;
    CliOptions options;
    QString error;  // UsageError: one line saying what is wrong
};

// Parses the arguments that follow the program name. Options may stand anywhere; "--" ends them.
ParseResult parseArguments(const QStringList& arguments);

// A byte count: decimal, or hexadecimal after 0x, optionally followed by K or M (1024, 1024²).
std::optional<uint64_t> parseSize(const QString& text);

// The full help text (--help) and the short usage text shown with a usage error.
QString helpText();
QString usageText();

}  // namespace praxon::cli
