// praxon-cli's parts: argument parsing (commands, defaults, usage errors), the terminal host (log
// lines on stdout exactly, messages and notes on stderr, the progress panel as one status line
// rewritten in place on a terminal only) and Ctrl+C as one stop request from the event loop.
#include <QBuffer>
#include <QSignalSpy>
#include <QtTest>
#include <csignal>

#include "CliHost.h"
#include "CliOptions.h"
#include "StopSignal.h"

using namespace praxon::cli;

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void hostOutput_data();
    void hostOutput();
    void stopRequest();
};

void TestCli::parse_data() {
    QTest::addColumn<QString>("args");  // separated by "|"
    // "help", "usage: <part of the error>", or "<command> <port> [<file>] <go address> <flags>"
    // with e, v, p for --erase, --verify, --protect.
    QTest::addColumn<QString>("expected");
    auto row = [](const char* name, const char* args, const char* expected) {
        QTest::newRow(name) << QString(args) << QString(expected);
    };
    row("info, defaults", "--port|P|info", "info P [] 08000000 ");
    row("port after the command, with =", "erase|--port=COM10", "erase COM10 [] 08000000 ");
    row("flags anywhere", "--verify|--port|P|program|my fw.hex|--protect|--erase",
        "program P [my fw.hex] 08000000 evp");
    row("file after --", "--port|P|program|--|--odd.hex", "program P [--odd.hex] 08000000 ");
    row("go address", "--port|P|go|2000100h", "go P [] 2000100h ");
    row("unprotect", "--port|P|unprotect", "unprotect P [] 08000000 ");
    row("-h", "-h", "help");
    row("help beats usage errors", "bogus|--help", "help");
    row("nothing", "", "usage: no command");
    row("no port", "info", "usage: --port is required");
    row("port without value", "info|--port", "usage: needs a port");
    row("port blank", "--port= |info", "usage: needs a port");
    row("port twice", "--port|P|--port|P|info", "usage: more than once");
    row("command case", "--port|P|INFO", "usage: unknown command INFO");
    row("unknown option", "--port|P|info|--fast", "usage: unknown option --fast");
    row("program blank file", "--port|P|program| ", "usage: program needs a FILE");
    row("read without file", "--port|P|read", "usage: read needs a FILE");
    row("two files", "--port|P|program|a.hex|b.hex", "usage: unexpected argument b.hex");
    row("program flag on read", "--port|P|read|f|--verify", "usage: belong to program, not read");
    row("go nine digits", "--port|P|go|080000000", "usage: invalid address");
}

void TestCli::parse() {
    QFETCH(QString, args);
    QFETCH(QString, expected);
    static const char* const names[] = {"none",  "info", "program", "read",
                                        "erase", "go",   "protect", "unprotect"};
    const ParseResult r = parseArguments(args.split('|', Qt::SkipEmptyParts));
    const CliOptions& o = r.options;
    const QString flags =
        QString(o.erase ? "e" : "") + (o.verify ? "v" : "") + (o.protect ? "p" : "");
    const QString actual =
        r.status == ParseResult::Help ? QString("help")
        : r.status == ParseResult::UsageError
            ? "usage: " + r.error
            : QString("%1 %2 [%3] %4 %5")
                  .arg(names[int(o.command)], o.port, o.file, o.goAddress, flags);
    const bool usage = expected.startsWith("usage: ");
    QVERIFY2(usage ? actual.startsWith("usage: ") && actual.contains(expected.mid(7))
                   : actual == expected,
             qPrintable(actual));
}

void TestCli::hostOutput_data() {
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<QString>("err");
    const QString s = "\r\x1b[K完成07.50%.", c = "\r\x1b[K";  // status line; erase it
    QTest::newRow("pipe") << false << "下载失败。\nStopped.\n";
    // Erased before each other output and drawn again after it; ended with a newline.
    QTest::newRow("terminal") << true
                              << s + c + s + c + s + c + "下载失败。\n" + s + c + "Stopped.\n" + s +
                                     "\n";
}

void TestCli::hostOutput() {
    QFETCH(bool, terminal);
    QFETCH(QString, err);
    QBuffer out, errOut;
    out.open(QIODevice::WriteOnly);
    errOut.open(QIODevice::WriteOnly);
    CliOptions options;
    CliHost host(options, out, errOut, terminal);
    host.setPanelText(2, "完成07.50%.");
    host.setPanelText(4, "STM32F10x, PID=0410");  // only the progress panel is shown
    host.appendLog("10:00:00 连接目标板......", false);
    host.appendLog("10:00:01 编程成功", true);  // the window would empty its log; not here
    host.showMessage("下载失败。");
    host.note("Stopped.");
    host.finish();
    QCOMPARE(QString::fromUtf8(out.data()),
             QString("10:00:00 连接目标板......\n10:00:01 编程成功\n"));
    QCOMPARE(QString::fromUtf8(errOut.data()), err);
}

// SIGINT and SIGTERM become one stopRequested signal delivered by the event loop, never acted on
// inside the signal handler; the previous action comes back afterwards.
void TestCli::stopRequest() {
    struct sigaction ignore {
    }, before{}, after{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &before);
    {
        StopSignal stop;
        QVERIFY(stop.installed());
        QSignalSpy spy(&stop, &StopSignal::stopRequested);
        for (int i = 0; i < 3; ++i) ::raise(SIGINT);
        QCOMPARE(spy.count(), 0);  // nothing happens inside the handler itself
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 1, 5000);
        QTest::qWait(50);
        QCOMPARE(spy.count(), 1);  // signals that arrive together are one request
        ::raise(SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 5000);
    }
    ::sigaction(SIGINT, nullptr, &after);
    QVERIFY(after.sa_handler == SIG_IGN);
    ::sigaction(SIGINT, &before, nullptr);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
