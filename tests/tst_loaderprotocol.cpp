// The turbo loader's engine (loader/src) built for the host and driven through its line protocol
// on a fake chip: framing, sequence numbers, resends, silence and speed trials, every command with
// its refusals, and the deflate decoder against the host's own streams. Built twice: the second
// build (LOADER_LZMA) also has the LZMA decoder, whose refusals it checks.
#include <QtTest>

#include "LoaderFakeChip.h"
#include "LoaderLink.h"
#include "LzmaFrames.h"
#include "TurboFrames.h"
#include "loader.h"

using loadertest::Chip;
using loadertest::Code;
using loadertest::FlashBytes;
using loadertest::kFlashBase;
using loadertest::Random;

namespace {

constexpr std::uint32_t kRxSize = 6144;
// The LZMA build takes its table from the top: the receive buffer keeps kRxSize.
constexpr std::uint32_t kLzmaTable = LOADER_HAS_LZMA ? LOADER_LZMA_TABLE(1, 1) : 0;
alignas(4) std::uint8_t rxBuffer[kRxSize + 2 * kLzmaTable];
std::uint8_t nextSeq;  // the sequence number Command() sends next

using praxon::flash::DeflateRaw;
using praxon::flash::turbo::Crc32Words;
using praxon::flash::turbo::EncodeFrame;
using praxon::flash::turbo::EscapeForLine;

QByteArray Le16(std::uint32_t value) {
    const char bytes[2] = {char(value), char(value >> 8)};
    return QByteArray(bytes, 2);
}

QByteArray Words(std::initializer_list<std::uint32_t> words) {
    QByteArray bytes;
    for (std::uint32_t word : words) bytes += Le16(word) + Le16(word >> 16);
    return bytes;
}

std::uint32_t U32(const QByteArray& bytes, int offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | std::uint8_t(bytes[offset + i]);
    return value;
}

struct Reply {
    int seq;
    int code;
    QByteArray payload;
    int status() const { return payload.isEmpty() ? -1 : std::uint8_t(payload[0]); }
};

// The bytes as the host puts them on the line (escaped).
void Send(const QByteArray& bytes) {
    for (char byte : EscapeForLine(bytes)) Chip().rx.push_back(std::uint8_t(byte));
}

// Runs the engine until the line is quiet; returns the replies sent meanwhile.
QList<Reply> Run() {
    for (int quiet = 0; quiet < 64;) {
        const bool input = !Chip().rx.empty();
        const std::size_t sent = Chip().tx.size();
        loader_step();
        quiet = input || Chip().tx.size() != sent ? 0 : quiet + 1;
    }
    QList<Reply> replies;
    const std::vector<std::uint8_t>& tx = Chip().tx;
    praxon::flash::turbo::FrameReader reader;
    reader.feed(QByteArray(reinterpret_cast<const char*>(tx.data()), int(tx.size())));
    while (auto frame = reader.next()) replies.append({frame->seq, frame->code, frame->payload});
    if (reader.skippedBytes() || reader.pendingBytes())
        replies.append({-1, -1, {}});  // the chip sent something that is not a frame
    Chip().tx.clear();
    return replies;
}

void StartChip(std::uint32_t flashBytes = 64 * 1024, std::uint32_t pageSize = 1024,
               std::uint32_t bank2 = 0) {
    Chip().reset(flashBytes);
    Chip().pageSize = pageSize;
    Chip().bank2Start = bank2;
    loader_params params{
        LOADER_MAGIC, 115200, loadertest::kRamBase + 0x5000, pageSize, 0, bank2, 0, 1};
    loader_init(&params, rxBuffer, sizeof rxBuffer, 0x20000200);
    nextSeq = 0;
}

// Sends one command as the next frame and returns its reply (seq -1 when it got none or more).
Reply Command(std::uint8_t cmd, const QByteArray& payload) {
    const std::uint8_t seq = nextSeq++;
    Send(EncodeFrame(seq, cmd, payload));
    const QList<Reply> replies = Run();
    if (replies.size() != 1 || replies[0].seq != seq || replies[0].code != cmd) return {-1, -1, {}};
    return replies[0];
}

void SetFlash(std::uint32_t address, const QByteArray& bytes) {
    std::copy(bytes.begin(), bytes.end(), Chip().flash.begin() + (address - kFlashBase));
}

// The flash the command table starts from: data in pages 0, 1 and 3, data in page 5 (which the
// table write-protects), random bytes in the upper half.
QByteArray TableFlash() {
    QByteArray flash(0x10000, '\xFF');
    flash.replace(0x100, 4, QByteArray("\x11\x22\x33\x44", 4));
    flash.replace(0x400, 16, QByteArray(16, '\x11'));
    flash.replace(0xC00, 16, QByteArray(16, '\x33'));
    flash.replace(0x1400, 16, QByteArray(16, '\x55'));
    return flash.replace(0x8000, 0x8000, Random(0x8000, 3));
}

}  // namespace

