// Reading the simulated board's flash into binary and Intel HEX files through a real
// pseudo-terminal: the file compared with the flash, the HEX file parsed back, the failure
// table of every step, and the user's old file kept whenever the read fails.
#include <QDir>
#include <QtTest>

#include "tst_integration_rig.h"

using rig::Rig;

namespace {
const QString kBegin = "开始读取数据......";
const QString kDone = "读取完成, 读取时间为:*";
const QString kAbandon = "读数据失败, 退出从芯片读取数据过程.";
const QByteArray kOld = "the user's previous file\n";

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

class TestIntegrationRead : public QObject {
    Q_OBJECT
private slots:
    void reads_data();
    void reads();
    void failures_data();
    void failures();
    void destinationNotWritable();
    void sizeUnknown();
};

void TestIntegrationRead::reads_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("flashKb");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("existing");  // a file of that name is there already

    QTest::newRow("bin") << "out.bin" << 64 << false << false;
    QTest::newRow("hex") << "out.hex" << 64 << true << false;
    QTest::newRow("HEX upper case, replacing a file") << "OUT.HEX" << 64 << true << true;
    QTest::newRow("Hex mixed case") << "image.Hex" << 16 << true << false;
    QTest::newRow("txt is binary") << "data.txt" << 16 << false << true;
    QTest::newRow("no extension is binary") << "flash" << 16 << false << false;
    QTest::newRow("name ending in hex without a dot") << "dumphex" << 16 << true << false;
    QTest::newRow("hex, 128 KB: two segments") << "big.hex" << 128 << true << false;
}

void TestIntegrationRead::reads() {
    QFETCH(QString, name);
    QFETCH(int, flashKb);
    QFETCH(bool, hex);
    QFETCH(bool, existing);

    auto options = rig::boardOptions();
    options.board.flashKb = flashKb;
    Rig r(options);
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    const int size = flashKb * 1024;
    const QByteArray content = rig::pattern(size, 5);
    r.board().loadFlash(0, std::vector<uint8_t>(content.begin(), content.end()));
    const QString path = r.dir.filePath(name);
    if (existing) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kOld);
    }
    QVERIFY(r.connectAndClear());
    r.host.saveFileAnswers << path;

    QVERIFY(r.engine.CmdRead_Click());
    RIG_COMPARE_TEXTS(r.host.logMessages, (QStringList{kBegin, kDone}));
    QVERIFY(r.host.messages.isEmpty());
    QCOMPARE(r.host.panels.value(2), QString("已读完."));
    const int blocks = hex ? size / 64 : size / 256;
    QCOMPARE(r.board().counters().perCommand.at(0x11), 1u + unsigned(blocks));
    QVERIFY(r.host.progressTexts.size() >= 1);
    QCOMPARE(r.host.progressTexts.last(), QString("已读100.00%."));
    if (flashKb == 64 && !hex) QCOMPARE(r.host.progressTexts.first(), QString("已读0.39%."));

    if (hex) {
        QByteArray image;
        QStringList lines;
        QVERIFY2(rig::parseHexFile(path, 0x08000000, size, &image, &lines, &error),
                 qPrintable(error));
        QCOMPARE(image, content);
        QCOMPARE(lines.size(), 2 + size / 64 + (size + 65535) / 65536);
        QCOMPARE(lines.at(0), QString(":0400000508000000EF"));
        QCOMPARE(lines.at(1), QString(":020000040800F2"));
        QCOMPARE(lines.last(), QString(":00000001FF"));
        for (int i = 2; i < lines.size() - 1; ++i)
            if (lines.at(i).mid(7, 2) == "00") QCOMPARE(lines.at(i).size(), 139);
        if (flashKb == 128) QCOMPARE(lines.at(2 + 1024), QString(":020000040801F1"));
    } else {
        QCOMPARE(fileBytes(path), content);
    }
    // Only the finished file is left: no temporary beside it.
    QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files | QDir::NoSymLinks), QStringList{name});
}

