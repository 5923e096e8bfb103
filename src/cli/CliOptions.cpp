#include "CliOptions.h"

#include <QFile>
#include <QRegularExpression>
#include <string>

#include "HexText.h"

namespace praxon::cli {

namespace {

struct CommandName {
    const char* name;
    Command command;
};

constexpr CommandName kCommands[] = {
    {"info", Command::Info},
    {"program", Command::Program},
    {"read", Command::Read},
    {"erase", Command::Erase},
    {"go", Command::Go},
    {"protect", Command::Protect},
    {"unprotect", Command::Unprotect},
    {"devices", Command::Devices},
    {"ports", Command::Ports},
    {"option-bytes", Command::OptionBytes},
    {"write-protect", Command::WriteProtect},
    {"write-unprotect", Command::WriteUnprotect},
};

// The size register is 16 bits: nothing larger can be what a chip should have said.
constexpr int kMaxFlashKB = 0xFFFF;

constexpr uint64_t kAddressSpace = 0x100000000ull;

std::optional<uint32_t> parseAddress(const QString& text) {
    uint32_t address = 0;
    if (!ParseGoAddress(text.toStdString(), &address)) return std::nullopt;
    return address;
}

QString invalidAddress(const QString& text) {
    return QString("invalid address %1: give 1 to 8 hexadecimal digits").arg(text);
}

std::optional<WiredLine> parseLine(const QString& text) {
    const QString name = text.trimmed().toLower();
    if (name == "dtr") return WiredLine::Dtr;
    if (name == "rts") return WiredLine::Rts;
    if (name == "none") return WiredLine::None;
    return std::nullopt;
}

struct FormatName {
    const char* name;     // --format's value
    const char* article;  // the file named in the --address refusal
    ImageFormat format;
};
constexpr FormatName kFormats[] = {
    {"hex", "a HEX", ImageFormat::Hex},
    {"srec", "an S-record", ImageFormat::Srec},
    {"elf", "an ELF", ImageFormat::Elf},
    {"bin", "a binary", ImageFormat::Binary},
};

}  // namespace

ImageSource CliOptions::imageSource() const {
    ImageSource source;
    source.path = file;
    source.format = format;
    if (address) source.loadAddress = *address;
    return source;
}

std::optional<uint64_t> parseSize(const QString& text) {
    static const QRegularExpression form("^(?:0[xX]([0-9a-fA-F]+)|([0-9]+))([kKmM]?)$");
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const bool hex = m.capturedLength(1) > 0;
    // More digits than any size within the address space could need: refused before they overflow.
    if (m.capturedLength(hex ? 1 : 2) > 12) return std::nullopt;
    bool ok = false;
    uint64_t value = m.captured(hex ? 1 : 2).toULongLong(&ok, hex ? 16 : 10);
    if (!ok) return std::nullopt;
    const QString unit = m.captured(3).toUpper();
    if (unit == "K") value <<= 10;
    if (unit == "M") value <<= 20;
    return value;
}

namespace {

// The arguments as given, before any is checked against the command.
struct GivenArguments {
    QStringList positional;
    QString command;  // the first positional argument, once taken
    std::optional<QString> port, address, size, resetLine, boot0Line, sequence, baud, goAddress,
        flashKB, lang, format, turboBaud;
    bool erase = false;
    bool resetInverted = false, boot0Inverted = false;
    QString firstProgramFlag;  // the first of --erase, --verify, --protect, --run given
    bool help = false;
    QStringList sets;  // --set, each time it is given
    bool allowPermanent = false, all = false;
};

// What is wrong with the arguments; none: nothing.
using Problem = std::optional<QString>;

std::optional<Language> parseLanguage(const QString& text) {
    const QString name = text.trimmed().toLower();
    if (name == "zh") return Language::Chinese;
    if (name == "en") return Language::English;
    return std::nullopt;
}

// Options with a value: "--name VALUE" or "--name=VALUE", each at most once.
struct ValueOption {
    const char* name;
    std::optional<QString> GivenArguments::*slot;
    const char* missing;
};
const ValueOption kValueOptions[] = {
    {"--port", &GivenArguments::port, "--port needs a port name or auto"},
    {"--address", &GivenArguments::address, "--address needs a hexadecimal address"},
    {"--size", &GivenArguments::size, "--size needs a byte count"},
    {"--reset-line", &GivenArguments::resetLine, "--reset-line needs dtr, rts or none"},
    {"--boot0-line", &GivenArguments::boot0Line, "--boot0-line needs rts, dtr or none"},
    {"--sequence", &GivenArguments::sequence, "--sequence needs ENTRY:EXIT"},
    {"--baud", &GivenArguments::baud, "--baud needs a line speed"},
    {"--go-address", &GivenArguments::goAddress, "--go-address needs a hexadecimal address"},
    {"--flash-kb", &GivenArguments::flashKB, "--flash-kb needs the flash size in KB"},
    {"--lang", &GivenArguments::lang, "--lang needs zh or en"},
    {"--format", &GivenArguments::format, "--format needs hex, srec, elf or bin"},
    {"--turbo-baud", &GivenArguments::turboBaud, "--turbo-baud needs a line speed"},
};

const ValueOption* findValueOption(const QString& name) {
    for (const ValueOption& v : kValueOptions)
        if (name == QLatin1String(v.name)) return &v;
    return nullptr;
}

// The value of option at arguments[*index] (from the next argument for "--name VALUE").
Problem takeValue(const ValueOption& option, const QStringList& arguments, int* index,
                  GivenArguments* given, CliOptions* options) {
    const QString& arg = arguments.at(*index);
    const QString name = QString::fromLatin1(option.name);
    std::optional<QString>& slot = given->*option.slot;
    if (slot) return name + " given more than once";
    QString value;
    if (arg == name) {
        if (*index + 1 >= arguments.size()) return QString(option.missing);
        value = arguments.at(++*index);
    } else {
        value = arg.mid(name.size() + 1);
    }
    if (value.trimmed().isEmpty()) return QString(option.missing);
    slot = value;
    // Taken at once, so that a --help or a usage error after it speaks this language.
    if (option.slot == &GivenArguments::lang) {
        options->language = parseLanguage(value);
        if (!options->language) return QString("invalid --lang %1: give zh or en").arg(value);
    }
    return std::nullopt;
}

// The options without a value: program's flags, the inversions, the write mode and --json.
Problem takeFlag(const QString& arg, GivenArguments* given, CliOptions* options) {
    const QString name = arg.section('=', 0, 0);
    if (name == "--erase") {
        if (given->erase) return QString("--erase given more than once");
        given->erase = true;
        const QString scope = arg == name ? QString("all") : arg.mid(name.size() + 1);
        if (scope != "all" && scope != "pages")
            return QString("invalid %1: give --erase, --erase=all or --erase=pages").arg(arg);
        options->program.erase = scope == "all" ? EraseScope::Chip : EraseScope::Pages;
        if (given->firstProgramFlag.isEmpty()) given->firstProgramFlag = "--erase";
    } else if (arg == "--verify" || arg == "--protect" || arg == "--run") {
        (arg == "--verify"    ? options->program.verify
         : arg == "--protect" ? options->program.protect
                              : options->program.run) = true;
        if (given->firstProgramFlag.isEmpty()) given->firstProgramFlag = arg;
    } else if (arg == "--reset-inverted" || arg == "--boot0-inverted") {
        (arg == "--reset-inverted" ? given->resetInverted : given->boot0Inverted) = true;
    } else if (arg == "--compatible" || arg == "--turbo") {
        const WriteMode mode = arg == "--turbo" ? WriteMode::Turbo : WriteMode::Compatible;
        if (options->mode != WriteMode::Fast && options->mode != mode)
            return QString("--compatible and --turbo exclude each other");
        options->mode = mode;
    } else if (arg == "--json") {
        options->json = true;
    } else if (arg == "--allow-permanent") {
        given->allowPermanent = true;
    } else if (arg == "--all") {
        given->all = true;
    } else {
        return QString("unknown option %1").arg(arg);
    }
    return std::nullopt;
}

// The help speaks the language asked for anywhere after --help, too; nothing else there counts.
std::optional<Language> languageAfter(const QStringList& arguments, int index) {
    std::optional<Language> language;
    for (int i = index + 1; i < arguments.size() && arguments.at(i) != "--"; ++i) {
        const QString& arg = arguments.at(i);
        const QString value = arg == "--lang"             ? arguments.value(i + 1)
                              : arg.startsWith("--lang=") ? arg.mid(7)
                                                          : QString();
        if (const std::optional<Language> named = parseLanguage(value)) language = named;
    }
    return language;
}

// Sorts the arguments into options and positional ones, taking each option as it comes. Stops
// at the first problem or at --help.
Problem scanArguments(const QStringList& arguments, GivenArguments* given, CliOptions* options) {
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith('-') || arg == "-") {
            given->positional << arg;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            given->help = true;
            if (const std::optional<Language> language = languageAfter(arguments, i))
                options->language = language;
            return std::nullopt;
        } else if (arg == "--set" || arg.startsWith("--set=")) {
            // Given once per edit.
            const QString value = arg == "--set" ? arguments.value(++i) : arg.mid(6);
            if (value.trimmed().isEmpty() || value.startsWith("--"))
                return QString("--set needs NAME=VALUE");
            given->sets << value;
        } else if (const ValueOption* valued = findValueOption(arg.section('=', 0, 0))) {
            if (Problem problem = takeValue(*valued, arguments, &i, given, options)) return problem;
        } else if (Problem problem = takeFlag(arg, given, options)) {
            return problem;
        }
    }
    return std::nullopt;
}

