// The turbo loader's engine (loader/src) built for the host and driven through its line protocol
// on a fake chip: framing, sequence numbers and resends, every command, and the deflate decoder
// against streams made by zlib. Built twice: the second build (LOADER_LZMA) also has the LZMA
// decoder, run against liblzma's streams as the host cuts them into frames. Then the embedded
// binaries: each a Go-able image for its load address with the parameter block in place, and the
// one chosen clears the ROM bootloader's RAM.
#include <zlib.h>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include "LoaderFakeChip.h"
#include "LoaderImage.h"
#include "LzmaFrames.h"
#include "TurboFrames.h"
#include "loader.h"

using loadertest::Chip;
using loadertest::kFlashBase;
using praxon::flash::kLoaderBinaries;
using praxon::flash::kLoaderBinaryCount;
using praxon::flash::LoaderBinary;
using praxon::flash::LoaderFamily;

namespace {

constexpr std::uint32_t kRxSize = 6144;
// The LZMA build takes its table from the top: the receive buffer keeps kRxSize.
constexpr std::uint32_t kLzmaTable = LOADER_HAS_LZMA ? LOADER_LZMA_TABLE(1, 1) : 0;
alignas(4) std::uint8_t rxBuffer[kRxSize + 2 * kLzmaTable];
std::uint8_t nextSeq;  // the sequence number Command() sends next

using praxon::flash::turbo::Crc32Words;
using praxon::flash::turbo::EncodeFrame;
using praxon::flash::turbo::EscapeForLine;

void AppendU16(QByteArray& bytes, std::uint32_t value) {
    bytes.append(char(value));
    bytes.append(char(value >> 8));
}

void AppendU32(QByteArray& bytes, std::uint32_t value) {
    AppendU16(bytes, value);
    AppendU16(bytes, value >> 16);
}

std::uint32_t U32(const QByteArray& bytes, int offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | std::uint8_t(bytes[offset + i]);
    return value;
}

QByteArray Words(std::initializer_list<std::uint32_t> words) {
    QByteArray bytes;
    for (std::uint32_t word : words) AppendU32(bytes, word);
    return bytes;
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
               std::uint32_t bank2 = 0, std::uint32_t flashSizeParam = 0) {
    Chip().reset(flashBytes);
    Chip().pageSize = pageSize;
    Chip().bank2Start = bank2;
    loader_params params{
        LOADER_MAGIC, 115200, loadertest::kRamBase + 0x5000, pageSize, flashSizeParam, bank2, 0, 1};
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

QByteArray Flash(std::uint32_t address, int length) {
    return QByteArray(reinterpret_cast<const char*>(Chip().flash.data()) + (address - kFlashBase),
                      length);
}

void SetFlash(std::uint32_t address, const QByteArray& bytes) {
    std::copy(bytes.begin(), bytes.end(), Chip().flash.begin() + (address - kFlashBase));
}

QByteArray Random(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes) byte = char(random.bounded(256));
    return bytes;
}

QByteArray Bytes(const LoaderBinary& binary) {
    return QByteArray(reinterpret_cast<const char*>(binary.bytes), int(binary.size));
}

// RAM end of the smallest part each binary serves: F10x with 10 KB (F103x6), F105/107 and XL
// with 64 KB, F030x8/F05x with 8 KB, F07x with 16 KB, F303x6/F334 with 12 KB.
std::uint32_t SmallestRamEnd(const LoaderBinary& binary) {
    switch (binary.family) {
        case LoaderFamily::F1:
            return binary.loadAddress == 0x20000200 ? 0x20002800 : 0x20010000;
        case LoaderFamily::F0:
            return binary.loadAddress == 0x20000800 ? 0x20002000 : 0x20004000;
        case LoaderFamily::F3:
            return 0x20003000;
    }
    return 0;
}

// Compiled code: the loader's own binaries and, where installed, newlib's Thumb C library.
QByteArray FirmwareSample(int size) {
    QByteArray sample;
    QFile libc("/usr/lib/arm-none-eabi/newlib/thumb/v7-m/nofp/libc_nano.a");
    if (libc.open(QIODevice::ReadOnly)) sample = libc.read(size);
    for (std::size_t i = 0; sample.size() < size && i < praxon::flash::kLoaderBinaryCount; ++i) {
        const auto& binary = praxon::flash::kLoaderBinaries[i];
        sample.append(Bytes(binary));
    }
    sample.resize(size & ~1);
    return sample;
}

QByteArray Deflate(const QByteArray& data, int level, int windowBits,
                   const QByteArray& dictionary = {}) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    if (!dictionary.isEmpty())
        deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.constData()),
                             dictionary.size());
    QByteArray out(int(deflateBound(&stream, data.size())) + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = data.size();
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = out.size();
    const int result = deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

}  // namespace

class TestLoaderProtocol : public QObject {
    Q_OBJECT

private slots:
    void init() { StartChip(); }
    void cleanup() {
        QVERIFY2(Chip().faults.empty(), Chip().faults.empty() ? "" : Chip().faults[0].c_str());
    }

