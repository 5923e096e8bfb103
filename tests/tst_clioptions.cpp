// Argument parsing of praxon-cli: every command, the defaults, and every usage error.
#include <QtTest>

#include "CliOptions.h"

using namespace praxon::cli;

Q_DECLARE_METATYPE(praxon::cli::Command)

class TestCliOptions : public QObject {
    Q_OBJECT
  private slots:
    void accepted_data();
    void accepted();
    void usageErrors_data();
    void usageErrors();
    void help_data();
    void help();
    void texts();
};

void TestCliOptions::accepted_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("goAddress");
    QTest::addColumn<QString>("flags");  // e, v, p for erase, verify, protect

    const QString pts = "/dev/pts/7";
    QTest::newRow("info") << QStringList{"--port", pts, "info"} << Command::Info << pts << ""
                          << "08000000"
                          << "";
    QTest::newRow("port after command")
        << QStringList{"info", "--port", "ttyUSB0"} << Command::Info << "ttyUSB0"
        << ""
        << "08000000"
        << "";
    QTest::newRow("port with =") << QStringList{"--port=COM10", "erase"} << Command::Erase
                                 << "COM10"
                                 << ""
                                 << "08000000"
                                 << "";
    QTest::newRow("program plain")
        << QStringList{"--port", pts, "program", "a.hex"} << Command::Program << pts << "a.hex"
        << "08000000"
        << "";
    QTest::newRow("program all flags after file")
        << QStringList{"--port", pts, "program", "fw.hex", "--erase", "--verify", "--protect"}
        << Command::Program << pts << "fw.hex"
        << "08000000"
        << "evp";
    QTest::newRow("program flags before command")
        << QStringList{"--verify", "--port", pts, "program", "fw.hex"} << Command::Program << pts
        << "fw.hex"
        << "08000000"
        << "v";
    QTest::newRow("program file with blanks") << QStringList{"--port", pts, "program", "my fw.hex"}
                                              << Command::Program << pts << "my fw.hex"
                                              << "08000000"
                                              << "";
    QTest::newRow("program file after --")
        << QStringList{"--port", pts, "program", "--", "--odd.hex"} << Command::Program << pts
        << "--odd.hex"
        << "08000000"
        << "";
    QTest::newRow("read bin") << QStringList{"--port", pts, "read", "out.bin"} << Command::Read
                              << pts << "out.bin"
                              << "08000000"
                              << "";
    QTest::newRow("read HEX") << QStringList{"--port", pts, "read", "OUT.HEX"} << Command::Read
                              << pts << "OUT.HEX"
                              << "08000000"
                              << "";
    QTest::newRow("erase") << QStringList{"--port", pts, "erase"} << Command::Erase << pts << ""
                           << "08000000"
                           << "";
    QTest::newRow("go default") << QStringList{"--port", pts, "go"} << Command::Go << pts << ""
                                << "08000000"
                                << "";
    QTest::newRow("go address") << QStringList{"--port", pts, "go", "20001000"} << Command::Go
                                << pts << ""
                                << "20001000"
                                << "";
    QTest::newRow("go 0x prefix") << QStringList{"--port", pts, "go", "0x08000000"} << Command::Go
                                  << pts << ""
                                  << "0x08000000"
                                  << "";
    QTest::newRow("go h suffix") << QStringList{"--port", pts, "go", "8000000h"} << Command::Go
                                 << pts << ""
                                 << "8000000h"
                                 << "";
    QTest::newRow("protect") << QStringList{"--port", pts, "protect"} << Command::Protect << pts
                             << ""
                             << "08000000"
                             << "";
    QTest::newRow("unprotect") << QStringList{"--port", pts, "unprotect"} << Command::Unprotect
                               << pts << ""
                               << "08000000"
                               << "";
}

void TestCliOptions::accepted() {
    QFETCH(QStringList, args);
    QFETCH(Command, command);
    QFETCH(QString, port);
    QFETCH(QString, file);
    QFETCH(QString, goAddress);
    QFETCH(QString, flags);

    const ParseResult r = parseArguments(args);
    QCOMPARE(r.status, ParseResult::Run);
    QVERIFY(r.error.isEmpty());
    QCOMPARE(r.options.command, command);
    QCOMPARE(r.options.port, port);
    QCOMPARE(r.options.file, file);
    QCOMPARE(r.options.goAddress, goAddress);
    QCOMPARE(r.options.erase, flags.contains('e'));
    QCOMPARE(r.options.verify, flags.contains('v'));
    QCOMPARE(r.options.protect, flags.contains('p'));
}

