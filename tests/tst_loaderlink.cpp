// The host's loader transport (LoaderLink) against the loader's own engine on the fake chip:
// start through a scripted ROM, windows of frames, the repairs after a damaged or lost frame or a
// lost reply, line speed changes and their fallback, Stop, and programming with unchanged pages
// skipped and CRC verify.
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>
#include <vector>

#include "BootLink.h"
#include "FakePort.h"
#include "LoaderFakeChip.h"
#include "LoaderImage.h"
#include "LoaderLink.h"
#include "RecordingHost.h"
#include "TurboFrames.h"
#include "loader.h"

using loadertest::Chip;
using loadertest::kFlashBase;
using namespace praxon::flash;

namespace {

constexpr std::uint16_t kPid = 0x410;
constexpr std::uint32_t kFlashBytes = 64 * 1024;
constexpr std::uint32_t kPageSize = 1024;

// One damage to one frame, chosen by direction, command (or reply code) and occurrence.
struct Fault {
    bool fromHost = true;
    enum Kind { Corrupt, Drop, Noise, Decay, Phantom } kind = Corrupt;
    int code = 0;
    int occurrence = 0;
    std::uint32_t address = 0;  // Decay: the flash byte that changes before the frame runs
    int seen = 0;
    bool done = false;
};

// "host:corrupt:0x04:2" (the third WRITE frame arrives damaged), "chip:drop:0x06:0" (the first
// CRC reply is lost), "host:decay:0x06:0:0x08000404" (a flash byte changes before the first CRC).
std::vector<Fault> ParseFaults(const QString& text) {
    std::vector<Fault> faults;
    for (const QString& item : text.split(',', Qt::SkipEmptyParts)) {
        const QStringList f = item.split(':');
        Fault fault;
        fault.fromHost = f[0] == "host";
        fault.kind = f[1] == "corrupt"   ? Fault::Corrupt
                     : f[1] == "drop"    ? Fault::Drop
                     : f[1] == "noise"   ? Fault::Noise
                     : f[1] == "phantom" ? Fault::Phantom
                                         : Fault::Decay;
        fault.code = f[2].toInt(nullptr, 16);
        fault.occurrence = f[3].toInt();
        if (f.size() > 4) fault.address = f[4].toUInt(nullptr, 16);
        faults.push_back(fault);
    }
    return faults;
}

QByteArray Random(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes) byte = char(random.bounded(256));
    return bytes;
}

// Compiled code: the loader binaries themselves, which compress like firmware.
QByteArray Code(int size) {
    QByteArray code;
    while (code.size() < size)
        for (std::size_t i = 0; i < kLoaderBinaryCount; ++i)
            code.append(reinterpret_cast<const char*>(kLoaderBinaries[i].bytes),
                        int(kLoaderBinaries[i].size));
    return code.left(size);
}

// 16 KB: random pages (sent raw), code (sent compressed), an erased page and a short tail.
QByteArray MixedImage() {
    return Random(6 * 1024, 7) + Code(7 * 1024) + QByteArray(1024, char(0xFF)) + Random(1500, 9);
}

QByteArray FlashBytes(std::uint32_t address, int length) {
    return QByteArray(reinterpret_cast<const char*>(Chip().flash.data()) + (address - kFlashBase),
                      length);
}

// The port with the chip behind it: a ROM bootloader that takes Write Memory and Go, then the
// loader's engine from loader/src, started with the parameter block the host wrote.
class ChipPort : public FakePort {
public:
    std::vector<Fault> faults;
    bool mute = false;            // the chip never answers the loader's frames
    bool romRefusesData = false;  // NACK to Write Memory's data
    int lineLimit = 0;            // bytes at a port speed above this are garbled (0: none)
    bool refuseSpeedChange = false;
    std::vector<std::uint8_t> ram = std::vector<std::uint8_t>(0x5000, 0);
    loader_params params{};
    std::uint32_t goAddress = 0;
    int hostFrames = 0;

    ChipPort() {
        responder = [this](const QByteArray& bytes) { onHostBytes(bytes); };
        connect(&ticker_, &QTimer::timeout, this, [this] {
            if (running_ && !mute) step({});
        });
        ticker_.start(5);
        clock_.start();
    }
    bool setBaudRate(int baud) override {
        if (refuseSpeedChange || !isOpen()) return false;
        baudRate = baud;
        return true;
    }
    std::uint32_t chipBaud() const {
        return Chip().bauds.empty() ? params.baud : Chip().bauds.back();
    }
    bool running() const { return running_; }
    bool discardOutput() override {
        ++discards;
        return true;
    }
    int discards = 0;

private:
    enum class Rom { Command, WriteAddress, WriteData, GoAddress };

