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

using namespace loadertest;
using namespace praxon::flash;

namespace {

constexpr std::uint32_t kFlashBytes = 64 * 1024;
constexpr std::uint32_t kPageSize = 1024;

// One damage to one frame, chosen by direction, command (or reply code) and occurrence.
struct Fault {
    bool fromHost = true;
    enum Kind { Corrupt, Drop, Noise, Decay, Phantom } kind = Corrupt;  // named in this order
    int code = 0, occurrence = 0;
    std::uint32_t address = 0;  // Decay: the flash byte that changes before the frame runs
    int seen = 0;
    bool done = false;
};

// "host:corrupt:0x04:2" (the third WRITE frame arrives damaged), "chip:drop:0x06:0" (the first
// CRC reply is lost), "host:decay:0x06:0:0x08000404" (a flash byte changes before the first CRC).
std::vector<Fault> ParseFaults(const QString& text) {
    const QStringList kinds{"corrupt", "drop", "noise", "decay", "phantom"};
    std::vector<Fault> faults;
    for (const QString& item : text.split(',', Qt::SkipEmptyParts)) {
        const QStringList f = item.split(':');
        faults.push_back({f[0] == "host", Fault::Kind(kinds.indexOf(f[1])), f[2].toInt(nullptr, 16),
                          f[3].toInt(), f.value(4).toUInt(nullptr, 16)});
    }
    return faults;
}

// The port with the chip behind it: a ROM bootloader that takes Write Memory and Go, then the
// loader's engine from loader/src, started with the parameter block the host wrote.
class ChipPort : public FakePort {
public:
    std::vector<Fault> faults;
    // mute: the chip never answers the loader's frames; romRefusesData: NACK to Write Memory's
    // data; refuseSpeedChange: the port cannot set a speed.
    bool mute = false, romRefusesData = false, refuseSpeedChange = false;
    // Bytes at a port speed above lineLimit are garbled, a byte of every frame longer than
    // damageLongerThan is damaged, and one host byte in damageEvery (0: none of these).
    int lineLimit = 0, damageLongerThan = 0, damageEvery = 0;
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
    bool discardOutput() override { return ++discards > 0; }
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
                      Chip().ram.begin() + (address_ - kRamBase));
        const bool ok =
            was == Rom::Command ? rom_ != Rom::Command : !(was == Rom::WriteData && romRefusesData);
        deliver(QByteArray(1, char(ok ? 0x79 : 0x1F)));
        if (was != Rom::GoAddress) return;
        goAddress = address_;
        // The parameter block after the two vector words (both ends little-endian).
        std::memcpy(&params, &Chip().ram[goAddress + 8 - kRamBase], sizeof params);
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
                Chip().rx.push_back(garbled ? kLineError : std::uint8_t(byte));
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
        port.open("chip", 115200, nullptr);
        link.setStopped(false);
    }
    LoaderParameters parameters() const {
        return {115200, LoaderRamEnd(0x410, kFlashBytes, 0), kPageSize, kFlashBytes};
    }
    LoaderResult start() { return loader.start(*binary, parameters()); }
};

// One row of each table: what the test sets up and what it expects.
struct Choice {
    int pid, flashKb;
    uint loadAddress = 0, ramEnd = 0, pageSize = 0, bank2 = 0;  // loadAddress 0: no loader
};
struct Session {
    const char* faults;
    int naks = 0, timeouts = 0;
    bool dups = false;
    QList<int> changedPages = {}, writtenRanges = {};  // ranges: start page, count, ...
};
struct Leaving {
    int baud, lineLimit;  // baud 0: no change
    bool portRefuses;
    int speedAfter;
    QString leave;                 // go; reset; stop (during a wait), then reset; silent
    QByteArray data = Code(3000);  // written at the speed agreed
    bool compress = true, lzma = false;
    int damageLongerThan = 0, damageEvery = 0;
};
struct Failure {
    const char* faults;
    bool protectPage3, verify;  // page 3 holds data; protected: write-protected
    LoaderOutcome outcome;
    int status, command;  // ChipError: the chip's status and command
    uint address;         // ChipError: where; VerifyFailed: the first difference
};

}  // namespace

