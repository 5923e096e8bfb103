// praxon-cli: the engine of the Praxon window driven from the command line.
#include <unistd.h>
#include <QCoreApplication>
#include <QFile>
#include <memory>

#include "BoardSet.h"
#include "CliHost.h"
#include "CliOptions.h"
#include "CliPorts.h"
#include "CliRunner.h"
#include "Engine.h"
#include "FineTimers.h"
#include "PortList.h"
#include "QtSerialPort.h"
#include "StopSignal.h"

using namespace praxon;
using namespace praxon::cli;

int main(int argc, char* argv[]) {
    PreferFineTimers();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Praxon");
    QCoreApplication::setApplicationName("praxon-cli");

    // Unbuffered, so every log line reaches a pipe or a log file as soon as it is written.
    QFile out, err;
    // File descriptors rather than stdio streams: a stdio stream on a pipe would hold the lines
    // back until it is full.
    out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);

    const ParseResult parsed = parseArguments(app.arguments().mid(1));
    const Language language = chosenLanguage(parsed.options);
    if (parsed.status == ParseResult::Help) {
        out.write(helpText(language).toUtf8());
        return ExitSuccess;
    }
    if (parsed.status == ParseResult::UsageError) {
        err.write(QString("praxon-cli: %1\n\n%2").arg(parsed.error, usageText(language)).toUtf8());
        return ExitUsage;
    }
    SystemPortSource systemPorts;
    if (parsed.options.command == Command::Ports)
        return ListPorts(systemPorts, parsed.options.json, language, out, err);
    CliOptions options = parsed.options;
    if (options.command != Command::Devices) {
        const std::optional<QString> port = ResolvePort(options.port, systemPorts, language, err);
        if (!port) return ExitFailure;
        options.port = options.ports.first() = *port;
    }
    // Several boards, or a record of the run: each board in a thread of its own, a summary at
    // the end.
    if (options.command != Command::Devices &&
        (options.ports.size() > 1 || !options.recordPath.isEmpty())) {
        BoardSet boards(options, language, out, err);
        StopSignal stopSignal;
        QObject::connect(&stopSignal, &StopSignal::stopRequested, &boards, &BoardSet::stop);
        return boards.run();
    }

    QtSerialPort port;
    CliHost host(out, err, ::isatty(STDERR_FILENO) == 1);
    host.setLanguage(language);
    host.setJson(parsed.options.json);
    Engine engine(host, port);
    engine.initialise();

    CliRunner runner(engine, host, options);
    std::unique_ptr<SerialStateFile> serialState;
    if (options.serialAddress) {
        serialState = std::make_unique<SerialStateFile>(options.serialState, options.serialStart);
        runner.setSerialState(serialState.get());
    }
    StopSignal stopSignal;
    QObject::connect(&stopSignal, &StopSignal::stopRequested, &runner, &CliRunner::stop);

    const int status = runner.run();
    port.close();
    return status;
}