    void onHostBytes(const QByteArray& bytes) {
        if (running_) {
            if (!mute) step(bytes);
            return;
        }
        if (!evenParity) return;  // the ROM bootloader takes nothing without its parity
        const auto ack = [this](bool ok) { deliver(QByteArray(1, char(ok ? 0x79 : 0x1F))); };
        switch (rom_) {
            case Rom::Command:
                if (bytes == hex("31ce")) rom_ = Rom::WriteAddress;
                if (bytes == hex("21de")) rom_ = Rom::GoAddress;
                ack(rom_ != Rom::Command);
                break;
            case Rom::WriteAddress:
                address_ = std::uint8_t(bytes[0]) << 24 | std::uint8_t(bytes[1]) << 16 |
                           std::uint8_t(bytes[2]) << 8 | std::uint8_t(bytes[3]);
                rom_ = Rom::WriteData;
                ack(true);
                break;
            case Rom::WriteData:
                for (int i = 1; i + 1 < bytes.size(); ++i)
                    ram[address_ - loadertest::kRamBase + std::uint32_t(i - 1)] =
                        std::uint8_t(bytes[i]);
                rom_ = Rom::Command;
                ack(!romRefusesData);
                break;
            case Rom::GoAddress:
                goAddress = std::uint32_t(std::uint8_t(bytes[0])) << 24 |
                            std::uint8_t(bytes[1]) << 16 | std::uint8_t(bytes[2]) << 8 |
                            std::uint8_t(bytes[3]);
                rom_ = Rom::Command;
                ack(true);
                startLoader();
                break;
        }
    }

    std::uint32_t Ram32(std::uint32_t address) const {
        const std::uint32_t at = address - loadertest::kRamBase;
        return ram[at] | ram[at + 1] << 8 | ram[at + 2] << 16 | std::uint32_t(ram[at + 3]) << 24;
    }

    void startLoader() {
        params = {Ram32(goAddress + 8),  Ram32(goAddress + 12), Ram32(goAddress + 16),
                  Ram32(goAddress + 20), Ram32(goAddress + 24), Ram32(goAddress + 28),
                  Ram32(goAddress + 32)};
        Chip().pageSize = params.page_size;
        const std::uint32_t rxSize = params.ram_end - params.rx_start;
        rxBuffer_.assign(rxSize, 0);
        loader_init(&params, rxBuffer_.data(), rxSize, goAddress);
        running_ = true;
    }

    // Both ends must agree on speed and parity: the loader's line has none, the ROM's is even.
    bool lineGarbled() const {
        return chipBaud() != std::uint32_t(baudRate) || (lineLimit && baudRate > lineLimit) ||
               evenParity;
    }

    Fault* faultFor(bool fromHost, int code) {
        for (Fault& f : faults) {
            if (f.done || f.fromHost != fromHost || f.code != code) continue;
            if (f.seen++ == f.occurrence) {
                f.done = true;
                return &f;
            }
        }
        return nullptr;
    }

    void step(const QByteArray& bytes) {
        if (!bytes.isEmpty()) {
            QByteArray arriving = bytes;
            if (bytes.size() >= 10 && std::uint8_t(bytes[0]) == 0xA5) {
                ++hostFrames;
                if (Fault* f = faultFor(true, std::uint8_t(bytes[2]))) {
                    if (f->kind == Fault::Corrupt) arriving[bytes.size() / 2] ^= 0x10;
                    if (f->kind == Fault::Drop) arriving.clear();
                    if (f->kind == Fault::Decay) Chip().flash[f->address - kFlashBase] ^= 0x01;
                }
            }
            const bool garbled = lineGarbled();
            for (char byte : arriving)
                Chip().rx.push_back(garbled ? loadertest::kLineError : std::uint8_t(byte));
        }
        const bool garbledOut = lineGarbled();
        for (int quiet = 0; quiet < 64;) {
            Chip().now = std::uint32_t(clock_.elapsed());
            const bool input = !Chip().rx.empty();
            const std::size_t sent = Chip().tx.size();
            loader_step();
            quiet = input || Chip().tx.size() != sent ? 0 : quiet + 1;
        }
        std::vector<std::uint8_t>& tx = Chip().tx;
        if (tx.empty()) return;
        praxon::flash::turbo::FrameReader reader;
        reader.feed(QByteArray(reinterpret_cast<const char*>(tx.data()), int(tx.size())));
        tx.clear();
        QByteArray out;
        while (auto frame = reader.next()) {
            QByteArray bytes =
                praxon::flash::turbo::EncodeFrame(frame->seq, frame->code, frame->payload);
            if (Fault* f = faultFor(false, frame->code)) {
                if (f->kind == Fault::Drop) bytes.clear();
                if (f->kind == Fault::Corrupt) bytes[bytes.size() / 2] ^= 0x10;
                if (f->kind == Fault::Noise) bytes.prepend(QByteArray("\xA5\x01\x02noise", 8));
                // A header whose check holds but whose frame never comes: a NAK that loses its
                // low length byte becomes one.
                if (f->kind == Fault::Phantom)
                    bytes.prepend(praxon::flash::turbo::EncodeFrame(frame->seq, frame->code,
                                                                    QByteArray(512, '\0'))
                                      .left(6));
            }
            out += bytes;
        }
        if (garbledOut) return;  // the host reads nothing sensible at the wrong speed
        if (!out.isEmpty()) deliverLater(out, 0);
    }

