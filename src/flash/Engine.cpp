#include "Engine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "BootLink.h"
#include "Commands.h"
#include "Device.h"
#include "Format.h"
#include "IntelHex.h"

namespace praxon {
namespace {

// Erase times of the device table are for genuine parts; clone flash may be slower.
constexpr qint64 kSlowFlashMargin = 2;
// Added to the reply limit for the answer to written data, for the same reason.
constexpr qint64 kWriteNs = 500'000'000;
// Option-byte work of Readout Protect.
constexpr qint64 kOptionBytesNs = 2'000'000'000;
// Mass erase of a chip the table does not know.
constexpr qint64 kUnknownMassEraseNs = 35'000'000'000;
// Page numbers one command carries at most: Erase's count is a byte; Extended Erase's was
// refused above 511 by some chips.
constexpr size_t kPagesPerErase = 255;
constexpr size_t kPagesPerExtendedErase = 511;
// Where the original tool read the flash size when the chip did not say what it is.
constexpr uint32_t kF1FlashSizeRegister = 0x1FFFF7E0;
const QString kOriginalFamily = QStringLiteral("STM32F10x");
const QString kUnitsUnknown =
    QStringLiteral("该器件的页(扇区)划分由选项字节决定，无法按页擦除，请选择整片擦除。");

QString hex8(uint32_t value) {
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

QString hex4(uint32_t value) {
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

int givenCount(const AlignedBlock& block) {
    return int(std::count(block.given.begin(), block.given.end(), true));
}

}  // namespace

struct ReadFailureTexts;

struct Engine::Private {
    Private(Engine& e, Host& h, SerialPort& p) : engine(e), host(h), link(h, p) {}

    Engine& engine;
    Host& host;
    BootLink link;
    TargetInfo target;
    WriteMode mode = WriteMode::Fast;
    LineOptions lines;
    int flashOverrideKB = 0;
    bool busy = false;

    // Marks one user operation as running; a second one is refused until it ends.
    class Operation {
    public:
        explicit Operation(Private& d) : d_(d), started_(!d.busy) {
            if (!started_) return;
            d_.busy = true;
            emit d_.engine.busyChanged(true);
        }
        ~Operation() {
            if (!started_) return;
            d_.link.setStopped(true);
            d_.busy = false;
            emit d_.engine.busyChanged(false);
        }
        bool refused() const { return !started_; }

    private:
        Private& d_;
        bool started_;
    };

    bool fast() const { return mode != WriteMode::Compatible; }
    // In fast mode the log says why a step failed; compatible mode keeps the original lines only.
    void logReason(const QString& what, const CommandResult& result);
    bool readable() const { return target.flashSizeKB > 0; }
    // The chip may be one the original tool was made for: its wire and log are kept as they were.
    bool mayBeOriginal() const {
        return !target.pid || (target.device && target.device->family == kOriginalFamily);
    }
    // The chip's flash as known (no more than the line has, unless stated), or the line's largest.
    uint32_t flashBytes() const {
        return target.flashSizeKB > 0 ? std::min(uint32_t(target.flashSizeKB) * 1024, flashExtent())
                                      : target.device->maxFlashBytes;
    }
    bool flashSizeKnown() const { return target.flashSizeKB > 0 && !target.flashSizeAssumed; }
    // What may be written and erased: the product line's flash, or more when the user said so.
    uint32_t flashExtent() const {
        return std::max(target.device->maxFlashBytes, uint32_t(flashOverrideKB) * 1024);
    }
    // Erase and program need the table's entry: refused (shown as a message or logged) without.
    bool refuseUnknownChip(bool asMessage);

    void identify();
    void askBootloader();
    void learnFlashSize();
    bool readBlock(uint32_t address, int n, uint8_t* out);
    void logReadFailure(const CommandResult& r, const ReadFailureTexts& texts);
    bool eraseChip(std::vector<AddressRange>* erased);
    bool massErase();
    bool eraseUnits(const std::vector<uint32_t>& units, const QString& startLine);
    bool eraseFailed(const CommandResult& r);
    bool checkImage(const FirmwareImage& image, EraseScope scope);
    bool writeImage(const FirmwareImage& image, const std::vector<AddressRange>& erased,
                    bool verify);
    bool verifyBlock(const AlignedBlock& block);
    bool verifyImage(const FirmwareImage& image);
    bool readProtect();
    bool runProgram(uint32_t address);
    bool readRange(QIODevice& out, ImageFormat format, uint32_t address, qint64 length,
                   bool wholeFlash);
};

Engine::Engine(Host& host, SerialPort& port, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(*this, host, port)) {}

Engine::~Engine() = default;

void Engine::initialise() {
    d->link.setStopped(true);
    d->host.setLamp(Lamp::Gray);
    d->link.enableCommands(false, false);
}

WriteMode Engine::mode() const {
    return d->mode;
}

void Engine::setMode(WriteMode mode) {
    d->mode = mode;
    d->link.setQuietReplies(mode == WriteMode::Compatible);
}

const LineOptions& Engine::lineOptions() const {
    return d->lines;
}

void Engine::setLineOptions(const LineOptions& options) {
    d->lines = options;
    d->link.setLineSettings(options.baudRate, options.boot ? options.boot->idle : LineSequence());
}

bool Engine::busy() const {
    return d->busy;
}

const TargetInfo& Engine::target() const {
    return d->target;
}

int Engine::flashSizeOverride() const {
    return d->flashOverrideKB;
}

void Engine::setFlashSizeOverride(int kilobytes) {
    d->flashOverrideKB = std::max(0, kilobytes);
}

void Engine::setReplyTimeout(int milliseconds) {
    d->link.setReplyTimeout(qint64(milliseconds) * 1'000'000);
}

void Engine::setTimeOfDaySource(std::function<QTime()> source) {
    d->link.setTimeOfDaySource(std::move(source));
}

void Engine::stop() {
    d->link.stop();
}

void Engine::Private::logReason(const QString& what, const CommandResult& result) {
    if (!fast() || result.ok()) return;
    link.log(what + QStringLiteral(": ") + BootLink::describe(result.reply) + QStringLiteral("。"));
}

// ---------------------------------------------------------------------------------------------
// Connect

bool Engine::openPort(const QString& port) {
    // Reopening the port under a running operation would cut it off.
    if (d->busy) return false;
    return d->link.openPort(port);
}

bool Engine::connect(const QString& port) {
    Private::Operation op(*d);
    if (op.refused()) return false;
    BootLink& link = d->link;
    d->host.setLamp(Lamp::Gray);
    d->host.setStatusText(StatusField::Link, QStringLiteral("未连接."));
    d->host.setStatusText(StatusField::Device, QString());
    link.log(QStringLiteral("连接目标板......"));
    d->target = TargetInfo();
    link.setStopped(false);
    if (!link.openPort(port)) {
        link.log(QStringLiteral("指定的串行口不存在或被其它应用程序占用。"));
        return false;
    }
    // A board wired for it is reset into its bootloader.
    if (d->lines.boot && !link.runLines(d->lines.boot->entry)) {
        link.log(QStringLiteral("目标板未响应，检查连接情况，请复位后再次连接。"));
        return false;
    }
    Reply sync = link.sync();
    if (sync.status == ReplyStatus::Timeout) {
        // A bootloader that was synchronised before takes this 0x7F for a command byte and waits
        // for its complement: a second 0x7F is a wrong one, which it answers with NACK.
        const Reply again = link.sync();
        // An ACK now may be the first 0x7F's answer come late, which leaves the second one
        // pending as a command byte: not a state to go on from.
        if (again.status == ReplyStatus::Nack && again.last == kNack) {
            link.log(QStringLiteral("目标板已处于同步状态（未复位），继续连接。"));
            sync = Reply{ReplyStatus::Ack, kAck, kAck};
        }
    }
    if (sync.ok()) {
        d->host.setLamp(Lamp::Green);
        d->host.setStatusText(StatusField::Link, QStringLiteral("已连接."));
        d->host.setStatusText(StatusField::Progress, QStringLiteral("收到ACK，可以ISP了。"));
    } else {
        if (sync.status == ReplyStatus::Nack)
            d->host.setStatusText(StatusField::Progress,
                                  QStringLiteral("收到NACK，请复位目标板并重新连接。"));
        else if (sync.status == ReplyStatus::Timeout)
            d->host.setStatusText(StatusField::Progress,
                                  QStringLiteral("请复位目标板并重新连接！"));
        link.log(QStringLiteral("目标板未响应，检查连接情况，请复位后再次连接。"));
        return false;
    }
    link.log(QStringLiteral("连接成功，准备获取器件信息......"));
    d->identify();
    d->askBootloader();
    d->learnFlashSize();
    link.enableCommands(true, d->readable());
    return true;
}

void Engine::Private::identify() {
    uint16_t pid = 0;
    QString id;
    const CommandResult r = GetId(link, &pid, &id);
    if (r.failed == Step::Command) {
        logReason(QStringLiteral("读取器件信息失败"), r);
        return;
    }
    if (!r.ok()) {
        link.log(QStringLiteral("器件信息不可识别."));
        return;
    }
    target.pid = pid;
    target.device = FindDevice(pid);
    const QString name = target.device ? target.device->family : QStringLiteral("未知器件");
    const QString text = name + QStringLiteral(", PID=") + id;
    host.setStatusText(StatusField::Device, text);
    link.log(QStringLiteral("器件信息为") + text);
}

// Get tells the protocol version and the commands, among them which erase the bootloader has.
// Compatible mode does not ask a chip that may be an STM32F10x: it gets the original sequence.
void Engine::Private::askBootloader() {
    const DeviceInfo* dev = target.device;
    if (fast() || !mayBeOriginal()) {
        uint8_t version = 0;
        std::vector<uint8_t> commands;
        const CommandResult r = GetCommands(link, &version, &commands);
        if (r.ok()) {
            target.version = version;
            target.commands = commands;
            if (fast() && !mayBeOriginal())
                link.log(QStringLiteral("Bootloader版本: ") +
                         QString::number(version >> 4, 16).toUpper() + QLatin1Char('.') +
                         QString::number(version & 0xF, 16).toUpper());
        } else {
            logReason(QStringLiteral("读取Bootloader命令失败"), r);
        }
    }
    const auto offers = [&](uint8_t c) {
        return std::find(target.commands.begin(), target.commands.end(), c) !=
               target.commands.end();
    };
    if (!target.commands.empty())
        target.eraseCommand = offers(0x44) ? 0x44 : offers(0x43) ? 0x43 : 0;
    else if (dev)
        target.eraseCommand = dev->expectedEraseCommand();
    if (!target.version && dev) target.version = dev->protocol;
}

void Engine::Private::learnFlashSize() {
    const DeviceInfo* dev = target.device;
    std::optional<uint16_t> value;  // the size register's value
    bool unreadable = false;
    if (mayBeOriginal()) {
        // Four bytes as the original tool read them; GD32 parts keep their RAM size above.
        uint8_t word[4] = {};
        if (readBlock(dev ? dev->flashSizeRegister : kF1FlashSizeRegister, 4, word)) {
            value = uint16_t(word[0] | word[1] << 8);
            const int ram = word[2] | word[3] << 8;
            target.ramSizeKB = ram == 0xFFFF || ram == 0 ? -1 : ram;
        } else {
            unreadable = true;
        }
    } else if (dev) {
        // The word around the value: some chips refuse reads of two bytes there.
        const uint32_t at = dev->flashSizeRegister & ~3u;
        uint8_t word[4] = {};
        const CommandResult r = ReadMemory(link, at, 4, word, false);
        if (r.ok()) {
            const int offset = int(dev->flashSizeRegister - at);
            value = uint16_t(word[offset] | (offset < 3 ? word[offset + 1] << 8 : 0));
        } else {
            unreadable = true;
            logReason(QStringLiteral("读取") + hex8(at) + QStringLiteral("失败"), r);
        }
    }
    int kb = -1;
    if (value && dev) {
        switch (dev->sizeCoding) {
            case SizeCoding::Codes:
                for (const auto& [code, bytes] : dev->sizeCodes)
                    if (code == *value) kb = int(bytes / 1024);
                break;
            case SizeCoding::KiBLowByte:
                kb = *value & 0xFF;
                break;
            default:
                kb = *value;
                break;
        }
    } else if (value) {
        kb = *value;
    }
    // 0 and 0xFFFF (unprogrammed) say nothing: early L1 and some F103 clones read 0 there.
    if (kb == 0 || kb == 0xFFFF) kb = -1;
    if (flashOverrideKB > 0) {
        target.flashSizeKB = flashOverrideKB;
        link.log(QStringLiteral("FLASH容量按指定值计: ") + QString::number(flashOverrideKB) +
                 QStringLiteral("K."));
    } else if (kb > 0) {
        target.flashSizeKB = kb;
    } else if (dev && !(unreadable && mayBeOriginal() && !fast())) {
        // Compatible mode leaves an unreadable STM32F10x register unknown, as the original tool.
        target.flashSizeKB = int(dev->maxFlashBytes / 1024);
        target.flashSizeAssumed = true;
        const QString what =
            value ? QStringLiteral("FLASH容量寄存器读数为") + hex4(*value) + QStringLiteral("，")
                  : QStringLiteral("FLASH容量寄存器不可读，");
        link.log(what + QStringLiteral("按该系列最大容量") + QString::number(target.flashSizeKB) +
                 QStringLiteral("K计."));
    }
    if (target.flashSizeKB < 1) {
        link.log(target.pid && !dev ? QStringLiteral("器件未识别，FLASH容量未知.")
                                    : QStringLiteral("取器件存储器容量失败."));
        return;
    }
    const QString ram = target.ramSizeKB < 0
                            ? QStringLiteral("未知.")
                            : QString::number(target.ramSizeKB) + QStringLiteral("K.");
    link.log(QStringLiteral("FLASH容量为: ") + QString::number(target.flashSizeKB) +
             QStringLiteral("K; RAM容量为: ") + ram);
}

bool Engine::Private::refuseUnknownChip(bool asMessage) {
    if (target.device) return false;
    const QString text =
        target.pid ? QStringLiteral("未知器件(PID=") + hex4(*target.pid) +
                         QStringLiteral(")，不知道它的FLASH如何擦除和写入，不能擦除或编程。")
                   : QStringLiteral("器件未识别，不能擦除或编程。");
    if (asMessage)
        host.showMessage(text);
    else
        link.log(text);
    return true;
}

// What a failed Read Memory logs, step by step: a read of the chip and a compatible-mode verify
// have always said it in different words.
struct ReadFailureTexts {
    const char* command;
    const char* address;
    const char* count;
    const char* refused;
    const char* timeout;
};
constexpr ReadFailureTexts kReadTexts{"下发读命令失败。", "下发地址命令失败。", "下发读个数失败。",
                                      "读存储器内容非ACK应答, 中止读数.", "读存储器内容超时."};
constexpr ReadFailureTexts kVerifyTexts{"下发送命令失败", "下发地址命令失败", "下发读个数失败",
                                        "非ACK应答，数据校验不正确.", "超时."};

void Engine::Private::logReadFailure(const CommandResult& r, const ReadFailureTexts& texts) {
    const char* text = r.failed == Step::Command   ? texts.command
                       : r.failed == Step::Address ? texts.address
                       : r.failed == Step::Count   ? texts.count
                       : r.reply.status == ReplyStatus::Nack ? texts.refused
                                                             : texts.timeout;
    link.log(QString::fromUtf8(text));
}

bool Engine::Private::readBlock(uint32_t address, int n, uint8_t* out) {
    const CommandResult r = ReadMemory(link, address, n, out);
    if (r.ok()) return true;
    logReadFailure(r, kReadTexts);
    logReason(QStringLiteral("读取") + hex8(address) + QStringLiteral("失败"), r);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Image

std::optional<FirmwareImage> Engine::loadImage(const ImageSource& source) {
    Private::Operation op(*d);
    if (op.refused()) return std::nullopt;
    Host& host = d->host;
    const QString path = source.path.trimmed();
    if (path.isEmpty()) {
        host.showMessage(QStringLiteral("请指定下载文件。"));
        return std::nullopt;
    }
    if (!QFileInfo::exists(path)) {
        host.showMessage(QStringLiteral("指定的文件不存在，请重新打开。"));
        return std::nullopt;
    }
    std::ifstream in;
    if (!QFileInfo(path).isDir()) in.open(QFile::encodeName(path).toStdString(), std::ios::binary);
    if (!in.is_open()) {
        host.showMessage(QStringLiteral("无法打开文件: ") + path);
        return std::nullopt;
    }
    FirmwareImage image;
    ImageLoadError error;
    const bool ok = source.format == ImageFormat::Hex
                        ? ReadHexImage(in, &image, &error)
                        : ReadBinaryImage(in, source.loadAddress, &image, &error);
    if (ok) return image;
    switch (error.kind) {
        case ImageLoadError::BadLine:
            if (!error.message.empty()) host.showMessage(QString::fromStdString(error.message));
            host.showMessage(QStringLiteral("HEX数据有误，下载失败！") +
                             QString::fromStdString(error.line));
            break;
        case ImageLoadError::NoEndRecord:
            host.showMessage(QStringLiteral("HEX文件没有结束记录，文件可能不完整，下载失败！"));
            break;
        case ImageLoadError::Conflict:
            host.showMessage(QStringLiteral("HEX文件中地址") + hex8(error.address) +
                             QStringLiteral("的数据前后不一致，下载失败！"));
            break;
        case ImageLoadError::Empty:
            host.showMessage(QStringLiteral("文件中没有可下载的数据，下载失败！"));
            break;
        case ImageLoadError::TooLarge:
            host.showMessage(QStringLiteral("文件超出32位地址空间，下载失败！"));
            break;
        case ImageLoadError::None:
            break;
    }
    host.showMessage(QStringLiteral("下载失败。"));
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Program

bool Engine::program(const FirmwareImage& image, const ProgramOptions& options) {
    Private::Operation op(*d);
    if (op.refused()) return false;
    BootLink& link = d->link;
    if (d->refuseUnknownChip(true) || !d->checkImage(image, options.erase)) {
        d->host.showMessage(QStringLiteral("下载失败。"));
        return false;
    }
    std::vector<AddressRange> erased;
    const DeviceInfo* device = d->target.device;
    link.setStopped(false);
    if (options.erase == EraseScope::Chip) {
        if (!d->eraseChip(&erased)) return false;
    } else if (options.erase == EraseScope::Pages) {
        const std::vector<uint32_t> units = device->unitsTouched(image, d->flashExtent());
        if (!units.empty() && !d->eraseUnits(units, QString())) return false;
        for (uint32_t unit : units) erased.push_back(device->unit(unit, d->flashExtent()));
    }
    // A Stop that came with the erase's last answer ends the operation here.
    if (link.stopped()) {
        d->host.showMessage(QStringLiteral("下载失败。"));
        return false;
    }
    link.log(QStringLiteral("开始编程......"));
    QElapsedTimer clock;
    clock.start();
    if (!d->writeImage(image, erased, options.verify)) {
        link.setStopped(true);
        d->host.showMessage(QStringLiteral("下载失败。"));
        return false;
    }
    d->host.setStatusText(StatusField::Progress, QStringLiteral("下载结束."));
    link.log(QStringLiteral("编程成功, 用时共") + SecondsText(clock.nsecsElapsed()) +
             QStringLiteral("秒。"));
    // Part of the same operation, so these do not pass the busy guard again.
    if (options.protect && !d->readProtect()) return false;
    if (options.run) return d->runProgram(options.goAddress);
    return true;
}

bool Engine::Private::checkImage(const FirmwareImage& image, EraseScope scope) {
    const DeviceInfo* dev = target.device;
    if (scope != EraseScope::None && target.eraseCommand == 0) {
        host.showMessage(QStringLiteral("Bootloader没有擦除命令，无法擦除。"));
        return false;
    }
    if (scope == EraseScope::Pages && !dev->unitsKnown(flashBytes(), flashSizeKnown())) {
        host.showMessage(kUnitsUnknown);
        return false;
    }
    std::vector<AddressRange> writable = dev->ram;
    writable.push_back({dev->flashBase, uint64_t(dev->flashBase) + flashExtent()});
    for (const ImageSegment& segment : image.segments()) {
        uint64_t at = segment.address;
        // Walk the segment through the writable ranges; the first byte outside names the problem.
        while (at < segment.end()) {
            const auto inside =
                std::find_if(writable.begin(), writable.end(),
                             [&](const AddressRange& r) { return at >= r.begin && at < r.end; });
            if (inside == writable.end()) {
                host.showMessage(QStringLiteral("地址") + hex8(uint32_t(at)) +
                                 QStringLiteral("超出器件可写入的存储器范围，下载失败！"));
                return false;
            }
            at = inside->end;
        }
    }
    return true;
}

// The whole flash: one command where the bootloader has it, unit by unit where not (L0, L1).
bool Engine::Private::eraseChip(std::vector<AddressRange>* erased) {
    const DeviceInfo* dev = target.device;
    const AddressRange flash{dev->flashBase, uint64_t(dev->flashBase) + flashExtent()};
    if (dev->massErase) {
        if (!massErase()) return false;
        if (erased) erased->push_back(flash);
        return true;
    }
    const uint32_t bytes = flashBytes();
    const std::vector<uint32_t> units =
        dev->unitsCovering({dev->flashBase, uint64_t(dev->flashBase) + bytes}, bytes);
    if (!eraseUnits(units, QStringLiteral("开始整片擦除......"))) return false;
    for (uint32_t unit : units)
        if (erased) erased->push_back(dev->unit(unit, bytes));
    return true;
}

bool Engine::Private::massErase() {
    if (target.eraseCommand == 0) {
        link.log(QStringLiteral("Bootloader没有擦除命令，无法擦除。"));
        return false;
    }
    const CommandResult r = MassErase(link, target.eraseCommand,
                                      kSlowFlashMargin * target.device->massEraseMs * 1'000'000);
    if (r.failed != Step::Command) link.log(QStringLiteral("开始整片擦除......"));
    if (r.ok()) {
        host.setStatusText(StatusField::Progress, QStringLiteral("Flash擦除完毕。"));
        link.log(QStringLiteral("擦除成功。"));
        return true;
    }
    return eraseFailed(r);
}

bool Engine::Private::eraseFailed(const CommandResult& r) {
    host.setStatusText(StatusField::Progress, QStringLiteral("Flash擦除失败。"));
    link.log(QStringLiteral("擦除失败，请清除读保护......"));
    logReason(QStringLiteral("擦除"), r);
    return false;
}

// Units by number; a bank they cover whole goes with one bank erase.
bool Engine::Private::eraseUnits(const std::vector<uint32_t>& units, const QString& startLine) {
    const DeviceInfo* dev = target.device;
    const uint8_t opcode = target.eraseCommand;
    if (opcode == 0) {
        link.log(QStringLiteral("Bootloader没有擦除命令，无法擦除。"));
        return false;
    }
    if (opcode == 0x43 && units.back() > 0xFF) {
        link.log(QStringLiteral("页号") + QString::number(units.back()) +
                 QStringLiteral("超出擦除命令的范围(0~255)，无法擦除。"));
        return false;
    }
    link.log(startLine.isEmpty() ? QStringLiteral("开始擦除") + QString::number(units.size()) +
                                       QStringLiteral("页......")
                                 : startLine);
    std::vector<uint32_t> rest = units;
    const uint32_t bytes = flashBytes();
    const uint32_t bank2 = dev->bank2Address(bytes, flashSizeKnown());
    if (opcode == 0x44 && dev->massErase && bank2) {
        const uint64_t end = uint64_t(dev->flashBase) + bytes;
        const std::vector<uint32_t> banks[2] = {dev->unitsCovering({dev->flashBase, bank2}, bytes),
                                                dev->unitsCovering({bank2, end}, bytes)};
        for (int bank = 1; bank <= 2; ++bank) {
            const std::vector<uint32_t>& whole = banks[bank - 1];
            if (whole.empty() ||
                !std::includes(rest.begin(), rest.end(), whole.begin(), whole.end()))
                continue;
            const CommandResult r =
                BankErase(link, bank, kSlowFlashMargin * dev->massEraseMs * 1'000'000);
            if (!r.ok()) return eraseFailed(r);
            std::vector<uint32_t> left;
            std::set_difference(rest.begin(), rest.end(), whole.begin(), whole.end(),
                                std::back_inserter(left));
            rest.swap(left);
        }
    }
    const size_t perCommand = opcode == 0x43 ? kPagesPerErase : kPagesPerExtendedErase;
    for (size_t i = 0; i < rest.size(); i += perCommand) {
        const std::vector<uint32_t> part(
            rest.begin() + long(i), rest.begin() + long(std::min(rest.size(), i + perCommand)));
        qint64 eraseNs = 0;
        for (uint32_t unit : part)
            eraseNs += kSlowFlashMargin * dev->unitEraseNs(unit, flashExtent());
        const CommandResult r = ErasePages(link, opcode, part, eraseNs);
        if (!r.ok()) return eraseFailed(r);
    }
    host.setStatusText(StatusField::Progress, QStringLiteral("Flash擦除完毕。"));
    link.log(QStringLiteral("擦除成功。"));
    return true;
}

bool Engine::Private::writeImage(const FirmwareImage& image,
                                 const std::vector<AddressRange>& erased, bool verify) {
    const DeviceInfo* dev = target.device;
    std::vector<AlignedBlock> blocks;
    // Compatible mode writes record by record where the chip takes 4-byte words erased to 0xFF,
    // as the original tool did; other chips get aligned blocks padded with their erased value.
    if (fast() || dev->writeAlign != 4 || dev->erasedValue != 0xFF) {
        FastPlanOptions plan;
        plan.erased = erased;
        plan.erasedValue = dev->erasedValue;
        plan.alignment = dev->writeAlign;
        blocks = PlanFastWrite(image, plan);
    } else {
        blocks = PlanRecordWrite(image);
    }
    qint64 total = 0, done = 0;
    for (const AlignedBlock& block : blocks) total += givenCount(block);
    for (const AlignedBlock& block : blocks) {
        const CommandResult r =
            WriteMemory(link, block.address, block.bytes.data(), int(block.bytes.size()), kWriteNs);
        if (!r.ok()) {
            logReason(QStringLiteral("写入") + hex8(block.address) + QStringLiteral("失败"), r);
            return false;
        }
        // Compatible mode checks each record as soon as it is written, as the original tool did.
        if (verify && !fast() && !verifyBlock(block)) return false;
        done += givenCount(block);
        const QString text = DownloadProgressText(done, total);
        host.setStatusText(StatusField::Progress, text);
        host.progress(done, total);
        if (link.stopped()) return false;
    }
    if (verify && fast()) return verifyImage(image);
    return true;
}

bool Engine::Private::verifyBlock(const AlignedBlock& block) {
    const int first = block.firstGiven(), last = block.lastGiven();
    const int n = last - first + 1;
    uint8_t readBack[256];
    const CommandResult r = ReadMemory(link, block.address + uint32_t(first), n, readBack);
    if (!r.ok()) {
        logReadFailure(r, kVerifyTexts);
        return false;
    }
    for (int i = 0; i < n; ++i) {
        if (block.given[size_t(first + i)] && readBack[i] != block.bytes[size_t(first + i)]) {
            link.log(QStringLiteral("数据校验不正确."));
            return false;
        }
    }
    return true;
}

bool Engine::Private::verifyImage(const FirmwareImage& image) {
    const std::vector<AddressRange> reads = PlanVerifyReads(image, 256);
    qint64 total = 0, done = 0;
    for (const AddressRange& range : reads) total += qint64(range.end - range.begin);
    uint8_t readBack[256];
    for (const AddressRange& range : reads) {
        const int n = int(range.end - range.begin);
        const CommandResult r = ReadMemory(link, range.begin, n, readBack);
        if (!r.ok()) {
            link.log(QStringLiteral("校验时读取") + hex8(range.begin) + QStringLiteral("失败: ") +
                     BootLink::describe(r.reply) + QStringLiteral("。"));
            return false;
        }
        for (int i = 0; i < n; ++i) {
            const uint32_t address = range.begin + uint32_t(i);
            const std::optional<uint8_t> expected = image.byteAt(address);
            if (expected && *expected != readBack[i]) {
                link.log(QStringLiteral("数据校验不正确. 首个不一致的地址为") + hex8(address) +
                         QStringLiteral(": 应为") + BootLink::hex2(*expected) +
                         QStringLiteral(", 读回") + BootLink::hex2(readBack[i]) +
                         QStringLiteral("."));
                return false;
            }
        }
        done += n;
        host.setStatusText(StatusField::Progress,
                           QStringLiteral("校验") +
                               QString::asprintf("%05.2f", 100.0 * double(done) / double(total)) +
                               QStringLiteral("%."));
        host.progress(done, total);
        if (link.stopped()) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Read

bool Engine::readToFile(const QString& path, ImageFormat format,
                        const std::optional<AddressRange>& range) {
    Private::Operation op(*d);
    if (op.refused()) return false;
    BootLink& link = d->link;
    uint32_t address = 0x08000000u;
    qint64 length = 0;
    if (!range) {
        if (d->target.flashSizeKB < 1) {
            // The flash size is unknown (the window keeps the button disabled then).
            link.log(QStringLiteral("取器件存储器容量失败."));
            return false;
        }
        length = qint64(d->target.flashSizeKB) * 1024;
    } else {
        if (range->end <= range->begin || range->end > 0x100000000ull) {
            d->host.showMessage(QStringLiteral("读取范围无效。"));
            return false;
        }
        address = range->begin;
        length = qint64(range->end - range->begin);
    }
    link.setStopped(false);
    const QString name = path.trimmed();
    if (name.isEmpty()) return false;
    // The new file is written beside the old one and replaces it only when complete.
    QSaveFile file(name);
    if (QFileInfo(name).isDir() || !file.open(QIODevice::WriteOnly)) {
        d->host.showMessage(name + QStringLiteral("文件正打开着, 覆盖失败."));
        return false;
    }
    link.log(QStringLiteral("开始读取数据......"));
    QElapsedTimer clock;
    clock.start();
    bool ok = d->readRange(file, format, address, length, !range);
    if (!ok) {
        // A failed read has been logged already; a failed write of the file (disk full) not yet.
        if (file.error() != QFileDevice::NoError)
            d->host.showMessage(name + QStringLiteral("文件正打开着, 覆盖失败."));
        file.cancelWriting();
    } else if (!file.commit()) {
        d->host.showMessage(name + QStringLiteral("文件正打开着, 覆盖失败."));
        ok = false;
    } else {
        link.log(QStringLiteral("读取完成, 读取时间为:") + SecondsText(clock.nsecsElapsed()) +
                 QStringLiteral("秒."));
        d->host.setStatusText(StatusField::Progress, QStringLiteral("已读完."));
    }
    return ok;
}

bool Engine::Private::readRange(QIODevice& out, ImageFormat format, uint32_t address, qint64 length,
                                bool wholeFlash) {
    const bool hex = format == ImageFormat::Hex;
    const auto writeLine = [&out](const std::string& line) {
        QByteArray bytes = QByteArray::fromStdString(line);
        bytes.append("\r\n", 2);
        return out.write(bytes) == bytes.size();
    };
    // The whole flash goes out in whole blocks (64-byte records in HEX, 256-byte reads in
    // binary); a range in reads of up to 256 bytes that end on 256-byte boundaries.
    const int blockSize = hex && wholeFlash ? 64 : 256;
    if (wholeFlash) length -= length % blockSize;
    if (hex && wholeFlash && !writeLine(StartLinearAddressLine())) return false;
    HexRangeWriter writer(64);
    std::vector<std::string> lines;
    uint8_t block[256];
    qint64 done = 0;
    while (done < length) {
        const uint32_t at = address + uint32_t(done);
        const int n =
            int(std::min<qint64>(length - done, blockSize - qint64(at % uint32_t(blockSize))));
        if (!readBlock(at, n, block)) {
            link.log(QStringLiteral("读数据失败, 退出从芯片读取数据过程."));
            return false;
        }
        done += n;
        const QString text = UploadProgressText(done, length);
        host.setStatusText(StatusField::Progress, text);
        host.progress(done, length);
        if (hex) {
            lines.clear();
            writer.addData(at, block, size_t(n), &lines);
            for (const std::string& line : lines)
                if (!writeLine(line)) return false;
        } else if (out.write(reinterpret_cast<const char*>(block), n) != n) {
            return false;
        }
    }
    return !hex || writeLine(EndOfFileLine());
}

// ---------------------------------------------------------------------------------------------
// Erase, Go, protection

bool Engine::erase(const std::optional<AddressRange>& range) {
    Private::Operation op(*d);
    if (op.refused()) return false;
    d->link.setStopped(false);
    if (d->refuseUnknownChip(false)) return false;
    if (!range) return d->eraseChip(nullptr);
    const DeviceInfo* device = d->target.device;
    if (!device->unitsKnown(d->flashBytes(), d->flashSizeKnown())) {
        d->link.log(kUnitsUnknown);
        return false;
    }
    const std::vector<uint32_t> units = device->unitsCovering(*range, d->flashExtent());
    if (units.empty()) {
        d->link.log(QStringLiteral("擦除范围不在FLASH内。"));
        return false;
    }
    return d->eraseUnits(units, QString());
}

bool Engine::go(uint32_t address) {
    Private::Operation op(*d);
    if (op.refused()) return false;
    BootLink& link = d->link;
    link.setStopped(false);
    const CommandResult r = Go(link, address);
    link.log(r.ok() ? QStringLiteral("已运行。") : QStringLiteral("目标板无响应。"));
    d->logReason(QStringLiteral("运行"), r);
    link.enableCommands(false, false);
    return r.ok();
}

bool Engine::runProgram(uint32_t address) {
    Private::Operation op(*d);
    if (op.refused()) return false;
    return d->runProgram(address);
}

bool Engine::Private::runProgram(uint32_t address) {
    link.setStopped(false);
    bool ok = false;
    if (lines.boot) {
        ok = link.runLines(lines.boot->exit);
        if (ok) link.log(QStringLiteral("已复位目标板，用户程序开始运行。"));
    } else {
        const CommandResult r = Go(link, address);
        ok = r.ok();
        link.log(ok ? QStringLiteral("已运行。") : QStringLiteral("目标板无响应。"));
        logReason(QStringLiteral("运行"), r);
    }
    // The board has left its bootloader either way.
    link.enableCommands(false, false);
    return ok;
}

bool Engine::protect() {
    Private::Operation op(*d);
    if (op.refused()) return false;
    return d->readProtect();
}

bool Engine::Private::readProtect() {
    link.setStopped(false);
    const CommandResult r = ReadoutProtect(link, kOptionBytesNs);
    if (r.ok()) {
        link.log(QStringLiteral("置读保护成功, 复位目标板后才能有效。"));
        link.enableCommands(false, false);
    } else {
        link.log(QStringLiteral("置读保护失败。"));
        logReason(QStringLiteral("置读保护"), r);
    }
    return r.ok();
}

bool Engine::unprotect() {
    Private::Operation op(*d);
    if (op.refused()) return false;
    BootLink& link = d->link;
    link.setStopped(false);
    // The chip erases its flash before the second ACK or after it, while it resets.
    const qint64 eraseNs =
        d->target.device ? qint64(d->target.device->massEraseMs) * 1'000'000 : kUnknownMassEraseNs;
    const CommandResult r = ReadoutUnprotect(link, kSlowFlashMargin * eraseNs);
    bool ok = r.ok();
    if (!ok) {
        link.log(QStringLiteral("清读保护失败."));
        d->logReason(QStringLiteral("清读保护"), r);
    } else {
        d->host.setStatusText(StatusField::Progress, QStringLiteral("等待目标板擦除并复位......"));
        ok = link.pause(eraseNs);
        link.log(ok ? QStringLiteral("清读保护成功, 复位目标板后才能有效。")
                    : QStringLiteral("清读保护已执行，目标板可能仍在擦除，请稍候再复位目标板。"));
    }
    link.enableCommands(false, false);
    return ok;
}

}  // namespace praxon