// The command, and the port every command but devices and ports needs.
Problem takeCommand(GivenArguments& given, CliOptions* options) {
    if (given.positional.isEmpty()) return QString("no command given");
    given.command = given.positional.takeFirst();
    for (const CommandName& c : kCommands) {
        if (given.command == QLatin1String(c.name)) options->command = c.command;
    }
    if (options->command == Command::None) return QString("unknown command %1").arg(given.command);
    const bool opensPort =
        options->command != Command::Devices && options->command != Command::Ports;
    if (!given.port && opensPort) return QString("--port is required");
    options->port = given.port.value_or(QString());
    return std::nullopt;
}

// Options that belong to some commands only.
Problem checkPlacement(GivenArguments& given, CliOptions* options) {
    const Command c = options->command;
    const bool ranged = c == Command::Read || c == Command::Erase || c == Command::WriteProtect;
    if (!given.sets.isEmpty() && c != Command::OptionBytes)
        return QString("--set belongs to option-bytes, not %1").arg(given.command);
    if (given.allowPermanent && given.sets.isEmpty())
        return QString("--allow-permanent goes with option-bytes --set");
    if (given.all && c != Command::WriteProtect)
        return QString("--all belongs to write-protect, not %1").arg(given.command);
    if (c == Command::WriteProtect && given.all == given.address.has_value())
        return QString("write-protect needs either --address A --size N or --all");
    options->protectAll = given.all;
    options->allowPermanent = given.allowPermanent;
    if (given.goAddress && given.firstProgramFlag.isEmpty())
        given.firstProgramFlag = "--go-address";
    if (c != Command::Program && !given.firstProgramFlag.isEmpty())
        return QString("%1 belongs to program, not %2").arg(given.firstProgramFlag, given.command);
    if (given.goAddress && !options->program.run) return QString("--go-address goes with --run");
    if (given.address && c != Command::Program && !ranged)
        return QString("--address belongs to program, read, erase and write-protect, not %1")
            .arg(given.command);
    if (given.format && c != Command::Program)
        return QString("--format belongs to program, not %1").arg(given.command);
    if (given.size && !ranged)
        return QString("--size belongs to read, erase and write-protect, not %1")
            .arg(given.command);
    return std::nullopt;
}

