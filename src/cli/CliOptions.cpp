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
    {"unprotect", Command::Unprotect},
};

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
    std::optional<QString> port, address, size, erase;
    QString firstProgramFlag;  // the first of --erase, --verify, --protect given
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
        } else if (arg == "--verify" || arg == "--protect") {
            (arg == "--verify" ? options.program.verify : options.program.protect) = true;
            if (firstProgramFlag.isEmpty()) firstProgramFlag = arg;
        } else if (arg == "--compatible") {
            options.mode = WriteMode::Compatible;
        } else {
            return usageError(QString("unknown option %1").arg(arg));
        }
    }

    if (positional.isEmpty()) return usageError("no command given");
    const QString command = positional.takeFirst();
    for (const CommandName& c : kCommands) {
        if (command == QLatin1String(c.name)) options.command = c.command;
    }
    if (options.command == Command::None)
        return usageError(QString("unknown command %1").arg(command));
    if (!port) return usageError("--port is required");
    options.port = *port;

    const Command c = options.command;
    const bool ranged = c == Command::Read || c == Command::Erase;
    if (c != Command::Program && !firstProgramFlag.isEmpty())
        return usageError(QString("%1 belongs to program, not %2").arg(firstProgramFlag, command));
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

    ParseResult result;
    result.status = ParseResult::Run;
    result.options = options;
    return result;
}

QString usageText() {
    return QStringLiteral(
        "Usage: praxon-cli --port PORT [--compatible] COMMAND [ARGUMENTS]\n"
        "Commands:\n"
        "  info                   connect and identify the chip\n"
        "  program FILE [--address A] [--erase[=all|pages]] [--verify] [--protect]\n"
        "                         write an Intel HEX or binary image into the flash\n"
        "  read FILE [--address A --size N]\n"
        "                         read the flash (default: all of it) into FILE\n"
        "  erase [--address A --size N]\n"
        "                         erase the pages covering a range (default: whole chip)\n"
        "  go [ADDRESS]           run from ADDRESS (hex, default 08000000)\n"
        "  protect                set the readout protection\n"
        "  unprotect              clear the readout protection (erases the flash)\n"
        "Run praxon-cli --help for details.\n");
}

QString helpText() {
    return QStringLiteral(
               "praxon-cli: programs STM32F10x microcontrollers through their USART bootloader.\n"
               "\n") +
           usageText().section('\n', 0, -3) +
           QStringLiteral(
               "\n\n"
               "PORT is the serial device the board's bootloader USART is wired to: a name as\n"
               "listed by the system (ttyUSB0, COM3) or a path (/dev/ttyUSB0, or a pseudo-\n"
               "terminal such as the one praxon-sim prints). The line runs at 115200 baud,\n"
               "8 data bits, even parity, 1 stop bit. Reset the board into its bootloader\n"
               "(BOOT0 high) before each command.\n"
               "\n"
               "Every command first connects (synchronise, Get ID, memory sizes) and stops\n"
               "there if the board does not answer. Then:\n"
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
               "  read     a FILE whose name ends in \"hex\" (any case) is written as Intel HEX,\n"
               "           any other name as raw binary. An existing FILE is replaced only\n"
               "           when the read succeeded.\n"
               "  erase    with a range, the pages covering it; without, the whole chip.\n"
               "  go       the board leaves its bootloader: reset it into the bootloader again\n"
               "           before the next command. The same holds after protect and\n"
               "           unprotect, which take effect at the next reset.\n"
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
               "Without hardware: praxon-sim simulates an STM32F10x board on a pseudo-terminal\n"
               "and prints PORT=/dev/pts/N first; pass that device as PORT.\n"
               "  praxon-sim &\n"
               "  praxon-cli --port /dev/pts/N program firmware.hex --erase --verify\n"
               "  praxon-cli --port /dev/pts/N program app.bin --address 08004000 --erase=pages\n"
               "  praxon-cli --port /dev/pts/N read boot.hex --address 08000000 --size 16K\n"
               "\n"
               "Exit status: 0 the operation succeeded, 1 it failed (including Ctrl+C), 2 usage\n"
               "error.\n");
}

}  // namespace praxon::cli
