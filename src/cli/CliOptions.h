#pragma once

#include <QString>
#include <QStringList>

namespace praxon::cli {

enum class Command { None, Info, Program, Read, Erase, Go, Protect, Unprotect };

// What the command line asked for.
struct CliOptions {
    Command command = Command::None;
    QString port;
    QString file;                    // program: the HEX file; read: the output file
    QString goAddress = "08000000";  // go: the address text, hexadecimal
    bool erase = false;              // program --erase
    bool verify = false;             // program --verify
    bool protect = false;            // program --protect
};

struct ParseResult {
    enum Status { Run, Help, UsageError };
    Status status = UsageError;
    CliOptions options;
    QString error;  // UsageError: one line saying what is wrong
};

// Parses the arguments that follow the program name. Options may stand anywhere; "--" ends them.
ParseResult parseArguments(const QStringList& arguments);

// The full help text (--help) and the short usage text shown with a usage error.
QString helpText();
QString usageText();

}  // namespace praxon::cli
