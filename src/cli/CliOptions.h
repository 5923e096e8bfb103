#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Engine.h"
#include "Language.h"

namespace praxon::cli {

enum class Command {
    None,
    Info,
    Program,
    Read,
    Erase,
    Go,
    Protect,
    Unprotect,
    Devices,
    Ports,
    OptionBytes,     // option-bytes [--set NAME=VALUE ...] [--allow-permanent]
    WriteProtect,    // write-protect --address A --size N | --all
    WriteUnprotect,  // write-unprotect
};

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
    std::optional<Language> language;  // --lang; none: the locale's
    bool json = false;                 // --json: one JSON object per line on standard output

    // program: --format; none: told by FILE's content (DetectImageFormat).
    std::optional<ImageFormat> format;

    // option-bytes: the NAME=VALUE edits of --set, in order; none: only read and show them.
    std::vector<std::string> optionEdits;
    bool allowPermanent = false;  // --allow-permanent: the edits may set readout level 2
    bool protectAll = false;      // write-protect --all

    // program: how FILE is read.
    ImageSource imageSource() const;
};

struct ParseResult {
    enum Status { Run, Help, UsageError };
    Status status = UsageError;
    CliOptions options;  // Help and UsageError: the language, when --lang came before
    QString error;       // UsageError: one line saying what is wrong
};

// Parses the arguments that follow the program name. Options may stand anywhere; "--" ends them.
ParseResult parseArguments(const QStringList& arguments);

// A byte count: decimal, or hexadecimal after 0x, optionally followed by K or M (1024, 1024²).
std::optional<uint64_t> parseSize(const QString& text);

// The port name that asks praxon-cli to pick the only USB serial adapter present.
inline constexpr char kAutoPort[] = "auto";

// The language a locale asks for, from the values of LC_ALL, LC_MESSAGES and LANG: the first that
// is not empty decides; one starting with "zh" is Chinese, any other (or none) English.
Language localeLanguage(const QString& lcAll, const QString& lcMessages, const QString& lang);
// The same from this process's environment.
Language environmentLanguage();
// --lang when given, otherwise the environment's.
Language chosenLanguage(const CliOptions& options);

// The full help text (--help) and the short usage text shown with a usage error.
QString helpText(Language language);
QString usageText(Language language);

}  // namespace praxon::cli
