#include "CliOptions.h"

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
    {"info", Command::Info},           {"program", Command::Program}, {"read", Command::Read},
    {"erase", Command::Erase},         {"go", Command::Go},           {"protect", Command::Protect},
    {"unprotect", Command::Unprotect}, {"devices", Command::Devices},
};

// The size register is 16 bits: nothing larger can be what a chip should have said.
constexpr int kMaxFlashKB = 0xFFFF;

constexpr uint64_t kAddressSpace = 0x100000000ull;

ParseResult usageError(const QString& error) {
    ParseResult result;
    result.status = ParseResult::UsageError;
    result.error = error;
    return result;
}

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

bool isHexImageName(const QString& file) {
    return file.trimmed().endsWith(QLatin1String(".hex"), Qt::CaseInsensitive);
}

}  // namespace

ImageSource CliOptions::imageSource() const {
    ImageSource source;
    source.path = file;
    source.format = isHexImageName(file) ? ImageFormat::Hex : ImageFormat::Binary;
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

ParseResult parseArguments(const QStringList& arguments) {
    CliOptions options;
    QStringList positional;
    std::optional<QString> port, address, size, erase, resetLine, boot0Line, sequence, baud,
        goAddress, flashKB, lang;
    bool resetInverted = false, boot0Inverted = false;
    QString firstProgramFlag;  // the first of --erase, --verify, --protect, --run given
    bool optionsEnded = false;

    // Options with a value: "--name VALUE" or "--name=VALUE", each at most once.
    struct ValueOption {
        const char* name;
        std::optional<QString>* slot;
        const char* missing;
    };
    const ValueOption valueOptions[] = {
        {"--port", &port, "--port needs a port name"},
        {"--address", &address, "--address needs a hexadecimal address"},
        {"--size", &size, "--size needs a byte count"},
        {"--reset-line", &resetLine, "--reset-line needs dtr, rts or none"},
        {"--boot0-line", &boot0Line, "--boot0-line needs rts, dtr or none"},
        {"--sequence", &sequence, "--sequence needs ENTRY:EXIT"},
        {"--baud", &baud, "--baud needs a line speed"},
        {"--go-address", &goAddress, "--go-address needs a hexadecimal address"},
        {"--flash-kb", &flashKB, "--flash-kb needs the flash size in KB"},
        {"--lang", &lang, "--lang needs zh or en"},
    };

    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith('-') || arg == "-") {
            positional << arg;
            continue;
        }
        const QString name = arg.section('=', 0, 0);
        const ValueOption* valued = nullptr;
        for (const ValueOption& v : valueOptions)
            if (name == QLatin1String(v.name)) valued = &v;

        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            ParseResult result;
            result.status = ParseResult::Help;
            return result;
        } else if (valued) {
            if (*valued->slot) return usageError(name + " given more than once");
            QString value;
            if (arg == name) {
                if (i + 1 >= arguments.size()) return usageError(valued->missing);
                value = arguments.at(++i);
            } else {
                value = arg.mid(name.size() + 1);
            }
            if (value.trimmed().isEmpty()) return usageError(valued->missing);
            *valued->slot = value;
        } else if (name == "--erase") {
            if (erase) return usageError("--erase given more than once");
            erase = arg == name ? QString("all") : arg.mid(name.size() + 1);
            if (*erase != "all" && *erase != "pages")
                return usageError(
                    QString("invalid %1: give --erase, --erase=all or --erase=pages").arg(arg));
            options.program.erase = *erase == "all" ? EraseScope::Chip : EraseScope::Pages;
            if (firstProgramFlag.isEmpty()) firstProgramFlag = "--erase";
        } else if (arg == "--verify" || arg == "--protect" || arg == "--run") {
            (arg == "--verify"    ? options.program.verify
             : arg == "--protect" ? options.program.protect
                                  : options.program.run) = true;
            if (firstProgramFlag.isEmpty()) firstProgramFlag = arg;
        } else if (arg == "--reset-inverted" || arg == "--boot0-inverted") {
            (arg == "--reset-inverted" ? resetInverted : boot0Inverted) = true;
        } else if (arg == "--compatible") {
            options.mode = WriteMode::Compatible;
        } else if (arg == "--json") {
            options.json = true;
        } else {
            return usageError(QString("unknown option %1").arg(arg));
        }
    }

    if (lang) {
        if (*lang != "zh" && *lang != "en") return usageError("--lang needs zh or en");
        options.language = *lang == "zh" ? Language::Chinese : Language::English;
    }
    if (positional.isEmpty()) return usageError("no command given");
    const QString command = positional.takeFirst();
    for (const CommandName& c : kCommands) {
        if (command == QLatin1String(c.name)) options.command = c.command;
    }
    if (options.command == Command::None)
        return usageError(QString("unknown command %1").arg(command));
    // devices only lists the table: it opens no port.
    if (!port && options.command != Command::Devices) return usageError("--port is required");
    options.port = port.value_or(QString());

    const Command c = options.command;
    const bool ranged = c == Command::Read || c == Command::Erase;
    if (goAddress && firstProgramFlag.isEmpty()) firstProgramFlag = "--go-address";
    if (c != Command::Program && !firstProgramFlag.isEmpty())
        return usageError(QString("%1 belongs to program, not %2").arg(firstProgramFlag, command));
    if (goAddress && !options.program.run) return usageError("--go-address goes with --run");
    if (address && c != Command::Program && !ranged)
        return usageError(
            QString("--address belongs to program, read and erase, not %1").arg(command));
    if (size && !ranged)
        return usageError(QString("--size belongs to read and erase, not %1").arg(command));

    if (c == Command::Program || c == Command::Read) {
        if (positional.isEmpty() || positional.first().trimmed().isEmpty())
            return usageError(QString("%1 needs a FILE").arg(command));
        options.file = positional.takeFirst();
    } else if (c == Command::Go && !positional.isEmpty()) {
        const QString text = positional.takeFirst();
        const std::optional<uint32_t> go = parseAddress(text);
        if (!go) return usageError(invalidAddress(text));
        options.goAddress = *go;
    }
    if (!positional.isEmpty())
        return usageError(QString("unexpected argument %1").arg(positional.first()));

    if (address) {
        options.address = parseAddress(*address);
        if (!options.address) return usageError(invalidAddress(*address));
    }
    if (c == Command::Program && address && isHexImageName(options.file))
        return usageError("--address is for binary files; a HEX file carries its own addresses");
    if (ranged && address.has_value() != size.has_value())
        return usageError("--address and --size go together");
    if (size) {
        const std::optional<uint64_t> bytes = parseSize(*size);
        if (!bytes)
            return usageError(QString("invalid size %1: give a decimal number or 0x and "
                                      "hexadecimal digits, optionally followed by K or M")
                                  .arg(*size));
        if (*bytes == 0) return usageError("--size must not be zero");
        if (*options.address + *bytes > kAddressSpace)
            return usageError(
                QString("%1 bytes from %2 pass 0xFFFFFFFF")
                    .arg(*bytes)
                    .arg(QString::number(*options.address, 16).toUpper().rightJustified(8, '0')));
        options.range = AddressRange{*options.address, *options.address + *bytes};
    }
    if (goAddress) {
        const std::optional<uint32_t> start = parseAddress(*goAddress);
        if (!start) return usageError(invalidAddress(*goAddress));
        options.program.goAddress = *start;
    }

    if (flashKB) {
        static const QRegularExpression digits("^[0-9]{1,6}$");
        const QString text = flashKB->trimmed();
        options.flashKB = digits.match(text).hasMatch() ? text.toInt() : 0;
        if (options.flashKB < 1 || options.flashKB > kMaxFlashKB)
            return usageError(QString("invalid --flash-kb %1: give the flash size in KB, 1 to %2")
                                  .arg(*flashKB)
                                  .arg(kMaxFlashKB));
    }
    if (baud) {
        bool ok = false;
        options.lines.baudRate = baud->trimmed().toInt(&ok, 10);
        if (!ok || !IsSupportedBaudRate(options.lines.baudRate))
            return usageError(QString("unsupported baud rate %1: give 1200, 2400, 4800, 9600, "
                                      "14400, 19200, 38400, 57600, 115200, 230400, 460800 or "
                                      "921600")
                                  .arg(*baud));
    }
    if (sequence && (resetLine || boot0Line || resetInverted || boot0Inverted))
        return usageError("--sequence replaces --reset-line, --boot0-line and their inversions");
    if (sequence) {
        SequenceError error;
        options.lines.boot = ParseSequence(*sequence, &error);
        if (!options.lines.boot)
            return usageError(QString("--sequence \"%1\", position %2: %3")
                                  .arg(*sequence)
                                  .arg(error.position)
                                  .arg(error.message));
    } else {
        Wiring wiring;
        QString error;
        const auto wired = [&](const std::optional<QString>& text, const char* name,
                               WiredLine* line) {
            if (!text) return true;
            const std::optional<WiredLine> parsed = parseLine(*text);
            if (parsed)
                *line = *parsed;
            else
                error = QString("invalid %1 %2: give dtr, rts or none").arg(name, *text);
            return parsed.has_value();
        };
        if (!wired(resetLine, "--reset-line", &wiring.reset) ||
            !wired(boot0Line, "--boot0-line", &wiring.boot0))
            return usageError(error);
        // An inversion without its line would be ignored without a word.
        if (resetInverted && wiring.reset == WiredLine::None)
            return usageError("--reset-inverted needs --reset-line dtr or rts");
        if (boot0Inverted && wiring.boot0 == WiredLine::None)
            return usageError("--boot0-inverted needs --boot0-line rts or dtr");
        wiring.resetInverted = resetInverted;
        wiring.boot0Inverted = boot0Inverted;
        options.lines.boot = LinesForWiring(wiring, &error);
        if (!error.isEmpty())
            return usageError(QString("--reset-line %1 with --boot0-line %2: %3")
                                  .arg(resetLine->trimmed(), boot0Line->trimmed(), error));
    }

    ParseResult result;
    result.status = ParseResult::Run;
    result.options = options;
    return result;
}