    Rom rom_ = Rom::Command;
    std::uint32_t address_ = 0;
    bool running_ = false;
    std::vector<std::uint8_t> rxBuffer_;
    QTimer ticker_;
    QElapsedTimer clock_;
};

struct Rig {
    RecordingHost host;
    ChipPort port;
    praxon::BootLink link{host, port};
    LoaderLink loader{link};
    const LoaderBinary* binary = LoaderFor(LoaderFamily::F1, 0x20000200);

    explicit Rig(const QString& faults = {}) {
        Chip().reset(kFlashBytes);
        port.faults = ParseFaults(faults);
        praxon::PortOpenFailure failure;
        port.open("chip", 115200, &failure);
        link.setStopped(false);
    }
    LoaderParameters parameters() const {
        LoaderParameters p;
        p.baud = 115200;
        p.ramEnd = LoaderRamEnd(kPid, kFlashBytes, 0);
        p.pageSize = kPageSize;
        p.flashSize = kFlashBytes;
        return p;
    }
    LoaderResult start() { return loader.start(*binary, parameters()); }
};

}  // namespace

Q_DECLARE_METATYPE(LoaderOutcome)
Q_DECLARE_METATYPE(BaudOutcome)

class TestLoaderLink : public QObject {
    Q_OBJECT

private slots:
    void ramEnd_data();
    void ramEnd();
    void chooseLoader_data();
    void chooseLoader();
    void start_data();
    void start();
    void session_data();
    void session();
    void secondProgramWritesNothing();
    void compareNamesDifferingPages_data();
    void compareNamesDifferingPages();
    void chipErrorKeepsSequence_data();
    void chipErrorKeepsSequence();
    void verifyFailureNamesFirstDifference();
    void writeChoosesCompressionWhereItSaves_data();
    void writeChoosesCompressionWhereItSaves();
    void runFramesEraseAheadOfTheirData_data();
    void runFramesEraseAheadOfTheirData();
    void baudChange_data();
    void baudChange();
    void silentChipIsNoAnswer_data();
    void silentChipIsNoAnswer();
    void stopEndsTheWait();
    void lostErrorReplyIsNoSuccess_data();
    void lostErrorReplyIsNoSuccess();
    void resetChip_data();
    void resetChip();
    void cleanup() {
        QVERIFY2(Chip().faults.empty(), Chip().faults.empty() ? "" : Chip().faults[0].c_str());
    }
};

void TestLoaderLink::ramEnd_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<int>("flashKb");
    QTest::addColumn<uint>("table");
    QTest::addColumn<uint>("expected");
    QTest::newRow("F103x8") << 0x410 << 64 << 0u << 0x20002800u;
    QTest::newRow("F103xB") << 0x410 << 128 << 0u << 0x20004000u;
    QTest::newRow("F101x6") << 0x412 << 32 << 0u << 0x20001800u;
    QTest::newRow("F103xC") << 0x414 << 256 << 0u << 0x20008000u;
    QTest::newRow("F103xE") << 0x414 << 512 << 0u << 0x2000C000u;
    QTest::newRow("F100 value line 128K") << 0x420 << 128 << 0u << 0x20002000u;
    QTest::newRow("F100 HD 384K") << 0x428 << 384 << 0u << 0x20008000u;
    QTest::newRow("XL") << 0x430 << 1024 << 0u << 0x20014000u;
    QTest::newRow("F030x4 is smaller than its table row")
        << 0x444 << 16 << 0x20002000u << 0x20001000u;
    QTest::newRow("F051x8 from the table") << 0x440 << 64 << 0x20002000u << 0x20002000u;
    QTest::newRow("F303 from the table") << 0x422 << 256 << 0x2000A000u << 0x2000A000u;
    QTest::newRow("F4 has no loader") << 0x413 << 1024 << 0x20020000u << 0u;
}

void TestLoaderLink::ramEnd() {
    QFETCH(int, pid);
    QFETCH(int, flashKb);
    QFETCH(uint, table);
    QFETCH(uint, expected);
    QCOMPARE(LoaderRamEnd(std::uint16_t(pid), std::uint32_t(flashKb) * 1024, table), expected);
}