void TestCliOptions::usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("errorPart");

    const QString pts = "/dev/pts/7";
    QTest::newRow("nothing") << QStringList{} << "no command";
    QTest::newRow("port only") << QStringList{"--port", pts} << "no command";
    QTest::newRow("no port") << QStringList{"info"} << "--port is required";
    QTest::newRow("port without value") << QStringList{"info", "--port"} << "needs a port";
    QTest::newRow("port empty") << QStringList{"--port", "", "info"} << "needs a port";
    QTest::newRow("port= empty") << QStringList{"--port=", "info"} << "needs a port";
    QTest::newRow("port twice") << QStringList{"--port", pts, "--port", pts, "info"}
                                << "more than once";
    QTest::newRow("unknown command") << QStringList{"--port", pts, "flash"} << "unknown command";
    QTest::newRow("command case") << QStringList{"--port", pts, "INFO"} << "unknown command";
    QTest::newRow("unknown option")
        << QStringList{"--port", pts, "info", "--fast"} << "unknown option --fast";
    QTest::newRow("program without file")
        << QStringList{"--port", pts, "program"} << "needs a FILE";
    QTest::newRow("program blank file")
        << QStringList{"--port", pts, "program", "  "} << "needs a FILE";
    QTest::newRow("program two files")
        << QStringList{"--port", pts, "program", "a.hex", "b.hex"} << "unexpected argument b.hex";
    QTest::newRow("read without file") << QStringList{"--port", pts, "read"} << "needs a FILE";
    QTest::newRow("read two files")
        << QStringList{"--port", pts, "read", "a", "b"} << "unexpected argument b";
    QTest::newRow("info with argument")
        << QStringList{"--port", pts, "info", "x"} << "unexpected argument x";
    QTest::newRow("erase with argument")
        << QStringList{"--port", pts, "erase", "all"} << "unexpected argument all";
    QTest::newRow("erase flag on erase")
        << QStringList{"--port", pts, "erase", "--erase"} << "belong to program";
    QTest::newRow("verify flag on read")
        << QStringList{"--port", pts, "read", "f.bin", "--verify"} << "belong to program";
    QTest::newRow("protect flag on info")
        << QStringList{"--port", pts, "info", "--protect"} << "belong to program";
    QTest::newRow("go two addresses")
        << QStringList{"--port", pts, "go", "08000000", "1"} << "unexpected argument 1";
    QTest::newRow("go nine digits")
        << QStringList{"--port", pts, "go", "080000000"} << "invalid address";
    QTest::newRow("go not hex") << QStringList{"--port", pts, "go", "08G00000"}
                                << "invalid address";
    QTest::newRow("go empty") << QStringList{"--port", pts, "go", ""} << "invalid address";
    QTest::newRow("go two numbers")
        << QStringList{"--port", pts, "go", "0800 0000,1"} << "invalid address";
}

void TestCliOptions::usageErrors() {
    QFETCH(QStringList, args);
    QFETCH(QString, errorPart);

    const ParseResult r = parseArguments(args);
    QCOMPARE(r.status, ParseResult::UsageError);
    QVERIFY2(r.error.contains(errorPart), qPrintable(r.error));
}

void TestCliOptions::help_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("--help alone") << QStringList{"--help"};
    QTest::newRow("-h") << QStringList{"-h"};
    QTest::newRow("help with a command") << QStringList{"--port", "x", "program", "--help"};
    QTest::newRow("help beats usage errors") << QStringList{"bogus", "--help"};
}

void TestCliOptions::help() {
    QFETCH(QStringList, args);
    QCOMPARE(parseArguments(args).status, ParseResult::Help);
}

void TestCliOptions::texts() {
    // The usage text names every command; the help text explains ports, the simulator and the
    // exit codes as well.
    const QString usage = usageText();
    for (const char* word : {"info", "program FILE", "--erase", "--verify", "--protect",
                             "read FILE", "erase", "go [ADDRESS]", "protect", "unprotect"})
        QVERIFY2(usage.contains(QLatin1String(word)), word);
    const QString help = helpText();
    for (const char* word :
         {"--port PORT", "praxon-sim", "PORT=/dev/pts/N", "Exit status", "0 the operation",
          "1 it failed", "2 usage", "Ctrl+C", "Intel HEX", "08000000", "/dev/ttyUSB0", "COM3"})
        QVERIFY2(help.contains(QLatin1String(word)), word);
}

QTEST_GUILESS_MAIN(TestCliOptions)
#include "tst_clioptions.moc"