// program and read: FILE; go: an optional address; nothing more for any command.
Problem takeCommandArguments(GivenArguments& given, CliOptions* options) {
    const Command c = options->command;
    QStringList& positional = given.positional;
    if (c == Command::Program || c == Command::Read) {
        if (positional.isEmpty() || positional.first().trimmed().isEmpty())
            return QString("%1 needs a FILE").arg(given.command);
        options->file = positional.takeFirst();
    } else if (c == Command::Go && !positional.isEmpty()) {
        const QString text = positional.takeFirst();
        const std::optional<uint32_t> go = parseAddress(text);
        if (!go) return invalidAddress(text);
        options->goAddress = *go;
    }
    // option-bytes --set A=1 B=2: the edits after the first need not repeat --set.
    if (c == Command::OptionBytes && !given.sets.isEmpty())
        while (!positional.isEmpty() && positional.first().contains('='))
            given.sets << positional.takeFirst();
    if (!positional.isEmpty()) return QString("unexpected argument %1").arg(positional.first());
    for (const QString& edit : given.sets) {
        if (!edit.contains('=') || edit.startsWith('='))
            return QString("invalid --set %1: give NAME=VALUE").arg(edit);
        options->optionEdits.push_back(edit.trimmed().toStdString());
    }
    return std::nullopt;
}