void TestLoaderLink::chooseLoader_data() {
    QTest::addColumn<int>("pid");
    QTest::addColumn<int>("flashKb");
    QTest::addColumn<uint>("loadAddress");  // 0: no loader, the ROM protocol stays
    QTest::addColumn<uint>("ramEnd");
    QTest::addColumn<uint>("pageSize");
    QTest::addColumn<uint>("bank2");
    QTest::newRow("F103x8") << 0x410 << 64 << 0x20000200u << 0x20002800u << 1024u << 0u;
    QTest::newRow("F103xE: 2 KB pages")
        << 0x414 << 512 << 0x20000200u << 0x2000C000u << 2048u << 0u;
    QTest::newRow("F103xG, two banks")
        << 0x430 << 1024 << 0x20001000u << 0x20014000u << 2048u << 0x08080000u;
    QTest::newRow("F103xF, 768 KB: two banks")
        << 0x430 << 768 << 0x20001000u << 0x20014000u << 2048u << 0x08080000u;
    QTest::newRow("F105/F107") << 0x418 << 256 << 0x20001000u << 0x20010000u << 2048u << 0u;
    QTest::newRow("F051x8") << 0x440 << 64 << 0x20000800u << 0x20002000u << 1024u << 0u;
    QTest::newRow("F030x4: too little RAM") << 0x444 << 16 << 0u << 0u << 0u << 0u;
    QTest::newRow("F101x4: too little RAM") << 0x412 << 16 << 0u << 0u << 0u << 0u;
    QTest::newRow("F407: another flash controller") << 0x413 << 1024 << 0u << 0u << 0u << 0u;
}

void TestLoaderLink::chooseLoader() {
    QFETCH(int, pid);
    QFETCH(int, flashKb);
    QFETCH(uint, loadAddress);
    QFETCH(uint, ramEnd);
    QFETCH(uint, pageSize);
    QFETCH(uint, bank2);
    const praxon::DeviceInfo* device = praxon::FindDevice(std::uint16_t(pid));
    QVERIFY(device);
    const auto choice =
        ChooseLoader(*device, std::uint16_t(pid), std::uint32_t(flashKb) * 1024, true, 460800);
    QCOMPARE(choice.has_value(), loadAddress != 0);
    if (!choice) return;
    QCOMPARE(choice->binary->loadAddress, loadAddress);
    QCOMPARE(choice->parameters.ramEnd, ramEnd);
    QCOMPARE(choice->parameters.pageSize, pageSize);
    QCOMPARE(choice->parameters.bank2Start, bank2);
    QCOMPARE(choice->parameters.flashSize, std::uint32_t(flashKb) * 1024);
    QCOMPARE(choice->parameters.baud, 460800u);
}

void TestLoaderLink::start_data() {
    QTest::addColumn<bool>("romRefusesData");
    QTest::addColumn<bool>("mute");
    QTest::addColumn<LoaderOutcome>("expected");
    QTest::newRow("loader answers") << false << false << LoaderOutcome::Done;
    QTest::newRow("ROM refuses the image") << true << false << LoaderOutcome::NotStarted;
    QTest::newRow("loader silent after Go") << false << true << LoaderOutcome::NotStarted;
}

void TestLoaderLink::start() {
    QFETCH(bool, romRefusesData);
    QFETCH(bool, mute);
    QFETCH(LoaderOutcome, expected);
    Rig rig;
    rig.port.romRefusesData = romRefusesData;
    rig.port.mute = mute;
    QCOMPARE(rig.start().outcome, expected);
    if (expected != LoaderOutcome::Done) {
        if (mute) QCOMPARE(rig.loader.stats().framesSent, 10);  // HELLO every 100 ms, 10 times
        return;
    }
    // The image went to its load address with the parameter block filled, and Go started it.
    QCOMPARE(rig.port.goAddress, rig.binary->loadAddress);
    QCOMPARE(rig.port.params.magic, kLoaderMagic);
    QCOMPARE(rig.port.params.baud, 115200u);
    QCOMPARE(rig.port.params.ram_end, 0x20002800u);
    QCOMPARE(rig.port.params.page_size, kPageSize);
    QCOMPARE(rig.port.params.flash_size, kFlashBytes);
    QCOMPARE(rig.port.params.bank2_start, 0u);
    const LoaderHello& hello = rig.loader.info();
    QCOMPARE(hello.version, std::uint8_t(LOADER_PROTOCOL_VERSION));
    QCOMPARE(hello.rxSize, 0x20002800u - LoaderRxStart(*rig.binary));
    QCOMPARE(hello.pageSize, kPageSize);
    QCOMPARE(hello.flashSize, kFlashBytes);
    QVERIFY(hello.canInflate());
}

