// Argument parsing of praxon-cli: the commands, the defaults and the usage errors.
#include <QtTest>

#include "CliOptions.h"

using namespace praxon::cli;

class TestCliOptions : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
};

void TestCliOptions::parse_data() {
    QTest::addColumn<QStringList>("args");
    // "help", "usage: <part of the error>", or "<command> <port> [<file>] <go address> <flags>"
    // with e, v, p for --erase, --verify, --protect.
    QTest::addColumn<QString>("expected");

    const QString pts = "/dev/pts/7";
    QTest::newRow("info, defaults")
        << QStringList{"--port", pts, "info"} << "info /dev/pts/7 [] 08000000 ";
    QTest::newRow("port after the command, with =")
        << QStringList{"erase", "--port=COM10"} << "erase COM10 [] 08000000 ";
    QTest::newRow("program, flags anywhere")
        << QStringList{"--verify", "--port", pts, "program", "my fw.hex", "--protect", "--erase"}
        << "program /dev/pts/7 [my fw.hex] 08000000 evp";
    QTest::newRow("file after --") << QStringList{"--port", pts, "program", "--", "--odd.hex"}
                                   << "program /dev/pts/7 [--odd.hex] 08000000 ";
    QTest::newRow("read") << QStringList{"--port", pts, "read", "OUT.HEX"}
                          << "read /dev/pts/7 [OUT.HEX] 08000000 ";
    QTest::newRow("go address") << QStringList{"--port", pts, "go", "2000100h"}
                                << "go /dev/pts/7 [] 2000100h ";
    QTest::newRow("unprotect") << QStringList{"--port", pts, "unprotect"}
                               << "unprotect /dev/pts/7 [] 08000000 ";
    QTest::newRow("-h") << QStringList{"-h"} << "help";
    QTest::newRow("help beats usage errors") << QStringList{"bogus", "--help"} << "help";
    QTest::newRow("nothing") << QStringList{} << "usage: no command";
    QTest::newRow("no port") << QStringList{"info"} << "usage: --port is required";
    QTest::newRow("port without value") << QStringList{"info", "--port"} << "usage: needs a port";
    QTest::newRow("port blank") << QStringList{"--port= ", "info"} << "usage: needs a port";
    QTest::newRow("port twice") << QStringList{"--port", pts, "--port", pts, "info"}
                                << "usage: more than once";
    QTest::newRow("command case") << QStringList{"--port", pts, "INFO"}
                                  << "usage: unknown command INFO";
    QTest::newRow("unknown option")
        << QStringList{"--port", pts, "info", "--fast"} << "usage: unknown option --fast";
    QTest::newRow("program blank file")
        << QStringList{"--port", pts, "program", " "} << "usage: program needs a FILE";
    QTest::newRow("read without file")
        << QStringList{"--port", pts, "read"} << "usage: read needs a FILE";
    QTest::newRow("two files") << QStringList{"--port", pts, "program", "a.hex", "b.hex"}
                               << "usage: unexpected argument b.hex";
    QTest::newRow("argument to erase")
        << QStringList{"--port", pts, "erase", "all"} << "usage: unexpected argument all";
    QTest::newRow("program flag on read") << QStringList{"--port", pts, "read", "f", "--verify"}
                                          << "usage: belong to program, not read";
    QTest::newRow("go nine digits")
        << QStringList{"--port", pts, "go", "080000000"} << "usage: invalid address";
    QTest::newRow("go not hex") << QStringList{"--port", pts, "go", "08G00000"}
                                << "usage: invalid address";
}

void TestCliOptions::parse() {
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    static const char* const names[] = {"none",  "info", "program", "read",
                                        "erase", "go",   "protect", "unprotect"};
    const ParseResult r = parseArguments(args);
    const CliOptions& o = r.options;
    const QString flags =
        QString(o.erase ? "e" : "") + (o.verify ? "v" : "") + (o.protect ? "p" : "");
    const QString actual =
        r.status == ParseResult::Help ? QString("help")
        : r.status == ParseResult::UsageError
            ? "usage: " + r.error
            : QString("%1 %2 [%3] %4 %5")
                  .arg(names[int(o.command)], o.port, o.file, o.goAddress, flags);
    if (expected.startsWith("usage: "))
        QVERIFY2(actual.startsWith("usage: ") && actual.contains(expected.mid(7)),
                 qPrintable(actual));
    else
        QCOMPARE(actual, expected);
}

QTEST_GUILESS_MAIN(TestCliOptions)
#include "tst_clioptions.moc"
