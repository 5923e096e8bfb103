// The engine's option-byte work on the simulated bootloader behind a fake port: the unique ID and
// option bytes read at connect, reading and writing the option bytes (the level-2 guard, the
// reconnect after the chip's reset, the read-back), Write Protect and Write Unprotect, the refusal
// of an erase that would touch a write-protected unit before anything is erased, and the bank
// layout an option bit decides.
#include <QTest>
#include <numeric>

#include "Board.h"
#include "Engine.h"
#include "FakePort.h"
#include "IntelHex.h"
#include "RecordingHost.h"

using namespace praxon;

Q_DECLARE_METATYPE(praxon::EventCode)

namespace {

struct Rig {
    RecordingHost host;
    FakePort port;
    Engine engine{host, port};
    sim::Board board;
    // Applied to every frame before the board sees it.
    std::function<QByteArray(const QByteArray&)> tamper;

    explicit Rig(const sim::BoardConfig& config, WriteMode mode = WriteMode::Fast) : board(config) {
        engine.setMode(mode);
        engine.setReplyTimeout(100);
        engine.setResetWait(1000);
        AnswerFrom(port, board, &tamper);
    }
    bool connect() {
        const bool ok = engine.connect("ttyS0");
        host.clearRecords();
        return ok;
    }
    // The option field's value as the simulated chip holds it now.
    uint32_t option(const char* name) const {
        const OptionField* f = FindOptionField(*board.optionLayout(), board.pid(), name);
        return f ? OptionFieldValue(*f, board.optionBytes()) : 0xDEAD;
    }
    std::vector<uint32_t> protectedUnits() const {
        std::vector<uint32_t> units;
        for (size_t i = 0; i < board.units().size(); ++i)
            if (board.pageWriteProtected(unsigned(i))) units.push_back(uint32_t(i));
        return units;
    }
};

sim::BoardConfig Chip(uint16_t pid, std::vector<std::string> options = {}, int flashKb = 0) {
    sim::BoardConfig c;
    c.pid = pid;
    c.flashKb = flashKb;
    c.optionEdits = std::move(options);
    return c;
}

using Units = std::vector<uint32_t>;

}  // namespace

Q_DECLARE_METATYPE(Units)
Q_DECLARE_METATYPE(std::vector<std::string>)