    void crcCheckValues_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<quint32>("crc");
        // Values the CRC unit gives from reset (word 0x12345678 = bytes 78 56 34 12).
        QTest::newRow("0x12345678") << Words({0x12345678}) << 0xDF8A8A2Bu;
        QTest::newRow("two words") << Words({0x12345678, 0x9ABCDEF0}) << 0x7D24A31Bu;
        QTest::newRow("one byte is one padded word")
            << QByteArray("\x78", 1) << Crc32Words(Words({0x78}));
    }

    void crcCheckValues() {
        QFETCH(QByteArray, bytes);
        QFETCH(quint32, crc);
        QCOMPARE(Crc32Words(bytes), crc);
        QByteArray padded = bytes;
        while (padded.size() % 4) padded.append('\0');
        std::uint32_t model = 0xFFFFFFFFu;
        for (int i = 0; i < padded.size(); i += 4) model = loader_crc_word(model, U32(padded, i));
        QCOMPARE(model, crc);
    }

    void frameReader_data() {
        QTest::addColumn<QList<QByteArray>>("feeds");
        QTest::addColumn<QString>("frames");  // seq/code of each frame taken, in order
        QTest::addColumn<int>("skipped");
        const QByteArray one = EncodeFrame(1, CMD_HELLO, QByteArray(44, 'h'));
        const QByteArray two = EncodeFrame(2, CMD_CRC, QByteArray(5, 'c'));
        QByteArray badCrc = two;
        badCrc[8] = char(badCrc[8] ^ 0x10);
        QByteArray badHeader = two;
        badHeader[5] = char(badHeader[5] ^ 1);
        QTest::newRow("one") << QList<QByteArray>{one} << "1/1" << 0;
        QTest::newRow("two in one piece") << QList<QByteArray>{one + two} << "1/1 2/6" << 0;
        QTest::newRow("byte by byte") << [&] {
            QList<QByteArray> bytes;
            for (char byte : one + two) bytes << QByteArray(1, byte);
            return bytes;
        }() << "1/1 2/6" << 0;
        QTest::newRow("noise before")
            << QList<QByteArray>{QByteArray("\x00\x7F\xA5\x11", 4) + one} << "1/1" << 4;
        QTest::newRow("bad CRC skipped")
            << QList<QByteArray>{badCrc + one} << "1/1" << int(badCrc.size());
        QTest::newRow("bad header skipped")
            << QList<QByteArray>{badHeader, two} << "2/6" << int(badHeader.size());
        QTest::newRow("unfinished waits") << QList<QByteArray>{one.left(20)} << "" << 0;
    }

    void frameReader() {
        QFETCH(QList<QByteArray>, feeds);
        QFETCH(QString, frames);
        QFETCH(int, skipped);
        praxon::flash::turbo::FrameReader reader;
        QStringList taken;
        for (const QByteArray& piece : feeds) {
            reader.feed(piece);
            while (auto frame = reader.next())
                taken << QString("%1/%2").arg(frame->seq).arg(frame->code);
        }
        QCOMPARE(taken.join(' '), frames);
        QCOMPARE(reader.skippedBytes(), skipped);
    }

    // Script tokens: H<seq> HELLO; C<seq> CRC command; B<seq> same with a broken CRC; L<seq> same
    // with a line error inside; U<seq> its first 9 bytes only; T<seq> header longer than allowed;
    // G garbage without a sync byte; W silence past the idle limit (shown as W after its replies).
    // Replies: seq/code/byte (status, or the NAK reason), in hex.
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
    }

    void framing() {
        QFETCH(QString, script);
        QFETCH(QString, replies);
        QByteArray crcPayload = Words({kFlashBase, 16});
        QStringList seen;
        for (const QString& token : script.split(' ')) {
            const std::uint8_t seq = token.mid(1).toUInt(nullptr, 16);
            switch (token[0].toLatin1()) {
                case 'H':
                    Send(EncodeFrame(seq, CMD_HELLO, {}));
                    break;
                case 'C':
                    Send(EncodeFrame(seq, CMD_CRC, crcPayload));
                    break;
                case 'B': {
                    QByteArray frame = EncodeFrame(seq, CMD_CRC, crcPayload);
                    frame[frame.size() - 1] = char(frame[frame.size() - 1] ^ 0x40);
                    Send(frame);
                    break;
                }
                case 'L': {
                    const QByteArray frame = EncodeFrame(seq, CMD_CRC, crcPayload);
                    Send(frame.left(8));
                    Chip().rx.push_back(loadertest::kLineError);
                    Send(frame.mid(9));
                    break;
                }
                case 'T':
                    Send(EncodeFrame(seq, CMD_WRITE, QByteArray(LOADER_MAX_PAYLOAD + 1, '\0'))
                             .left(6));
                    break;
                case 'U':
                    Send(EncodeFrame(seq, CMD_CRC, crcPayload).left(9));
                    break;
                case 'G':
                    Send(QByteArray("\x01\x02garbage\x7F", 10));
                    break;
                case 'W':
                    Chip().now += LOADER_IDLE_DROP_MS + 1;
                    break;
                case 'X':
                    Chip().rx.push_back(LINE_ESCAPE);  // its escaped byte never comes
                    break;
            }
            for (const Reply& reply : Run())  // the host waits for replies between tokens
                seen << QString("%1/%2/%3")
                            .arg(reply.seq, 2, 16, QChar('0'))
                            .arg(reply.code, 2, 16, QChar('0'))
                            .arg(reply.payload.isEmpty()
                                     ? QString("--")
                                     : QString("%1").arg(reply.status(), 2, 16, QChar('0')))
                            .toUpper();
            if (token == "W") seen << "W";  // what the silence alone brought comes before
        }
        QCOMPARE(seen.join(' '), replies);
    }

    // Host to chip the line carries no 0x7F; the loader undoes the escapes before its buffer, so
    // a window of frames that fits the buffer fits it however many escapes the line needed.
    void lineEscapes_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("all 0x7F: twice the bytes on the line") << QByteArray(512, '\x7F');
        QTest::newRow("escape, 0x7F and their escaped forms")
            << QByteArray::fromHex("7fcfef5f").repeated(128);
    }

    void lineEscapes() {
        QFETCH(QByteArray, data);
        Command(CMD_HELLO, {});
        QByteArray frames;
        std::uint32_t address = kFlashBase;
        QList<int> seqs;
        const int frameBytes = int(data.size()) + 4 + int(FRAME_OVERHEAD);
        while (frames.size() + frameBytes <= int(kRxSize)) {
            seqs << nextSeq;
            frames += EncodeFrame(nextSeq++, CMD_WRITE, Words({address}) + data);
            address += std::uint32_t(data.size());
        }
        const QByteArray line = EscapeForLine(frames);
        QVERIFY(!line.contains('\x7F'));
        // One byte more for each 0x7F or escape byte, none for any other.
        QCOMPARE(line.size(), frames.size() + frames.count('\x7F') + frames.count('\xCF'));
        Send(frames);  // the whole window at once: it fits the buffer, escapes or not
        const QList<Reply> replies = Run();
        QCOMPARE(replies.size(), seqs.size());
        for (int i = 0; i < replies.size(); ++i) {
            QCOMPARE(replies[i].seq, seqs[i]);
            QCOMPARE(replies[i].code, int(CMD_WRITE));
            QCOMPARE(replies[i].status(), 0);
        }
        QCOMPARE(Flash(kFlashBase, int(address - kFlashBase)), data.repeated(int(seqs.size())));
    }

    void receiveBufferOverflowIsNaked() {
        Command(CMD_HELLO, {});
        QByteArray window;
        for (int seq = 1; window.size() <= int(kRxSize) + 200; ++seq)
            window += EncodeFrame(std::uint8_t(seq), CMD_CRC, Words({kFlashBase, 16}));
        Send(window);
        QList<Reply> replies = Run();
        Chip().now += LOADER_IDLE_DROP_MS + 1;  // the frame cut by the overflow is never completed
        replies += Run();
        bool naked = false;
        for (const Reply& reply : replies) {
            if (reply.code == REPLY_NAK && reply.status() == NAK_OVERFLOW) naked = true;
        }
        QVERIFY(naked);
    }

    void hello() {
        StartChip(128 * 1024, 1024, 0, 0);
        const Reply reply = Command(CMD_HELLO, {});
        QCOMPARE(reply.status(), 0);
        QCOMPARE(reply.payload.size(), 48);
        QCOMPARE(int(reply.payload[1]), int(LOADER_PROTOCOL_VERSION));
        QCOMPARE(int(reply.payload[3]) & 6, 2 | (LOADER_HAS_LZMA ? 4 : 0));
        QCOMPARE(U32(reply.payload, 44), kLzmaTable);
        QCOMPARE(U32(reply.payload, 4), kRxSize);
        QCOMPARE(U32(reply.payload, 8), LOADER_MAX_PAYLOAD);
        QCOMPARE(U32(reply.payload, 12), 0x20000200u);
        QCOMPARE(U32(reply.payload, 24), 128u * 1024u);  // flash size 0: read from the register
        QCOMPARE(U32(reply.payload, 28), 128u);
        QCOMPARE(U32(reply.payload, 40), 115200u);
    }

    void erase_data() {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("erased");
        QTest::addColumn<quint32>("errorAddress");
        // Pages 1 and 3 hold data, page 5 is write-protected and holds data.
        QTest::newRow("blank pages skipped") << kFlashBase << 4 << 0 << 2 << 0u;
        QTest::newRow("one page") << kFlashBase + 0xC00 << 1 << 0 << 1 << 0u;
        QTest::newRow("not page-aligned")
            << kFlashBase + 0x200 << 1 << int(ST_BAD_ADDRESS) << -1 << kFlashBase + 0x200;
        QTest::newRow("count zero") << kFlashBase << 0 << int(ST_BAD_ADDRESS) << -1 << kFlashBase;
        QTest::newRow("past the end")
            << kFlashBase + 0xFC00 << 2 << int(ST_BAD_ADDRESS) << -1 << kFlashBase + 0xFC00;
        QTest::newRow("below flash")
            << 0x07FFFC00u << 1 << int(ST_BAD_ADDRESS) << -1 << 0x07FFFC00u;
        QTest::newRow("protected")
            << kFlashBase + 0x1000 << 2 << int(ST_PROTECTED) << -1 << kFlashBase + 0x1400;
    }

    void erase() {
        QFETCH(quint32, address);
        QFETCH(int, count);
        QFETCH(int, status);
        QFETCH(int, erased);
        QFETCH(quint32, errorAddress);
        SetFlash(kFlashBase + 0x400, QByteArray(16, '\x11'));
        SetFlash(kFlashBase + 0xC00, QByteArray(16, '\x33'));
        SetFlash(kFlashBase + 0x1400, QByteArray(16, '\x55'));
        Chip().protectedPages.insert(kFlashBase + 0x1400);
        QByteArray payload = Words({address});
        AppendU16(payload, count);
        const Reply reply = Command(CMD_ERASE, payload);
        QCOMPARE(reply.status(), status);
        if (status == 0) {
            QCOMPARE(reply.payload.size(), 3);
            QCOMPARE(std::uint8_t(reply.payload[1]) | std::uint8_t(reply.payload[2]) << 8, erased);
            QCOMPARE(Chip().erases, erased);
            QCOMPARE(Flash(address, count * 1024), QByteArray(count * 1024, '\xFF'));
        } else {
            QCOMPARE(reply.payload.size(), 9);
            QCOMPARE(U32(reply.payload, 1), errorAddress);
        }
        QCOMPARE(Flash(kFlashBase + 0x1400, 16), QByteArray(16, '\x55'));  // protected page intact
    }

    // XL density: each bank through its own registers, unlocked; mass erase clears both.
    void twoBanks() {
        StartChip(1024 * 1024, 2048, kFlashBase + 0x80000);
        SetFlash(kFlashBase + 0x7F800, QByteArray(8, '\x01'));
        SetFlash(kFlashBase + 0x80000, QByteArray(8, '\x02'));
        QByteArray erase = Words({kFlashBase + 0x7F800});
        AppendU16(erase, 2);  // the last page of bank 1 and the first of bank 2
        const Reply erased = Command(CMD_ERASE, erase);
        QCOMPARE(erased.status(), 0);
        QCOMPARE(std::uint8_t(erased.payload[1]), std::uint8_t(2));
        const QByteArray data("\x11\x22\x33\x44\x55\x66\x77\x88", 8);
        QCOMPARE(Command(CMD_WRITE, Words({kFlashBase + 0x7FFFC}) + data).status(), 0);
        QCOMPARE(Flash(kFlashBase + 0x7FFFC, 8), data);
        QVERIFY(!Chip().locked[0] && !Chip().locked[1]);
        SetFlash(kFlashBase + 0x90000, QByteArray(8, '\x02'));
        QCOMPARE(Command(CMD_MASS_ERASE, {}).status(), 0);
        QCOMPARE(Chip().massErases, 2);
        QCOMPARE(Flash(kFlashBase + 0x7FFFC, 8), QByteArray(8, '\xFF'));
        QCOMPARE(Flash(kFlashBase + 0x90000, 8), QByteArray(8, '\xFF'));
    }

    void write_data() {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("status");
        QTest::addColumn<quint32>("errorAddress");
        QTest::addColumn<int>("programs");
        // Flash at 0x08000100 holds 11 22 33 44 (programmed); page 0x08001000 is write-protected.
        QTest::newRow("erased flash")
            << kFlashBase + 0x200 << QByteArray("\x01\x02\x03\x04", 4) << 0 << 0u << 2;
        QTest::newRow("same data again: nothing programmed")
            << kFlashBase + 0x100 << QByteArray("\x11\x22\x33\x44", 4) << 0 << 0u << 0;
        QTest::newRow("erased half-words skipped")
            << kFlashBase + 0x200 << QByteArray("\xFF\xFF\x01\x02", 4) << 0 << 0u << 1;
        QTest::newRow("zeros over data")
            << kFlashBase + 0x100 << QByteArray(4, '\0') << 0 << 0u << 2;
        QTest::newRow("over other data") << kFlashBase + 0xFE << QByteArray("\xFF\xFF\x11\x23", 4)
                                         << int(ST_NOT_ERASED) << kFlashBase + 0x100 << 0;
        QTest::newRow("odd address") << kFlashBase + 0x201 << QByteArray(2, '\x01')
                                     << int(ST_BAD_ADDRESS) << kFlashBase + 0x201 << 0;
        QTest::newRow("odd length") << kFlashBase + 0x200 << QByteArray(3, '\x01')
                                    << int(ST_BAD_LENGTH) << kFlashBase + 0x200 << 0;
        QTest::newRow("past the end") << kFlashBase + 0xFFFE << QByteArray(4, '\x01')
                                      << int(ST_BAD_ADDRESS) << kFlashBase + 0xFFFE << 0;
        QTest::newRow("protected") << kFlashBase + 0x1000 << QByteArray(2, '\x01')
                                   << int(ST_PROTECTED) << kFlashBase + 0x1000 << 0;
    }

    void write() {
        QFETCH(quint32, address);
        QFETCH(QByteArray, data);
        QFETCH(int, status);
        QFETCH(quint32, errorAddress);
        QFETCH(int, programs);
        SetFlash(kFlashBase + 0x100, QByteArray("\x11\x22\x33\x44", 4));
        Chip().protectedPages.insert(kFlashBase + 0x1000);
        const Reply reply = Command(CMD_WRITE, Words({address}) + data);
        QCOMPARE(reply.status(), status);
        QCOMPARE(Chip().programs, programs);
        if (status == 0) {
            QByteArray expected = data;
            for (int i = 0; i < expected.size(); ++i)
                if (std::uint8_t(data[i]) == 0xFF) expected[i] = Flash(address + i, 1)[0];
            QCOMPARE(Flash(address, data.size()), expected);
        } else {
            QCOMPARE(U32(reply.payload, 1), errorAddress);
        }
    }

    void crcAndCompare() {
        const QByteArray data = Random(4096, 7);
        SetFlash(kFlashBase + 0x800, data);
        Reply reply = Command(CMD_CRC, Words({kFlashBase + 0x800, 4096}));
        QCOMPARE(reply.status(), 0);
        QCOMPARE(U32(reply.payload, 1), Crc32Words(data));
        // Blocks 0-3 as in flash but block 2 expected different; block 4 past the data, erased.
        QByteArray payload = Words({kFlashBase + 0x800, 1024});
        for (int block = 0; block < 5; ++block) {
            QByteArray expected =
                block < 4 ? data.mid(block * 1024, 1024) : QByteArray(1024, '\xFF');
            if (block == 2) expected[100] = char(expected[100] ^ 1);
            AppendU32(payload, Crc32Words(expected));
        }
        reply = Command(CMD_COMPARE, payload);
        QCOMPARE(reply.status(), 0);
        QCOMPARE(reply.payload.size(), 4);
        QCOMPARE(std::uint8_t(reply.payload[1]) | std::uint8_t(reply.payload[2]) << 8, 5);
        QCOMPARE(std::uint8_t(reply.payload[3]), std::uint8_t(0x04));
        QCOMPARE(Command(CMD_CRC, Words({kFlashBase + 2, 8})).status(), int(ST_BAD_ADDRESS));
        QCOMPARE(Command(CMD_CRC, Words({kFlashBase + 0xFFF0, 0x20})).status(),
                 int(ST_BAD_ADDRESS));
        QCOMPARE(Command(CMD_COMPARE, Words({kFlashBase + 0xF800, 0x400, 0, 0, 0})).status(),
                 int(ST_BAD_ADDRESS));
    }

    void read_data() {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("status");
        QTest::newRow("flash") << kFlashBase + 0x123 << 100 << 0;
        QTest::newRow("last flash byte") << kFlashBase + 0xFFFF << 1 << 0;
        QTest::newRow("system memory") << 0x1FFFF7E0u << 16 << 0;
        QTest::newRow("RAM") << 0x20000000u << 64 << 0;
        QTest::newRow("largest") << kFlashBase << int(LOADER_MAX_PAYLOAD - 1) << 0;
        QTest::newRow("too long") << kFlashBase << int(LOADER_MAX_PAYLOAD) << int(ST_BAD_ADDRESS);
        QTest::newRow("past flash") << kFlashBase + 0xFFFF << 2 << int(ST_BAD_ADDRESS);
        QTest::newRow("past RAM end") << 0x20004FF0u << 32 << int(ST_BAD_ADDRESS);
        QTest::newRow("peripherals") << 0x40013800u << 4 << int(ST_BAD_ADDRESS);
        QTest::newRow("zero") << kFlashBase << 0 << int(ST_BAD_ADDRESS);
    }

    void read() {
        QFETCH(quint32, address);
        QFETCH(int, length);
        QFETCH(int, status);
        SetFlash(kFlashBase, Random(0x10000, 3));
        QByteArray payload = Words({address});
        AppendU16(payload, length);
        const Reply reply = Command(CMD_READ, payload);
        QCOMPARE(reply.status(), status);
        if (status == 0 && address >= kFlashBase && address < kFlashBase + 0x10000)
            QCOMPARE(reply.payload.mid(1), Flash(address, length));
        if (status == 0) QCOMPARE(reply.payload.size(), 1 + length);
    }

    void writeDeflate_data() {
        QTest::addColumn<QByteArray>("below");  // in flash before; the stream may refer to it
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("windowBits");
        const QByteArray firmware = FirmwareSample(16 * 1024);
        QTest::newRow("random, stored blocks") << QByteArray() << Random(1000, 1) << 0 << 15;
        QTest::newRow("short text, fixed codes")
            << QByteArray() << QByteArray("turbo turbo turbo loader!") + 'x' << 6 << 15;
        QTest::newRow("zeros, long matches")
            << QByteArray() << QByteArray(16 * 1024, '\0') << 9 << 15;
        QTest::newRow("firmware, level 9") << QByteArray() << firmware.left(8 * 1024) << 9 << 15;
        QTest::newRow("firmware, window 512") << QByteArray() << firmware.left(8 * 1024) << 9 << 9;
        QTest::newRow("the flash below as dictionary")
            << firmware.left(12 * 1024) << firmware.mid(12 * 1024) << 9 << 15;
    }

    void writeDeflate() {
        QFETCH(QByteArray, below);
        QFETCH(QByteArray, data);
        QFETCH(int, level);
        QFETCH(int, windowBits);
        const std::uint32_t address = kFlashBase + 0x4000;
        SetFlash(address - below.size(), below);
        const QByteArray stream = Deflate(data, level, windowBits, below);
        QVERIFY(!stream.isEmpty());
        QVERIFY(stream.size() + 8 <= int(LOADER_MAX_PAYLOAD));
        if (!below.isEmpty()) QVERIFY(stream.size() < Deflate(data, level, windowBits).size());
        const Reply reply =
            Command(CMD_WRITE_DEFLATE, Words({address, std::uint32_t(data.size())}) + stream);
        QCOMPARE(reply.status(), 0);
        QCOMPARE(Flash(address - below.size(), below.size() + data.size()), below + data);
        QCOMPARE(Flash(address + data.size(), 64), QByteArray(64, '\xFF'));
    }

    void writeDeflateErrors_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("length");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("status");
        const QByteArray data = FirmwareSample(2048);
        const QByteArray good = Deflate(data, 9, 15);
        QByteArray corrupt = good;
        corrupt[0] = char(corrupt[0] | 0x06);  // block type 3 does not exist
        const auto row = [&](const char* name, const QByteArray& stream, int status,
                             int lengthChange = 0, quint32 address = kFlashBase + 0x1000) {
            QTest::newRow(name) << stream << int(data.size()) + lengthChange << address << status;
        };
        row("truncated", good.left(good.size() / 2), ST_DECODE);
        row("bad block type", corrupt, ST_DECODE);
        row("trailing bytes", good + "xyz", ST_DECODE);
        row("longer than asked", good, ST_DECODE_LENGTH, -2);
        row("shorter than asked", good, ST_DECODE_LENGTH, 2);
        row("odd length", good, ST_BAD_ADDRESS, 1);
        row("past flash end", good, ST_BAD_ADDRESS, 0, kFlashBase + 0xFC00);
        QTest::newRow("reference below flash")
            << Deflate(QByteArray(64, 'a'), 9, 15, QByteArray(64, 'a')) << 64 << kFlashBase
            << int(ST_DECODE);
    }

    void writeDeflateErrors() {
        QFETCH(QByteArray, stream);
        QFETCH(int, length);
        QFETCH(quint32, address);
        QFETCH(int, status);
        const Reply reply =
            Command(CMD_WRITE_DEFLATE, Words({address, std::uint32_t(length)}) + stream);
        QCOMPARE(reply.status(), status);
        QCOMPARE(reply.payload.size(), 9);
    }

    // One LZMA stream in frames, as the host cuts it; a frame sent again after it was executed
    // is answered DUP and the stream goes on.
    void writeLzma_data() {
        QTest::addColumn<QByteArray>("below");  // in flash before; the stream may refer to it
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("payloadLimit");
        QTest::addColumn<int>("maxOutput");
        QTest::addColumn<int>("sentAgain");  // the frame sent twice, -1: none
        const QByteArray firmware = FirmwareSample(16 * 1024);
        QTest::newRow("firmware, one frame")
            << QByteArray() << firmware.left(4096) << 4000 << 8192 << -1;
        QTest::newRow("firmware, frames of 200 bytes")
            << QByteArray() << firmware << 200 << 8192 << -1;
        QTest::newRow("zeros: matches running on into the next frames")
            << QByteArray() << QByteArray(8192, '\0') << 4000 << 1000 << -1;
        QTest::newRow("the flash below as dictionary")
            << firmware.left(8 * 1024) << firmware.mid(8 * 1024) << 600 << 8192 << -1;
        QTest::newRow("a frame sent again") << QByteArray() << firmware << 300 << 8192 << 3;
    }

    void writeLzma() {
        if (!LOADER_HAS_LZMA) QSKIP("this build has no LZMA decoder");
        QFETCH(QByteArray, below);
        QFETCH(QByteArray, data);
        QFETCH(int, payloadLimit);
        QFETCH(int, maxOutput);
        QFETCH(int, sentAgain);
        const std::uint32_t address = kFlashBase + 0x4000;
        SetFlash(address - below.size(), below);
        const praxon::flash::LzmaPlan plan = praxon::flash::PlanLzma(
            address, data, below, kLzmaTable, payloadLimit, 7, 2, maxOutput);
        QVERIFY(plan.pieces.size() > (sentAgain >= 0 ? std::size_t(sentAgain) : 0u));
        QCOMPARE(praxon::flash::DecodeLzmaPieces(address, plan, below, kLzmaTable), data);
        if (!below.isEmpty()) {
            const std::uint32_t alone =
                std::uint32_t(praxon::flash::LzmaRaw(data, {}, 1, 1).size());
            QVERIFY(std::uint32_t(praxon::flash::LzmaRaw(data, below, 1, 1).size()) < alone);
        }
        for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
            const praxon::flash::LzmaPiece& piece = plan.pieces[i];
            QVERIFY(piece.stream.size() + (i ? 2 : 7) <= payloadLimit);
            QVERIFY(int(piece.outputBytes) <= maxOutput);
            QByteArray payload = i ? QByteArray() : Words({address});
            AppendU16(payload, piece.outputBytes);
            if (!i) payload.append(char(plan.props));
            const std::uint8_t cmd = i ? CMD_WRITE_LZMA_MORE : CMD_WRITE_LZMA;
            QCOMPARE(Command(cmd, payload + piece.stream).status(), 0);
            if (int(i) == sentAgain) {
                Send(EncodeFrame(std::uint8_t(nextSeq - 1), cmd, payload + piece.stream));
                const QList<Reply> replies = Run();
                QCOMPARE(replies.size(), 1);
                QCOMPARE(replies[0].code, int(REPLY_DUP));
            }
        }
        QCOMPARE(Flash(address - below.size(), below.size() + data.size()), below + data);
        QCOMPARE(Flash(address + data.size(), 64), QByteArray(64, '\xFF'));
    }

    // Each row: a begin frame (none when empty), optionally HELLO, then a continuation frame
    // (none when empty); the status of the last frame sent.
    void writeLzmaErrors_data() {
        QTest::addColumn<QByteArray>("begin");
        QTest::addColumn<bool>("helloBetween");
        QTest::addColumn<QByteArray>("more");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("output");  // what the begin frame decodes to, if checked
        if (!LOADER_HAS_LZMA) return;
        const std::uint32_t at = kFlashBase + 0x1000;
        const QByteArray data = FirmwareSample(2048);
        const praxon::flash::LzmaPlan plan =
            praxon::flash::PlanLzma(at, data, {}, kLzmaTable, 700, 7, 2, 8192);
        QVERIFY(plan.pieces.size() >= 2);
        const auto begin = [&](std::uint32_t address, std::uint32_t size, int props,
                               const QByteArray& stream) {
            QByteArray payload = Words({address});
            AppendU16(payload, size);
            payload.append(char(props));
            return payload + stream;
        };
        const QByteArray first = plan.pieces[0].stream;
        const std::uint32_t size = plan.pieces[0].outputBytes;
        QByteArray more;
        AppendU16(more, plan.pieces[1].outputBytes);
        more += plan.pieces[1].stream;
        const QByteArray good = begin(at, size, plan.props, first);
        const auto row = [](const char* name, const QByteArray& begin, const QByteArray& more,
                            int status, const QByteArray& output = {}, bool helloBetween = false) {
            QTest::newRow(name) << begin << helloBetween << more << status << output;
        };
        row("continuation without a begin", {}, more, ST_DECODE);
        row("after HELLO the stream does not go on", good, more, ST_DECODE, {}, true);
        row("after a failed frame the stream does not go on",
            begin(at, size, plan.props, first.chopped(1)), more, ST_DECODE);
        row("stream bytes missing", begin(at, size, plan.props, first.left(first.size() / 2)), {},
            ST_DECODE_LENGTH, data.left(int(size)));
        row("stream bytes left over", begin(at, size, plan.props, first + 'x'), {},
            ST_DECODE_LENGTH, data.left(int(size)));
        row("literal context bits", begin(at, size, plan.props + 1, first), {}, ST_DECODE);
        row("table larger than the chip's", begin(at, size, 45 + 2 * 9, first), {}, ST_DECODE);
        const QByteArray as(64, 'a');
        const praxon::flash::LzmaPlan below =
            praxon::flash::PlanLzma(kFlashBase, as, as, kLzmaTable, 700, 7, 2, 8192);
        row("reference below flash", begin(kFlashBase, 64, below.props, below.pieces.at(0).stream),
            {}, ST_DECODE);
        row("odd length", begin(at, size + 1, plan.props, first), {}, ST_BAD_ADDRESS);
        row("past flash end", begin(kFlashBase + 0xFFFE, size, plan.props, first), {},
            ST_BAD_ADDRESS);
    }

    void writeLzmaErrors() {
        if (!LOADER_HAS_LZMA) QSKIP("this build has no LZMA decoder");
        QFETCH(QByteArray, begin);
        QFETCH(bool, helloBetween);
        QFETCH(QByteArray, more);
        QFETCH(int, status);
        QFETCH(QByteArray, output);
        Reply reply;
        if (!begin.isEmpty()) reply = Command(CMD_WRITE_LZMA, begin);
        if (helloBetween) QCOMPARE(Command(CMD_HELLO, {}).status(), 0);
        if (!more.isEmpty()) reply = Command(CMD_WRITE_LZMA_MORE, more);
        QCOMPARE(reply.status(), status);
        QCOMPARE(reply.payload.size(), 9);
        // Programmed up to the error only: nothing decoded after the stream bytes ran out.
        if (!output.isEmpty()) {
            const std::uint32_t at = U32(begin, 0), done = (U32(reply.payload, 1) - at) & ~1u;
            QVERIFY(done <= std::uint32_t(output.size()));
            QCOMPARE(Flash(at, output.size()),
                     output.left(int(done)) + QByteArray(int(output.size() - done), '\xFF'));
        }
    }

    // A new speed falls back to the old one unless a good frame comes within the trial; a speed
    // the chip cannot make is refused.
    void baud() {
        const Reply reply = Command(CMD_BAUD, Words({921600}));
        QCOMPARE(reply.status(), 0);
        QCOMPARE(U32(reply.payload, 1), 921600u);
        Chip().now += LOADER_BAUD_TRIAL_MS;
        Run();
        QCOMPARE(Chip().bauds, std::vector<std::uint32_t>({921600}));
        Chip().now += 1;
        Run();
        QCOMPARE(Chip().bauds, std::vector<std::uint32_t>({921600, 115200}));
        QCOMPARE(U32(Command(CMD_HELLO, {}).payload, 40), 115200u);
        QCOMPARE(Command(CMD_BAUD, Words({2000000})).status(), 0);
        QCOMPARE(U32(Command(CMD_HELLO, {}).payload, 40), 2000000u);
        Chip().now += 5 * LOADER_BAUD_TRIAL_MS;
        Run();
        QCOMPARE(Chip().bauds, std::vector<std::uint32_t>({921600, 115200, 2000000}));
        QCOMPARE(Command(CMD_BAUD, Words({5000000})).status(), int(ST_BAD_BAUD));
    }

    // A host that goes silent (killed, unplugged) must not leave the chip in RAM for good; a
    // host that is merely slow between frames must not lose it.
    void hostSilence_data() {
        QTest::addColumn<int>("firstWaitMs");   // after start, before the step in between
        QTest::addColumn<int>("between");       // 0 nothing, 1 a HELLO answered, 2 half a frame,
                                                // 3 bytes at a wrong line speed
        QTest::addColumn<int>("secondWaitMs");  // then
        QTest::addColumn<bool>("reset");
        const int limit = int(LOADER_HOST_SILENT_MS);
        QTest::newRow("silent up to the limit") << 0 << 0 << limit << false;
        QTest::newRow("silent past the limit") << 0 << 0 << limit + 1 << true;
        QTest::newRow("a reply restarts the count") << limit << 1 << limit << false;
        QTest::newRow("silent past the limit after a reply") << limit << 1 << limit + 1 << true;
        QTest::newRow("half a frame, then the NAK for it") << limit - 200 << 2 << limit << false;
        QTest::newRow("bytes at a wrong line speed do not count") << limit << 3 << 1 << true;
    }

    void hostSilence() {
        QFETCH(int, firstWaitMs);
        QFETCH(int, between);
        QFETCH(int, secondWaitMs);
        QFETCH(bool, reset);
        Chip().now += std::uint32_t(firstWaitMs);
        Run();
        QVERIFY(Chip().leftTo.empty());
        if (between == 1) QCOMPARE(Command(CMD_HELLO, {}).status(), 0);
        if (between == 2) {
            Send(EncodeFrame(nextSeq, CMD_HELLO, {}).left(3));
            Run();
            Chip().now += LOADER_IDLE_DROP_MS + 1;
            QCOMPARE(Run().size(), 1);  // the NAK
        }
        if (between == 3) {
            for (int i = 0; i < 20; ++i) Chip().rx.push_back(loadertest::kLineError);
            Run();
        }
        Chip().now += std::uint32_t(secondWaitMs);
        Run();
        QCOMPARE(Chip().leftTo,
                 reset ? std::vector<std::uint32_t>{0xFFFFFFFFu} : std::vector<std::uint32_t>{});
    }

    void go_data() {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("status");
        QTest::newRow("reset") << 0xFFFFFFFFu << 0;
        QTest::newRow("user program") << kFlashBase << 0;
        QTest::newRow("RAM") << 0x20001000u << 0;
        QTest::newRow("misaligned") << kFlashBase + 2 << int(ST_BAD_ADDRESS);
        QTest::newRow("nowhere") << 0x60000000u << int(ST_BAD_ADDRESS);
    }

    void go() {
        QFETCH(quint32, address);
        QFETCH(int, status);
        QCOMPARE(Command(CMD_GO, Words({address})).status(), status);
        if (status == 0)
            QCOMPARE(Chip().leftTo, std::vector<std::uint32_t>({address}));
        else
            QVERIFY(Chip().leftTo.empty());
    }

    void everyBinaryStartsAtItsLoadAddress() {
        for (std::size_t i = 0; i < kLoaderBinaryCount; ++i) {
            const LoaderBinary& binary = kLoaderBinaries[i];
            const QByteArray bytes = Bytes(binary);
            QVERIFY(bytes.size() > 64);
            // Go: stack pointer at word 0 (the loader's stack grows below its image), entry at
            // word 1.
            QCOMPARE(U32(bytes, 0), binary.loadAddress);
            const std::uint32_t entry = U32(bytes, 4);
            QVERIFY2(entry & 1, "entry must be a Thumb address");
            QVERIFY(entry > binary.loadAddress && entry < binary.loadAddress + binary.size);
            QCOMPARE(U32(bytes, praxon::flash::kLoaderParameterOffset),
                     praxon::flash::kLoaderMagic);
            // The receive buffer starts after the image, word-aligned, and leaves at least 512
            // bytes on the smallest chip the binary serves.
            const std::uint32_t rxStart = praxon::flash::LoaderRxStart(binary);
            QVERIFY(rxStart >= binary.loadAddress + binary.size);
            QCOMPARE(rxStart % 4, 0u);
            QVERIFY2(rxStart + 512 <= SmallestRamEnd(binary), "loader too large for its chips");
        }
    }

    // The lowest binary at or above the RAM the ROM bootloader leaves free. The F1, F03x and F3
    // parts' choices: tst_loaderlink's chooseLoader.
    void choice_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<quint32>("firstFreeRam");
        QTest::addColumn<quint32>("loadAddress");  // 0: none
        QTest::newRow("F1 above every binary") << int(LoaderFamily::F1) << 0x20001004u << 0u;
        QTest::newRow("F07x") << int(LoaderFamily::F0) << 0x20001800u << 0x20001800u;
    }

    void choice() {
        QFETCH(int, family);
        QFETCH(quint32, firstFreeRam);
        QFETCH(quint32, loadAddress);
        const LoaderBinary* binary = praxon::flash::LoaderFor(LoaderFamily(family), firstFreeRam);
        QCOMPARE(binary ? binary->loadAddress : 0u, loadAddress);
        if (binary) QCOMPARE(int(binary->family), family);
    }

    void parametersFilledIn() {
        const LoaderBinary* binary = praxon::flash::LoaderFor(LoaderFamily::F1, 0x20000200);
        QVERIFY(binary);
        praxon::flash::LoaderParameters parameters;
        parameters.baud = 921600;
        parameters.ramEnd = 0x20005000;
        parameters.pageSize = 2048;
        parameters.flashSize = 0x100000;
        parameters.bank2Start = 0x08080000;
        const QByteArray image = praxon::flash::LoaderImage(*binary, parameters);
        QCOMPARE(image.size() % 4, 0);
        QVERIFY(image.size() - int(binary->size) < 4);
        // The parameters in their words; everything else is the binary as built.
        QCOMPARE(image.mid(12, 20), Words({921600, 0x20005000, 2048, 0x100000, 0x08080000}));
        QCOMPARE(image.left(12), Bytes(*binary).left(12));
        QCOMPARE(image.mid(32, int(binary->size) - 32), Bytes(*binary).mid(32));
    }

    void bytesWithoutParameterBlockRefused() {
        static const unsigned char junk[40] = {0};
        const LoaderBinary binary{LoaderFamily::F1, 0x20000200, junk, sizeof junk};
        QVERIFY(praxon::flash::LoaderImage(binary, {}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLoaderProtocol)
#include "tst_loaderprotocol.moc"
