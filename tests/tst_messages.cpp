// The message catalogue: the texts where the catalogue works something out (numbers, addresses,
// durations, plurals, a choice by the event's data, where a front end shows it: "log:", "msg:",
// "statusN:" for the window's status panel N: 2 progress, 4 device, 6 link) and the ones users and
// scripts go by; for every event, that English shows what Chinese shows, in the same places.
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include "Messages.h"

using namespace praxon;

Q_DECLARE_METATYPE(praxon::Event)

namespace {

// A row's event in one expression: Ev(code, operation).address(...).text(...)
struct Ev {
    Event e;
    Ev(EventCode code, Operation operation) : e(code, operation) {}
    operator Event() const { return e; }
    Ev& actual(uint8_t v) { return e.actual = v, *this; }
    Ev& address(uint32_t v) { return e.address = v, *this; }
    Ev& bytes(const char* hex) { return e.bytes = QByteArray::fromHex(hex), *this; }
    Ev& detail(const char* v) { return e.detail = v, *this; }
    Ev& done(qint64 v) { return e.done = v, *this; }
    Ev& elapsedNs(qint64 v) { return e.elapsedNs = v, *this; }
    Ev& expected(uint8_t v) { return e.expected = v, *this; }
    Ev& flashKB(int v) { return e.flashKB = v, *this; }
    Ev& hexError(HexLineError v) { return e.hexError = v, *this; }
    Ev& ok(bool v) { return e.ok = v, *this; }
    Ev& pid(uint16_t v) { return e.pid = v, *this; }
    Ev& portError(PortError v) { return e.portError = v, *this; }
    Ev& reply(ReplyStatus v, uint8_t byte = 0) { return e.withReply(v, byte), *this; }
    Ev& text(const char* v) { return e.text = v, *this; }
    Ev& total(qint64 v) { return e.total = v, *this; }
    Ev& value(qint64 v) { return e.value = v, *this; }
};

QString shown(const Event& e, Language language) {
    QStringList parts;
    for (const Shown& s : Render(e, language)) {
        static const char* const panels[] = {"status2", "status4", "status6"};
        parts << (s.how == Presentation::Log       ? QString("log")
                  : s.how == Presentation::Message ? QString("msg")
                                                   : QString(panels[int(s.field)])) +
                     ':' + s.text;
    }
    return parts.join(QStringLiteral(" | "));
}

// The port /dev/ttyUSB0 refused for why.
Ev PortOpen(PortError why) {
    return Ev(EventCode::PortOpenFailed, Operation::Connect).portError(why).text("/dev/ttyUSB0");
}

using C = EventCode;
using O = Operation;
using R = ReplyStatus;

struct Row {
    Event event;
    const char* zh;
    const char* en = nullptr;  // null: not pinned
};

// One row per rule of the catalogue; a second instance of a rule only where data chooses the text.
const QList<Row>& Rows() {
    static const QList<Row> rows{
        // Shown nowhere: praxon-cli would print a blank line for it.
        {Ev(C::OperationEnded, O::Program).ok(true), "", ""},
        // Chinese pads the writes' percentage to two digits, not the reads'.
        {Ev(C::Progress, O::Program).done(75).total(1000), "status2:完成07.50%.",
         "status2:Writing: 7.50%"},
        {Ev(C::Progress, O::Read).done(4).total(1024), "status2:已读0.39%."},
        {Ev(C::ConnectBegun, O::Connect), "status6:未连接. | status4: | log:连接目标板......"},
        {PortOpen(PortError::NotFound).detail("open: system text"),
         "msg:指定的串口不存在或已被占用。 | log:串口/dev/ttyUSB0: open: system text"},
        {PortOpen(PortError::NoPermission),
         "msg:没有权限打开串口/dev/ttyUSB0。请把当前用户加入dialout组（命令：sudo usermod -aG "
         "dialout $USER），然后注销并重新登录后再试。"},
        // The answer byte: without a leading zero in Chinese.
        {Ev(C::AddressRefused, O::Read).address(0x08000400).actual(0x05),
         "msg:传送地址时应答为非ACK，应答值=5",
         "msg:The board did not acknowledge the address 0x08000400 (answer 0x05)."},
        // A NACK also asks for a reset on the status bar.
        {Ev(C::BoardSilent, O::Connect).reply(R::Nack, 0x1F),
         "status2:收到NACK，请复位目标板并重新连接。 | "
         "log:目标板未响应，检查连接情况，请复位后再次连接。"},
        // An answer byte other than NACK is shown.
        {Ev(C::GetIdFailed, O::Connect).reply(R::Nack, 0x05),
         "log:读取器件信息失败: 目标板应答05。"},
        {Ev(C::ChipIdentified, O::Connect).pid(0x999).bytes("09990000"),
         "status4:未知器件, PID=09990000 | log:器件信息为未知器件, PID=09990000"},
        {Ev(C::BootloaderVersion, O::Connect).value(0x31), "log:Bootloader版本: 3.1"},
        // The register's reading shown.
        {Ev(C::FlashSizeAssumed, O::Connect).flashKB(128).value(0xFFFF),
         "log:FLASH容量寄存器读数为FFFF，按该系列最大容量128K计."},
        {Ev(C::FlashSize, O::Connect).flashKB(64), "log:FLASH容量为: 64K; RAM容量为: 未知.",
         "log:Flash size: 64 KB; RAM size: unknown."},
        {Ev(C::HexLineRejected, O::Load).hexError(HexLineError::IllegalFormat).value(3),
         "msg:HEX文件中包含非法格式数据.", "msg:Line 3 of the HEX file is not a valid record."},
        // A refusal is a message when programming, a log line otherwise.
        {Ev(C::ChipUnknown, O::Erase).pid(0x999),
         "log:未知器件(PID=0999)，不知道它的FLASH如何擦除和写入，不能擦除或编程。"},
        {Ev(C::ChipUnknown, O::Program), "msg:器件未识别，不能擦除或编程。"},
        {Ev(C::VerifyMismatchAt, O::Verify).address(0x0800003F).expected(0x4A).actual(0xB5),
         "log:数据校验不正确. 首个不一致的地址为0800003F: 应为4A, 读回B5.",
         "log:Verification failed. First difference at 0x0800003F: expected 0x4A, read 0xB5."},
        // Durations: Chinese leaves out the zero before the point.
        {Ev(C::Programmed, O::Program).elapsedNs(570000000).done(64),
         "status2:下载结束. | log:编程成功, 用时共.57秒。",
         "status2:Programming finished. | log:Programmed successfully in 0.57 s."},
        {Ev(C::TurboSkipped, O::Program).value(60).total(64).done(61440),
         "log:60页(共64页)内容未变, 跳过61440字节。",
         "log:60 of 64 pages already held the image and were left alone (61440 bytes)."},
        // English: one page, two pages.
        {Ev(C::PagesEraseBegun, O::Erase).value(2), "log:开始擦除2页......",
         "log:Erasing 2 pages or sectors..."},
        {Ev(C::PagesEraseBegun, O::Erase).value(1), "log:开始擦除1页......",
         "log:Erasing 1 page or sector..."},
        {Ev(C::OutputNotWritable, O::Read).text("/tmp/out.bin").detail("No space left on device"),
         "msg:/tmp/out.bin文件正打开着, 覆盖失败. | log:/tmp/out.bin: No space left on device"},
        // Production line: where the number went.
        {Ev(C::SerialNumberTaken, O::Program).text("1001").address(0x0800F000),
         "log:序列号1001，写在0800F000。", "log:Serial number 1001, written at 0x0800F000."},
        {Ev(C::OptionBytesRead, O::OptionBytes)
             .address(0x1FFFF800)
             .text("F1")
             .value(0)
             .bytes("A55A"),
         "log:选项字节(1FFFF800, F1布局): A5 5A，读保护级别0。",
         "log:Option bytes at 0x1FFFF800 (F1 layout): A5 5A; readout level 0."},
        // Name, value and meaning in columns.
        {Ev(C::OptionFieldValue, O::OptionBytes)
             .text("WDG_SW")
             .value(1)
             .detail("software watchdog"),
         "log:WDG_SW             0x1        software watchdog"},
        {Ev(C::WriteProtection, O::Connect).value(4).total(64),
         "log:写保护：共64个页或扇区中的4个。", "log:Write-protected: 4 of 64 pages or sectors."},
        {Ev(C::WriteProtectedRange, O::Connect).address(0x08000000).value(0x1000).done(0).total(3),
         "log:  写保护：08000000-08000FFF（页或扇区0-3）",
         "log:  write-protected: 0x08000000-0x08000FFF (pages or sectors 0-3)"},
        {Ev(C::ReadoutLevel2Refused, O::OptionWrite),
         "log:"
         "拒绝设置读保护级别2：级别2是永久的，芯片将再也无法通过Bootloader读取或重新编程。确需设置"
         "时请加上--allow-permanent。"},
        {Ev(C::OptionBytesMismatch, O::OptionWrite).address(4).expected(0x12).actual(0x13),
         "log:选项字节回读不符：第4字节应为12，实为13。写入失败！"},
        {Ev(C::UnitsWriteProtected, O::Program).address(0x08000000).value(4).text("0-3"),
         "msg:页或扇区0-3(从08000000起)处于写保护状态，未做任何擦除。请先执行 write-unprotect "
         "解除写保护。"},
    };
    return rows;
}

constexpr int kLastCode = int(EventCode::TurboLineRepaired);

// Each code's event bare, with every field set, and with other values; the texts of each are
// checked for both languages alike.
QList<Event> Probes(EventCode code) {
    Event bare(code), full(code, Operation::Program), other(code, Operation::Erase);
    full.withReply(ReplyStatus::Nack, 0x05).at(0x08000400).withValue(2);
    full.expected = 0x12, full.pid = 0x410, full.step = Step::Data;
    full.portError = PortError::NoPermission, full.hexError = HexLineError::BadChecksum;
    full.srecError = SrecError::BadType, full.elfError = ElfError::NotArm;
    full.flashKB = 64, full.ramKB = 20, full.family = "STM32F10x", full.text = "t";
    full.detail = "d", full.bytes = QByteArray::fromHex("0102"), full.done = 1, full.total = 2;
    full.elapsedNs = 1000000000, full.ok = full.readable = true;
    other.withReply(ReplyStatus::Timeout, 0).withValue(0);
    other.step = Step::Command, other.text = "u";
    return {bare, full, other};
}

// English shows the same parts in the same places, never empty where Chinese says something,
// and never falls back on a Chinese text.
void CompareLanguages(const Event& event) {
    const QList<Shown> chinese = Render(event, Language::Chinese),
                       english = Render(event, Language::English);
    const QString name = EventName(event.code);
    QVERIFY2(english.size() == chinese.size(), qPrintable(name));
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
    for (qsizetype i = 0; i < english.size(); ++i) {
        QVERIFY2(english[i].how == chinese[i].how && english[i].field == chinese[i].field,
                 qPrintable(name));
        QVERIFY2(english[i].text.isEmpty() == chinese[i].text.isEmpty(), qPrintable(name));
        QVERIFY2(!cjk.match(english[i].text).hasMatch(), qPrintable(english[i].text));
    }
}

}  // namespace

