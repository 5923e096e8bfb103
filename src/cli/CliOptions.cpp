#include "CliOptions.h"

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

ParseResult usageError(const QString& error) {
    ParseResult result;
    result.status = ParseResult::UsageError;
    result.error = error;
    return result;
}

}  // namespace

ParseResult parseArguments(const QStringList& arguments) {
    CliOptions options;
    QStringList positional;
    bool portGiven = false;
    bool optionsEnded = false;

    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith('-') || arg == "-") {
            positional << arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            ParseResult result;
            result.status = ParseResult::Help;
            return result;
        } else if (arg == "--port" || arg.startsWith("--port=")) {
            if (portGiven) return usageError("--port given more than once");
            QString value;
            if (arg == "--port") {
                if (i + 1 >= arguments.size()) return usageError("--port needs a port name");
                value = arguments.at(++i);
            } else {
                value = arg.mid(int(sizeof("--port=")) - 1);
            }
            if (value.trimmed().isEmpty()) return usageError("--port needs a port name");
            options.port = value;
            portGiven = true;
        } else if (arg == "--erase") {
            options.erase = true;
        } else if (arg == "--verify") {
            options.verify = true;
        } else if (arg == "--protect") {
            options.protect = true;
        } else {
            return usageError(QString("unknown option %1").arg(arg));
        }
    }

    if (positional.isEmpty()) return usageError("no command given");
    const QString name = positional.takeFirst();
    for (const CommandName& c : kCommands) {
        if (name == QLatin1String(c.name)) options.command = c.command;
    }
    if (options.command == Command::None)
        return usageError(QString("unknown command %1").arg(name));
    if (!portGiven) return usageError("--port is required");

    if (options.command != Command::Program && (options.erase || options.verify || options.protect))
        return usageError(
            QString("--erase, --verify and --protect belong to program, not %1").arg(name));

    switch (options.command) {
        case Command::Program:
        case Command::Read:
            if (positional.isEmpty()) return usageError(QString("%1 needs a FILE").arg(name));
            options.file = positional.takeFirst();
            if (options.file.trimmed().isEmpty())
                return usageError(QString("%1 needs a FILE").arg(name));
            break;
        case Command::Go:
            if (!positional.isEmpty()) {
                options.goAddress = positional.takeFirst();
                uint32_t address = 0;
                const std::string text = options.goAddress.toStdString();
                if (!ParseGoAddress(text, &address))
                    return usageError(QString("invalid address %1: give 1 to 8 hexadecimal digits")
                                          .arg(options.goAddress));
            }
            break;
        default:
            break;
    }
    if (!positional.isEmpty())
        return usageError(QString("unexpected argument %1").arg(positional.first()));

    ParseResult result;
    result.status = ParseResult::Run;
    result.options = options;
    return result;
}

QString usageText() {
    return QStringLiteral(
        "Usage: praxon-cli --port PORT COMMAND [ARGUMENTS]\n"
        "Commands:\n"
        "  info                                   connect and identify the chip\n"
        "  program FILE [--erase] [--verify] [--protect]\n"
        "                                         program the flash from an Intel HEX file\n"
        "  read FILE                              read the whole flash into FILE\n"
        "  erase                                  erase the whole flash\n"
        "  go [ADDRESS]                           run from ADDRESS (hex, default 08000000)\n"
        "  protect                                set the readout protection\n"
        "  unprotect                              clear the readout protection (erases the flash)\n"
        "Run praxon-cli --help for details.\n");
}

QString helpText() {
    return QStringLiteral(
               "praxon-cli: programs STM32F10x microcontrollers through the chip's USART "
               "bootloader.\n"
               "\n") +
           usageText().section('\n', 0, -3) +
           QStringLiteral(
               "\n\n"
               "PORT is the serial device the board's bootloader USART is wired to: a name as\n"
               "listed by the system (ttyUSB0, COM3) or a path (/dev/ttyUSB0, or a "
               "pseudo-terminal\n"
               "such as the one praxon-sim prints). The line runs at 115200 baud, 8 data bits, "
               "even\n"
               "parity, 1 stop bit. Reset the board into its bootloader (BOOT0 high) before each\n"
               "command.\n"
               "\n"
               "Every command first connects (synchronise, Get ID, memory sizes) and stops there "
               "if\n"
               "the board does not answer. Then:\n"
               "  program  --erase   erase the whole flash first\n"
               "           --verify  read every block back and compare it\n"
               "           --protect set the readout protection after a successful download\n"
               "  read     a FILE whose name ends in \"hex\" (any case) is written as Intel HEX,\n"
               "           any other name as a raw binary image of the whole flash. An existing\n"
               "           FILE is replaced only when the read succeeded.\n"
               "  go       ADDRESS is one hexadecimal number of 1 to 8 digits; 0x prefix and h\n"
               "           suffix are allowed. The board leaves its bootloader: reset it into the\n"
               "           bootloader again before the next command. The same holds after\n"
               "           protect and unprotect, which take effect at the next reset.\n"
               "\n"
               "Output: standard output receives every log line exactly as the Praxon window's "
               "log\n"
               "holds it (time of day, a space, the message). Standard error receives the texts "
               "the\n"
               "window shows in message boxes and, when it is a terminal, the progress line.\n"
               "\n"
               "Ctrl+C acts as the window's Stop button: the running step fails at its next check\n"
               "and the command ends as failed; an output file is left as it was before.\n"
               "\n"
               "Without hardware: praxon-sim simulates an STM32F10x board on a pseudo-terminal "
               "and\n"
               "prints PORT=/dev/pts/N first; pass that device as PORT.\n"
               "  praxon-sim &\n"
               "  praxon-cli --port /dev/pts/N program firmware.hex --erase --verify\n"
               "\n"
               "Exit status: 0 the operation succeeded, 1 it failed (including Ctrl+C), 2 usage\n"
               "error.\n");
}

}  // namespace praxon::cli