class TestOptionEngine : public QObject {
    Q_OBJECT
private slots:
    // What connect learns: the unique ID (where it lies per family, one read or three), the
    // protected units and the readout level; a readout-protected chip still connects. Then
    // option-bytes without --set: the state and its events, or the refusal.
    void connectAndRead_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<bool>("readoutProtected");
        QTest::addColumn<bool>("compatible");   // the shortest connect: no unique ID, no options
        QTest::addColumn<bool>("optionsRead");  // at connect, with the protected units
        QTest::addColumn<Units>("protectedUnits");
        QTest::addColumn<EventCode>("readSays");
        const EventCode read = EventCode::OptionBytesRead;
        QTest::newRow("F103, first 4 KB protected")
            << 0x410 << false << false << true << Units{0, 1, 2, 3} << read;
        QTest::newRow("L152: three word addresses")
            << 0x416 << false << false << true << Units{} << read;
        QTest::newRow("F4: sector grain") << 0x413 << false << false << true << Units{0} << read;
        QTest::newRow("G0B1: the pages from the option bytes")
            << 0x467 << false << false << true << Units{} << read;
        QTest::newRow("readout-protected F103")
            << 0x410 << true << false << false << Units{} << EventCode::OptionBytesProtected;
        QTest::newRow("F103 compatible") << 0x410 << false << true << false << Units{} << read;
        QTest::newRow("H7: no option area known")
            << 0x450 << false << false << false << Units{} << EventCode::OptionBytesUnsupported;
    }
    void connectAndRead() {
        QFETCH(int, pid);
        QFETCH(bool, readoutProtected);
        QFETCH(bool, compatible);
        QFETCH(bool, optionsRead);
        QFETCH(Units, protectedUnits);
        QFETCH(EventCode, readSays);
        std::vector<std::string> edits;
        if (pid == 0x410) edits = {"WRP0=0xFE"};
        if (pid == 0x413) edits = {"nWRP=0xFFE"};
        sim::BoardConfig config = Chip(uint16_t(pid), edits);
        config.readoutProtected = readoutProtected;
        config.uid = std::array<uint8_t, 12>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        Rig rig(config, compatible ? WriteMode::Compatible : WriteMode::Fast);
        QVERIFY(rig.engine.connect("ttyS0"));
        const bool uidRead = !readoutProtected && !compatible;
        const QByteArray uid = uidRead ? QByteArray::fromHex("0102030405060708090A0B0C") : "";
        const std::vector<uint8_t>& got = rig.engine.target().uniqueId;
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(got.data()), int(got.size())), uid);
        if (uidRead) QCOMPARE(rig.host.last(EventCode::UniqueId).bytes, uid);
        QCOMPARE(rig.host.has(EventCode::UniqueIdUnreadable), readoutProtected);
        QCOMPARE(rig.engine.optionBytes().has_value(), optionsRead);
        QCOMPARE(rig.host.has(EventCode::WriteProtection), optionsRead);
        if (optionsRead) {
            QVERIFY(rig.engine.optionBytes()->unitsKnown);
            QCOMPARE(rig.engine.optionBytes()->protectedUnits, protectedUnits);
            QCOMPARE(rig.protectedUnits(), protectedUnits);
            QCOMPARE(rig.host.last(EventCode::WriteProtection).value.value_or(-1),
                     qint64(protectedUnits.size()));
        }

        rig.host.clearRecords();
        const std::optional<OptionBytesState> state = rig.engine.readOptionBytes();
        QVERIFY(rig.host.has(readSays));
        QCOMPARE(state.has_value(), readSays == EventCode::OptionBytesRead);
        if (!state) return;
        QCOMPARE(state->readoutLevel, 0);
        QCOMPARE(state->raw, rig.board.optionBytes());
        QCOMPARE(state->address, rig.board.device().optionBytes);
        // Each field shown, the last as it is held.
        QVERIFY(state->fields.size() > 5);
        size_t shown = 0;
        for (const Event& e : rig.host.events) shown += e.code == EventCode::OptionFieldValue;
        QCOMPARE(shown, state->fields.size());
        const Event last = rig.host.last(EventCode::OptionFieldValue);
        QCOMPARE(last.text.toStdString(), state->fields.back().name);
        QCOMPARE(uint32_t(last.value.value_or(-1)), state->fields.back().value);
    }

    // option-bytes --set: what is written, what is refused before anything is, and the check
    // after the reset. A chip that does not come back by itself (its syncs lost): the user is
    // asked to reset it; the wait ends when it answers, or at Stop.
    void writeOptionBytes_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<std::vector<std::string>>("edits");
        QTest::addColumn<bool>("allowPermanent");
        QTest::addColumn<int>("lostSyncs");   // 0x7F frames after the reset the board does not see
        QTest::addColumn<bool>("pressStop");  // when the user is asked to reset the board
        QTest::addColumn<EventCode>("says");  // OptionBytesWritten: success
        QTest::addColumn<int>("writes");      // Write Memory to the option area
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("value");  // the field's value on the chip afterwards
        using V = std::vector<std::string>;
        const auto row = [](const char* name, int pid, const V& edits, bool allowPermanent,
                            EventCode says, int writes, const char* field, int value,
                            int lostSyncs = 0, bool pressStop = false) {
            QTest::newRow(name) << pid << edits << allowPermanent << lostSyncs << pressStop << says
                                << writes << QString(field) << value;
        };
        const EventCode written = EventCode::OptionBytesWritten;
        const EventCode failed = EventCode::ReconnectFailed;
        row("F103 watchdog and a data byte", 0x410, {"WDG_SW=0", "DATA0=0x12"}, false, written, 1,
            "DATA0", 0x12);
        row("back after the request", 0x410, {"DATA1=0x34"}, false, written, 1, "DATA1", 0x34, 3);
        row("never back, Stop", 0x410, {"DATA1=0x34"}, false, failed, 1, "DATA1", 0x34, 1000, true);
        row("never back, the wait ends", 0x410, {"DATA1=0x34"}, false, failed, 1, "DATA1", 0x34,
            1000);
        row("G071 word layout", 0x460, {"nRST_STOP=0"}, false, written, 1, "nRST_STOP", 0);
        // The engine names the fields the chip has (the refusal's detail).
        row("unknown name", 0x410, {"BOGUS=1"}, false, EventCode::OptionNameUnknown, 0, "WDG_SW",
            1);
        row("a bad edit stops the good ones", 0x410, {"DATA0=1", "DATA1=0x100"}, false,
            EventCode::OptionValueInvalid, 0, "DATA0", 0xFF);
        row("F0 level 2 refused without the flag", 0x440, {"RDP=2"}, false,
            EventCode::ReadoutLevel2Refused, 0, "RDP", 0xAA);
        row("F0 level 2 with the flag", 0x440, {"RDP=2"}, true, written, 1, "RDP", 0xCC);
        row("F0 level 1: read refused afterwards, as meant", 0x440, {"RDP=1"}, false, written, 1,
            "RDP", 0x00);
        row("U575: the option register is only read", 0x482, {"IWDG_SW=0"}, false,
            EventCode::OptionBytesReadOnly, 0, "IWDG_SW", 1);
    }
    void writeOptionBytes() {
        QFETCH(int, pid);
        QFETCH(std::vector<std::string>, edits);
        QFETCH(bool, allowPermanent);
        QFETCH(int, lostSyncs);
        QFETCH(bool, pressStop);
        QFETCH(EventCode, says);
        QFETCH(int, writes);
        QFETCH(QString, field);
        QFETCH(int, value);
        Rig rig(Chip(uint16_t(pid)));
        QVERIFY(rig.connect());
        int lost = 0;
        bool reset = false;
        rig.tamper = [&](const QByteArray& frame) {
            const bool drop = reset && frame == QByteArray(1, char(0x7F)) && lost < lostSyncs;
            lost += drop;
            return drop ? QByteArray() : frame;
        };
        rig.host.onEvent = [&](const Event& e) {
            reset = reset || e.code == EventCode::ChipResetting;
            if (pressStop && e.code == EventCode::ResetBoardRequest) rig.engine.stop();
        };
        const bool ok = says == EventCode::OptionBytesWritten;
        QCOMPARE(rig.engine.writeOptionBytes(edits, allowPermanent), ok);
        QVERIFY(rig.host.has(says));
        QCOMPARE(rig.host.has(EventCode::OptionBytesWritten), ok);
        QCOMPARE(rig.host.has(EventCode::ResetBoardRequest), lostSyncs > 0);
        if (says == EventCode::OptionNameUnknown)
            QVERIFY(rig.host.last(says).detail.startsWith("RDP,WDG_SW,"));
        QCOMPARE(int(rig.board.counters().optionWrites), writes);
        QCOMPARE(rig.option(field.toLatin1().constData()), uint32_t(value));
        QCOMPARE(reset, writes > 0);
        // After the reset the link works again (level 2 aside: the bootloader is gone).
        if (ok && writes && value != 0xCC && value != 0x00)
            QVERIFY(rig.engine.readOptionBytes().has_value());
    }

    // A chip that keeps other bits than were written: the read-back fails loudly.
    void readBackMismatch() {
        Rig rig(Chip(0x410));
        QVERIFY(rig.connect());
        // The data byte's frame arrives with DATA0 changed on the line.
        rig.tamper = [](const QByteArray& frame) {
            QByteArray f = frame;
            if (f.size() == 18 && uint8_t(f[0]) == 15 && uint8_t(f[5]) == 0x12) {
                f[5] = char(0x13);
                f[17] = char(f[17] ^ 0x12 ^ 0x13);
            }
            return f;
        };
        QVERIFY(!rig.engine.writeOptionBytes({"DATA0=0x12"}, false));
        const Event e = rig.host.last(EventCode::OptionBytesMismatch);
        QCOMPARE(e.address.value_or(0), 4u);
        QCOMPARE(e.expected.value_or(0), uint8_t(0x12));
        QCOMPARE(e.actual.value_or(0), uint8_t(0x13));
        QVERIFY(!rig.host.has(EventCode::OptionBytesWritten));
    }

    // Write Protect: the units covering a range, or all; what was protected stays; the groups
    // sent; families with page areas refused. Then Write Unprotect. The board is wired: each
    // command's reset is followed by the entry sequence, without a request to the user.
    void writeProtect_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<std::vector<std::string>>("before");
        QTest::addColumn<uint32_t>("begin");
        QTest::addColumn<uint32_t>("size");  // 0: all
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("groups");  // as sent
        QTest::addColumn<Units>("after");        // protected units on the chip; all: every one
        const auto row = [](const char* name, int pid, const std::vector<std::string>& before,
                            uint32_t begin, uint32_t size, bool ok, const QByteArray& groups,
                            const Units& after) {
            QTest::newRow(name) << pid << before << begin << size << ok << groups << after;
        };
        row("F103 1K pages: one 4 KB group", 0x410, {}, 0x08001000, 0x400, true,
            QByteArray("\x01", 1), {4, 5, 6, 7});
        row("what was protected stays", 0x410, {"WRP0=0xFE"}, 0x08002000, 0x10, true,
            QByteArray("\x00\x02", 2), {0, 1, 2, 3, 8, 9, 10, 11});
        row("F103 all", 0x410, {}, 0, 0, true,
            QByteArray::fromHex("000102030405060708090A0B0C0D0E0F"), {});
        row("F4 sectors", 0x413, {}, 0x08010000, 0x10000, true, "\x04", {4});
        row("range past the flash", 0x410, {}, 0x20000000, 0x100, false, {}, {});
        row("G071 protects page areas", 0x460, {}, 0, 0, false, {}, {});
    }
    void writeProtect() {
        QFETCH(int, pid);
        QFETCH(std::vector<std::string>, before);
        QFETCH(uint32_t, begin);
        QFETCH(uint32_t, size);
        QFETCH(bool, ok);
        QFETCH(Units, after);
        Rig rig(Chip(uint16_t(pid), before));
        Wiring wiring;
        wiring.reset = WiredLine::Dtr;
        wiring.boot0 = WiredLine::Rts;
        LineOptions lines;
        lines.boot = LinesForWiring(wiring);
        rig.engine.setLineOptions(lines);
        QVERIFY(rig.connect());
        QCOMPARE(rig.engine.writeProtect(size ? std::optional<AddressRange>({begin, begin + size})
                                              : std::nullopt),
                 ok);
        QTEST(rig.host.last(EventCode::WriteProtectBegun).bytes, "groups");
        QCOMPARE(rig.host.has(EventCode::WriteProtectDone), ok);
        if (!ok) return;
        if (!size) {  // all: every unit of the chip
            after.resize(rig.board.units().size());
            std::iota(after.begin(), after.end(), 0u);
        }
        QCOMPARE(rig.protectedUnits(), after);
        QCOMPARE(rig.engine.optionBytes()->protectedUnits, after);
        const int linesBefore = rig.port.lines.size();
        QVERIFY(rig.engine.writeUnprotect());
        QCOMPARE(rig.host.last(EventCode::WriteUnprotectDone).value.value_or(-1), 0);
        QVERIFY(rig.protectedUnits().empty());
        QCOMPARE(int(rig.board.counters().perCommand.at(0x73)), 1);
        QVERIFY(!rig.host.has(EventCode::ResetBoardRequest));
        QVERIFY(rig.port.lines.size() > linesBefore);  // the entry sequence again
    }

    // Program and erase touching a protected unit stop before anything is erased, in every mode
    // (compatible mode reads the option bytes at that moment); elsewhere they go on.
    void protectedUnitsRefused_data() {
        QTest::addColumn<bool>("program");  // else erase: the range, or the whole chip at size 0
        QTest::addColumn<int>("scope");     // the program's EraseScope
        QTest::addColumn<uint32_t>("begin");
        QTest::addColumn<uint32_t>("size");
        QTest::addColumn<bool>("compatible");
        QTest::addColumn<QString>("units");  // UnitsWriteProtected's text; empty: it goes on
        const auto row = [](const char* name, bool program, EraseScope scope, uint32_t begin,
                            uint32_t size, bool compatible, const char* units) {
            QTest::newRow(name) << program << int(scope) << begin << size << compatible
                                << QString(units);
        };
        const EraseScope pages = EraseScope::Pages;
        row("program, pages erase, protected", true, pages, 0x08000800, 0x900, false, "2-3");
        row("program without erase, protected", true, EraseScope::None, 0x08000000, 0x10, false,
            "0");
        row("program elsewhere", true, pages, 0x08001000, 0x400, false, "");
        row("compatible: read before the erase", true, pages, 0x08000000, 0x10, true, "0");
        row("erase range", false, pages, 0x08000C00, 0x800, false, "3");
        row("erase whole chip", false, pages, 0, 0, false, "0-3");
    }
    void protectedUnitsRefused() {
        QFETCH(bool, program);
        QFETCH(int, scope);
        QFETCH(uint32_t, begin);
        QFETCH(uint32_t, size);
        QFETCH(bool, compatible);
        QFETCH(QString, units);
        Rig rig(Chip(0x410, {"WRP0=0xFE"}), compatible ? WriteMode::Compatible : WriteMode::Fast);
        QVERIFY(rig.connect());
        ProgramOptions options;
        options.erase = EraseScope(scope);
        FirmwareImage image;
        const std::vector<uint8_t> bytes(size, 0x5A);
        image.add(begin, bytes.data(), bytes.size());
        const bool done =
            program ? rig.engine.program(image, options)
                    : rig.engine.erase(size ? std::optional<AddressRange>({begin, begin + size})
                                            : std::nullopt);
        QCOMPARE(done, units.isEmpty());
        QCOMPARE(rig.host.last(EventCode::UnitsWriteProtected).text, units);
        const sim::Counters& c = rig.board.counters();
        if (!done) QCOMPARE(int(c.pageErases + c.massErases + c.bankErases + c.writeBytes), 0);
    }

    // Where an option bit decides the banks and pages, the chip's option bytes give the page
    // numbers Extended Erase sends for the same range (a wrong number erases other firmware) and
    // whether a bank covered whole goes in one bank erase; with them unknown (L4R: not mapped),
    // page and bank erase are refused.
    void bankLayout_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<int>("flashKb");
        QTest::addColumn<std::vector<std::string>>("edits");
        QTest::addColumn<uint32_t>("from");  // offset of the range erased
        QTest::addColumn<uint32_t>("size");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<Units>("numbers");  // the page numbers sent, in order
        QTest::addColumn<int>("bankErases");
        const auto row = [](const char* name, int pid, int kb, const char* edit, uint32_t from,
                            uint32_t size, bool ok, const Units& numbers, int bankErases = 0) {
            QTest::newRow(name) << pid << kb
                                << (*edit ? std::vector<std::string>{edit}
                                          : std::vector<std::string>{})
                                << from << size << ok << numbers << bankErases;
        };
        Units first16(16);
        std::iota(first16.begin(), first16.end(), 0u);
        row("U535 256K DUALBANK=1: bank 1 by bank erase", 0x455, 256, "DUALBANK=1", 0, 0x20000,
            true, {}, 1);
        row("U535 256K DUALBANK=0: no bank to erase", 0x455, 256, "DUALBANK=0", 0, 0x20000, true,
            first16);
        row("L476 512K DUALBANK=1: bank 2 from page 256", 0x415, 512, "DUALBANK=1", 0x3F000, 0x2000,
            true, {126, 127, 256, 257});
        row("L476 512K DUALBANK=0: pages on", 0x415, 512, "DUALBANK=0", 0x3F000, 0x2000, true,
            {126, 127, 128, 129});
        row("L4R 2M: options not mapped, refused", 0x470, 2048, "", 0x7F000, 0x2000, false, {});
        row("L476 1M: two banks without the options", 0x415, 1024, "DUALBANK=0", 0x7F000, 0x2000,
            true, {254, 255, 256, 257});
        row("F429 1M DB1M=1: bank 2 from sector 12", 0x419, 1024, "DB1M=1", 0x7F000, 0x2000, true,
            {7, 12});
        row("F429 1M DB1M=0: one bank", 0x419, 1024, "DB1M=0", 0x7F000, 0x2000, true, {7, 8});
        row("L4P5 1M DBANK=0: 8K pages", 0x471, 1024, "DBANK=0", 0x7F000, 0x2000, true, {63, 64});
        row("L552 DBANK=0: 4K pages", 0x472, 512, "DBANK=0", 0x3F000, 0x2000, true, {63, 64});
    }

    void bankLayout() {
        QFETCH(int, pid);
        QFETCH(int, flashKb);
        QFETCH(std::vector<std::string>, edits);
        QFETCH(uint32_t, from);
        QFETCH(uint32_t, size);
        QFETCH(bool, ok);
        QFETCH(Units, numbers);
        Rig rig(Chip(uint16_t(pid), edits, flashKb));
        // The page lists of Extended Erase: the frame after 44 BB, when not a special code.
        Units sent;
        bool erasing = false;
        rig.tamper = [&](const QByteArray& frame) {
            if (erasing && frame.size() >= 5 && uint8_t(frame[0]) < 0xFF)
                for (int i = 2; i + 2 < frame.size(); i += 2)
                    sent.push_back(uint32_t(uint8_t(frame[i])) << 8 | uint8_t(frame[i + 1]));
            erasing = frame == QByteArray("\x44\xBB");
            return frame;
        };
        QVERIFY(rig.connect());
        QCOMPARE(rig.engine.erase(AddressRange{0x08000000u + from, 0x08000000ull + from + size}),
                 ok);
        QCOMPARE(rig.host.has(EventCode::BankLayoutUnknown), !ok);
        QCOMPARE(sent, numbers);
        QCOMPARE(int(rig.board.counters().pageErases), int(numbers.size()));
        QTEST(int(rig.board.counters().bankErases), "bankErases");
        QCOMPARE(int(rig.board.counters().massErases), 0);
    }
};

QTEST_GUILESS_MAIN(TestOptionEngine)
#include "tst_optionengine.moc"
