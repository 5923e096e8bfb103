// Programming the simulated board from Intel HEX files through a real pseudo-terminal: the
// flash afterwards compared with the file, the erase/verify/protect options, records that are
// not 4-byte aligned, and the failure table of every step with the board's faults.
#include <QtTest>

#include "tst_integration_rig.h"

using rig::Rig;

namespace {
const QString kStart = "开始编程......";
const QString kSuccess = "编程成功, 用时共*";
const QString kFailed = "下载失败。";
const QString kEraseStart = "开始整片擦除......";
const QString kEraseOk = "擦除成功。";
const QString kEraseFailed = "擦除失败，请清除读保护......";
const QByteArray kImage = rig::pattern(64, 7);  // four 16-byte records at 0x08000000
}  // namespace

class TestIntegrationProgram : public QObject {
    Q_OBJECT
private slots:
    void programs_data();
    void programs();
    void misalignedRecords_data();
    void misalignedRecords();
    void failures_data();
    void failures();
    void fileProblems_data();
    void fileProblems();
    void protectAfterDownload();
    void largeImageAcrossSegments();
};

void TestIntegrationProgram::programs_data() {
    QTest::addColumn<bool>("erase");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<bool>("preloaded");  // the flash holds old content before
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("readCommands");  // Read Memory commands after connecting

    QTest::newRow("plain") << false << false << false << QStringList{kStart, kSuccess} << 0;
    QTest::newRow("verify") << false << true << false << QStringList{kStart, kSuccess} << 4;
    QTest::newRow("erase over old content")
        << true << false << true << QStringList{kEraseStart, kEraseOk, kStart, kSuccess} << 0;
    QTest::newRow("erase and verify")
        << true << true << true << QStringList{kEraseStart, kEraseOk, kStart, kSuccess} << 4;
}

void TestIntegrationProgram::programs() {
    QFETCH(bool, erase);
    QFETCH(bool, verify);
    QFETCH(bool, preloaded);
    QFETCH(QStringList, log);
    QFETCH(int, readCommands);

    Rig r(rig::boardOptions());
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    if (preloaded) {
        const QByteArray old = rig::pattern(65536, 3);
        r.board().loadFlash(0, std::vector<uint8_t>(old.begin(), old.end()));
    }
    r.host.downloadFile = rig::writeHex(r.dir.filePath("fw.hex"), 0x08000000, kImage, 16);
    r.host.erase = erase;
    r.host.verify = verify;
    QVERIFY(r.connectAndClear());

    QVERIFY(r.engine.CmdStart_Click());
    RIG_COMPARE_TEXTS(r.host.logMessages, log);
    QVERIFY(r.host.messages.isEmpty());
    QCOMPARE(r.host.panels.value(2), QString("下载结束."));
    // Progress after each data record: "完成" and the share of the file read, below 100 %.
    QCOMPARE(r.host.progressTexts.size(), 4);
    for (const QString& p : r.host.progressTexts)
        QVERIFY2(QRegularExpression("^完成\\d\\d\\.\\d\\d%\\.$").match(p).hasMatch(),
                 qPrintable(p));
    QVERIFY(r.host.progressTexts.last() < QString("完成99.99%."));

    QCOMPARE(rig::flashBytes(r.board(), 0, kImage.size()), kImage);
    QCOMPARE(rig::flashBytes(r.board(), kImage.size()),
             QByteArray(65536 - kImage.size(), char(0xFF)));
    const auto c = r.board().counters();
    QCOMPARE(c.perCommand.at(0x31), 4u);
    QCOMPARE(c.massErases, erase ? 1u : 0u);
    QCOMPARE(c.perCommand.at(0x11), 1u + unsigned(readCommands));
    QVERIFY(r.host.commands.start);  // still connected
}

void TestIntegrationProgram::misalignedRecords_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("expected");  // flash from offset
    QTest::addColumn<bool>("verify");

    const QByteArray a = rig::pattern(5, 1), b = rig::pattern(7, 2), c = rig::pattern(16, 3);
    QTest::newRow("odd start, odd length")
        << QStringList{rig::linearLine(0x0800), rig::dataLine(0x0003, a), ":00000001FF"} << 0
        << QByteArray(3, char(0xFF)) + a << true;
    QTest::newRow("two records with a gap")
        << QStringList{rig::linearLine(0x0800), rig::dataLine(0x0101, a), rig::dataLine(0x0109, b),
                       ":00000001FF"}
        << 0x100 << QByteArray(1, char(0xFF)) + a + QByteArray(3, char(0xFF)) + b << true;
    QTest::newRow("aligned start, length 7")
        << QStringList{rig::linearLine(0x0800), rig::dataLine(0x0200, b), ":00000001FF"} << 0x200
        << b + QByteArray(1, char(0xFF)) << false;
    // Records that share an aligned word: the second must not program the first one's bytes
    // again with 0xFF padding (the chip refuses to program a half-word twice).
    QTest::newRow("adjacent records sharing a word")
        << QStringList{rig::linearLine(0x0800), rig::dataLine(0x0300, rig::pattern(6, 4)),
                       rig::dataLine(0x0306, c), ":00000001FF"}
        << 0x300 << rig::pattern(6, 4) + c << true;
}