class TestLoaderProtocol : public QObject {
    Q_OBJECT

private slots:
    void init() { StartChip(); }
    void cleanup() {
        QVERIFY2(Chip().faults.empty(), Chip().faults.empty() ? "" : Chip().faults[0].c_str());
    }

    // The CRC unit's values from reset (word 0x12345678 = bytes 78 56 34 12), host and chip.
    void crcCheckValues() {
        QCOMPARE(loader_crc_word(0xFFFFFFFFu, 0x12345678), 0xDF8A8A2Bu);
        QCOMPARE(Crc32Words(Words({0x12345678, 0x9ABCDEF0})), 0x7D24A31Bu);
    }

    // Script tokens: H<seq> HELLO; C<seq> CRC command; B<seq> same with a broken CRC; L<seq> same
    // with a line error inside; U<seq> its first 9 bytes only; T<seq> header longer than allowed;
    // G garbage without a sync byte; X a lone escape byte; E 20 bytes at a wrong line speed;
    // V<seq> BAUD to 921600; W silence past the idle limit (shown as W after its replies); S<ms>
    // silence of the host limit plus ms, R<ms> of the speed trial plus ms (decimal, may be
    // negative). Replies: seq/code/byte (status, or the NAK reason), in hex, and BAUD:<speed> for
    // each speed set; then LEAVE:<address> for each time the loader left.
    void framing_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("replies");
        const auto row = [](const char* name, const char* script, const char* replies) {
            QTest::newRow(name) << QString(script) << QString(replies);
        };
        row("hello takes any sequence number", "H07 C08", "07/01/00 08/06/00");
        row("bad CRC then resend", "H00 B01 C01", "00/01/00 01/EE/01 01/06/00");
        row("gap", "H00 C02", "00/01/00 01/EE/02");
        row("go back after a lost frame", "H00 B01 C02 C03 C01 C02 C03",
            "00/01/00 01/EE/01 01/06/00 02/06/00 03/06/00");
        row("one NAK until a frame executes", "H00 B01 C03 C04 C01 B02",
            "00/01/00 01/EE/01 01/06/00 02/EE/01");
        row("the expected frame failing again is NAKed again", "H00 B01 B01 C03 C01",
            "00/01/00 01/EE/01 01/EE/01 01/06/00");
        row("duplicate is not executed again", "H00 C01 C01", "00/01/00 01/06/00 01/DD/--");
        row("line error", "H00 L01 C01", "00/01/00 01/EE/03 01/06/00");
        row("too long", "H00 T01 C01", "00/01/00 01/EE/04 01/06/00");
        row("garbage skipped", "G H00 G C01", "00/01/00 01/06/00");
        row("sequence wraps", "HFE CFF C00", "FE/01/00 FF/06/00 00/06/00");
        row("unfinished frame dropped after silence", "H00 U01 W C01",
            "00/01/00 01/EE/01 W 01/06/00");
        row("an escape cut off before a frame", "H00 U01 X W C01", "00/01/00 01/EE/01 W 01/06/00");
        // A host that goes silent (killed, unplugged) must not leave the chip in RAM for good; a
        // host that is merely slow between frames must not lose it.
        row("silent up to the limit", "S0", "");
        row("silent past the limit", "S1", "LEAVE:FFFFFFFF");
        row("a reply restarts the count", "S0 H00 S0", "00/01/00");
        row("silent past the limit after a reply", "S0 H00 S1", "00/01/00 LEAVE:FFFFFFFF");
        row("half a frame, then the NAK for it", "S-200 U00 W S0", "00/EE/01 W");
        row("bytes at a wrong line speed do not count", "S0 E W", "W LEAVE:FFFFFFFF");
        // A new line speed falls back to the old one unless a good frame comes within the trial.
        row("a new speed holds for the trial", "V00 R0", "00/09/00 BAUD:921600");
        row("and falls back after it", "V00 R1", "00/09/00 BAUD:921600 BAUD:115200");
        row("unless a good frame came", "V00 C01 R1", "00/09/00 BAUD:921600 01/06/00");
    }

    void framing() {
        QFETCH(QString, script);
        QFETCH(QString, replies);
        QStringList seen;
        std::size_t speeds = 0;
        for (const QString& token : script.split(' ')) {
            const char kind = token[0].toLatin1();
            const int number = token.mid(1).toInt(nullptr, kind == 'S' || kind == 'R' ? 10 : 16);
            const std::uint8_t seq = std::uint8_t(number);
            const QByteArray crc = EncodeFrame(seq, CMD_CRC, Words({kFlashBase, 16}));
            if (kind == 'H') Send(EncodeFrame(seq, CMD_HELLO, {}));
            if (kind == 'C') Send(crc);
            if (kind == 'B') Send(crc.chopped(1) + char(crc.back() ^ 0x40));
            if (kind == 'L') {  // the ninth byte arrives with a line error
                Send(crc.left(8));
                Chip().rx.push_back(loadertest::kLineError);
                Send(crc.mid(9));
            }
            if (kind == 'T')
                Send(EncodeFrame(seq, CMD_WRITE, QByteArray(LOADER_MAX_PAYLOAD + 1, '\0')).left(6));
            if (kind == 'U') Send(crc.left(9));
            if (kind == 'G') Send(QByteArray("\x01\x02garbage\x7F", 10));
            if (kind == 'W') Chip().now += LOADER_IDLE_DROP_MS + 1;
            if (kind == 'S') Chip().now += LOADER_HOST_SILENT_MS + number;
            if (kind == 'R') Chip().now += LOADER_BAUD_TRIAL_MS + number;
            if (kind == 'V') Send(EncodeFrame(seq, CMD_BAUD, Words({921600})));
            if (kind == 'E') Chip().rx.insert(Chip().rx.end(), 20, loadertest::kLineError);
            if (kind == 'X') Chip().rx.push_back(LINE_ESCAPE);  // its escaped byte never comes
            for (const Reply& reply : Run())  // the host waits for replies between tokens
                seen << QString::asprintf("%02X/%02X/", reply.seq, reply.code) +
                            (reply.payload.isEmpty() ? "--"
                                                     : QString::asprintf("%02X", reply.status()));
            if (kind == 'W') seen << "W";  // what the silence alone brought comes before
            for (; speeds < Chip().bauds.size(); ++speeds)
                seen << QString::asprintf("BAUD:%u", Chip().bauds[speeds]);
        }
        for (std::uint32_t address : Chip().leftTo) seen << QString::asprintf("LEAVE:%X", address);
        QCOMPARE(seen.join(' '), replies);
    }

    // Host to chip the line carries no 0x7F (the ROM's sync byte); the loader undoes the escapes
    // before its buffer, so a window of frames that fits the buffer fits it however many escapes
    // the line needed. A window that does not fit is NAKed.
    void lineEscapesAndOverflow() {
        const QByteArray data = QByteArray::fromHex("7fcfef5f").repeated(128);
        Command(CMD_HELLO, {});
        QByteArray frames;
        std::uint32_t address = kFlashBase;
        QList<int> seqs;
        while (frames.size() + data.size() + 4 + int(FRAME_OVERHEAD) <= int(kRxSize)) {
            seqs << nextSeq;
            frames += EncodeFrame(nextSeq++, CMD_WRITE, Words({address}) + data);
            address += std::uint32_t(data.size());
        }
        QVERIFY(!EscapeForLine(frames).contains('\x7F'));
        Send(frames);
        QList<Reply> replies = Run();
        QCOMPARE(replies.size(), seqs.size());
        for (int i = 0; i < replies.size(); ++i) {
            QCOMPARE(replies[i].seq, seqs[i]);
            QCOMPARE(replies[i].status(), 0);
        }
        QCOMPARE(FlashBytes(kFlashBase, int(address - kFlashBase)),
                 data.repeated(int(seqs.size())));
        Send(frames + frames);
        replies = Run();
        Chip().now += LOADER_IDLE_DROP_MS + 1;  // the frame cut by the overflow is never completed
        replies += Run();
        QVERIFY(std::any_of(replies.begin(), replies.end(), [](const Reply& reply) {
            return reply.code == REPLY_NAK && reply.status() == NAK_OVERFLOW;
        }));
    }

    // One command on TableFlash(): its status, the rest of its reply (an error's address and
    // status register), and the flash afterwards (TableFlash with `written` at `at`).
    void commands_data() {
        QTest::addColumn<int>("cmd");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("written");
        const auto row = [](const char* name, int cmd, const QByteArray& payload, int status,
                            const QByteArray& reply, int at = 0, const QByteArray& written = {}) {
            QTest::newRow(name) << cmd << payload << status << reply << at << written;
        };
        const auto refused = [&](const char* name, int cmd, const QByteArray& payload, int status,
                                 std::uint32_t errorAddress, std::uint32_t sr = 0) {
            row(name, cmd, payload, status, Words({errorAddress, sr}));
        };
        const auto span = [](std::uint32_t address, int count) {
            return Words({address}) + Le16(count);
        };
        const auto write = [](std::uint32_t offset, const char* hex) {
            return Words({kFlashBase + offset}) + QByteArray::fromHex(hex);
        };
        const QByteArray flash = TableFlash();
        const std::uint32_t base = kFlashBase, top = kFlashBase + 0x8000;
        row("erase: blank pages skipped", CMD_ERASE, span(base, 4), 0, Le16(3), 0,
            QByteArray(4096, '\xFF'));
        refused("erase: not page-aligned", CMD_ERASE, span(base + 0x200, 1), ST_BAD_ADDRESS,
                base + 0x200);
        refused("erase: count zero", CMD_ERASE, span(base, 0), ST_BAD_ADDRESS, base);
        refused("erase: past the end", CMD_ERASE, span(base + 0xFC00, 2), ST_BAD_ADDRESS,
                base + 0xFC00);
        refused("erase: below flash", CMD_ERASE, span(0x07FFFC00, 1), ST_BAD_ADDRESS, 0x07FFFC00);
        refused("erase: protected", CMD_ERASE, span(base + 0x1000, 2), ST_PROTECTED, base + 0x1400,
                0x10);
        row("write: erased flash", CMD_WRITE, write(0x200, "01020304"), 0, {}, 0x200,
            QByteArray::fromHex("01020304"));
        // Half-words that hold their value already are left out (programming them would fail).
        row("write: same data again", CMD_WRITE, write(0x100, "112233440102"), 0, {}, 0x104,
            QByteArray::fromHex("0102"));
        row("write: zeros over data", CMD_WRITE, write(0x100, "00000000"), 0, {}, 0x100,
            QByteArray(4, '\0'));
        refused("write: over other data", CMD_WRITE, write(0xFE, "ffff1123"), ST_NOT_ERASED,
                base + 0x100);
        refused("write: odd address", CMD_WRITE, write(0x201, "0101"), ST_BAD_ADDRESS,
                base + 0x201);
        refused("write: odd length", CMD_WRITE, write(0x200, "010101"), ST_BAD_LENGTH,
                base + 0x200);
        refused("write: past the end", CMD_WRITE, write(0xFFFE, "01010101"), ST_BAD_ADDRESS,
                base + 0xFFFE);
        refused("write: protected", CMD_WRITE, write(0x1410, "0101"), ST_PROTECTED, base + 0x1410,
                0x10);
        row("read: flash", CMD_READ, span(top + 0x123, 100), 0, flash.mid(0x8123, 100));
        row("read: last flash byte", CMD_READ, span(base + 0xFFFF, 1), 0, flash.right(1));
        row("read: system memory", CMD_READ, span(0x1FFFF7E0, 16), 0, QByteArray(16, '\x5A'));
        const int largest = int(LOADER_MAX_PAYLOAD - 1);
        row("read: largest", CMD_READ, span(base, largest), 0, flash.left(largest));
        refused("read: too long", CMD_READ, span(base, largest + 1), ST_BAD_ADDRESS, base);
        refused("read: past flash", CMD_READ, span(base + 0xFFFF, 2), ST_BAD_ADDRESS,
                base + 0xFFFF);
        refused("read: past RAM end", CMD_READ, span(0x20004FF0, 32), ST_BAD_ADDRESS, 0x20004FF0);
        refused("read: peripherals", CMD_READ, span(0x40013800, 4), ST_BAD_ADDRESS, 0x40013800);
        refused("read: zero bytes", CMD_READ, span(base, 0), ST_BAD_ADDRESS, base);
        row("CRC", CMD_CRC, Words({top, 4096}), 0, Words({Crc32Words(flash.mid(0x8000, 4096))}));
        refused("CRC: misaligned", CMD_CRC, Words({base + 2, 8}), ST_BAD_ADDRESS, base + 2);
        refused("CRC: past the end", CMD_CRC, Words({base + 0xFFF0, 0x20}), ST_BAD_ADDRESS,
                base + 0xFFF0);
        QByteArray compare = Words({top, 1024});
        for (int block = 0; block < 5; ++block)
            compare += Words({Crc32Words(flash.mid(0x8000 + block * 1024, 1024)) ^ (block == 2)});
        row("COMPARE: block 2 differs", CMD_COMPARE, compare, 0, Le16(5) + '\x04');
        refused("COMPARE: past the end", CMD_COMPARE, Words({base + 0xF800, 0x400, 0, 0, 0}),
                ST_BAD_ADDRESS, base + 0xF800);
        row("GO: user program", CMD_GO, Words({base}), 0, {});
        refused("GO: misaligned", CMD_GO, Words({base + 2}), ST_BAD_ADDRESS, base + 2);
        refused("GO: nowhere", CMD_GO, Words({0x60000000}), ST_BAD_ADDRESS, 0x60000000);
        refused("BAUD: beyond the chip", CMD_BAUD, Words({5000000}), ST_BAD_BAUD, 5000000);
    }

    void commands() {
        QFETCH(int, cmd);
        QFETCH(QByteArray, payload);
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(int, at);
        QFETCH(QByteArray, written);
        const QByteArray before = TableFlash();
        SetFlash(kFlashBase, before);
        Chip().protectedPages.insert(kFlashBase + 0x1400);
        const Reply answer = Command(std::uint8_t(cmd), payload);
        QCOMPARE(answer.status(), status);
        QCOMPARE(answer.payload.mid(1), reply);
        QCOMPARE(FlashBytes(kFlashBase, before.size()),
                 QByteArray(before).replace(at, written.size(), written));
        const bool leaves = cmd == CMD_GO && status == 0;
        QCOMPARE(Chip().leftTo, leaves ? std::vector<std::uint32_t>{U32(payload, 0)}
                                       : std::vector<std::uint32_t>{});
    }

    // XL density: each bank through its own registers, unlocked; mass erase clears both.
    void twoBanks() {
        StartChip(1024 * 1024, 2048, kFlashBase + 0x80000);
        SetFlash(kFlashBase + 0x7F800, QByteArray(8, '\x01'));
        SetFlash(kFlashBase + 0x80000, QByteArray(8, '\x02'));
        // The last page of bank 1 and the first of bank 2.
        const Reply erased = Command(CMD_ERASE, Words({kFlashBase + 0x7F800}) + Le16(2));
        QCOMPARE(erased.payload, QByteArray(1, '\0') + Le16(2));
        const QByteArray data("\x11\x22\x33\x44\x55\x66\x77\x88", 8);
        QCOMPARE(Command(CMD_WRITE, Words({kFlashBase + 0x7FFFC}) + data).status(), 0);
        QCOMPARE(FlashBytes(kFlashBase + 0x7FFFC, 8), data);
        SetFlash(kFlashBase + 0x90000, QByteArray(8, '\x02'));
        QCOMPARE(Command(CMD_MASS_ERASE, {}).status(), 0);
        QCOMPARE(FlashBytes(kFlashBase + 0x7FFFC, 8), QByteArray(8, '\xFF'));
        QCOMPARE(FlashBytes(kFlashBase + 0x90000, 8), QByteArray(8, '\xFF'));
    }

    // A deflate stream at `address`, decoding to `data` (`lengthChange` added to the length the
    // frame asks for). A stream that fails has written at most up to the address its reply names.
    void writeDeflate_data() {
        QTest::addColumn<QByteArray>("below");  // in flash before; the stream may refer to it
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("lengthChange");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("status");
        const auto row = [](const char* name, const QByteArray& below, const QByteArray& data,
                            const QByteArray& stream, int status = 0, int lengthChange = 0,
                            quint32 address = kFlashBase + 0x4000) {
            QTest::newRow(name) << below << data << stream << lengthChange << address << status;
        };
        // The host's own streams (level 9): zlib picks the block types.
        const QByteArray firmware = Code(16 * 1024);
        const QByteArray random = Random(1000, 1), text("turbo turbo turbo loader!x");
        const QByteArray zeros(16 * 1024, '\0'), code = firmware.left(6 * 1024);
        row("random, stored blocks", {}, random, DeflateRaw(random, {}));
        row("short text, fixed codes", {}, text, DeflateRaw(text, {}));
        row("zeros, long matches", {}, zeros, DeflateRaw(zeros, {}));
        row("firmware, dynamic codes", {}, code, DeflateRaw(code, {}));
        const QByteArray below = firmware.left(12 * 1024), above = firmware.mid(12 * 1024);
        row("the flash below as dictionary", below, above, DeflateRaw(above, below));
        const QByteArray data = firmware.left(2048), good = DeflateRaw(data, {});
        QByteArray badType = good;
        badType[0] = char(badType[0] | 0x06);  // block type 3 does not exist
        row("truncated", {}, data, good.left(good.size() / 2), ST_DECODE);
        row("bad block type", {}, data, badType, ST_DECODE);
        row("trailing bytes", {}, data, good + "xyz", ST_DECODE);
        row("longer than asked", {}, data, good, ST_DECODE_LENGTH, -2);
        row("shorter than asked", {}, data, good, ST_DECODE_LENGTH, 2);
        row("odd length", {}, data, good, ST_BAD_ADDRESS, 1);
        row("past flash end", {}, data, good, ST_BAD_ADDRESS, 0, kFlashBase + 0xFC00);
        const QByteArray as(64, 'a');
        row("reference below flash", {}, as, DeflateRaw(as, as), ST_DECODE, 0, kFlashBase);
    }

    void writeDeflate() {
        QFETCH(QByteArray, below);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, stream);
        QFETCH(int, lengthChange);
        QFETCH(quint32, address);
        QFETCH(int, status);
        QVERIFY(!stream.isEmpty() && stream.size() + 8 <= int(LOADER_MAX_PAYLOAD));
        SetFlash(address - below.size(), below);
        const std::uint32_t length = std::uint32_t(data.size() + lengthChange);
        const Reply reply = Command(CMD_WRITE_DEFLATE, Words({address, length}) + stream);
        QCOMPARE(reply.status(), status);
        QCOMPARE(reply.payload.size(), status ? 9 : 1);
        const int done = status ? int(U32(reply.payload, 1) - address) & ~1 : int(data.size());
        QVERIFY(done >= 0 && done <= data.size());
        QCOMPARE(FlashBytes(address - below.size(), below.size() + done), below + data.left(done));
        QCOMPARE(FlashBytes(address + done, 64), QByteArray(64, '\xFF'));
    }

    // Each row: a begin frame (none when empty), optionally HELLO, then a continuation frame
    // (none when empty); the status of the last frame sent.
    void writeLzmaErrors_data() {
        QTest::addColumn<QByteArray>("begin");
        QTest::addColumn<bool>("helloBetween");
        QTest::addColumn<QByteArray>("more");
        QTest::addColumn<int>("status");
        if (!LOADER_HAS_LZMA) return;
        const std::uint32_t at = kFlashBase + 0x1000;
        const QByteArray data = Code(2048);
        const praxon::flash::LzmaPlan plan =
            praxon::flash::PlanLzma(at, data, {}, kLzmaTable, 700, 7, 2, 8192);
        QVERIFY(plan.pieces.size() >= 2);
        const std::uint32_t size = plan.pieces[0].outputBytes;
        const auto begin = [&](std::uint32_t address, std::uint32_t size, int props,
                               const QByteArray& stream) {
            return Words({address}) + Le16(size) + char(props) + stream;
        };
        const QByteArray first = plan.pieces[0].stream, good = begin(at, size, plan.props, first);
        const QByteArray more = Le16(plan.pieces[1].outputBytes) + plan.pieces[1].stream;
        const auto row = [](const char* name, const QByteArray& begin, const QByteArray& more,
                            int status, bool helloBetween = false) {
            QTest::newRow(name) << begin << helloBetween << more << status;
        };
        row("continuation without a begin", {}, more, ST_DECODE);
        row("after HELLO the stream does not go on", good, more, ST_DECODE, true);
        row("after a failed frame the stream does not go on",
            begin(at, size, plan.props, first.chopped(1)), more, ST_DECODE);
        row("stream bytes missing", begin(at, size, plan.props, first.left(first.size() / 2)), {},
            ST_DECODE_LENGTH);
        row("table larger than the chip's", begin(at, size, 45 + 2 * 9, first), {}, ST_DECODE);
        const QByteArray as(64, 'a');
        const praxon::flash::LzmaPlan below =
            praxon::flash::PlanLzma(kFlashBase, as, as, kLzmaTable, 700, 7, 2, 8192);
        row("reference below flash", begin(kFlashBase, 64, below.props, below.pieces.at(0).stream),
            {}, ST_DECODE);
        row("past flash end", begin(kFlashBase + 0xFFFE, size, plan.props, first), {},
            ST_BAD_ADDRESS);
    }

    void writeLzmaErrors() {
        if (!LOADER_HAS_LZMA) QSKIP("this build has no LZMA decoder");
        QFETCH(QByteArray, begin);
        QFETCH(bool, helloBetween);
        QFETCH(QByteArray, more);
        QFETCH(int, status);
        Reply reply;
        if (!begin.isEmpty()) reply = Command(CMD_WRITE_LZMA, begin);
        if (helloBetween) QCOMPARE(Command(CMD_HELLO, {}).status(), 0);
        if (!more.isEmpty()) reply = Command(CMD_WRITE_LZMA_MORE, more);
        QCOMPARE(reply.status(), status);
        QCOMPARE(reply.payload.size(), 9);
    }
};

QTEST_GUILESS_MAIN(TestLoaderProtocol)
#include "tst_loaderprotocol.moc"