void TestIntegrationRead::failures_data() {
    QTest::addColumn<QString>("faults");
    QTest::addColumn<bool>("instant");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stepLine");  // the Read Memory line for the failing step
    QTest::addColumn<QStringList>("messages");

    const QString addrNack = "传送地址时应答为非ACK，应答值=1F";
    // Occurrence 3 of Read Memory: the second block (the connect's read is the first).
    for (const char* name : {"out.bin", "out.hex"}) {
        const QString n = name;
        auto row = [&](const char* label) -> QTestData& {
            return QTest::newRow(qPrintable(QString("%1, %2").arg(label, n)));
        };
        row("command NACK") << "nack:0x11:3:1" << true << n << "下发读命令失败。" << QStringList();
        row("command silent") << "silent:0x11:3:1" << true << n << "下发读命令失败。"
                              << QStringList();
        row("command garbage") << "garbage:0x11:3:1" << true << n << "下发读命令失败。"
                               << QStringList();
        row("address NACK") << "nack:0x11:3:2" << true << n << "下发地址命令失败。"
                            << QStringList{addrNack};
        row("address silent") << "silent:0x11:3:2" << true << n << "下发地址命令失败。"
                              << QStringList();
        row("count NACK") << "nack:0x11:3:3" << true << n << "下发读个数失败。" << QStringList();
        row("count silent") << "silent:0x11:3:3" << true << n << "下发读个数失败。"
                            << QStringList();
        row("reply garbage") << "garbage:0x11:3:3" << true << n << "下发读个数失败。"
                             << QStringList();
        row("reply burst") << "burst:0x11:3:3" << true << n << "下发读个数失败。" << QStringList();
        row("data short") << "short:0x11:3:3" << true << n << "读存储器内容超时." << QStringList();
        row("data late") << "late:0x11:3:3" << false << n << "下发读个数失败。" << QStringList();
        row("first block NACK") << "nack:0x11:2:1" << true << n << "下发读命令失败。"
                                << QStringList();
        row("last block short") << "short:0x11:5:3" << true << n << "读存储器内容超时."
                                << QStringList();
    }
}

void TestIntegrationRead::failures() {
    QFETCH(QString, faults);
    QFETCH(bool, instant);
    QFETCH(QString, name);
    QFETCH(QString, stepLine);
    QFETCH(QStringList, messages);

    auto options = rig::boardOptions(faults, instant);
    options.board.flashKb = 1;  // four binary blocks, sixteen HEX blocks
    Rig r(options);
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    const QString path = r.dir.filePath(name);
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(kOld);
    }
    QVERIFY(r.connectAndClear());
    r.host.saveFileAnswers << path;

    QElapsedTimer clock;
    clock.start();
    QVERIFY(!r.engine.CmdRead_Click());
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(r.host.logMessages, (QStringList{kBegin, stepLine, kAbandon}));
    RIG_COMPARE_TEXTS(r.host.messages, messages);
    QVERIFY(r.host.panels.value(2) != "已读完.");
    QVERIFY(!r.engine.busy());
    QVERIFY(r.host.commands.read);  // a failed read does not disconnect
    // The old file is untouched and no partial file is left beside it.
    QCOMPARE(fileBytes(path), kOld);
    QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files | QDir::NoSymLinks), QStringList{name});
}

void TestIntegrationRead::destinationNotWritable() {
    Rig r(rig::boardOptions());
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    QVERIFY(r.connectAndClear());
    const QString path = r.dir.filePath("no-such-dir/out.bin");
    r.host.saveFileAnswers << path;
    QVERIFY(!r.engine.CmdRead_Click());
    QCOMPARE(r.host.messages, QStringList{path + "文件正打开着, 覆盖失败."});
    QVERIFY(r.host.logMessages.isEmpty());
    QCOMPARE(r.board().counters().perCommand.at(0x11), 1u);  // nothing read
}

void TestIntegrationRead::sizeUnknown() {
    Rig r(rig::boardOptions("nack:0x11:1:1"));
    QString error;
    QVERIFY2(r.start(&error), qPrintable(error));
    QVERIFY(r.connectAndClear());
    QCOMPARE(r.engine.flashSizeKB(), -1);
    QVERIFY(!r.host.commands.read);
    r.host.saveFileAnswers << r.dir.filePath("out.bin");
    QVERIFY(!r.engine.CmdRead_Click());
    QVERIFY(!QFile::exists(r.dir.filePath("out.bin")));
    QCOMPARE(r.board().counters().perCommand.at(0x11), 1u);
}

QTEST_GUILESS_MAIN(TestIntegrationRead)
#include "tst_integration_read.moc"