void TestLoaderLink::session_data() {
    QTest::addColumn<QString>("faults");
    QTest::addColumn<int>("naks");
    QTest::addColumn<int>("timeouts");
    QTest::addColumn<bool>("dups");
    QTest::newRow("clean line") << "" << 0 << 0 << false;
    QTest::newRow("damaged write frame: NAK, resend") << "host:corrupt:0x04:2" << 1 << 0 << false;
    QTest::newRow("lost write frame: gap NAK, resend") << "host:drop:0x04:1" << 1 << 0 << false;
    QTest::newRow("lost compressed frame") << "host:drop:0x05:0" << 1 << 0 << false;
    QTest::newRow("damaged erase frame") << "host:corrupt:0x02:0" << 1 << 0 << false;
    QTest::newRow("lost write reply: the next reply shows it done")
        << "chip:drop:0x04:1" << 0 << 0 << false;
    QTest::newRow("damaged CRC reply: asked again") << "chip:corrupt:0x06:0" << 0 << 0 << false;
    QTest::newRow("lost COMPARE reply: asked again") << "chip:drop:0x07:0" << 0 << 1 << true;
    QTest::newRow("noise before a reply") << "chip:noise:0x04:0" << 0 << 0 << false;
    QTest::newRow("lost last frame: timeout") << "host:drop:0x06:1" << 0 << 1 << false;
    QTest::newRow("NAK behind a header with a wrong length: found after the timeout")
        << "host:corrupt:0x04:1,chip:phantom:0xee:0" << 1 << 1 << true;
}

void TestLoaderLink::session() {
    QFETCH(QString, faults);
    QFETCH(int, naks);
    QFETCH(int, timeouts);
    QFETCH(bool, dups);
    Rig rig(faults);
    QVERIFY(rig.start().ok());
    const QByteArray image = MixedImage();
    LoaderProgramReport report;
    const LoaderResult result =
        ProgramThroughLoader(rig.loader, kFlashBase + 0x2000, image, true, true, &report);
    QCOMPARE(result.outcome, LoaderOutcome::Done);
    QVERIFY(!report.verifyFailed);
    QCOMPARE(FlashBytes(kFlashBase + 0x2000, int(image.size())), image);
    // Nothing outside the image's pages was touched.
    QCOMPARE(FlashBytes(kFlashBase, 0x2000), QByteArray(0x2000, char(0xFF)));
    QCOMPARE(FlashBytes(kFlashBase + 0x2000 + 17 * 1024, 1024), QByteArray(1024, char(0xFF)));
    for (const Fault& f : rig.port.faults) QVERIFY2(f.done, "a fault did not happen");
    const LoaderLinkStats& stats = rig.loader.stats();
    QCOMPARE(stats.naks, naks);
    QCOMPARE(stats.timeouts, timeouts);
    QCOMPARE(stats.dups > 0, dups);
    QCOMPARE(stats.resends, naks + timeouts);
    // The link is in step afterwards: a read returns the flash.
    QByteArray back;
    QVERIFY(rig.loader.read(kFlashBase + 0x2000 + 6000, 300, &back).ok());
    QCOMPARE(back, image.mid(6000, 300));
}

void TestLoaderLink::secondProgramWritesNothing() {
    Rig rig;
    QVERIFY(rig.start().ok());
    const QByteArray image = MixedImage();
    LoaderProgramReport first, second;
    QList<qint64> progress;
    rig.loader.setProgress([&](qint64 done, qint64 total) {
        QCOMPARE(total, qint64(15 * 1024 - (1024 - 1500 % 1024)));  // the data, not the 0xFF
        progress << done;
    });
    QVERIFY(ProgramThroughLoader(rig.loader, kFlashBase, image, true, true, &first).ok());
    QVERIFY(!progress.isEmpty());
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    QCOMPARE(progress.last(), qint64(15 * 1024 - (1024 - 1500 % 1024)));
    progress.clear();
    QCOMPARE(first.pagesWritten, 15);
    QCOMPARE(first.pagesSkipped, 1);  // all 0xFF in the image: the erased flash holds it
    const int programs = Chip().programs, erases = Chip().erases;
    QVERIFY(ProgramThroughLoader(rig.loader, kFlashBase, image, true, true, &second).ok());
    QCOMPARE(second.pages, 16);
    QCOMPARE(second.pagesSkipped, 16);
    QCOMPARE(second.pagesWritten, 0);
    QCOMPARE(second.bytesSkipped, qint64(image.size()));
    QCOMPARE(Chip().programs, programs);
    QCOMPARE(Chip().erases, erases);
    QVERIFY(progress.isEmpty());  // nothing written, nothing reported
}

void TestLoaderLink::compareNamesDifferingPages_data() {
    QTest::addColumn<QList<int>>("changedPages");
    QTest::addColumn<QList<int>>("writtenRanges");  // start page, count, ...
    QTest::newRow("none") << QList<int>{} << QList<int>{};
    QTest::newRow("first") << QList<int>{0} << QList<int>{0, 1};
    QTest::newRow("last, the short one") << QList<int>{15} << QList<int>{15, 1};
    QTest::newRow("two runs") << QList<int>{2, 3, 4, 9} << QList<int>{2, 3, 9, 1};
    QTest::newRow("the erased page got data") << QList<int>{13} << QList<int>{13, 1};
}