QString usageText() {
    return QStringLiteral(
        "Usage: praxon-cli --port PORT [--baud N] [WIRING] [--compatible] [--flash-kb N]\n"
        "                  COMMAND [ARGS]\n"
        "       praxon-cli devices\n"
        "  WIRING: --reset-line dtr|rts|none [--reset-inverted]\n"
        "          --boot0-line rts|dtr|none [--boot0-inverted]\n"
        "          or --sequence ENTRY:EXIT      (default: none, reset the board by hand)\n"
        "Commands:\n"
        "  info                   connect, identify the chip and summarise it\n"
        "  program FILE [--address A] [--erase[=all|pages]] [--verify] [--protect]\n"
        "               [--run [--go-address A]]\n"
        "                         write an Intel HEX or binary image into the flash\n"
        "  read FILE [--address A --size N]\n"
        "                         read the flash (default: all of it) into FILE\n"
        "  erase [--address A --size N]\n"
        "                         erase the pages covering a range (default: whole chip)\n"
        "  go [ADDRESS]           run from ADDRESS (hex, default 08000000)\n"
        "  protect                set the readout protection\n"
        "  unprotect              clear the readout protection (erases the flash)\n"
        "  devices                list the chips praxon-cli knows (no port needed)\n"
        "Run praxon-cli --help for details.\n");
}