void TestIntegrationProgram::misalignedRecords() {
    QFETCH(QStringList, lines);
    QFETCH(int, offset);
    QFETCH(QByteArray, expected);
    QFETCH(bool, verify);

    Rig r(rig::boardOptions());  // the board refuses unaligned Write Memory, as the chip does
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    r.host.downloadFile = rig::writeLines(r.dir.filePath("odd.hex"), lines);
    r.host.verify = verify;
    QVERIFY(r.connectAndClear());
    const bool ok = r.engine.CmdStart_Click();
    QVERIFY2(ok, qPrintable(r.host.messages.join('|') + " / " + r.host.logMessages.join('|')));
    QCOMPARE(rig::flashBytes(r.board(), offset, expected.size()).toHex(), expected.toHex());
    // Nothing outside the records' aligned words changed.
    const QByteArray all = rig::flashBytes(r.board());
    int changed = 0;
    for (char ch : all) changed += ch != char(0xFF);
    int expectedChanged = 0;
    for (char ch : expected) expectedChanged += ch != char(0xFF);
    QCOMPARE(changed, expectedChanged);
}

void TestIntegrationProgram::failures_data() {
    QTest::addColumn<QString>("faults");
    QTest::addColumn<bool>("instant");
    QTest::addColumn<bool>("erase");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("recordsWritten");  // whole records found in flash afterwards
    QTest::addColumn<bool>("stillConnected");

    const QStringList started{kStart};
    const QStringList failed{kFailed};
    const QString addrNack = "传送地址时应答为非ACK，应答值=1F";
    const QString dataNack = "传送数据时应答为非ACK，应答值=1F";

    // Write Memory of the second record (occurrence 2 of 0x31).
    QTest::newRow("write command NACK")
        << "nack:0x31:2:1" << true << false << false << started << failed << 1 << false;
    QTest::newRow("write command silent")
        << "silent:0x31:2:1" << true << false << false << started << failed << 1 << true;
    QTest::newRow("write command late")
        << "late:0x31:2:1" << false << false << false << started << failed << 1 << true;
    QTest::newRow("write command garbage")
        << "garbage:0x31:2:1" << true << false << false << started << failed << 1 << true;
    QTest::newRow("write command burst")
        << "burst:0x31:2:1" << true << false << false << started << failed << 1 << true;
    QTest::newRow("write address NACK") << "nack:0x31:2:2" << true << false << false << started
                                        << QStringList{addrNack, kFailed} << 1 << true;
    QTest::newRow("write address silent")
        << "silent:0x31:2:2" << true << false << false << started << failed << 1 << true;
    QTest::newRow("write address late")
        << "late:0x31:2:2" << false << false << false << started << failed << 1 << true;
    QTest::newRow("write address garbage")
        << "garbage:0x31:2:2" << true << false << false << started
        << QStringList{"传送地址时应答为非ACK，应答值=*", kFailed} << 1 << true;
    QTest::newRow("write data NACK") << "nack:0x31:2:3" << true << false << false << started
                                     << QStringList{dataNack, kFailed} << 1 << true;
    QTest::newRow("write data silent")
        << "silent:0x31:2:3" << true << false << false << started << failed << 2 << true;
    QTest::newRow("write data late")
        << "late:0x31:2:3" << false << false << false << started << failed << 2 << true;
    QTest::newRow("write data garbage")
        << "garbage:0x31:2:3" << true << false << false << started
        << QStringList{"传送数据时应答为非ACK，应答值=*", kFailed} << 2 << true;
    QTest::newRow("last record NACK") << "nack:0x31:4:3" << true << false << false << started
                                      << QStringList{dataNack, kFailed} << 3 << true;

    // Verify of the second record (Read Memory occurrence 3: the connect read is the first).
    QTest::newRow("verify command NACK")
        << "nack:0x11:3:1" << true << false << true << QStringList{kStart, "下发送命令失败"}
        << failed << 2 << true;
    QTest::newRow("verify command silent")
        << "silent:0x11:3:1" << true << false << true << QStringList{kStart, "下发送命令失败"}
        << failed << 2 << true;
    QTest::newRow("verify address NACK")
        << "nack:0x11:3:2" << true << false << true << QStringList{kStart, "下发地址命令失败"}
        << QStringList{addrNack, kFailed} << 2 << true;
    QTest::newRow("verify address silent")
        << "silent:0x11:3:2" << true << false << true << QStringList{kStart, "下发地址命令失败"}
        << failed << 2 << true;
    QTest::newRow("verify count NACK")
        << "nack:0x11:3:3" << true << false << true << QStringList{kStart, "下发读个数失败"}
        << failed << 2 << true;
    QTest::newRow("verify count silent")
        << "silent:0x11:3:3" << true << false << true << QStringList{kStart, "下发读个数失败"}
        << failed << 2 << true;
    QTest::newRow("verify count late")
        << "late:0x11:3:3" << false << false << true << QStringList{kStart, "下发读个数失败"}
        << failed << 2 << true;
    QTest::newRow("verify reply garbage")
        << "garbage:0x11:3:3" << true << false << true << QStringList{kStart, "下发读个数失败"}
        << failed << 2 << true;
    QTest::newRow("verify reply burst")
        << "burst:0x11:3:3" << true << false << true << QStringList{kStart, "下发读个数失败"}
        << failed << 2 << true;
    QTest::newRow("verify data short") << "short:0x11:3:3" << true << false << true
                                       << QStringList{kStart, "超时."} << failed << 2 << true;
    QTest::newRow("verify last byte differs")
        << "change:0x11:3:3" << true << false << true << QStringList{kStart, "数据校验不正确."}
        << failed << 2 << true;

    // Erase before programming: no programming starts, no download message.
    QTest::newRow("erase command NACK") << "nack:0x43:1:1" << true << true << false
                                        << QStringList{kEraseFailed} << QStringList() << 0 << true;
    QTest::newRow("erase command silent")
        << "silent:0x43:1:1" << true << true << false << QStringList{kEraseFailed} << QStringList()
        << 0 << true;
    QTest::newRow("erase code NACK")
        << "nack:0x43:1:2" << true << true << false << QStringList{kEraseStart, kEraseFailed}
        << QStringList() << 0 << true;
    QTest::newRow("erase code silent")
        << "silent:0x43:1:2" << true << true << false << QStringList{kEraseStart, kEraseFailed}
        << QStringList() << 0 << true;
    QTest::newRow("erase takes too long")
        << "late:0x43:1:2" << false << true << false << QStringList{kEraseStart, kEraseFailed}
        << QStringList() << 0 << true;
    QTest::newRow("erase code garbage")
        << "garbage:0x43:1:2" << true << true << false << QStringList{kEraseStart, kEraseFailed}
        << QStringList() << 0 << true;
}