void TestLoaderLink::compareNamesDifferingPages() {
    QFETCH(QList<int>, changedPages);
    QFETCH(QList<int>, writtenRanges);
    Rig rig;
    QVERIFY(rig.start().ok());
    const QByteArray image = MixedImage();
    QVERIFY(ProgramThroughLoader(rig.loader, kFlashBase, image, true, false, nullptr).ok());
    // The chip's flash changes behind the host's back (another program was written there).
    for (int page : changedPages) Chip().flash[page * kPageSize + 10] ^= 0xFF;
    LoaderProgramReport report;
    QVERIFY(ProgramThroughLoader(rig.loader, kFlashBase, image, true, true, &report).ok());
    QList<int> ranges;
    for (const auto& range : report.written)
        ranges << int((range.address - kFlashBase) / kPageSize) << int(range.length / kPageSize);
    QCOMPARE(ranges, writtenRanges);
    QCOMPARE(report.pagesWritten, int(changedPages.size()));
    QCOMPARE(FlashBytes(kFlashBase, int(image.size())), image);
}

void TestLoaderLink::chipErrorKeepsSequence_data() {
    QTest::addColumn<int>("protectedPage");
    QTest::addColumn<int>("status");
    QTest::addColumn<uint>("address");
    QTest::addColumn<int>("command");
    QTest::newRow("write over programmed data")
        << -1 << int(ST_NOT_ERASED) << 0x08000000u << int(loadercmd::kWrite);
    QTest::newRow("erase of a protected page")
        << 3 << int(ST_PROTECTED) << 0x08000C00u << int(loadercmd::kErase);
}

void TestLoaderLink::chipErrorKeepsSequence() {
    QFETCH(int, protectedPage);
    QFETCH(int, status);
    QFETCH(uint, address);
    QFETCH(int, command);
    Rig rig;
    QVERIFY(rig.start().ok());
    Chip().flash[0] = 0x00;  // programmed already
    if (protectedPage >= 0) Chip().protectedPages.insert(kFlashBase + protectedPage * kPageSize);
    LoaderResult result;
    if (protectedPage >= 0) {
        Chip().flash[protectedPage * kPageSize] = 0x12;
        result = rig.loader.erasePages(kFlashBase, 8);
    } else {
        result = rig.loader.write(kFlashBase, Random(3000, 1), {}, false);
    }
    QCOMPARE(result.outcome, LoaderOutcome::ChipError);
    QCOMPARE(int(result.status), status);
    QCOMPARE(result.address, address);
    QCOMPARE(int(result.command), command);
    // The next exchange finds the chip in step.
    std::uint32_t crc = 0;
    QVERIFY(rig.loader.crc(kFlashBase + 0x8000, 1024, &crc).ok());
    QCOMPARE(crc, turbo::Crc32Words(QByteArray(1024, char(0xFF))));
}

void TestLoaderLink::verifyFailureNamesFirstDifference() {
    // A flash byte changes between the write and the CRC: the CRC names the range, the read-back
    // the byte.
    Rig rig("host:decay:0x06:0:0x08000C07");
    QVERIFY(rig.start().ok());
    const QByteArray image = Random(4096, 3);
    LoaderProgramReport report;
    const LoaderResult result =
        ProgramThroughLoader(rig.loader, kFlashBase, image, false, true, &report);
    QCOMPARE(result.outcome, LoaderOutcome::VerifyFailed);
    QVERIFY(report.verifyFailed);
    QCOMPARE(report.mismatch.address, kFlashBase);
    QCOMPARE(report.mismatch.length, 4096u);
    QCOMPARE(report.firstDifference, 0x08000C07u);
}

void TestLoaderLink::writeChoosesCompressionWhereItSaves_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("compressed");
    QTest::newRow("random: raw") << Random(8192, 4) << false;
    QTest::newRow("code: compressed") << Code(8192) << true;
    QTest::newRow("zeros: compressed") << QByteArray(6000, '\0') << true;
}

void TestLoaderLink::writeChoosesCompressionWhereItSaves() {
    QFETCH(QByteArray, data);
    QFETCH(bool, compressed);
    Rig rig;
    QVERIFY(rig.start().ok());
    const auto requests = rig.loader.writeRequests(kFlashBase, data, {}, true);
    qint64 payload = 0;
    for (const auto& r : requests) {
        QCOMPARE(r.command == loadercmd::kWriteDeflate, compressed);
        // Two frames and an ERASE (16 bytes) fit in the chip's buffer at once.
        QVERIFY(2 * (r.payload.size() + 10) + 16 <= qint64(rig.loader.info().rxSize));
        payload += r.payload.size();
    }
    QCOMPARE(payload < data.size(), compressed);
    QVERIFY(rig.loader.write(kFlashBase, data).ok());
    QCOMPARE(FlashBytes(kFlashBase, int(data.size())), data);
}

