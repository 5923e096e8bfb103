// The host's loader transport (LoaderLink) against the loader's own engine on the fake chip:
// start through a scripted ROM, windows of frames, the repairs after a damaged or lost frame or a
// lost reply, line speed changes and their fallback, Stop, and programming with unchanged pages
// skipped and CRC verify.
#include <QElapsedTimer>
#include <QtEndian>
#include <QtTest>
#include <cstring>
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
using loadertest::Code;
using loadertest::FlashBytes;
using loadertest::kFlashBase;
using loadertest::Random;
using namespace praxon::flash;

namespace {

constexpr std::uint32_t kFlashBytes = 64 * 1024;
constexpr std::uint32_t kPageSize = 1024;

// One damage to one frame, chosen by direction, command (or reply code) and occurrence.
struct Fault {
    bool fromHost = true;
    enum Kind { Corrupt, Drop, Noise, Decay, Phantom } kind = Corrupt;  // named in this order
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
        fault.kind =
            Fault::Kind(QStringList{"corrupt", "drop", "noise", "decay", "phantom"}.indexOf(f[1]));
        fault.code = f[2].toInt(nullptr, 16);
        fault.occurrence = f[3].toInt();
        if (f.size() > 4) fault.address = f[4].toUInt(nullptr, 16);
        faults.push_back(fault);
    }
    return faults;
}

// 16 KB: random pages (sent raw), code (sent compressed), an erased page and a short tail.
QByteArray MixedImage() {
    return Random(6 * 1024, 7) + Code(7 * 1024) + QByteArray(1024, char(0xFF)) + Random(1500, 9);
}

// The port with the chip behind it: a ROM bootloader that takes Write Memory and Go, then the
// loader's engine from loader/src, started with the parameter block the host wrote.
class ChipPort : public FakePort {
public:
    std::vector<Fault> faults;
    bool mute = false;            // the chip never answers the loader's frames
    bool romRefusesData = false;  // NACK to Write Memory's data
    int lineLimit = 0;            // bytes at a port speed above this are garbled (0: none)
    int damageLongerThan = 0;     // a byte of every frame longer than this is damaged (0: none)
    int damageEvery = 0;          // one host byte in this many is damaged (0: none)
    bool refuseSpeedChange = false;
    std::vector<std::uint8_t> ram = std::vector<std::uint8_t>(0x5000, 0);
    loader_params params{};
    std::uint32_t goAddress = 0;

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
        const Rom was = rom_;
        rom_ = Rom::Command;
        if (was == Rom::Command && bytes == hex("31ce")) rom_ = Rom::WriteAddress;
        if (was == Rom::Command && bytes == hex("21de")) rom_ = Rom::GoAddress;
        if (was == Rom::WriteAddress) rom_ = Rom::WriteData;
        if (was == Rom::WriteAddress || was == Rom::GoAddress)
            address_ = qFromBigEndian<quint32>(bytes.constData());
        if (was == Rom::WriteData)  // N-1, the bytes, a checksum
            std::copy(bytes.begin() + 1, bytes.end() - 1,
                      ram.begin() + (address_ - loadertest::kRamBase));
        const bool ok =
            was == Rom::Command ? rom_ != Rom::Command : !(was == Rom::WriteData && romRefusesData);
        deliver(QByteArray(1, char(ok ? 0x79 : 0x1F)));
        if (was == Rom::GoAddress) startLoader();
    }

    void startLoader() {
        goAddress = address_;
        // The parameter block after the two vector words (both ends little-endian).
        std::memcpy(&params, &ram[goAddress + 8 - loadertest::kRamBase], sizeof params);
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
            Fault* f = bytes.size() >= 10 && std::uint8_t(bytes[0]) == 0xA5
                           ? faultFor(true, std::uint8_t(bytes[2]))
                           : nullptr;
            if (f && f->kind == Fault::Corrupt) arriving[bytes.size() / 2] ^= 0x10;
            if (f && f->kind == Fault::Drop) arriving.clear();
            if (f && f->kind == Fault::Decay) Chip().flash[f->address - kFlashBase] ^= 0x01;
            if (damageLongerThan && bytes.size() > damageLongerThan)
                arriving[bytes.size() / 3] ^= 0x40;
            for (int i = 0; damageEvery && i < arriving.size(); ++i)
                if (++hostBytes_ % damageEvery == 0) arriving[i] = char(arriving[i] ^ 0x08);
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
    qint64 hostBytes_ = 0;
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
        return {115200, LoaderRamEnd(0x410, kFlashBytes, 0), kPageSize, kFlashBytes};
    }
    LoaderResult start() { return loader.start(*binary, parameters()); }
};

}  // namespace