// --address, --size and --go-address.
Problem takeAddresses(GivenArguments& given, CliOptions* options) {
    const bool ranged = options->command == Command::Read || options->command == Command::Erase ||
                        options->command == Command::WriteProtect;
    if (given.address) {
        options->address = parseAddress(*given.address);
        if (!options->address) return invalidAddress(*given.address);
    }
    if (given.format) {
        const QString name = given.format->trimmed().toLower();
        for (const FormatName& f : kFormats)
            if (name == QLatin1String(f.name)) options->format = f.format;
        if (!options->format)
            return QString("invalid --format %1: give hex, srec, elf or bin").arg(*given.format);
    }
    if (options->command == Command::Program && given.address) {
        // The file's content decides as it will when the file is read; a missing file is reported
        // then.
        const std::optional<ImageFormat> format =
            options->format ? options->format
                            : DetectImageFileFormat(QFile::encodeName(options->file).toStdString());
        for (const FormatName& f : kFormats)
            if (f.format == format && format != ImageFormat::Binary)
                return QString("--address is for binary files; %1 file carries its own addresses")
                    .arg(f.article);
    }
    if (ranged && given.address.has_value() != given.size.has_value())
        return QString("--address and --size go together");
    if (given.size) {
        const std::optional<uint64_t> bytes = parseSize(*given.size);
        if (!bytes)
            return QString(
                       "invalid size %1: give a decimal number or 0x and hexadecimal digits, "
                       "optionally followed by K or M")
                .arg(*given.size);
        if (*bytes == 0) return QString("--size must not be zero");
        const uint32_t begin = *options->address;
        if (begin + *bytes > kAddressSpace)
            return QString("%1 bytes from %2 pass 0xFFFFFFFF")
                .arg(*bytes)
                .arg(QString::number(begin, 16).toUpper().rightJustified(8, '0'));
        options->range = AddressRange{begin, begin + *bytes};
    }
    if (given.goAddress) {
        const std::optional<uint32_t> start = parseAddress(*given.goAddress);
        if (!start) return invalidAddress(*given.goAddress);
        options->program.goAddress = *start;
    }
    return std::nullopt;
}

// --flash-kb and --baud.
Problem takeChipAndSpeed(GivenArguments& given, CliOptions* options) {
    if (given.flashKB) {
        static const QRegularExpression digits("^[0-9]{1,6}$");
        const QString text = given.flashKB->trimmed();
        options->flashKB = digits.match(text).hasMatch() ? text.toInt() : 0;
        if (options->flashKB < 1 || options->flashKB > kMaxFlashKB)
            return QString("invalid --flash-kb %1: give the flash size in KB, 1 to %2")
                .arg(*given.flashKB)
                .arg(kMaxFlashKB);
    }
    if (given.baud) {
        bool ok = false;
        options->lines.baudRate = given.baud->trimmed().toInt(&ok, 10);
        if (!ok || !IsSupportedBaudRate(options->lines.baudRate))
            return QString("unsupported baud rate %1: give %2")
                .arg(*given.baud, QString::fromStdString(LineSpeedsText()));
    }
    if (given.turboBaud) {
        if (options->mode != WriteMode::Turbo) return QString("--turbo-baud goes with --turbo");
        bool ok = false;
        options->program.turboBaudRate = given.turboBaud->trimmed().toInt(&ok, 10);
        if (!ok || !IsTurboLineSpeed(options->program.turboBaudRate))
            return QString("unsupported --turbo-baud %1: give %2")
                .arg(*given.turboBaud, QString::fromStdString(TurboLineSpeedsText()));
    }
    return std::nullopt;
}