void TestLoaderLink::runFramesEraseAheadOfTheirData_data() {
    QTest::addColumn<QByteArray>("pages");
    QTest::addColumn<int>("used");  // bytes up to the last one that is not 0xFF
    const QByteArray random = Random(16 * int(kPageSize), 5);
    QTest::newRow("random, 16 pages") << random << int(random.size());
    QTest::newRow("code, 16 pages") << Code(16 * int(kPageSize)) << 16 * int(kPageSize);
    QByteArray tail = Random(7 * int(kPageSize) + 100, 6);
    tail.append(QByteArray(3 * int(kPageSize) - 100, char(0xFF)));
    QTest::newRow("random, the last 2.9 pages erased") << tail << 7 * int(kPageSize) + 100;
    QTest::newRow("all erased, 5 pages") << QByteArray(5 * int(kPageSize), char(0xFF)) << 0;
    QTest::newRow("not whole pages") << Random(1000, 7) << -1;
}

void TestLoaderLink::runFramesEraseAheadOfTheirData() {
    QFETCH(QByteArray, pages);
    QFETCH(int, used);
    Rig rig;
    QVERIFY(rig.start().ok());
    const std::uint32_t pageSize = rig.loader.info().pageSize;
    const auto requests = RunWriteRequests(rig.loader, kFlashBase, pages, {});
    if (used < 0) {
        QVERIFY(requests.empty());
        return;
    }
    const auto u32 = [](const QByteArray& b, int at) {
        return std::uint32_t(std::uint8_t(b[at]) | std::uint8_t(b[at + 1]) << 8 |
                             std::uint8_t(b[at + 2]) << 16 | std::uint8_t(b[at + 3]) << 24);
    };
    std::uint32_t erasedPages = 0, written = 0;
    int writes = 0;
    qint64 largest = 0;
    bool raw = true;
    for (const auto& r : requests) {
        if (r.command == loadercmd::kErase) {
            // Page groups in order, each page once.
            QCOMPARE(u32(r.payload, 0), kFlashBase + erasedPages * pageSize);
            erasedPages += std::uint8_t(r.payload[4]) | std::uint8_t(r.payload[5]) << 8;
            continue;
        }
        // One stream: each write starts where the last ended, on pages already erased.
        QCOMPARE(u32(r.payload, 0), kFlashBase + written);
        written += std::uint32_t(r.bytes);
        QVERIFY(written <= erasedPages * pageSize);
        largest = std::max(largest, r.bytes);
        raw = raw && r.command == loadercmd::kWrite;
        ++writes;
    }
    QCOMPARE(erasedPages, std::uint32_t(pages.size()) / pageSize);
    // The trailing 0xFF stay at home (the stream ends at the next even byte).
    QCOMPARE(written, std::uint32_t((used + 1) & ~1));
    // Raw frames run up to the size limit across page groups: no more of them than the bytes
    // need (compressed ones take what compresses into the limit).
    if (writes && raw) QCOMPARE(qint64(writes), (written + largest - 1) / largest);
    // Programmed through the loader, the pages hold the run.
    QVERIFY(rig.loader.run(requests, nullptr).ok());
    QCOMPARE(FlashBytes(kFlashBase, int(pages.size())), pages);
}

void TestLoaderLink::baudChange_data() {
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("lineLimit");
    QTest::addColumn<bool>("portRefuses");
    QTest::addColumn<BaudOutcome>("expected");
    QTest::addColumn<int>("lineSpeedAfter");
    QTest::newRow("switch to 921600") << 921600 << 0 << false << BaudOutcome::Changed << 921600;
    QTest::newRow("line cannot carry it: both back")
        << 921600 << 500000 << false << BaudOutcome::KeptOld << 115200;
    QTest::newRow("port cannot set it: chip comes back")
        << 460800 << 0 << true << BaudOutcome::KeptOld << 115200;
    QTest::newRow("chip cannot make it") << 5000000 << 0 << false << BaudOutcome::KeptOld << 115200;
}

void TestLoaderLink::baudChange() {
    QFETCH(int, baud);
    QFETCH(int, lineLimit);
    QFETCH(bool, portRefuses);
    QFETCH(BaudOutcome, expected);
    QFETCH(int, lineSpeedAfter);
    Rig rig;
    QVERIFY(rig.start().ok());
    rig.port.lineLimit = lineLimit;
    rig.port.refuseSpeedChange = portRefuses;
    LoaderResult result;
    QCOMPARE(rig.loader.changeBaud(std::uint32_t(baud), &result), expected);
    QCOMPARE(rig.port.baudRate, lineSpeedAfter);
    QCOMPARE(rig.port.chipBaud(), std::uint32_t(lineSpeedAfter));
    QCOMPARE(rig.loader.info().baud, std::uint32_t(lineSpeedAfter));
    // Work goes on at whatever speed both sides agreed.
    QVERIFY(rig.loader.write(kFlashBase, Code(3000)).ok());
    QCOMPARE(FlashBytes(kFlashBase, 3000), Code(3000));
    // GO leaves the port at the speed and parity it had when the loader started.
    QVERIFY(rig.loader.go(0xFFFFFFFFu).ok());
    QCOMPARE(rig.port.baudRate, 115200);
    QVERIFY(rig.port.evenParity);
    QCOMPARE(Chip().leftTo, std::vector<std::uint32_t>{0xFFFFFFFFu});
}

