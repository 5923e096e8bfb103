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
using Edits = std::vector<std::string>;

// Units 0 to n - 1.
Units FirstUnits(uint32_t n) {
    Units u(n);
    std::iota(u.begin(), u.end(), 0u);
    return u;
}

// One row each of the tables below.
// compatible: the shortest connect, no unique ID, no options; optionsRead: at connect, with the
// protected units.
struct ConnectCase {
    int pid;
    bool readoutProtected, compatible, optionsRead;
    Units protectedUnits;
    EventCode readSays;
};
struct WriteCase {
    int pid;
    Edits edits;
    bool allowPermanent;
    EventCode says;  // OptionBytesWritten: success
    int writes;      // Write Memory to the option area
    const char* field;
    // value: the field's value on the chip afterwards; lostSyncs: 0x7F frames after the reset
    // the board does not see.
    int value, lostSyncs = 0;
    bool pressStop = false;  // when the user is asked to reset the board
};
struct ProtectCase {
    int pid;
    Edits before;
    uint32_t begin, size;  // size 0: all
    bool ok;
    const char* groups;  // as sent, in hex
    Units after;         // protected units on the chip
};
// program, else erase: the range, or the whole chip at size 0. units: UnitsWriteProtected's text;
// empty: it goes on.
struct RefusedCase {
    bool program, compatible;
    EraseScope scope;
    uint32_t begin, size;
    QString units;
};
// The range erased: from the flash's start, size bytes. numbers: the page numbers sent, in order.
struct BankCase {
    int pid, flashKb;
    const char* edit;  // of the option bytes; "": none
    uint32_t from;
    Units numbers;
    uint32_t size = 0x2000;
    bool ok = true;
    int bankErases = 0;
};

}  // namespace

Q_DECLARE_METATYPE(ConnectCase)
Q_DECLARE_METATYPE(WriteCase)
Q_DECLARE_METATYPE(ProtectCase)
Q_DECLARE_METATYPE(RefusedCase)
Q_DECLARE_METATYPE(BankCase)