void TestIntegrationProgram::failures() {
    QFETCH(QString, faults);
    QFETCH(bool, instant);
    QFETCH(bool, erase);
    QFETCH(bool, verify);
    QFETCH(QStringList, log);
    QFETCH(QStringList, messages);
    QFETCH(int, recordsWritten);
    QFETCH(bool, stillConnected);

    Rig r(rig::boardOptions(faults, instant));
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    r.host.downloadFile = rig::writeHex(r.dir.filePath("fw.hex"), 0x08000000, kImage, 16);
    r.host.erase = erase;
    r.host.verify = verify;
    QVERIFY(r.connectAndClear());

    QElapsedTimer clock;
    clock.start();
    QVERIFY(!r.engine.CmdStart_Click());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    RIG_COMPARE_TEXTS(r.host.logMessages, log);
    RIG_COMPARE_TEXTS(r.host.messages, messages);
    QVERIFY(!r.engine.busy());
    if (erase) QCOMPARE(r.host.panels.value(2), QString("Flash擦除失败。"));

    const int n = recordsWritten * 16;
    QCOMPARE(rig::flashBytes(r.board(), 0, n), kImage.left(n));
    QCOMPARE(rig::flashBytes(r.board(), n, 64 - n), QByteArray(64 - n, char(0xFF)));
    QCOMPARE(r.host.commands.start, stillConnected);
    if (!stillConnected) QCOMPARE(r.host.panels.value(6), QString("未连接"));
}