// A chip that stopped answering may have reset into its ROM bootloader: from the first missing
// reply on, what is queued is dropped and one frame at a time goes again.
void TestLoaderLink::silentChipIsNoAnswer_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("window");  // frames sent before the first timeout
    QTest::newRow("one CRC frame") << int(loadercmd::kCrc) << 1;
    QTest::newRow("a window of write frames") << int(loadercmd::kWrite) << 2;
}

void TestLoaderLink::silentChipIsNoAnswer() {
    QFETCH(int, command);
    QFETCH(int, window);
    Rig rig;
    QVERIFY(rig.start().ok());
    rig.port.mute = true;
    const qsizetype writtenBefore = rig.port.written.size();
    std::uint32_t crc = 0;
    const LoaderResult result = command == loadercmd::kCrc
                                    ? rig.loader.crc(kFlashBase, 1024, &crc)
                                    : rig.loader.write(kFlashBase, Random(8192, 3), {}, false);
    QCOMPARE(result.outcome, LoaderOutcome::NoAnswer);
    QCOMPARE(int(result.command), command);
    QCOMPARE(rig.loader.stats().timeouts, 6);  // the first try and five resends
    QCOMPARE(rig.port.discards, 6);
    QCOMPARE(rig.port.written.size() - writtenBefore, window + 5);
}

void TestLoaderLink::stopEndsTheWait() {
    Rig rig;
    QVERIFY(rig.start().ok());
    rig.port.faults = ParseFaults("host:drop:0x03:0,host:drop:0x03:1");
    // Stop comes while the host waits for a mass erase (5 s allowed): the wait ends with it.
    QTimer::singleShot(50, &rig.link, [&] { rig.link.stop(); });
    const LoaderResult result = rig.loader.massErase();
    QCOMPARE(result.outcome, LoaderOutcome::Stopped);
    QCOMPARE(rig.loader.stats().timeouts, 0);
}

// A write the chip refused whose reply was lost comes back as DUP, "done before": the chip's CRC
// must then decide, with verify asked for or not.
void TestLoaderLink::lostErrorReplyIsNoSuccess_data() {
    QTest::addColumn<bool>("verify");
    QTest::newRow("verify") << true;
    QTest::newRow("no verify") << false;
}

void TestLoaderLink::lostErrorReplyIsNoSuccess() {
    QFETCH(bool, verify);
    // A flash bit falls as the first write arrives (the half-word is no longer erased), and the
    // chip's error reply to it is lost.
    Rig rig("host:decay:0x04:0:0x08000010,chip:drop:0x04:0");
    QVERIFY(rig.start().ok());
    LoaderProgramReport report;
    const LoaderResult result =
        ProgramThroughLoader(rig.loader, kFlashBase, Random(4096, 5), false, verify, &report);
    for (const Fault& f : rig.port.faults) QVERIFY2(f.done, "a fault did not happen");
    QVERIFY(rig.loader.stats().unanswered > 0);
    QCOMPARE(result.outcome, LoaderOutcome::VerifyFailed);
    QCOMPARE(report.mismatch.address, kFlashBase);
}

// Leaving a loader after a session that ended early: whatever the stop flag, at the speed the
// loader runs at; the port ends at the start speed.
void TestLoaderLink::resetChip_data() {
    QTest::addColumn<int>("raisedTo");  // 0: no speed change
    QTest::addColumn<bool>("mute");
    QTest::addColumn<bool>("reset");
    QTest::newRow("loader in step") << 0 << false << true;
    QTest::newRow("after a raised line speed") << 921600 << false << true;
    QTest::newRow("chip silent") << 0 << true << false;
}

void TestLoaderLink::resetChip() {
    QFETCH(int, raisedTo);
    QFETCH(bool, mute);
    QFETCH(bool, reset);
    Rig rig;
    QVERIFY(rig.start().ok());
    if (raisedTo) QCOMPARE(rig.loader.changeBaud(std::uint32_t(raisedTo)), BaudOutcome::Changed);
    rig.port.mute = mute;
    rig.link.setStopped(true);  // as after Stop
    QCOMPARE(rig.loader.resetChip(2, false), reset);
    QCOMPARE(Chip().leftTo,
             reset ? std::vector<std::uint32_t>{0xFFFFFFFFu} : std::vector<std::uint32_t>{});
    QCOMPARE(rig.port.baudRate, 115200);
    QVERIFY(rig.port.evenParity);
    QVERIFY(rig.link.stopped());
    QVERIFY(!rig.loader.mayRun());
}

QTEST_MAIN(TestLoaderLink)
#include "tst_loaderlink.moc"