class TestMessages : public QObject {
    Q_OBJECT
private slots:
    void texts_data() {
        QTest::addColumn<Event>("event");
        QTest::addColumn<QString>("zh");
        QTest::addColumn<QString>("en");  // null: not pinned
        int i = 0;
        for (const Row& r : Rows())
            QTest::addRow("%d %s", ++i, qPrintable(EventName(r.event.code)))
                << r.event << QString::fromUtf8(r.zh)
                << (r.en ? QString::fromUtf8(r.en) : QString());
    }

    void texts() {
        QFETCH(Event, event);
        QFETCH(QString, zh);
        QFETCH(QString, en);
        QCOMPARE(shown(event, Language::Chinese), zh);
        if (!en.isNull()) QCOMPARE(shown(event, Language::English), en);
        CompareLanguages(event);
    }

    // Every event: both languages alike, a text of its own in English (none stands for
    // another's), and a stable snake_case name of its own for machine-readable output.
    void everyCode() {
        QSet<QString> names, english;
        static const QRegularExpression snake(QStringLiteral("^[a-z]+(_[a-z]+)*$"));
        for (int c = 0; c <= kLastCode; ++c) {
            const QString name = EventName(EventCode(c));
            QVERIFY2(snake.match(name).hasMatch(), qPrintable(name));
            names.insert(name);
            const QList<Event> probes = Probes(EventCode(c));
            for (const Event& e : probes) {
                CompareLanguages(e);
                if (QTest::currentTestFailed()) return;
            }
            const QString en = shown(probes[1], Language::English);
            QVERIFY2(en.isEmpty() || !english.contains(en), qPrintable(en));
            english.insert(en);
        }
        QCOMPARE(names.size(), kLastCode + 1);
    }
};

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