Q_DECLARE_METATYPE(LoaderOutcome)

class TestLoaderLink : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        QVERIFY2(Chip().faults.empty(), Chip().faults.empty() ? "" : Chip().faults[0].c_str());
    }

    // The loader, its RAM end and flash layout for a chip, or none (the ROM protocol stays). The
    // RAM end comes from the product line and size where the device table's row spans parts with
    // less RAM, else from the table.
    void chooseLoader_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<int>("flashKb");
        QTest::addColumn<uint>("loadAddress");  // 0: no loader
        QTest::addColumn<uint>("ramEnd");
        QTest::addColumn<uint>("pageSize");
        QTest::addColumn<uint>("bank2");
        const auto row = [](const char* name, int pid, int flashKb, uint loadAddress = 0,
                            uint ramEnd = 0, uint pageSize = 0, uint bank2 = 0) {
            QTest::newRow(name) << pid << flashKb << loadAddress << ramEnd << pageSize << bank2;
        };
        row("F103x8", 0x410, 64, 0x20000200, 0x20002800, 1024);
        row("F103xB: more RAM than the x8", 0x410, 128, 0x20000200, 0x20004000, 1024);
        row("F103xE: 2 KB pages", 0x414, 512, 0x20000200, 0x2000C000, 2048);
        row("F100 value line 128K", 0x420, 128, 0x20000200, 0x20002000, 1024);
        row("F103xF, 768 KB: two banks", 0x430, 768, 0x20001000, 0x20014000, 2048, 0x08080000);
        row("F105/F107", 0x418, 256, 0x20001000, 0x20010000, 2048);
        row("F051x8: RAM end from the table", 0x440, 64, 0x20000800, 0x20002000, 1024);
        row("F303xC: RAM end from the table", 0x422, 256, 0x20001800, 0x2000A000, 2048);
        row("F030x4: too little RAM", 0x444, 16);
    }

    void chooseLoader() {
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
    }

    // A loader that does not start leaves the ROM protocol in charge.
    void start_data() {
        QTest::addColumn<bool>("romRefusesData");
        QTest::addColumn<bool>("mute");
        QTest::addColumn<LoaderOutcome>("expected");
        QTest::newRow("loader answers") << false << false << LoaderOutcome::Done;
        QTest::newRow("ROM refuses the image") << true << false << LoaderOutcome::NotStarted;
        QTest::newRow("loader silent after Go") << false << true << LoaderOutcome::NotStarted;
    }

    void start() {
        QFETCH(bool, romRefusesData);
        QFETCH(bool, mute);
        QFETCH(LoaderOutcome, expected);
        Rig rig;
        rig.port.romRefusesData = romRefusesData;
        rig.port.mute = mute;
        QCOMPARE(rig.start().outcome, expected);
        if (mute) QCOMPARE(rig.loader.stats().framesSent, 10);  // HELLO every 100 ms, 10 times
        if (expected != LoaderOutcome::Done) return;
        // The image went to its load address and Go started it with the parameter block filled
        // (the rest of the block and the page size: every session row depends on them).
        QCOMPARE(rig.port.goAddress, rig.binary->loadAddress);
        QCOMPARE(rig.port.params.ram_end, 0x20002800u);
        QCOMPARE(rig.loader.info().rxSize, 0x20002800u - LoaderRxStart(*rig.binary));
    }

    // The mixed image programmed at 0x08002000 through a line with the faults given, then again
    // after the pages listed changed on the chip behind the host's back: each fault repaired as
    // counted, only the changed pages erased and written again, in runs, and nothing outside the
    // image's pages touched.
    void session_data() {
        QTest::addColumn<QString>("faults");
        QTest::addColumn<int>("naks");
        QTest::addColumn<int>("timeouts");
        QTest::addColumn<bool>("dups");
        QTest::addColumn<QList<int>>("changedPages");
        QTest::addColumn<QList<int>>("writtenRanges");  // start page, count, ...
        const auto row = [](const char* name, const char* faults, int naks, int timeouts, bool dups,
                            QList<int> changed = {}, QList<int> ranges = {}) {
            QTest::newRow(name) << faults << naks << timeouts << dups << changed << ranges;
        };
        row("clean line", "", 0, 0, false);
        row("changed: the last page, the short one", "", 0, 0, false, {15}, {15, 1});
        row("changed: two runs", "", 0, 0, false, {2, 3, 4, 9}, {2, 3, 9, 1});
        row("changed: the erased page got data", "", 0, 0, false, {13}, {13, 1});
        row("damaged write frame: NAK, resend", "host:corrupt:0x04:2", 1, 0, false);
        row("lost write frame: gap NAK, resend", "host:drop:0x04:1", 1, 0, false);
        row("lost compressed frame", "host:drop:0x05:0", 1, 0, false);
        row("damaged erase frame", "host:corrupt:0x02:0", 1, 0, false);
        row("lost write reply: the next reply shows it done", "chip:drop:0x04:1", 0, 0, false);
        row("damaged CRC reply: asked again", "chip:corrupt:0x06:0", 0, 0, false);
        row("lost COMPARE reply: asked again", "chip:drop:0x07:0", 0, 1, true);
        row("noise before a reply", "chip:noise:0x04:0", 0, 0, false);
        row("lost last frame: timeout", "host:drop:0x06:1", 0, 1, false);
        row("NAK behind a header with a wrong length: found after the timeout",
            "host:corrupt:0x04:1,chip:phantom:0xee:0", 1, 1, true);
    }

    void session() {
        QFETCH(QString, faults);
        QFETCH(int, naks);
        QFETCH(int, timeouts);
        QFETCH(bool, dups);
        QFETCH(QList<int>, changedPages);
        QFETCH(QList<int>, writtenRanges);
        Rig rig(faults);
        QVERIFY(rig.start().ok());
        const QByteArray image = MixedImage();
        const std::uint32_t at = kFlashBase + 0x2000;
        QList<qint64> progress;
        rig.loader.setProgress([&](qint64 done, qint64) { progress << done; });
        LoaderProgramReport report;
        QCOMPARE(ProgramThroughLoader(rig.loader, at, image, true, true, &report).outcome,
                 LoaderOutcome::Done);
        for (const Fault& f : rig.port.faults) QVERIFY2(f.done, "a fault did not happen");
        const LoaderLinkStats& stats = rig.loader.stats();
        QCOMPARE(stats.naks, naks);
        QCOMPARE(stats.timeouts, timeouts);
        QCOMPARE(stats.dups > 0, dups);
        QCOMPARE(stats.resends, naks + timeouts);
        QCOMPARE(report.pagesWritten, 15);
        QCOMPARE(report.pagesSkipped, 1);  // all 0xFF in the image: the erased flash holds it
        const qint64 data = 15 * 1024 - (1024 - 1500 % 1024);  // the data, not the last 0xFF
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QCOMPARE(progress.last(), data);
        for (int page : changedPages) Chip().flash[0x2000 + page * kPageSize + 10] ^= 0xFF;
        progress.clear();
        const int programs = Chip().programs, erases = Chip().erases;
        QVERIFY(ProgramThroughLoader(rig.loader, at, image, true, true, &report).ok());
        QList<int> ranges;
        for (const auto& range : report.written)
            ranges << int((range.address - at) / kPageSize) << int(range.length / kPageSize);
        QCOMPARE(ranges, writtenRanges);
        QCOMPARE(report.pagesWritten, int(changedPages.size()));
        QCOMPARE(Chip().erases - erases, int(changedPages.size()));
        if (changedPages.isEmpty()) {  // nothing written, nothing reported
            QCOMPARE(Chip().programs, programs);
            QVERIFY(progress.isEmpty());
        }
        QCOMPARE(FlashBytes(at, int(image.size())), image);
        QCOMPARE(FlashBytes(kFlashBase, 0x2000), QByteArray(0x2000, char(0xFF)));
        const int after = 0x2000 + 16 * int(kPageSize);
        QCOMPARE(FlashBytes(kFlashBase + after, int(kFlashBytes) - after),
                 QByteArray(int(kFlashBytes) - after, char(0xFF)));
    }

    // A line speed change, work at whatever speed both sides agreed, and leaving the loader: by
    // GO, or after Stop by a reset at the speed the loader runs at. A chip that stopped answering
    // may have reset into its ROM bootloader: from the first missing reply on, what is queued is
    // dropped and one frame at a time goes again; it is not reset. Either way the port ends at the
    // speed and even parity it had when the loader started.
    void lineSpeedAndLeaving_data() {
        QTest::addColumn<int>("baud");  // 0: no change
        QTest::addColumn<int>("lineLimit");
        QTest::addColumn<bool>("portRefuses");
        QTest::addColumn<int>("speedAfter");
        QTest::addColumn<QString>("leave");  // go; reset; stop (during a wait), then reset; silent
        QTest::newRow("switch to 921600, GO") << 921600 << 0 << false << 921600 << "go";
        QTest::newRow("switch to 921600, reset") << 921600 << 0 << false << 921600 << "reset";
        QTest::newRow("line cannot carry it: both back")
            << 921600 << 500000 << false << 115200 << "go";
        QTest::newRow("port cannot set it: chip comes back")
            << 460800 << 0 << true << 115200 << "go";
        QTest::newRow("chip cannot make it, Stop") << 5000000 << 0 << false << 115200 << "stop";
        QTest::newRow("chip silent") << 0 << 0 << false << 115200 << "silent";
    }

    void lineSpeedAndLeaving() {
        QFETCH(int, baud);
        QFETCH(int, lineLimit);
        QFETCH(bool, portRefuses);
        QFETCH(int, speedAfter);
        QFETCH(QString, leave);
        Rig rig;
        QVERIFY(rig.start().ok());
        rig.port.lineLimit = lineLimit;
        rig.port.refuseSpeedChange = portRefuses;
        if (baud)
            QCOMPARE(rig.loader.changeBaud(std::uint32_t(baud)),
                     baud == speedAfter ? BaudOutcome::Changed : BaudOutcome::KeptOld);
        QCOMPARE(rig.port.baudRate, speedAfter);
        QCOMPARE(rig.port.chipBaud(), std::uint32_t(speedAfter));
        QCOMPARE(rig.loader.info().baud, std::uint32_t(speedAfter));
        QVERIFY(rig.loader.write(kFlashBase, Code(3000)).ok());
        QCOMPARE(FlashBytes(kFlashBase, 3000), Code(3000));
        if (leave == "stop") {
            // Stop comes while the host waits for a mass erase (5 s allowed): the wait ends.
            rig.port.faults = ParseFaults("host:drop:0x03:0,host:drop:0x03:1");
            QTimer::singleShot(50, &rig.link, [&] { rig.link.stop(); });
            QCOMPARE(rig.loader.massErase().outcome, LoaderOutcome::Stopped);
            QCOMPARE(rig.loader.stats().timeouts, 0);
        }
        rig.port.mute = leave == "silent";
        if (leave == "silent") {
            const qsizetype writtenBefore = rig.port.written.size();
            const LoaderResult result = rig.loader.write(kFlashBase, Random(8192, 3), {}, false);
            QCOMPARE(result.outcome, LoaderOutcome::NoAnswer);
            QCOMPARE(rig.loader.stats().timeouts, 6);  // the first try and five resends
            QCOMPARE(rig.port.discards, 6);
            QCOMPARE(rig.port.written.size() - writtenBefore, 2 + 5);  // a window of 2 first
        }
        if (leave == "go") {
            QVERIFY(rig.loader.go(0xFFFFFFFFu).ok());
        } else {
            rig.link.setStopped(true);  // as after Stop
            QCOMPARE(rig.loader.resetChip(2, false), !rig.port.mute);
            QVERIFY(rig.link.stopped());
            QVERIFY(!rig.loader.mayRun());
        }
        QCOMPARE(Chip().leftTo, rig.port.mute ? std::vector<std::uint32_t>{}
                                              : std::vector<std::uint32_t>{0xFFFFFFFFu});
        QCOMPARE(rig.port.baudRate, 115200);
        QVERIFY(rig.port.evenParity);
    }

    // Damaged lines: where every long frame is damaged, writes NAKed twice go on in halves until
    // they pass; where one byte in 2500 is, the window shrinks after a NAK (a full window sent
    // again for every damaged byte would send the data many times over). The data arrives whole.
    void damagedLine_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("lzma");
        QTest::addColumn<int>("damageLongerThan");
        QTest::addColumn<int>("damageEvery");
        QTest::newRow("long raw frames") << Random(8192, 11) << false << 700 << 0;
        QTest::newRow("long frames of one LZMA stream") << Code(8192) << true << 120 << 0;
        QTest::newRow("one byte in 2500, 14 KB window") << Random(32768, 12) << false << 0 << 2500;
    }

    void damagedLine() {
        QFETCH(QByteArray, data);
        QFETCH(bool, lzma);
        QFETCH(int, damageLongerThan);
        QFETCH(int, damageEvery);
        Rig rig;
        LoaderParameters parameters = rig.parameters();
        parameters.lzmaTable = lzma;
        parameters.ramEnd = 0x20005000;  // a window of 14 KB
        QVERIFY(rig.loader.start(*rig.binary, parameters).ok());
        const auto frames = rig.loader.writeRequests(kFlashBase, data, {}, lzma);
        QCOMPARE(frames.front().command, lzma ? loadercmd::kWriteLzma : loadercmd::kWrite);
        rig.port.damageLongerThan = damageLongerThan;
        rig.port.damageEvery = damageEvery;
        QVERIFY(rig.loader.write(kFlashBase, data, {}, lzma).ok());
        QCOMPARE(FlashBytes(kFlashBase, data.size()), data);
        const LoaderLinkStats& stats = rig.loader.stats();
        if (damageLongerThan) QVERIFY(stats.splits >= int(frames.size()));
        // About 5 times the data; 26 times with the whole window sent again after each NAK.
        if (damageEvery)
            QVERIFY2(stats.naks >= 10 && stats.bytesSent < 8 * data.size(),
                     QByteArray::number(stats.bytesSent));
    }

    // Programming that goes wrong says so. A refusal by the chip ends it with the chip's status,
    // address and command. A verify failure names the range the CRC found wrong and the first
    // byte that differs. A write the chip refused whose reply was lost comes back as DUP, "done
    // before": the chip's CRC must then decide, even without verify asked for. Afterwards the next
    // exchange finds the chip in step.
    void failureReported_data() {
        QTest::addColumn<QString>("faults");
        QTest::addColumn<bool>("protectPage3");  // write-protected and holding data
        QTest::addColumn<bool>("verify");
        QTest::addColumn<LoaderOutcome>("outcome");
        QTest::addColumn<int>("status");    // ChipError: the chip's status and command
        QTest::addColumn<int>("command");   //
        QTest::addColumn<uint>("address");  // ChipError: where; VerifyFailed: the first difference
        const auto row = [](const char* name, const char* faults, bool protect, bool verify,
                            LoaderOutcome outcome, int status, int command, uint address) {
            QTest::newRow(name) << QString(faults) << protect << verify << outcome << status
                                << command << address;
        };
        row("erase of a protected page", "", true, true, LoaderOutcome::ChipError, ST_PROTECTED,
            loadercmd::kErase, 0x08000C00u);
        // A flash bit falls as the first write arrives: the half-word is no longer erased.
        row("write over data", "host:decay:0x04:0:0x08000010", false, true,
            LoaderOutcome::ChipError, ST_NOT_ERASED, loadercmd::kWrite, 0x08000010u);
        row("a flash byte changes between the write and the CRC", "host:decay:0x06:0:0x08000C07",
            false, true, LoaderOutcome::VerifyFailed, 0, 0, 0x08000C07u);
        row("refused write, reply lost, no verify", "host:decay:0x04:0:0x08000010,chip:drop:0x04:0",
            false, false, LoaderOutcome::VerifyFailed, 0, 0, 0x08000010u);
    }

    void failureReported() {
        QFETCH(QString, faults);
        QFETCH(bool, protectPage3);
        QFETCH(bool, verify);
        QFETCH(LoaderOutcome, outcome);
        QFETCH(int, status);
        QFETCH(int, command);
        QFETCH(uint, address);
        Rig rig(faults);
        QVERIFY(rig.start().ok());
        if (protectPage3) Chip().protectedPages.insert(kFlashBase + 3 * kPageSize);
        Chip().flash[3 * kPageSize] = 0x12;
        LoaderProgramReport report;
        const LoaderResult result =
            ProgramThroughLoader(rig.loader, kFlashBase, Random(4096, 5), false, verify, &report);
        for (const Fault& f : rig.port.faults) QVERIFY2(f.done, "a fault did not happen");
        QCOMPARE(rig.loader.stats().unanswered > 0, faults.contains("chip:drop"));
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(report.verifyFailed, outcome == LoaderOutcome::VerifyFailed);
        if (outcome == LoaderOutcome::ChipError) {
            QCOMPARE(int(result.status), status);
            QCOMPARE(int(result.command), command);
            QCOMPARE(result.address, address);
        } else {
            QCOMPARE(report.mismatch.address, kFlashBase);
            QCOMPARE(report.mismatch.length, 4096u);
            QCOMPARE(report.firstDifference, address);
        }
        std::uint32_t crc = 0;
        QVERIFY(rig.loader.crc(kFlashBase + 0x8000, 1024, &crc).ok());
        QCOMPARE(crc, turbo::Crc32Words(QByteArray(1024, char(0xFF))));
    }
};

QTEST_MAIN(TestLoaderLink)
#include "tst_loaderlink.moc"