class TestOptionEngine : public QObject {
    Q_OBJECT
private slots:
    // What connect learns: the unique ID (where it lies per family, one read or three), the
    // protected units and the readout level; a readout-protected chip still connects. Then
    // option-bytes without --set: the state and its events, or the refusal.
    void connectAndRead_data() {
        QTest::addColumn<ConnectCase>("c");
        const auto row = [](const char* name, const ConnectCase& c) { QTest::newRow(name) << c; };
        const EventCode read = EventCode::OptionBytesRead;
        row("F103, first 4 KB protected", {0x410, 0, 0, 1, {0, 1, 2, 3}, read});
        row("L152: three word addresses", {0x416, 0, 0, 1, {}, read});
        row("F4: sector grain", {0x413, 0, 0, 1, {0}, read});
        row("G0B1: the pages from the option bytes", {0x467, 0, 0, 1, {}, read});
        row("readout-protected F103", {0x410, 1, 0, 0, {}, EventCode::OptionBytesProtected});
        row("F103 compatible", {0x410, 0, 1, 0, {}, read});
        row("H7: no option area known", {0x450, 0, 0, 0, {}, EventCode::OptionBytesUnsupported});
    }
    void connectAndRead() {
        QFETCH(ConnectCase, c);
        Edits edits;
        if (c.pid == 0x410) edits = {"WRP0=0xFE"};
        if (c.pid == 0x413) edits = {"nWRP=0xFFE"};
        sim::BoardConfig config = Chip(uint16_t(c.pid), edits);
        config.readoutProtected = c.readoutProtected;
        config.uid = std::array<uint8_t, 12>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        Rig rig(config, c.compatible ? WriteMode::Compatible : WriteMode::Fast);
        QVERIFY(rig.engine.connect("ttyS0"));
        const bool uidRead = !c.readoutProtected && !c.compatible;
        const QByteArray uid = uidRead ? QByteArray::fromHex("0102030405060708090A0B0C") : "";
        QCOMPARE(rig.engine.target().uniqueId, std::vector<uint8_t>(uid.begin(), uid.end()));
        if (uidRead) QCOMPARE(rig.host.last(EventCode::UniqueId).bytes, uid);
        QCOMPARE(rig.host.has(EventCode::UniqueIdUnreadable), c.readoutProtected);
        QCOMPARE(rig.engine.optionBytes().has_value(), c.optionsRead);
        QCOMPARE(rig.host.has(EventCode::WriteProtection), c.optionsRead);
        if (c.optionsRead) {
            QVERIFY(rig.engine.optionBytes()->unitsKnown);
            QCOMPARE(rig.engine.optionBytes()->protectedUnits, c.protectedUnits);
            QCOMPARE(rig.protectedUnits(), c.protectedUnits);
            QCOMPARE(rig.host.last(EventCode::WriteProtection).value.value_or(-1),
                     qint64(c.protectedUnits.size()));
        }

        rig.host.clearRecords();
        const std::optional<OptionBytesState> state = rig.engine.readOptionBytes();
        QVERIFY(rig.host.has(c.readSays));
        QCOMPARE(state.has_value(), c.readSays == EventCode::OptionBytesRead);
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
    // asked to reset it; the wait ends when it answers, or at Stop. Last, a chip that keeps other
    // bits than were written (DATA0 changed on the line): the read-back fails loudly.
    void writeOptionBytes_data() {
        QTest::addColumn<WriteCase>("c");
        using E = EventCode;
        const E ok = E::OptionBytesWritten, failed = E::ReconnectFailed;
        const auto row = [](const char* name, const WriteCase& c) { QTest::newRow(name) << c; };
        row("F103 watchdog and data", {0x410, {"WDG_SW=0", "DATA0=0x12"}, 0, ok, 1, "DATA0", 0x12});
        row("back after the request", {0x410, {"DATA1=0x34"}, 0, ok, 1, "DATA1", 0x34, 3});
        row("never back, Stop", {0x410, {"DATA1=0x34"}, 0, failed, 1, "DATA1", 0x34, 1000, true});
        row("never back, wait ends", {0x410, {"DATA1=0x34"}, 0, failed, 1, "DATA1", 0x34, 1000});
        row("G071 word layout", {0x460, {"nRST_STOP=0"}, 0, ok, 1, "nRST_STOP", 0});
        // The engine names the fields the chip has (the refusal's detail).
        row("unknown name", {0x410, {"BOGUS=1"}, 0, E::OptionNameUnknown, 0, "WDG_SW", 1});
        row("a bad edit stops the good ones",
            {0x410, {"DATA0=1", "DATA1=0x100"}, 0, E::OptionValueInvalid, 0, "DATA0", 0xFF});
        row("F0 level 2 refused without the flag",
            {0x440, {"RDP=2"}, 0, E::ReadoutLevel2Refused, 0, "RDP", 0xAA});
        row("F0 level 2 with the flag", {0x440, {"RDP=2"}, 1, ok, 1, "RDP", 0xCC});
        row("F0 level 1, as meant", {0x440, {"RDP=1"}, 0, ok, 1, "RDP", 0});
        row("U575: the option register is only read",
            {0x482, {"IWDG_SW=0"}, 0, E::OptionBytesReadOnly, 0, "IWDG_SW", 1});
        // DATA0 changed on the line: the read-back fails loudly.
        row("mismatch", {0x410, {"DATA0=0x12"}, 0, E::OptionBytesMismatch, 1, "DATA0", 0x13});
    }
    void writeOptionBytes() {
        QFETCH(WriteCase, c);
        Rig rig(Chip(uint16_t(c.pid)));
        QVERIFY(rig.connect());
        int lost = 0;
        bool reset = false;
        const bool mismatch = c.says == EventCode::OptionBytesMismatch;
        rig.tamper = [&](const QByteArray& frame) {
            QByteArray f = frame;
            if (mismatch && f.size() == 18 && uint8_t(f[0]) == 15 && uint8_t(f[5]) == 0x12) {
                f[5] = char(0x13);
                f[17] = char(f[17] ^ 0x12 ^ 0x13);
            }
            const bool drop = reset && frame == QByteArray(1, char(0x7F)) && lost < c.lostSyncs;
            lost += drop;
            return drop ? QByteArray() : f;
        };
        rig.host.onEvent = [&](const Event& e) {
            reset = reset || e.code == EventCode::ChipResetting;
            if (c.pressStop && e.code == EventCode::ResetBoardRequest) rig.engine.stop();
        };
        const bool ok = c.says == EventCode::OptionBytesWritten;
        QCOMPARE(rig.engine.writeOptionBytes(c.edits, c.allowPermanent), ok);
        QVERIFY(rig.host.has(c.says));
        QCOMPARE(rig.host.has(EventCode::OptionBytesWritten), ok);
        QCOMPARE(rig.host.has(EventCode::ResetBoardRequest), c.lostSyncs > 0);
        if (c.says == EventCode::OptionNameUnknown)
            QVERIFY(rig.host.last(c.says).detail.startsWith("RDP,WDG_SW,"));
        if (mismatch) {
            const Event e = rig.host.last(EventCode::OptionBytesMismatch);
            QCOMPARE(e.address.value_or(0), 4u);
            QCOMPARE(e.expected.value_or(0), uint8_t(0x12));
            QCOMPARE(e.actual.value_or(0), uint8_t(0x13));
        }
        QCOMPARE(int(rig.board.counters().optionWrites), c.writes);
        QCOMPARE(rig.option(c.field), uint32_t(c.value));
        QCOMPARE(reset, c.writes > 0);
        // After the reset the link works again (level 2 aside: the bootloader is gone).
        if (ok && c.writes && c.value != 0xCC && c.value != 0x00)
            QVERIFY(rig.engine.readOptionBytes().has_value());
    }

    // Write Protect: the units covering a range, or all; what was protected stays; the groups
    // sent; families with page areas refused. Then Write Unprotect. The board is wired: each
    // command's reset is followed by the entry sequence, without a request to the user.
    void writeProtect_data() {
        QTest::addColumn<ProtectCase>("c");
        const auto row = [](const char* name, const ProtectCase& c) { QTest::newRow(name) << c; };
        row("F103: one 4 KB group", {0x410, {}, 0x08001000, 0x400, true, "01", {4, 5, 6, 7}});
        row("what was protected stays",
            {0x410, {"WRP0=0xFE"}, 0x08002000, 0x10, true, "0002", {0, 1, 2, 3, 8, 9, 10, 11}});
        row("F103 all",
            {0x410, {}, 0, 0, true, "000102030405060708090A0B0C0D0E0F", FirstUnits(64)});
        row("F4 sectors", {0x413, {}, 0x08010000, 0x10000, true, "04", {4}});
        row("range past the flash", {0x410, {}, 0x20000000, 0x100, false, "", {}});
        row("G071 protects page areas", {0x460, {}, 0, 0, false, "", {}});
    }
    void writeProtect() {
        QFETCH(ProtectCase, c);
        Rig rig(Chip(uint16_t(c.pid), c.before));
        // Reset on DTR, BOOT0 on RTS.
        rig.engine.setLineOptions(
            {kDefaultLineSpeed, LinesForWiring({WiredLine::Dtr, false, WiredLine::Rts})});
        QVERIFY(rig.connect());
        const auto range = AddressRange{c.begin, c.begin + c.size};
        QCOMPARE(rig.engine.writeProtect(c.size ? std::optional(range) : std::nullopt), c.ok);
        QCOMPARE(rig.host.last(EventCode::WriteProtectBegun).bytes, QByteArray::fromHex(c.groups));
        QCOMPARE(rig.host.has(EventCode::WriteProtectDone), c.ok);
        if (!c.ok) return;
        QCOMPARE(rig.protectedUnits(), c.after);
        QCOMPARE(rig.engine.optionBytes()->protectedUnits, c.after);
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
        QTest::addColumn<RefusedCase>("c");
        const auto row = [](const char* name, const RefusedCase& c) { QTest::newRow(name) << c; };
        const EraseScope pages = EraseScope::Pages;
        row("program, pages erase, protected", {true, false, pages, 0x08000800, 0x900, "2-3"});
        row("no erase, protected", {true, false, EraseScope::None, 0x08000000, 0x10, "0"});
        row("program elsewhere", {true, false, pages, 0x08001000, 0x400, ""});
        row("compatible: read before the erase", {true, true, pages, 0x08000000, 0x10, "0"});
        row("erase range", {false, false, pages, 0x08000C00, 0x800, "3"});
        row("erase whole chip", {false, false, pages, 0, 0, "0-3"});
    }
    void protectedUnitsRefused() {
        QFETCH(RefusedCase, c);
        Rig rig(Chip(0x410, {"WRP0=0xFE"}), c.compatible ? WriteMode::Compatible : WriteMode::Fast);
        QVERIFY(rig.connect());
        FirmwareImage image;
        const std::vector<uint8_t> bytes(c.size, 0x5A);
        image.add(c.begin, bytes.data(), bytes.size());
        const auto range = AddressRange{c.begin, c.begin + c.size};
        const bool done = c.program
                              ? rig.engine.program(image, {c.scope})
                              : rig.engine.erase(c.size ? std::optional(range) : std::nullopt);
        QCOMPARE(done, c.units.isEmpty());
        QCOMPARE(rig.host.last(EventCode::UnitsWriteProtected).text, c.units);
        const sim::Counters& n = rig.board.counters();
        if (!done) QCOMPARE(int(n.pageErases + n.massErases + n.bankErases + n.writeBytes), 0);
    }

    // Where an option bit decides the banks and pages, the chip's option bytes give the page
    // numbers Extended Erase sends for the same range (a wrong number erases other firmware) and
    // whether a bank covered whole goes in one bank erase; with them unknown (L4R: not mapped),
    // page and bank erase are refused.
    void bankLayout_data() {
        QTest::addColumn<BankCase>("c");
        const auto row = [](const char* name, const BankCase& c) { QTest::newRow(name) << c; };
        row("U535 DUALBANK=1: bank erase", {0x455, 256, "DUALBANK=1", 0, {}, 0x20000, true, 1});
        row("U535 DUALBANK=0: pages", {0x455, 256, "DUALBANK=0", 0, FirstUnits(16), 0x20000});
        row("L476 512K DUALBANK=1: bank 2 from page 256",
            {0x415, 512, "DUALBANK=1", 0x3F000, {126, 127, 256, 257}});
        row("L476 512K DUALBANK=0: pages on",
            {0x415, 512, "DUALBANK=0", 0x3F000, {126, 127, 128, 129}});
        row("L4R 2M: options not mapped, refused", {0x470, 2048, "", 0x7F000, {}, 0x2000, false});
        row("L476 1M: two banks without the options",
            {0x415, 1024, "DUALBANK=0", 0x7F000, {254, 255, 256, 257}});
        row("F429 1M DB1M=1: bank 2 from sector 12", {0x419, 1024, "DB1M=1", 0x7F000, {7, 12}});
        row("F429 1M DB1M=0: one bank", {0x419, 1024, "DB1M=0", 0x7F000, {7, 8}});
        row("L4P5 1M DBANK=0: 8K pages", {0x471, 1024, "DBANK=0", 0x7F000, {63, 64}});
        row("L552 DBANK=0: 4K pages", {0x472, 512, "DBANK=0", 0x3F000, {63, 64}});
    }
    void bankLayout() {
        QFETCH(BankCase, c);
        Rig rig(Chip(uint16_t(c.pid), *c.edit ? Edits{c.edit} : Edits{}, c.flashKb));
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
        const uint64_t begin = 0x08000000u + c.from;
        QCOMPARE(rig.engine.erase(AddressRange{uint32_t(begin), begin + c.size}), c.ok);
        QCOMPARE(rig.host.has(EventCode::BankLayoutUnknown), !c.ok);
        QCOMPARE(sent, c.numbers);
        QCOMPARE(int(rig.board.counters().pageErases), int(c.numbers.size()));
        QCOMPARE(int(rig.board.counters().bankErases), c.bankErases);
        QCOMPARE(int(rig.board.counters().massErases), 0);
    }
};

QTEST_GUILESS_MAIN(TestOptionEngine)
#include "tst_optionengine.moc"