QString helpText() {
    return QStringLiteral(
               "praxon-cli: programs STM32 microcontrollers through their USART bootloader.\n"
               "\n") +
           usageText().section('\n', 0, -3) +
           QStringLiteral(
               "\n"
               "\n"
               "PORT is the serial device the board's bootloader USART is wired to: a name as\n"
               "listed by the system (ttyUSB0, COM3) or a path (/dev/ttyUSB0, or a pseudo-\n"
               "terminal such as the one praxon-sim prints). The line runs with 8 data bits,\n"
               "even parity and 1 stop bit at --baud N: 1200, 2400, 4800, 9600, 14400, 19200,\n"
               "38400, 57600, 115200 (the default), 230400, 460800 or 921600. The three\n"
               "highest work on many adapters and boards, but not all: when a connection fails\n"
               "at one of them, try 115200.\n"
               "\n"
               "Wiring (every command): how the adapter's DTR and RTS lines reach the board,\n"
               "so that praxon-cli resets it into its bootloader before connecting and, with\n"
               "program --run, into the program afterwards.\n"
               "  --reset-line dtr|rts|none   the line on the board's NRST pin\n"
               "  --reset-inverted            NRST is driven through an inverting transistor\n"
               "  --boot0-line rts|dtr|none   the line on the board's BOOT0 pin\n"
               "  --boot0-inverted            BOOT0 is driven through an inverting transistor\n"
               "\"none\", the default for both, means: both lines are asserted when the port\n"
               "opens and nothing more; reset the board into its bootloader by hand (BOOT0\n"
               "high, then reset) before each command. Reset and BOOT0 cannot share a line.\n"
               "An asserted DTR or RTS is a logical 1; on a TTL adapter the pin is then at\n"
               "0 V. Wired directly, an asserted line pulls the board's pin low (NRST: held in\n"
               "reset; BOOT0: low). Inverted, through a transistor, it drives the pin high.\n"
               "The usual wirings:\n"
               "  --reset-line dtr --boot0-line rts   reset on DTR, BOOT0 on RTS, both direct\n"
               "  --reset-line rts --boot0-line dtr   the same with the lines swapped\n"
               "  add --reset-inverted or --boot0-inverted for a pin behind a transistor.\n"
               "Entering the bootloader: BOOT0 high, reset held for 100 ms, then 100 ms for\n"
               "the bootloader to start. Leaving it: BOOT0 low, the same reset.\n"
               "\n"
               "--sequence ENTRY:EXIT, instead of the wiring options, drives a board wired\n"
               "otherwise: ENTRY runs before connecting, EXIT for program --run. Steps are\n"
               "separated by commas: dtr=1 asserts DTR and dtr=0 releases it, likewise rts=1\n"
               "and rts=0; brk=1 and brk=0 set and clear a break; wait pauses 100 ms and\n"
               "wait=N N ms (at most 10000). Reset on DTR and BOOT0 on RTS, both direct:\n"
               "  --sequence \"rts=0,dtr=1,wait,dtr=0,wait:rts=1,dtr=1,wait,dtr=0\"\n"
               "\n"
               "Every command but devices first connects (synchronise, Get ID, Get, memory\n"
               "sizes) and stops there if the board does not answer. Without a wiring, a\n"
               "board still in its bootloader from an earlier command needs no new reset.\n"
               "A chip whose product ID devices does not list connects too, but is never\n"
               "erased or programmed. Then:\n"
               "  info     after the log, a summary on standard output: family and product\n"
               "           line, product ID, bootloader version and command codes (hex),\n"
               "           flash size (read from the chip, assumed or stated) and RAM size.\n"
               "  program  FILE is an Intel HEX file when its name ends in \".hex\" (any case),\n"
               "           otherwise a raw binary image, loaded at --address (default\n"
               "           08000000). The whole file is read before anything is sent: a bad\n"
               "           file leaves the board untouched.\n"
               "           --erase, --erase=all  erase the whole chip first\n"
               "           --erase=pages         erase only the pages the image touches; the\n"
               "                                 rest of the flash keeps its contents\n"
               "           --verify              read the image back and compare it\n"
               "           --protect             set the readout protection after a\n"
               "                                 successful download\n"
               "           --run                 then start the program: with a wiring or\n"
               "                                 a sequence by a reset with BOOT0 low (the\n"
               "                                 exit steps), without one by Go\n"
               "           --go-address A        where Go starts it (default 08000000)\n"
               "  read     a FILE whose name ends in \"hex\" (any case) is written as Intel HEX,\n"
               "           any other name as raw binary. An existing FILE is replaced only\n"
               "           when the read succeeded.\n"
               "  erase    with a range, the pages covering it; without, the whole chip.\n"
               "  go       the board leaves its bootloader. Without a wiring, reset it into\n"
               "           the bootloader again before the next command; with one, the next\n"
               "           command does that. The same holds after protect and unprotect,\n"
               "           which take effect at the next reset, and after program --run.\n"
               "\n"
               "devices lists the chips praxon-cli knows, one line each: product ID, family,\n"
               "product line, the line's largest flash and its erase units: 1K pages of 1 KB\n"
               "throughout; 16Kx4,64K four 16 KB sectors, then one of 64 KB; 2x(...) two\n"
               "banks alike; @max only on chips with the line's largest flash (option bytes\n"
               "decide on others); whole: option bytes decide, only the whole chip is erased.\n"
               "\n"
               "--flash-kb N (every command) states the chip's flash size in KB, for clones\n"
               "whose size register is blank or lies. Without it the size is read from the\n"
               "chip; when the register tells nothing, the product line's largest is assumed.\n"
               "\n"
               "Addresses (A, ADDRESS) are one hexadecimal number of 1 to 8 digits; a 0x\n"
               "prefix and an h suffix are allowed. Sizes (N) are decimal, or hexadecimal\n"
               "after 0x, with an optional K (1024 bytes) or M (1024 K) suffix: 4096, 0x1000\n"
               "and 4K are the same.\n"
               "\n"
               "Write modes (every command):\n"
               "  fast (default)  a reply is taken as soon as it is complete; the image goes\n"
               "                  out in aligned blocks of up to 256 bytes.\n"
               "  --compatible    every reply waits for a quiet line, and each HEX record is\n"
               "                  written (and, with --verify, checked) on its own: slower,\n"
               "                  for boards or adapters that need it.\n"
               "\n"
               "Output: standard output receives every log line exactly as the Praxon window's\n"
               "log holds it (time of day, a space, the message). Standard error receives the\n"
               "texts the window shows in message boxes and, when it is a terminal, one\n"
               "progress line with the bytes done and the rate.\n"
               "\n"
               "Ctrl+C acts as the window's Stop button: the running step fails at its next\n"
               "check and the command ends as failed; an output file is left as it was.\n"
               "\n"
               "Examples:\n"
               "  praxon-cli --port ttyUSB0 --reset-line dtr --boot0-line rts \\\n"
               "      program firmware.hex --erase --verify --run\n"
               "  praxon-cli --port COM3 --baud 460800 read flash.bin\n"
               "\n"
               "Without hardware: praxon-sim simulates an STM32F10x board on a pseudo-terminal\n"
               "and prints PORT=/dev/pts/N first; pass that device as PORT.\n"
               "  praxon-sim &\n"
               "  praxon-cli --port /dev/pts/N program firmware.hex --erase --verify\n"
               "  praxon-cli --port /dev/pts/N program app.bin --address 08004000 --erase=pages\n"
               "  praxon-cli --port /dev/pts/N read boot.hex --address 08000000 --size 16K\n"
               "A wired board: praxon-sim --reset-line dtr --boot0-line rts also prints\n"
               "CLIENT_ENV=NAME=VALUE; with that in praxon-cli's environment the simulated\n"
               "board sees DTR and RTS:\n"
               "  env NAME=VALUE praxon-cli --port /dev/pts/N --reset-line dtr \\\n"
               "      --boot0-line rts program firmware.hex --run\n"
               "\n"
               "Exit status: 0 the operation succeeded, 1 it failed (including Ctrl+C), 2 usage\n"
               "error.\n");
}

}  // namespace praxon::cli