// --sequence, or the wiring options with their inversions.
Problem takeWiring(GivenArguments& given, CliOptions* options) {
    const bool wired =
        given.resetLine || given.boot0Line || given.resetInverted || given.boot0Inverted;
    if (given.sequence && wired)
        return QString("--sequence replaces --reset-line, --boot0-line and their inversions");
    if (given.sequence) {
        SequenceError error;
        options->lines.boot = ParseSequence(*given.sequence, &error);
        if (!options->lines.boot)
            return QString("--sequence \"%1\", position %2: %3")
                .arg(*given.sequence)
                .arg(error.position)
                .arg(error.message);
        return std::nullopt;
    }
    Wiring wiring;
    QString error;
    const auto take = [&](const std::optional<QString>& text, const char* name, WiredLine* line) {
        if (!text) return true;
        const std::optional<WiredLine> parsed = parseLine(*text);
        if (parsed)
            *line = *parsed;
        else
            error = QString("invalid %1 %2: give dtr, rts or none").arg(name, *text);
        return parsed.has_value();
    };
    if (!take(given.resetLine, "--reset-line", &wiring.reset) ||
        !take(given.boot0Line, "--boot0-line", &wiring.boot0))
        return error;
    // An inversion without its line would be ignored without a word.
    if (given.resetInverted && wiring.reset == WiredLine::None)
        return QString("--reset-inverted needs --reset-line dtr or rts");
    if (given.boot0Inverted && wiring.boot0 == WiredLine::None)
        return QString("--boot0-inverted needs --boot0-line rts or dtr");
    wiring.resetInverted = given.resetInverted;
    wiring.boot0Inverted = given.boot0Inverted;
    options->lines.boot = LinesForWiring(wiring, &error);
    if (!error.isEmpty())
        return QString("--reset-line %1 with --boot0-line %2: %3")
            .arg(given.resetLine->trimmed(), given.boot0Line->trimmed(), error);
    return std::nullopt;
}

}  // namespace

ParseResult parseArguments(const QStringList& arguments) {
    GivenArguments given;
    ParseResult result;
    Problem problem = scanArguments(arguments, &given, &result.options);
    if (!problem && given.help) {
        result.status = ParseResult::Help;
        return result;
    }
    // Each step checks one group of options; the first problem found is the one reported.
    using Step = Problem (*)(GivenArguments&, CliOptions*);
    for (Step step : {takeCommand, checkPlacement, takeCommandArguments, takeAddresses,
                      takeChipAndSpeed, takeWiring}) {
        if (problem) break;
        problem = step(given, &result.options);
    }
    if (problem) {
        result.status = ParseResult::UsageError;
        result.error = *problem;
        return result;
    }
    result.status = ParseResult::Run;
    return result;
}

Language localeLanguage(const QString& lcAll, const QString& lcMessages, const QString& lang) {
    for (const QString& value : {lcAll, lcMessages, lang}) {
        if (value.isEmpty()) continue;
        return value.startsWith(QLatin1String("zh"), Qt::CaseInsensitive) ? Language::Chinese
                                                                          : Language::English;
    }
    return Language::English;
}

Language environmentLanguage() {
    return localeLanguage(qEnvironmentVariable("LC_ALL"), qEnvironmentVariable("LC_MESSAGES"),
                          qEnvironmentVariable("LANG"));
}

Language chosenLanguage(const CliOptions& options) {
    return options.language.value_or(environmentLanguage());
}

}  // namespace praxon::cli
