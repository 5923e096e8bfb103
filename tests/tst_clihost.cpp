// The terminal host of praxon-cli: where each kind of engine output goes, and the answers it
// gives from the command line.
#include <QBuffer>
#include <QtTest>

#include "CliHost.h"

using namespace praxon;
using namespace praxon::cli;

namespace {

struct Streams {
    QBuffer out, err;
    Streams() {
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
    }
    QString outText() const { return QString::fromUtf8(out.data()); }
    QString errText() const { return QString::fromUtf8(err.data()); }
};

CliOptions programOptions() {
    CliOptions o;
    o.command = Command::Program;
    o.port = "/dev/pts/3";
    o.file = "fw.hex";
    o.verify = true;
    return o;
}

}  // namespace

class TestCliHost : public QObject {
    Q_OBJECT
  private slots:
    void logLinesGoToStdoutExactly();
    void messagesGoToStderr();
    void panelTextsOnlyOnATerminal_data();
    void panelTextsOnlyOnATerminal();
    void statusLineStaysBelowTheLog();
    void answersFromTheCommandLine();
};

void TestCliHost::logLinesGoToStdoutExactly() {
    Streams s;
    CliHost host(programOptions(), s.out, s.err, true);
    host.appendLog("14:03:21 连接目标板......", false);
    // The window empties its log past 8096 characters; a terminal keeps everything.
    host.appendLog("14:03:22 器件信息为STM32F10x, PID=0410", true);
    QCOMPARE(s.outText(),
             QString("14:03:21 连接目标板......\n14:03:22 器件信息为STM32F10x, PID=0410\n"));
    QCOMPARE(s.errText(), QString());
}

void TestCliHost::messagesGoToStderr() {
    Streams s;
    CliHost host(programOptions(), s.out, s.err, false);
    host.showMessage("下载失败。");
    host.note("Stopped.");
    QCOMPARE(s.errText(), QString("下载失败。\nStopped.\n"));
    QCOMPARE(s.outText(), QString());
}

void TestCliHost::panelTextsOnlyOnATerminal_data() {
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<int>("panel");
    QTest::addColumn<QString>("expectedErr");
    QTest::newRow("pipe, panel 2") << false << 2 << "";
    QTest::newRow("terminal, panel 2") << true << 2 << "\r\x1b[K已读50.00%.";
    QTest::newRow("terminal, panel 4") << true << 4 << "";
    QTest::newRow("terminal, panel 6") << true << 6 << "";
}

void TestCliHost::panelTextsOnlyOnATerminal() {
    QFETCH(bool, terminal);
    QFETCH(int, panel);
    QFETCH(QString, expectedErr);
    Streams s;
    CliHost host(programOptions(), s.out, s.err, terminal);
    host.setPanelText(panel, "已读25.00%.");
    host.setPanelText(panel, "已读50.00%.");
    host.setLamp(Lamp::Green);
    // Rewritten in place: the first text is erased before the second is drawn.
    const QString err = s.errText();
    if (expectedErr.isEmpty()) {
        QCOMPARE(err, QString());
    } else {
        QCOMPARE(err, "\r\x1b[K已读25.00%.\r\x1b[K" + QString("已读50.00%."));
        QVERIFY(err.endsWith(expectedErr.mid(4)));
    }
    host.finish();
    QCOMPARE(s.errText().endsWith('\n'), !expectedErr.isEmpty());
    QCOMPARE(s.outText(), QString());
}

void TestCliHost::statusLineStaysBelowTheLog() {
    Streams s;
    CliHost host(programOptions(), s.out, s.err, true);
    host.setPanelText(2, "完成07.50%.");
    host.appendLog("10:00:00 编程成功, 用时共.57秒。", false);
    host.showMessage("下载失败。");
    // The status line is erased before other output and drawn again after it.
    QCOMPARE(s.errText(),
             QString("\r\x1b[K完成07.50%.\r\x1b[K\r\x1b[K完成07.50%.\r\x1b[K下载失败。\n"
                     "\r\x1b[K完成07.50%."));
    QCOMPARE(s.outText(), QString("10:00:00 编程成功, 用时共.57秒。\n"));
}

void TestCliHost::answersFromTheCommandLine() {
    Streams s;
    CliOptions o = programOptions();
    o.goAddress = "20001000";
    CliHost host(o, s.out, s.err, false);
    QCOMPARE(host.portText(), QString("/dev/pts/3"));
    QCOMPARE(host.downloadFileText(), QString("fw.hex"));
    QCOMPARE(host.askOpenHexFile(), QString("fw.hex"));
    QCOMPARE(host.askSaveFile(), QString("fw.hex"));
    QCOMPARE(host.goAddressText(), QString("20001000"));
    QVERIFY(!host.eraseChecked());
    QVERIFY(host.verifyChecked());
    QVERIFY(!host.protectChecked());
    host.setDownloadFileText("other.hex");
    QCOMPARE(host.downloadFileText(), QString("other.hex"));

    CommandStates states;
    states.start = true;
    states.read = true;
    host.enableCommands(states);
    QVERIFY(host.commandStates().start && host.commandStates().read);
    QVERIFY(!host.commandStates().go);
}

QTEST_GUILESS_MAIN(TestCliHost)
#include "tst_clihost.moc"
