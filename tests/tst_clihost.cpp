// The terminal host of praxon-cli: log lines on stdout exactly, messages and notes on stderr,
// and the progress panel as one status line rewritten in place, on a terminal only.
#include <QBuffer>
#include <QtTest>

#include "CliHost.h"

using namespace praxon::cli;

class TestCliHost : public QObject {
    Q_OBJECT
private slots:
    void output_data();
    void output();
};

void TestCliHost::output_data() {
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<QString>("err");
    const QString s = "\r\x1b[K完成07.50%.", c = "\r\x1b[K";  // status line; erase it
    QTest::newRow("pipe") << false << "下载失败。\nStopped.\n";
    // Erased before each other output and drawn again after it; ended with a newline.
    QTest::newRow("terminal") << true
                              << s + c + s + c + s + c + "下载失败。\n" + s + c + "Stopped.\n" + s +
                                     "\n";
}

void TestCliHost::output() {
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

QTEST_GUILESS_MAIN(TestCliHost)
#include "tst_clihost.moc"