void TestIntegrationProgram::fileProblems_data() {
    QTest::addColumn<QStringList>("lines");  // empty: no file at all
    QTest::addColumn<QString>("pathText");   // "" = the written file
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("bytesWritten");

    const QString d0 = rig::dataLine(0, kImage.left(16));
    const QString d1 = rig::dataLine(16, kImage.mid(16, 16));
    const QString lin = rig::linearLine(0x0800);
    QString bad = d1;
    bad[bad.size() - 1] = bad.at(bad.size() - 1) == '0' ? '1' : '0';

    QTest::newRow("no path") << QStringList() << "   " << false << QStringList{"请指定下载文件。"}
                             << 0;
    QTest::newRow("no such file") << QStringList() << "missing.hex" << false
                                  << QStringList{"指定的文件不存在，请重新打开。"} << 0;
    QTest::newRow("checksum error on line 3")
        << QStringList{lin, d0, bad, ":00000001FF"} << "" << false
        << QStringList{"校验和不正确，您给的串是：" + bad, "HEX数据有误，下载失败！" + bad, kFailed}
        << 16;
    QTest::newRow("no end-of-file record")
        << QStringList{lin, d0, d1} << "" << false << QStringList{kFailed} << 32;
    QTest::newRow("empty file") << QStringList{""} << "" << false << QStringList{kFailed} << 0;
    QTest::newRow("only the end record")
        << QStringList{":00000001FF"} << "" << true << QStringList() << 0;
    QTest::newRow("data record without data is skipped")
        << QStringList{lin, d0, ":00001000F0", d1, ":00000001FF"} << "" << true << QStringList()
        << 32;
    QTest::newRow("lines after the end record are not read")
        << QStringList{lin, d0, ":00000001FF", d1} << "" << true << QStringList() << 16;
}

void TestIntegrationProgram::fileProblems() {
    QFETCH(QStringList, lines);
    QFETCH(QString, pathText);
    QFETCH(bool, result);
    QFETCH(QStringList, messages);
    QFETCH(int, bytesWritten);

    Rig r(rig::boardOptions());
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    if (pathText.isEmpty()) {
        if (lines == QStringList{""}) {
            QFile f(r.dir.filePath("empty.hex"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            r.host.downloadFile = f.fileName();
        } else {
            r.host.downloadFile = rig::writeLines(r.dir.filePath("f.hex"), lines);
        }
    } else {
        r.host.downloadFile = pathText == "   " ? pathText : r.dir.filePath(pathText);
    }
    QVERIFY(r.connectAndClear());
    QCOMPARE(r.engine.CmdStart_Click(), result);
    RIG_COMPARE_TEXTS(r.host.messages, messages);
    QCOMPARE(rig::flashBytes(r.board(), 0, bytesWritten), kImage.left(bytesWritten));
    QCOMPARE(rig::flashBytes(r.board(), bytesWritten, 64), QByteArray(64, char(0xFF)));
    if (!pathText.isEmpty()) QCOMPARE(r.board().counters().perCommand.count(0x31), size_t(0));
}

void TestIntegrationProgram::protectAfterDownload() {
    Rig r(rig::boardOptions());
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    r.host.downloadFile = rig::writeHex(r.dir.filePath("fw.hex"), 0x08000000, kImage, 16, true);
    r.host.protect = true;
    QVERIFY(r.connectAndClear());
    QVERIFY(r.engine.CmdStart_Click());
    RIG_COMPARE_TEXTS(r.host.logMessages,
                      (QStringList{kStart, kSuccess, "置读保护成功, 复位目标板后才能有效。"}));
    QVERIFY(r.board().readoutProtected());
    QVERIFY(!r.host.commands.start);  // reconnect after resetting the board
    QCOMPARE(rig::flashBytes(r.board(), 0, 64), kImage);
}

void TestIntegrationProgram::largeImageAcrossSegments() {
    // 128 KB board, an image that crosses the 64 KB boundary with 32-byte records.
    auto options = rig::boardOptions();
    options.board.flashKb = 128;
    Rig r(options);
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    const QByteArray image = rig::pattern(8192, 11);
    r.host.downloadFile = rig::writeHex(r.dir.filePath("big.hex"), 0x0800F000, image, 32);
    r.host.verify = true;
    QVERIFY(r.connectAndClear());
    QVERIFY(r.engine.CmdStart_Click());
    QCOMPARE(rig::flashBytes(r.board(), 0xF000, image.size()), image);
    QCOMPARE(r.board().counters().perCommand.at(0x31), 256u);
}

QTEST_GUILESS_MAIN(TestIntegrationProgram)
#include "tst_integration_program.moc"