Q_DECLARE_METATYPE(LoaderOutcome)
Q_DECLARE_METATYPE(Choice)
Q_DECLARE_METATYPE(Session)
Q_DECLARE_METATYPE(Leaving)
Q_DECLARE_METATYPE(Failure)

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
        QTest::addColumn<Choice>("c");
        QTest::newRow("F103x8") << Choice{0x410, 64, 0x20000200, 0x20002800, 1024};
        QTest::newRow("F103xB: more RAM") << Choice{0x410, 128, 0x20000200, 0x20004000, 1024};
        QTest::newRow("F103xE: 2 KB pages") << Choice{0x414, 512, 0x20000200, 0x2000C000, 2048};
        QTest::newRow("F100 value line") << Choice{0x420, 128, 0x20000200, 0x20002000, 1024};
        QTest::newRow("F103xF: two banks")
            << Choice{0x430, 768, 0x20001000, 0x20014000, 2048, 0x08080000};
        QTest::newRow("F051x8: from the table") << Choice{0x440, 64, 0x20000800, 0x20002000, 1024};
        QTest::newRow("F303xC: from the table") << Choice{0x422, 256, 0x20001800, 0x2000A000, 2048};
        QTest::newRow("F030x4: too little RAM") << Choice{0x444, 16};
    }

    void chooseLoader() {
        QFETCH(Choice, c);
        const praxon::DeviceInfo* device = praxon::FindDevice(std::uint16_t(c.pid));
        QVERIFY(device);
        const auto choice = ChooseLoader(*device, std::uint16_t(c.pid),
                                         std::uint32_t(c.flashKb) * 1024, true, 460800);
        QCOMPARE(choice.has_value(), c.loadAddress != 0);
        if (!choice) return;
        QCOMPARE(choice->binary->loadAddress, c.loadAddress);
        QCOMPARE(choice->parameters.ramEnd, c.ramEnd);
        QCOMPARE(choice->parameters.pageSize, c.pageSize);
        QCOMPARE(choice->parameters.bank2Start, c.bank2);
    }

    // A loader that does not start leaves the ROM protocol in charge (the start that works is
    // checked in every session row).
    void start_data() {
        QTest::addColumn<bool>("romRefusesData");
        QTest::newRow("ROM refuses the image") << true;
        QTest::newRow("loader silent after Go") << false;
    }

    void start() {
        QFETCH(bool, romRefusesData);
        Rig rig;
        rig.port.romRefusesData = romRefusesData;
        rig.port.mute = !romRefusesData;
        QCOMPARE(rig.start().outcome, LoaderOutcome::NotStarted);
        if (rig.port.mute) QCOMPARE(rig.loader.stats().framesSent, 10);  // HELLO every 100 ms
    }

    // The mixed image programmed at 0x08002000 through a line with the faults given, then again
    // after the pages listed changed on the chip behind the host's back: each fault repaired as
    // counted, only the changed pages erased and written again, in runs, and nothing outside the
    // image's pages touched.
    void session_data() {
        QTest::addColumn<Session>("s");
        QTest::newRow("clean line") << Session{""};
        QTest::newRow("changed: the last page, the short one")
            << Session{"", 0, 0, false, {15}, {15, 1}};
        QTest::newRow("changed: two runs") << Session{"", 0, 0, false, {2, 3, 4, 9}, {2, 3, 9, 1}};
        QTest::newRow("changed: the erased page got data")
            << Session{"", 0, 0, false, {13}, {13, 1}};
        QTest::newRow("damaged write frame: NAK, resend") << Session{"host:corrupt:0x04:2", 1};
        QTest::newRow("lost write frame: gap NAK, resend") << Session{"host:drop:0x04:1", 1};
        QTest::newRow("lost compressed frame") << Session{"host:drop:0x05:0", 1};
        QTest::newRow("damaged erase frame") << Session{"host:corrupt:0x02:0", 1};
        QTest::newRow("lost write reply: the next reply shows it done")
            << Session{"chip:drop:0x04:1"};
        QTest::newRow("damaged CRC reply: asked again") << Session{"chip:corrupt:0x06:0"};
        QTest::newRow("lost COMPARE reply: asked again") << Session{"chip:drop:0x07:0", 0, 1, true};
        QTest::newRow("noise before a reply") << Session{"chip:noise:0x04:0"};
        QTest::newRow("lost last frame: timeout") << Session{"host:drop:0x06:1", 0, 1};
        QTest::newRow("NAK behind a header with a wrong length: found after the timeout")
            << Session{"host:corrupt:0x04:1,chip:phantom:0xee:0", 1, 1, true};
    }

    void session() {
        QFETCH(Session, s);
        Rig rig(s.faults);
        QVERIFY(rig.start().ok());
        // The image went to its load address and Go started it with the parameter block filled.
        QCOMPARE(rig.port.goAddress, rig.binary->loadAddress);
        QCOMPARE(rig.port.params.ram_end, 0x20002800u);
        QCOMPARE(rig.loader.info().rxSize, 0x20002800u - LoaderRxStart(*rig.binary));
        // 16 KB: random pages (sent raw), code (sent compressed), an erased page and a short tail.
        const QByteArray image =
            Random(6 * 1024, 7) + Code(7 * 1024) + QByteArray(1024, char(0xFF)) + Random(1500, 9);
        const std::uint32_t at = kFlashBase + 0x2000;
        LoaderProgramReport report;
        QCOMPARE(ProgramThroughLoader(rig.loader, at, image, true, true, &report).outcome,
                 LoaderOutcome::Done);
        for (const Fault& f : rig.port.faults) QVERIFY2(f.done, "a fault did not happen");
        const LoaderLinkStats& stats = rig.loader.stats();
        QCOMPARE(stats.naks, s.naks);
        QCOMPARE(stats.timeouts, s.timeouts);
        QCOMPARE(stats.dups > 0, s.dups);
        QCOMPARE(stats.resends, s.naks + s.timeouts);
        QCOMPARE(report.pagesWritten, 15);
        QCOMPARE(report.pagesSkipped, 1);  // all 0xFF in the image: the erased flash holds it
        for (int page : s.changedPages) Chip().flash[0x2000 + page * kPageSize + 10] ^= 0xFF;
        const int programs = Chip().programs, erases = Chip().erases;
        QVERIFY(ProgramThroughLoader(rig.loader, at, image, true, true, &report).ok());
        QList<int> ranges;
        for (const auto& range : report.written)
            ranges << int((range.address - at) / kPageSize) << int(range.length / kPageSize);
        QCOMPARE(ranges, s.writtenRanges);
        QCOMPARE(report.pagesWritten, int(s.changedPages.size()));
        QCOMPARE(Chip().erases - erases, int(s.changedPages.size()));
        if (s.changedPages.isEmpty()) QCOMPARE(Chip().programs, programs);  // nothing written
        QByteArray flash(int(kFlashBytes), char(0xFF));
        QCOMPARE(FlashBytes(kFlashBase, int(kFlashBytes)),
                 flash.replace(0x2000, image.size(), image));
    }

    // A line speed change, work at whatever speed both sides agreed, and leaving the loader: by
    // GO, or after Stop by a reset at the speed the loader runs at. A chip that stopped answering
    // may have reset into its ROM bootloader: from the first missing reply on, what is queued is
    // dropped and one frame at a time goes again; it is not reset. Either way the port ends at the
    // speed and even parity it had when the loader started. Damaged lines: where every long frame
    // is damaged, writes NAKed twice go on in halves until they pass; where one byte in 2500 is,
    // the window shrinks after a NAK (a full window sent again for every damaged byte would send
    // the data many times over). The data arrives whole.
    void lineSpeedAndLeaving_data() {
        QTest::addColumn<Leaving>("l");
        QTest::newRow("switch to 921600, GO") << Leaving{921600, 0, false, 921600, "go"};
        QTest::newRow("switch to 921600, reset") << Leaving{921600, 0, false, 921600, "reset"};
        QTest::newRow("line cannot carry it: both back")
            << Leaving{921600, 500000, false, 115200, "go"};
        QTest::newRow("port cannot set it: chip comes back")
            << Leaving{460800, 0, true, 115200, "go"};
        QTest::newRow("chip cannot make it, Stop") << Leaving{5000000, 0, false, 115200, "stop"};
        QTest::newRow("chip silent") << Leaving{0, 0, false, 115200, "silent"};
        QTest::newRow("long raw frames")
            << Leaving{0, 0, false, 115200, "go", Random(8192, 11), false, false, 700};
        QTest::newRow("long frames of one LZMA stream")
            << Leaving{0, 0, false, 115200, "go", Code(8192), true, true, 120};
        QTest::newRow("one byte in 2500, 14 KB window")
            << Leaving{0, 0, false, 115200, "go", Random(32768, 12), false, false, 0, 2500};
    }

    void lineSpeedAndLeaving() {
        QFETCH(Leaving, l);
        Rig rig;
        LoaderParameters parameters = rig.parameters();
        parameters.lzmaTable = l.lzma;
        if (l.damageLongerThan || l.damageEvery) parameters.ramEnd = 0x20005000;  // 14 KB window
        QVERIFY(rig.loader.start(*rig.binary, parameters).ok());
        rig.port.lineLimit = l.lineLimit;
        rig.port.refuseSpeedChange = l.portRefuses;
        if (l.baud)
            QCOMPARE(rig.loader.changeBaud(std::uint32_t(l.baud)),
                     l.baud == l.speedAfter ? BaudOutcome::Changed : BaudOutcome::KeptOld);
        QCOMPARE(rig.port.baudRate, l.speedAfter);
        QCOMPARE(rig.port.chipBaud(), std::uint32_t(l.speedAfter));
        QCOMPARE(rig.loader.info().baud, std::uint32_t(l.speedAfter));
        const auto frames = rig.loader.writeRequests(kFlashBase, l.data, {}, l.compress);
        if (l.lzma) QCOMPARE(frames.front().command, loadercmd::kWriteLzma);
        rig.port.damageLongerThan = l.damageLongerThan;
        rig.port.damageEvery = l.damageEvery;
        QVERIFY(rig.loader.write(kFlashBase, l.data, {}, l.compress).ok());
        QCOMPARE(FlashBytes(kFlashBase, l.data.size()), l.data);
        const LoaderLinkStats& stats = rig.loader.stats();
        if (l.damageLongerThan) QVERIFY(stats.splits >= int(frames.size()));
        // About 5 times the data; 26 times with the whole window sent again after each NAK.
        if (l.damageEvery)
            QVERIFY2(stats.naks >= 10 && stats.bytesSent < 8 * l.data.size(),
                     QByteArray::number(stats.bytesSent));
        if (l.leave == "stop") {
            // Stop comes while the host waits for a mass erase (5 s allowed): the wait ends.
            rig.port.faults = ParseFaults("host:drop:0x03:0,host:drop:0x03:1");
            QTimer::singleShot(50, &rig.link, [&] { rig.link.stop(); });
            QCOMPARE(rig.loader.massErase().outcome, LoaderOutcome::Stopped);
            QCOMPARE(stats.timeouts, 0);
        }
        rig.port.mute = l.leave == "silent";
        if (rig.port.mute) {
            const qsizetype writtenBefore = rig.port.written.size();
            QCOMPARE(rig.loader.write(kFlashBase, Random(8192, 3), {}, false).outcome,
                     LoaderOutcome::NoAnswer);
            QCOMPARE(stats.timeouts, 6);  // the first try and five resends
            QCOMPARE(rig.port.discards, 6);
            QCOMPARE(rig.port.written.size() - writtenBefore, 2 + 5);  // a window of 2 first
        }
        if (l.leave == "go") {
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

    // Programming that goes wrong says so. A refusal by the chip ends it with the chip's status,
    // address and command. A verify failure names the range the CRC found wrong and the first
    // byte that differs. A write the chip refused whose reply was lost comes back as DUP, "done
    // before": the chip's CRC must then decide, even without verify asked for. Afterwards the next
    // exchange finds the chip in step.
    void failureReported_data() {
        QTest::addColumn<Failure>("f");
        QTest::newRow("erase of a protected page") << Failure{
            "", true, true, LoaderOutcome::ChipError, ST_PROTECTED, loadercmd::kErase, 0x08000C00u};
        // A flash bit falls as the first write arrives: the half-word is no longer erased.
        QTest::newRow("write over data") << Failure{"host:decay:0x04:0:0x08000010",
                                                    false,
                                                    true,
                                                    LoaderOutcome::ChipError,
                                                    ST_NOT_ERASED,
                                                    loadercmd::kWrite,
                                                    0x08000010u};
        QTest::newRow("a flash byte changes between the write and the CRC")
            << Failure{"host:decay:0x06:0:0x08000C07",
                       false,
                       true,
                       LoaderOutcome::VerifyFailed,
                       0,
                       0,
                       0x08000C07u};
        QTest::newRow("refused write, reply lost, no verify")
            << Failure{"host:decay:0x04:0:0x08000010,chip:drop:0x04:0",
                       false,
                       false,
                       LoaderOutcome::VerifyFailed,
                       0,
                       0,
                       0x08000010u};
    }

    void failureReported() {
        QFETCH(Failure, f);
        Rig rig(f.faults);
        QVERIFY(rig.start().ok());
        if (f.protectPage3) Chip().protectedPages.insert(kFlashBase + 3 * kPageSize);
        Chip().flash[3 * kPageSize] = 0x12;
        LoaderProgramReport report;
        const LoaderResult result =
            ProgramThroughLoader(rig.loader, kFlashBase, Random(4096, 5), false, f.verify, &report);
        for (const Fault& fault : rig.port.faults) QVERIFY2(fault.done, "a fault did not happen");
        QCOMPARE(rig.loader.stats().unanswered > 0, QString(f.faults).contains("chip:drop"));
        QCOMPARE(result.outcome, f.outcome);
        QCOMPARE(report.verifyFailed, f.outcome == LoaderOutcome::VerifyFailed);
        if (f.outcome == LoaderOutcome::ChipError) {
            QCOMPARE(int(result.status), f.status);
            QCOMPARE(int(result.command), f.command);
            QCOMPARE(result.address, f.address);
        } else {
            QCOMPARE(report.mismatch.address, kFlashBase);
            QCOMPARE(report.mismatch.length, 4096u);
            QCOMPARE(report.firstDifference, f.address);
        }
        std::uint32_t crc = 0;
        QVERIFY(rig.loader.crc(kFlashBase + 0x8000, 1024, &crc).ok());
        QCOMPARE(crc, turbo::Crc32Words(QByteArray(1024, char(0xFF))));
    }
};

QTEST_MAIN(TestLoaderLink)
#include "tst_loaderlink.moc"
