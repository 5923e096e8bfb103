#include "Messages.h"

namespace praxon {
namespace {

// One text in each language.
struct Text {
    const char* zh;
    const char* en;
};

QString pick(Language language, const Text& t) {
    return QString::fromUtf8(language == Language::Chinese ? t.zh : t.en);
}

QString hex8(uint32_t value) {
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}
QString hex4(uint32_t value) {
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}
QString hex2(uint8_t value) {
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}
// A reply byte as the refusal messages show it: upper-case hex without a leading zero.
QString hexNoPad(uint8_t value) {
    return QString::number(value, 16).toUpper();
}
// Addresses: "08000000" in Chinese, "0x08000000" in English.
QString address(const Event& e, Language language) {
    const QString digits = hex8(e.address.value_or(0));
    return language == Language::Chinese ? digits : QStringLiteral("0x") + digits;
}

// What ended a failed wait.
QString replyText(const Event& e, Language language) {
    switch (e.reply.value_or(ReplyStatus::Timeout)) {
        case ReplyStatus::Ack:
            return QStringLiteral("ACK");
        case ReplyStatus::Nack: {
            const uint8_t byte = e.actual.value_or(0x1F);
            if (byte == 0x1F) return pick(language, {"目标板应答NACK", "the board answered NACK"});
            return pick(language, {"目标板应答", "the board answered 0x"}) + hex2(byte);
        }
        case ReplyStatus::Timeout:
            return pick(language, {"等待应答超时", "no answer in time"});
        case ReplyStatus::Stopped:
            return pick(language, {"已停止", "stopped"});
        case ReplyStatus::LineLost:
            return pick(language, {"串口已断开", "the serial line was lost"});
    }
    return {};
}

// "<what>: <why>。" — why a step failed, after the line that said it failed.
QString reasonLine(const Event& e, Language language, const QString& zhWhat,
                   const QString& enWhat) {
    if (language == Language::Chinese)
        return zhWhat + QStringLiteral(": ") + replyText(e, language) + QStringLiteral("。");
    return enWhat + QStringLiteral(": ") + replyText(e, language) + QLatin1Char('.');
}

QString percent(const char* format, qint64 done, qint64 total) {
    const double p = total > 0 ? 100.0 * double(done) / double(total) : 0.0;
    return QString::asprintf(format, p);
}

// The texts of a failed Read Memory, step by step: a read and a record's read-back in
// compatible mode have always said it in different words.
QString readStepText(const Event& e, Language language, bool verify) {
    static const Text read[] = {
        {"下发读命令失败。", "The board did not accept the Read Memory command."},
        {"下发地址命令失败。", "The board did not accept the read address."},
        {"下发读个数失败。", "The board did not accept the read length."},
        {"读存储器内容非ACK应答, 中止读数.",
         "The board refused to send the memory contents; reading stopped."},
        {"读存储器内容超时.", "Timed out waiting for the memory contents."}};
    static const Text check[] = {
        {"下发送命令失败", "Verify: the board did not accept the Read Memory command."},
        {"下发地址命令失败", "Verify: the board did not accept the read address."},
        {"下发读个数失败", "Verify: the board did not accept the read length."},
        {"非ACK应答，数据校验不正确.", "Verify: the board refused to send the data back."},
        {"超时.", "Verify: timed out waiting for the data."}};
    const Text* texts = verify ? check : read;
    const int i = e.step == Step::Command        ? 0
                  : e.step == Step::Address      ? 1
                  : e.step == Step::Count        ? 2
                  : e.reply == ReplyStatus::Nack ? 3
                                                 : 4;
    return pick(language, texts[i]);
}

QString hexLineText(const Event& e, Language language) {
    const QString n = QString::number(e.value.value_or(0));
    switch (e.hexError) {
        case HexLineError::None:
            break;
        case HexLineError::IllegalFormat:
            return language == Language::Chinese
                       ? QStringLiteral("HEX文件中包含非法格式数据.")
                       : QStringLiteral("Line %1 of the HEX file is not a valid record.").arg(n);
        case HexLineError::BadChecksum:
            return language == Language::Chinese
                       ? QStringLiteral("校验和不正确，您给的串是：") + e.text
                       : QStringLiteral("Line %1 of the HEX file has a wrong checksum: %2")
                             .arg(n, e.text);
        case HexLineError::SegmentLength:
            return language == Language::Chinese
                       ? QStringLiteral("扩展段地址长度不是2个字节，这个地址偶也算不出啊......")
                       : QStringLiteral(
                             "Line %1 of the HEX file: an extended segment address "
                             "record must hold 2 bytes.")
                             .arg(n);
        case HexLineError::StartSegment:
            return language == Language::Chinese
                       ? QStringLiteral(
                             "HEX文件中出现开始段地址记录，请参阅帮助中的“HEX文件”一节。")
                       : QStringLiteral(
                             "Line %1 of the HEX file is a start segment address "
                             "record (type 03); see \"HEX files\" in the help.")
                             .arg(n);
        case HexLineError::LinearLength:
            return language == Language::Chinese
                       ? QStringLiteral("扩展线性地址长度不是4个字节，这个地址偶也算不出啊......")
                       : QStringLiteral(
                             "Line %1 of the HEX file: an extended linear address "
                             "record must hold 2 bytes.")
                             .arg(n);
        case HexLineError::StartLinearLength:
            return language == Language::Chinese
                       ? QStringLiteral("开始线性地址长度不是4个字节，这个地址偶也算不出啊......")
                       : QStringLiteral(
                             "Line %1 of the HEX file: a start linear address record "
                             "must hold 4 bytes.")
                             .arg(n);
    }
    return {};
}

// Why an S-record line was refused.
Text srecReason(SrecError error) {
    switch (error) {
        case SrecError::IllegalFormat:
            return {"不是S-record记录", "is not an S-record"};
        case SrecError::BadType:
            return {"记录类型无效", "has an unknown record type"};
        case SrecError::BadLength:
            return {"字节数与记录长度不符", "has a byte count that does not match its length"};
        case SrecError::BadChecksum:
            return {"校验和不正确", "has a wrong checksum"};
        case SrecError::AddressOverflow:
            return {"数据超出32位地址空间", "reaches past the 32-bit address space"};
        case SrecError::CountMismatch:
            return {"记录数与前面的数据记录数不符",
                    "counts a different number of data records than there are before it"};
        case SrecError::AfterEnd:
            return {"结束记录之后还有记录", "comes after the end record"};
        case SrecError::TooLong:
            return {"太长，不是S-record记录", "is too long to be an S-record"};
        case SrecError::NoEndRecord:
        case SrecError::None:
            break;
    }
    return {"", ""};
}

QString srecText(const Event& e, Language language) {
    if (e.srecError == SrecError::NoEndRecord)
        return pick(language, {"S-record文件没有结束记录(S7/S8/S9)，文件可能不完整，下载失败！",
                               "The S-record file has no end record (S7, S8 or S9) and may be "
                               "incomplete; programming failed!"});
    const QString n = QString::number(e.value.value_or(0)),
                  why = pick(language, srecReason(e.srecError));
    QString text =
        language == Language::Chinese
            ? QStringLiteral("S-record文件第%1行%2，下载失败！").arg(n, why)
            : QStringLiteral("Line %1 of the S-record file %2; programming failed!").arg(n, why);
    if (!e.text.isEmpty()) text += ' ' + e.text;
    return text;
}

// Why an ELF file was refused.
QString elfText(const Event& e, Language language) {
    Text why{"", ""};
    switch (e.elfError) {
        case ElfError::NotElf:
            why = {"不是ELF文件", "it is not an ELF file"};
            break;
        case ElfError::Not32Bit:
            why = {"不是32位ELF文件", "it is not a 32-bit ELF file"};
            break;
        case ElfError::NotLittleEndian:
            why = {"不是小端(little-endian)ELF文件", "it is not little-endian"};
            break;
        case ElfError::NotArm:
            why = {"不是ARM程序", "it is not an ARM program"};
            break;
        case ElfError::BadHeader:
            why = {"文件头或程序头表不完整或不一致",
                   "its file header or program header table is truncated or inconsistent"};
            break;
        case ElfError::SegmentPastEnd:
            why = {"可装载段的数据超出文件末尾",
                   "a loadable segment lies past the end of the file"};
            break;
        case ElfError::AddressOverflow:
            why = {"可装载段超出32位地址空间",
                   "a loadable segment reaches past the 32-bit address space"};
            break;
        case ElfError::NoLoadableData:
            why = {"没有可装载的数据", "it has no loadable data"};
            break;
        case ElfError::OverlappingSegments: {
            const QString at = address(e, language);
            return language == Language::Chinese
                       ? QStringLiteral("ELF文件可装载段在地址%1处重叠，下载失败！").arg(at)
                       : QStringLiteral(
                             "The ELF file is refused: loadable segments overlap at "
                             "%1; programming failed!")
                             .arg(at);
        }
        case ElfError::None:
            break;
    }
    return language == Language::Chinese
               ? QStringLiteral("ELF文件") + pick(language, why) + QStringLiteral("，下载失败！")
               : QStringLiteral("The ELF file is refused: %1; programming failed!")
                     .arg(pick(language, why));
}

QString portMessage(const Event& e, Language language) {
    const bool zh = language == Language::Chinese;
    const QString& port = e.text;
    if (port.isEmpty())
        return zh ? QStringLiteral("指定的串口不存在或已被占用。")
                  : QStringLiteral(
                        "No serial port was given. Name one, for example /dev/ttyUSB0 "
                        "or COM3.");
    switch (e.portError) {
        case PortError::NoPermission:
            return zh ? QStringLiteral(
                            "没有权限打开串口%1。请把当前用户加入dialout组"
                            "（命令：sudo usermod -aG dialout $USER），"
                            "然后注销并重新登录后再试。")
                            .arg(port)
                      : QStringLiteral(
                            "No permission to open the serial port %1. Add your user "
                            "to the dialout group with the command\n"
                            "  sudo usermod -aG dialout $USER\n"
                            "then log out and log in again (the new group takes "
                            "effect only in a new login).")
                            .arg(port);
        case PortError::InUse:
            return zh ? QStringLiteral("串口%1正被其它程序占用，请关闭该程序后再试。").arg(port)
                      : QStringLiteral(
                            "The serial port %1 is in use by another program. Close "
                            "that program and try again.")
                            .arg(port);
        case PortError::NotFound:
            return zh ? QStringLiteral("指定的串口不存在或已被占用。")
                      : QStringLiteral(
                            "The serial port %1 does not exist. Check the port name "
                            "and that the adapter is plugged in.")
                            .arg(port);
        case PortError::None:
        case PortError::Other:
            break;
    }
    return zh ? QStringLiteral("指定的串口不存在或已被占用。")
              : QStringLiteral("The serial port %1 could not be opened.").arg(port);
}

}  // namespace

QString SecondsText(qint64 nanoseconds, Language language) {
    QString s = QString::number(double(nanoseconds) / 1e9, 'f', 2);
    if (language == Language::Chinese && s.startsWith(QLatin1String("0."))) s.remove(0, 1);
    return s;
}

QList<Shown> Render(const Event& e, Language language) {
    const bool zh = language == Language::Chinese;
    const auto log = [](const QString& text) { return Shown{Presentation::Log, {}, text}; };
    const auto message = [](const QString& text) { return Shown{Presentation::Message, {}, text}; };
    const auto status = [](StatusField field, const QString& text) {
        return Shown{Presentation::Status, field, text};
    };
    const auto progress = [&](const QString& text) { return status(StatusField::Progress, text); };
    const auto t = [&](const char* chinese, const char* english) {
        return pick(language, {chinese, english});
    };
    // Refusals of a program request are message boxes; the same facts met elsewhere are logged.
    const auto refusal = [&](const QString& text) {
        return e.operation == Operation::Program ? message(text) : log(text);
    };
    const QString at = address(e, language);

    switch (e.code) {
        case EventCode::OperationBegun:
        case EventCode::OperationEnded:
        case EventCode::LinkReady:
        case EventCode::Verified:
            return {};
        case EventCode::Progress:
            switch (e.operation) {
                case Operation::Verify:
                    return {progress(zh ? percent("校验%05.2f%%.", e.done, e.total)
                                        : percent("Verifying: %.2f%%", e.done, e.total))};
                case Operation::Read:
                    return {progress(zh ? percent("已读%.2f%%.", e.done, e.total)
                                        : percent("Reading: %.2f%%", e.done, e.total))};
                default:
                    return {progress(zh ? percent("完成%05.2f%%.", e.done, e.total)
                                        : percent("Writing: %.2f%%", e.done, e.total))};
            }

        // The link
        case EventCode::LinkClosed:
            return {status(StatusField::Link, t("未连接", "Not connected"))};
        case EventCode::PortOpenFailed: {
            QList<Shown> shown{message(portMessage(e, language))};
            if (!e.detail.isEmpty())
                shown << log(
                    (zh ? QStringLiteral("串口%1: %2") : QStringLiteral("Serial port %1: %2"))
                        .arg(e.text, e.detail));
            return shown;
        }
        case EventCode::PortLinesFailed:
            return {message(t("串口无法控制DTR/RTS信号，不能自动复位目标板。请检查复位接线设置。",
                              "The serial port cannot drive its DTR and RTS lines, so the board "
                              "cannot be reset automatically. Check the reset wiring setting."))};
        case EventCode::PortUnusable:
            return {message(t("请指定可用串行口。",
                              "The serial port could not be written or went away. Check the "
                              "adapter and choose a working port."))};
        case EventCode::AddressRefused:
            return {message(zh ? QStringLiteral("传送地址时应答为非ACK，应答值=") +
                                     hexNoPad(e.actual.value_or(0))
                               : QStringLiteral("The board did not acknowledge the address "
                                                "%1 (answer 0x%2).")
                                     .arg(at, hex2(e.actual.value_or(0))))};
        case EventCode::DataRefused:
            return {message(zh ? QStringLiteral("传送数据时应答为非ACK，应答值=") +
                                     hexNoPad(e.actual.value_or(0))
                               : QStringLiteral("The board did not acknowledge the data for %1 "
                                                "(answer 0x%2).")
                                     .arg(at, hex2(e.actual.value_or(0))))};

        // Connect
        case EventCode::ConnectBegun:
            return {status(StatusField::Link, t("未连接.", "Not connected.")),
                    status(StatusField::Device, QString()),
                    log(t("连接目标板......", "Connecting to the board..."))};
        case EventCode::ConnectPortFailed:
            switch (e.portError) {
                case PortError::NoPermission:
                    return {log(
                        t("没有权限打开指定的串行口。", "No permission to open the serial port."))};
                case PortError::InUse:
                    return {log(t("指定的串行口不存在或被其它应用程序占用。",
                                  "The serial port is in use by another program."))};
                case PortError::NotFound:
                    return {log(t("指定的串行口不存在或被其它应用程序占用。",
                                  "The serial port does not exist."))};
                default:
                    return {log(t("指定的串行口不存在或被其它应用程序占用。",
                                  "The serial port could not be opened."))};
            }
        case EventCode::AlreadySynchronised:
            return {log(t("目标板已处于同步状态（未复位），继续连接。",
                          "The board was synchronised already (not reset); connecting on."))};
        case EventCode::Synchronised:
            return {status(StatusField::Link, t("已连接.", "Connected.")),
                    progress(t("收到ACK，可以ISP了。", "ACK received: ready to program."))};
        case EventCode::BoardSilent: {
            QList<Shown> shown;
            if (e.reply == ReplyStatus::Nack)
                shown << progress(t("收到NACK，请复位目标板并重新连接。",
                                    "NACK received: reset the board and connect again."));
            else if (e.reply == ReplyStatus::Timeout)
                shown << progress(
                    t("请复位目标板并重新连接！", "Reset the board and connect again!"));
            shown << log(t("目标板未响应，检查连接情况，请复位后再次连接。",
                           "The board did not answer. Check the connection, reset the board and "
                           "connect again."));
            return shown;
        }
        case EventCode::Connected:
            return {log(
                t("连接成功，准备获取器件信息......", "Connected; reading the chip's details..."))};
        case EventCode::GetIdFailed:
            return {log(reasonLine(e, language, QStringLiteral("读取器件信息失败"),
                                   QStringLiteral("Reading the chip's identity failed")))};
        case EventCode::IdUnrecognised:
            return {log(t("器件信息不可识别.", "The chip's identity answer was not understood."))};
        case EventCode::ChipIdentified: {
            const QString name = e.family.isEmpty() ? t("未知器件", "Unknown chip") : e.family;
            const QString text =
                name + QStringLiteral(", PID=") + QString::fromLatin1(e.bytes.toHex().toUpper());
            return {status(StatusField::Device, text),
                    log((zh ? QStringLiteral("器件信息为") : QStringLiteral("Chip: ")) + text)};
        }
        case EventCode::GetFailed:
            return {log(reasonLine(e, language, QStringLiteral("读取Bootloader命令失败"),
                                   QStringLiteral("Reading the bootloader's commands failed")))};
        case EventCode::BootloaderVersion: {
            const int v = int(e.value.value_or(0));
            return {log(t("Bootloader版本: ", "Bootloader version: ") +
                        QString::number(v >> 4, 16).toUpper() + QLatin1Char('.') +
                        QString::number(v & 0xF, 16).toUpper())};
        }
        case EventCode::FlashSizeStated:
            return {log(zh ? QStringLiteral("FLASH容量按指定值计: %1K.").arg(e.flashKB)
                           : QStringLiteral("Flash size taken as stated: %1 KB.").arg(e.flashKB))};
        case EventCode::FlashSizeAssumed: {
            if (zh)
                return {log((e.value ? QStringLiteral("FLASH容量寄存器读数为") +
                                           hex4(uint32_t(*e.value)) + QStringLiteral("，")
                                     : QStringLiteral("FLASH容量寄存器不可读，")) +
                            QStringLiteral("按该系列最大容量%1K计.").arg(e.flashKB))};
            return {
                log((e.value ? QStringLiteral("The flash size register reads 0x%1; ")
                                   .arg(hex4(uint32_t(*e.value)))
                             : QStringLiteral("The flash size register cannot be read; ")) +
                    QStringLiteral("taking the family's largest flash, %1 KB.").arg(e.flashKB))};
        }
        case EventCode::FlashSizeUnknown:
            return {log(t("取器件存储器容量失败.", "The chip's flash size is unknown."))};
        case EventCode::FlashSizeUnknownChip:
            return {log(t("器件未识别，FLASH容量未知.",
                          "The chip is not identified; its flash size is unknown."))};
        case EventCode::FlashSize: {
            if (zh)
                return {log(
                    QStringLiteral("FLASH容量为: %1K; RAM容量为: ").arg(e.flashKB) +
                    (e.ramKB < 0 ? QStringLiteral("未知.") : QStringLiteral("%1K.").arg(e.ramKB)))};
            return {log(QStringLiteral("Flash size: %1 KB; RAM size: ").arg(e.flashKB) +
                        (e.ramKB < 0 ? QStringLiteral("unknown.")
                                     : QStringLiteral("%1 KB.").arg(e.ramKB)))};
        }

        // Reads of the chip
        case EventCode::ReadStepFailed:
            return {log(readStepText(e, language, false))};
        case EventCode::VerifyStepFailed:
            return {log(readStepText(e, language, true))};
        case EventCode::ReadReplyFailed:
            return {log(reasonLine(e, language, QStringLiteral("读取%1失败").arg(at),
                                   QStringLiteral("Reading at %1 failed").arg(at)))};

        // Image file
        case EventCode::NoImageFile:
            return {message(t("请指定下载文件。", "Choose the firmware file to program."))};
        case EventCode::ImageFileMissing:
            return {message(
                zh ? QStringLiteral("指定的文件不存在，请重新打开。")
                   : QStringLiteral("The file %1 does not exist. Choose it again.").arg(e.text))};
        case EventCode::ImageFileUnreadable:
            return {message(t("无法打开文件: ", "Cannot open the file: ") + e.text)};
        case EventCode::HexLineRejected:
            return {message(hexLineText(e, language))};
        case EventCode::HexBadData:
            return {message(zh ? QStringLiteral("HEX数据有误，下载失败！") + e.text
                               : QStringLiteral("The HEX data are wrong at line %1; programming "
                                                "failed! %2")
                                     .arg(QString::number(e.value.value_or(0)), e.text))};
        case EventCode::HexNoEndRecord:
            return {message(t("HEX文件没有结束记录，文件可能不完整，下载失败！",
                              "The HEX file has no end-of-file record and may be incomplete; "
                              "programming failed!"))};
        case EventCode::HexConflict:
            return {
                message(zh ? QStringLiteral("HEX文件中地址%1的数据前后不一致，下载失败！").arg(at)
                           : QStringLiteral("The HEX file gives two different values for "
                                            "address %1; programming failed!")
                                 .arg(at))};
        case EventCode::BinaryLoadAddress:
            return {log(zh ? QStringLiteral("二进制文件的装载地址为%1。").arg(at)
                           : QStringLiteral("The binary file is loaded at %1.").arg(at))};
        case EventCode::ImageEmpty:
            return {message(t("文件中没有可下载的数据，下载失败！",
                              "The file holds no data to program; programming failed!"))};
        case EventCode::ImageTooLarge:
            return {message(t("文件超出32位地址空间，下载失败！",
                              "The file reaches past the 32-bit address space; programming "
                              "failed!"))};
        case EventCode::SrecRefused:
            return {message(srecText(e, language))};
        case EventCode::SrecConflict:
            return {message(
                zh ? QStringLiteral("S-record文件中地址%1的数据前后不一致，下载失败！").arg(at)
                   : QStringLiteral("The S-record file gives two different values for address "
                                    "%1; programming failed!")
                         .arg(at))};
        case EventCode::ElfRefused:
            return {message(elfText(e, language))};

        // Program
        case EventCode::ChipUnknown:
            if (e.pid)
                return {refusal(
                    zh ? QStringLiteral("未知器件(PID=%1)，不知道它的FLASH如何擦除和写入，"
                                        "不能擦除或编程。")
                             .arg(hex4(*e.pid))
                       : QStringLiteral("Unknown chip (PID 0x%1): how its flash is erased and "
                                        "written is not known, so it cannot be erased or "
                                        "programmed.")
                             .arg(hex4(*e.pid)))};
            return {refusal(t("器件未识别，不能擦除或编程。",
                              "The chip did not identify itself; it cannot be erased or "
                              "programmed."))};
        case EventCode::EraseCommandMissing:
            return {refusal(t("Bootloader没有擦除命令，无法擦除。",
                              "The bootloader has no erase command; the flash cannot be "
                              "erased."))};
        case EventCode::EraseUnitsUnknown:
            return {refusal(t("该器件的页(扇区)划分由选项字节决定，无法按页擦除，请选择整片擦除。",
                              "This chip's pages (sectors) are set by its option bytes, so it "
                              "cannot be erased page by page. Choose a full chip erase."))};
        case EventCode::OutsideMemory:
            return {
                message(zh ? QStringLiteral("地址%1超出器件可写入的存储器范围，下载失败！").arg(at)
                           : QStringLiteral("Address %1 is outside the chip's writable "
                                            "memory; programming failed!")
                                 .arg(at))};
        case EventCode::ProgramFailed:
            return {message(t("下载失败。", "Programming failed."))};
        case EventCode::ProgramBegun:
            return {log(t("开始编程......", "Programming..."))};
        case EventCode::WriteFailed:
            return {log(reasonLine(e, language, QStringLiteral("写入%1失败").arg(at),
                                   QStringLiteral("Writing at %1 failed").arg(at)))};
        case EventCode::VerifyMismatch:
            return {
                log(zh ? QStringLiteral("数据校验不正确.")
                       : QStringLiteral("Verification failed at %1: expected 0x%2, read "
                                        "0x%3.")
                             .arg(at, hex2(e.expected.value_or(0)), hex2(e.actual.value_or(0))))};
        case EventCode::VerifyMismatchAt:
            return {
                log(zh ? QStringLiteral("数据校验不正确. 首个不一致的地址为%1: 应为%2, 读回%3.")
                             .arg(at, hex2(e.expected.value_or(0)), hex2(e.actual.value_or(0)))
                       : QStringLiteral("Verification failed. First difference at %1: "
                                        "expected 0x%2, read 0x%3.")
                             .arg(at, hex2(e.expected.value_or(0)), hex2(e.actual.value_or(0))))};
        case EventCode::VerifyReadFailed:
            return {log(reasonLine(e, language, QStringLiteral("校验时读取%1失败").arg(at),
                                   QStringLiteral("Reading back %1 to verify failed").arg(at)))};
        case EventCode::Programmed:
            return {progress(t("下载结束.", "Programming finished.")),
                    log(zh ? QStringLiteral("编程成功, 用时共%1秒。")
                                 .arg(SecondsText(e.elapsedNs, language))
                           : QStringLiteral("Programmed successfully in %1 s.")
                                 .arg(SecondsText(e.elapsedNs, language)))};

        // Turbo
        case EventCode::TurboUnavailable:
            return {log(e.value.value_or(0) == 0
                            ? t("此芯片或文件不能用极速方式，改用快速方式。",
                                "Turbo serves neither this chip nor this image; programming in "
                                "the fast mode.")
                            : t("RAM加载程序未能启动，改用快速方式。",
                                "The RAM loader did not start; programming in the fast mode."))};
        case EventCode::TurboStarted:
            return {log(
                zh ? QStringLiteral("RAM加载程序已启动, 缓冲区%1字节。").arg(e.value.value_or(0))
                   : QStringLiteral("RAM loader running, %1-byte buffer.")
                         .arg(e.value.value_or(0)))};
        case EventCode::TurboSpeed:
            return {log(e.ok ? (zh ? QStringLiteral("线路速率已提高到%1。")
                                   : QStringLiteral("Line speed raised to %1."))
                                   .arg(e.value.value_or(0))
                             : (zh ? QStringLiteral("线路速率%1不可用, 保持连接时的速率。")
                                   : QStringLiteral("Line speed %1 did not work; staying at the "
                                                    "connect speed."))
                                   .arg(e.value.value_or(0)))};
        case EventCode::TurboSkipped:
            return {log(zh ? QStringLiteral("%1页(共%2页)内容未变, 跳过%3字节。")
                                 .arg(e.value.value_or(0))
                                 .arg(e.total)
                                 .arg(e.done)
                           : QStringLiteral("%1 of %2 pages already held the image and were "
                                            "left alone (%3 bytes).")
                                 .arg(e.value.value_or(0))
                                 .arg(e.total)
                                 .arg(e.done))};
        case EventCode::TurboFailed:
            if (!e.value)
                return {log(t("RAM加载程序不再应答。", "The RAM loader stopped answering."))};
            return {log(zh ? QStringLiteral("RAM加载程序在%1报告错误%2。").arg(at).arg(*e.value)
                           : QStringLiteral("The RAM loader reported error %2 at %1.")
                                 .arg(at)
                                 .arg(*e.value))};
        case EventCode::TurboVerifyMismatch:
            return {log(
                zh ? QStringLiteral("CRC校验不正确: %1起%2字节。").arg(at).arg(e.value.value_or(0))
                   : QStringLiteral("CRC check failed for %2 bytes from %1.")
                         .arg(at)
                         .arg(e.value.value_or(0)))};

        // Erase
        case EventCode::ChipEraseBegun:
            return {log(t("开始整片擦除......", "Erasing the whole flash..."))};
        case EventCode::PagesEraseBegun: {
            const qint64 n = e.value.value_or(0);
            return {log(zh ? QStringLiteral("开始擦除%1页......").arg(n)
                           : (n == 1 ? QStringLiteral("Erasing 1 page or sector...")
                                     : QStringLiteral("Erasing %1 pages or sectors...").arg(n)))};
        }
        case EventCode::PageOutOfRange:
            return {log(zh ? QStringLiteral("页号%1超出擦除命令的范围(0~255)，无法擦除。")
                                 .arg(e.value.value_or(0))
                           : QStringLiteral("Page %1 is beyond what the Erase command can name "
                                            "(0 to 255); nothing was erased.")
                                 .arg(e.value.value_or(0)))};
        case EventCode::EraseOutsideFlash:
            return {log(t("擦除范围不在FLASH内。", "The erase range is not inside the flash."))};
        case EventCode::Erased:
            return {progress(t("Flash擦除完毕。", "Flash erased.")),
                    log(t("擦除成功。", "Erase succeeded."))};
        case EventCode::EraseFailed:
            return {progress(t("Flash擦除失败。", "Flash erase failed.")),
                    log(t("擦除失败，请清除读保护......",
                          "Erase failed; clear the readout protection first..."))};
        case EventCode::EraseReplyFailed:
            return {log(
                reasonLine(e, language, QStringLiteral("擦除"), QStringLiteral("Erase failed")))};

        // Read
        case EventCode::ReadRangeInvalid:
            return {message(t("读取范围无效。", "The read range is not valid."))};
        case EventCode::ReadPastFlashEnd:
            return {
                message(zh ? QStringLiteral("读取范围超出FLASH末尾(FLASH止于%1)，未读取。").arg(at)
                           : QStringLiteral("The read range runs past the end of the flash, "
                                            "which ends at %1; nothing was read.")
                                 .arg(at))};
        case EventCode::OutputFolderMissing:
            return {message(zh ? QStringLiteral("文件夹%1不存在，无法保存读出的数据。").arg(e.text)
                               : QStringLiteral("The folder %1 does not exist; the data read "
                                                "cannot be saved there.")
                                     .arg(e.text))};
        case EventCode::OutputNotWritable: {
            QList<Shown> shown{
                message(zh ? e.text + QStringLiteral("文件正打开着, 覆盖失败.")
                           : QStringLiteral("Cannot write the file %1.").arg(e.text))};
            if (!e.detail.isEmpty()) shown << log(e.text + QStringLiteral(": ") + e.detail);
            return shown;
        }
        case EventCode::ReadBegun:
            return {log(t("开始读取数据......", "Reading..."))};
        case EventCode::ReadAborted:
            return {log(t("读数据失败, 退出从芯片读取数据过程.",
                          "Reading failed; the read from the chip was abandoned."))};
        case EventCode::ReadDone:
            return {log(zh ? QStringLiteral("读取完成, 读取时间为:%1秒.")
                                 .arg(SecondsText(e.elapsedNs, language))
                           : QStringLiteral("Read finished in %1 s.")
                                 .arg(SecondsText(e.elapsedNs, language))),
                    progress(t("已读完.", "Read complete."))};

        // Go and run
        case EventCode::Started:
            return {log(zh ? QStringLiteral("已运行。")
                           : QStringLiteral("Started the program at %1.").arg(at))};
        case EventCode::GoSilent:
            return {log(t("目标板无响应。", "The board did not answer."))};
        case EventCode::GoReplyFailed:
            return {
                log(reasonLine(e, language, QStringLiteral("运行"), QStringLiteral("Go failed")))};
        case EventCode::GoAddressRefused:
            return {log(zh ? QStringLiteral("目标板拒绝了运行地址%1(应答值=%2)，程序未运行。")
                                 .arg(at, hexNoPad(e.actual.value_or(0)))
                           : QStringLiteral("The board refused the start address %1 (answer "
                                            "0x%2); the program was not started.")
                                 .arg(at, hex2(e.actual.value_or(0))))};
        case EventCode::ResetIntoProgram:
            return {log(t("已复位目标板，用户程序开始运行。",
                          "The board was reset; the user program is running."))};

        // Protection
        case EventCode::Protected:
            return {log(t("置读保护成功, 复位目标板后才能有效。",
                          "Readout protection set; it takes effect once the board is reset."))};
        case EventCode::ProtectFailed:
            return {log(t("置读保护失败。", "Setting the readout protection failed."))};
        case EventCode::ProtectReplyFailed:
            return {log(reasonLine(e, language, QStringLiteral("置读保护"),
                                   QStringLiteral("Readout Protect failed")))};
        case EventCode::Unprotected:
            return {log(t("清读保护成功, 复位目标板后才能有效。",
                          "Readout protection cleared; it takes effect once the board is "
                          "reset."))};
        case EventCode::UnprotectFailed:
            return {log(t("清读保护失败.", "Clearing the readout protection failed."))};
        case EventCode::UnprotectReplyFailed:
            return {log(reasonLine(e, language, QStringLiteral("清读保护"),
                                   QStringLiteral("Readout Unprotect failed")))};
        case EventCode::UnprotectErasing:
            return {progress(t("等待目标板擦除并复位......",
                               "Waiting for the board to erase its flash and reset..."))};
        case EventCode::UnprotectPending:
            return {log(t("清读保护已执行，目标板可能仍在擦除，请稍候再复位目标板。",
                          "Readout Unprotect was sent; the board may still be erasing. Wait a "
                          "moment before resetting it."))};

        // Production line
        case EventCode::SerialNumberTaken:
            return {log(zh ? QStringLiteral("序列号%1，写在%2。").arg(e.text, at)
                           : QStringLiteral("Serial number %1, written at %2.").arg(e.text, at))};
        case EventCode::SerialNumberUsed:
            return {log(zh ? QStringLiteral("序列号%1已用掉。").arg(e.text)
                           : QStringLiteral("Serial number %1 is used.").arg(e.text))};
        case EventCode::SerialNumberReturned:
            return {log(zh ? QStringLiteral("未写入任何数据，序列号%1留给下一块板。").arg(e.text)
                           : QStringLiteral("Nothing was written; serial number %1 goes to the "
                                            "next board.")
                                 .arg(e.text))};
        case EventCode::SerialTooWide:
            return {message(zh ? QStringLiteral("序列号%1超出所选格式的位数，未编程。").arg(e.text)
                               : QStringLiteral("Serial number %1 does not fit the chosen "
                                                "format; nothing was programmed.")
                                     .arg(e.text))};
        case EventCode::SerialOverlapsImage:
            return {message(
                zh ? QStringLiteral("序列号的位置与文件自身的数据重叠(%1)，未编程。").arg(at)
                   : QStringLiteral("The serial number's place overlaps the file's "
                                    "own data at %1; nothing was programmed.")
                         .arg(at))};
        case EventCode::SerialOutsideFlash:
            return {message(zh ? QStringLiteral("序列号地址%1不在芯片的FLASH内，未编程。").arg(at)
                               : QStringLiteral("The serial number's address %1 is not inside "
                                                "the chip's flash; nothing was programmed.")
                                     .arg(at))};
        case EventCode::SerialStateMissing:
            return {message(zh ? QStringLiteral("序列号状态文件%1不存在；首次使用请加 "
                                                "--serial-start。")
                                     .arg(e.text)
                               : QStringLiteral("The serial number file %1 does not exist; give "
                                                "--serial-start to begin a series.")
                                     .arg(e.text))};
        case EventCode::SerialStateInvalid:
            return {message(
                zh ? QStringLiteral("序列号状态文件%1第%2行有误，未编程。")
                         .arg(e.text)
                         .arg(e.value.value_or(0))
                   : QStringLiteral("The serial number file %1 is not valid at line %2; nothing "
                                    "was programmed.")
                         .arg(e.text)
                         .arg(e.value.value_or(0)))};
        case EventCode::SerialStateFailed:
            return {
                message(zh ? QStringLiteral("无法使用序列号状态文件%1：%2").arg(e.text, e.detail)
                           : QStringLiteral("Cannot use the serial number file %1: %2")
                                 .arg(e.text, e.detail))};
        case EventCode::SerialStartAhead:
            return {
                message(zh ? QStringLiteral("序列号状态文件%1的下一个号是%2，小于 --serial-start；"
                                            "跳号请直接修改该文件。")
                                 .arg(e.text)
                                 .arg(e.value.value_or(0))
                           : QStringLiteral("The serial number file %1 continues at %2, below "
                                            "--serial-start; to skip numbers, edit the file.")
                                 .arg(e.text)
                                 .arg(e.value.value_or(0)))};
        case EventCode::RecordFailed:
            return {message(
                zh ? QStringLiteral("无法写入记录文件%1：%2").arg(e.text, e.detail)
                   : QStringLiteral("Cannot write the record file %1: %2").arg(e.text, e.detail))};
        // Unique ID, option bytes, bank layout and write protection
        case EventCode::UniqueId: {
            const QString id = QString::fromLatin1(e.bytes.toHex().toUpper());
            return {log(zh ? QStringLiteral("芯片唯一ID(%1处): %2").arg(at, id)
                           : QStringLiteral("Unique ID (at %1): %2").arg(at, id))};
        }
        case EventCode::UniqueIdUnreadable:
            return {log(zh ? QStringLiteral("无法读取芯片唯一ID(%1)：%2。芯片可能处于读保护状态。")
                                 .arg(at, replyText(e, language))
                           : QStringLiteral("The unique ID at %1 could not be read: %2. The chip "
                                            "may be readout-protected.")
                                 .arg(at, replyText(e, language)))};
        case EventCode::OptionBytesUnsupported:
            return {log(zh ? QStringLiteral("本程序不知道%1芯片的选项字节区，无法读写选项字节。")
                                 .arg(e.family)
                           : QStringLiteral("The option bytes of this chip (%1) are not known to "
                                            "this program; they cannot be read or written.")
                                 .arg(e.family))};
        case EventCode::OptionBytesProtected:
            return {log(t("芯片处于读保护状态，无法读取选项字节。先清除读保护（会擦除整片Flash）。",
                          "The chip is readout-protected: its option bytes cannot be read. "
                          "Remove the readout protection first (unprotect; this erases the "
                          "whole flash)."))};
        case EventCode::OptionBytesReadFailed:
            return {log(
                zh ? QStringLiteral("读取选项字节(%1)失败：%2。").arg(at, replyText(e, language))
                   : QStringLiteral("Reading the option bytes at %1 failed: %2.")
                         .arg(at, replyText(e, language)))};
        case EventCode::OptionBytesRead:
            return {log(zh ? QStringLiteral("选项字节(%1, %2布局): %3，读保护级别%4。")
                                 .arg(at, e.text, QString::fromLatin1(e.bytes.toHex(' ').toUpper()))
                                 .arg(e.value.value_or(0))
                           : QStringLiteral("Option bytes at %1 (%2 layout): %3; readout level %4.")
                                 .arg(at, e.text, QString::fromLatin1(e.bytes.toHex(' ').toUpper()))
                                 .arg(e.value.value_or(0)))};
        case EventCode::OptionFieldValue: {
            const QString value =
                QStringLiteral("0x") + QString::number(e.value.value_or(0), 16).toUpper();
            const QString line = e.text.leftJustified(18) + ' ' + value;
            return {log(e.detail.isEmpty() ? line : line.leftJustified(29) + ' ' + e.detail)};
        }
        case EventCode::WriteProtection:
            if (e.value.value_or(0) == 0)
                return {log(t("没有写保护的页或扇区。", "No page or sector is write-protected."))};
            return {log(zh ? QStringLiteral("写保护：共%1个页或扇区中的%2个。")
                                 .arg(e.total)
                                 .arg(e.value.value_or(0))
                           : QStringLiteral("Write-protected: %1 of %2 pages or sectors.")
                                 .arg(e.value.value_or(0))
                                 .arg(e.total))};
        case EventCode::WriteProtectedRange: {
            const QString end = (zh ? QString() : QStringLiteral("0x")) +
                                hex8(uint32_t(e.address.value_or(0) + e.value.value_or(0) - 1));
            return {log(zh ? QStringLiteral("  写保护：%1-%2（页或扇区%3-%4）")
                                 .arg(at, end)
                                 .arg(e.done)
                                 .arg(e.total)
                           : QStringLiteral("  write-protected: %1-%2 (pages or sectors %3-%4)")
                                 .arg(at, end)
                                 .arg(e.done)
                                 .arg(e.total))};
        }
        case EventCode::OptionEditMalformed:
            return {
                log(zh ? QStringLiteral("选项修改\"%1\"格式不对，应为 名称=值。").arg(e.text)
                       : QStringLiteral("The option edit \"%1\" is not NAME=VALUE.").arg(e.text))};
        case EventCode::OptionNameUnknown:
            return {log(
                zh ? QStringLiteral("此芯片没有选项\"%1\"。可用的选项：%2。").arg(e.text, e.detail)
                   : QStringLiteral("This chip has no option \"%1\". Its options: %2.")
                         .arg(e.text, e.detail))};
        case EventCode::OptionValueInvalid:
            return {log(zh ? QStringLiteral("选项修改\"%1\"的值不合适：取值为0到0x%2。")
                                 .arg(e.text, QString::number(e.value.value_or(0), 16).toUpper())
                           : QStringLiteral("The value of \"%1\" does not fit: the option takes 0 "
                                            "to 0x%2.")
                                 .arg(e.text, QString::number(e.value.value_or(0), 16).toUpper()))};
        case EventCode::OptionLevelInvalid:
            return {log(zh ? QStringLiteral("\"%1\"：读保护级别只能是0到%2。")
                                 .arg(e.text)
                                 .arg(e.value.value_or(1))
                           : QStringLiteral("\"%1\": the readout level is 0 to %2 on this chip.")
                                 .arg(e.text)
                                 .arg(e.value.value_or(1)))};
        case EventCode::ReadoutLevel2Refused:
            return {
                log(t("拒绝设置读保护级别2：级别2是永久的，芯片将再也无法通过Bootloader读取或重新"
                      "编程。确需设置时请加上--allow-permanent。",
                      "Readout level 2 refused: it is permanent; the chip could never be read "
                      "or reprogrammed through its bootloader again. Add --allow-permanent "
                      "only if that is really wanted."))};
        case EventCode::OptionBytesUnchanged:
            return {log(t("选项字节已是所要的值，未写入。",
                          "The option bytes already hold these values; nothing was written."))};
        case EventCode::OptionBytesWriting:
            return {log(zh ? QStringLiteral("写入选项字节(%1): %2")
                                 .arg(at, QString::fromLatin1(e.bytes.toHex(' ').toUpper()))
                           : QStringLiteral("Writing the option bytes at %1: %2")
                                 .arg(at, QString::fromLatin1(e.bytes.toHex(' ').toUpper())))};
        case EventCode::OptionBytesWriteFailed:
            return {log(reasonLine(e, language, QStringLiteral("写选项字节失败"),
                                   QStringLiteral("Writing the option bytes failed")))};
        case EventCode::ChipResetting:
            return {log(t("芯片复位以载入新的选项字节，正在重新连接......",
                          "The chip resets to load the new option bytes; reconnecting..."))};
        case EventCode::ResetBoardRequest:
            return {log(zh ? QStringLiteral("芯片没有自行回到Bootloader。请让BOOT0保持高电平并复位"
                                            "目标板（最多等待%1秒，可按停止）。")
                                 .arg(e.value.value_or(0))
                           : QStringLiteral("The chip did not come back into its bootloader by "
                                            "itself. Keep BOOT0 high and reset the board (waiting "
                                            "up to %1 s; Stop ends the wait).")
                                 .arg(e.value.value_or(0)))};
        case EventCode::ReconnectFailed:
            return {log(t("复位后未能重新连接芯片：新的选项字节未经核对。",
                          "The chip could not be reached again after its reset: the new option "
                          "bytes were not checked."))};
        case EventCode::OptionBytesMismatch:
            return {log(zh ? QStringLiteral("选项字节回读不符：第%1字节应为%2，实为%3。写入失败！")
                                 .arg(e.address.value_or(0))
                                 .arg(hex2(e.expected.value_or(0)), hex2(e.actual.value_or(0)))
                           : QStringLiteral("The option bytes read back differ: byte %1 should be "
                                            "0x%2 but is 0x%3. The write failed!")
                                 .arg(e.address.value_or(0))
                                 .arg(hex2(e.expected.value_or(0)), hex2(e.actual.value_or(0))))};
        case EventCode::OptionBytesWritten:
            return {log(t("选项字节已写入，并经回读核对无误。",
                          "The option bytes were written and read back equal."))};
        case EventCode::WriteProtectUnsupported:
            return {
                log(t("此芯片的写保护按页区域设置，不能按页选择。请用 option-bytes --set 设置"
                      "WRP1A_STRT/WRP1A_END等选项。",
                      "This chip protects areas of pages, not single groups. Set its WRP "
                      "area options (WRP1A_STRT, WRP1A_END, ...) with option-bytes --set."))};
        case EventCode::WriteProtectOutside:
            return {log(t("所给范围内没有可写保护的Flash页或扇区。",
                          "The range holds no flash page or sector that can be write-protected."))};
        case EventCode::WriteProtectBegun:
            return {log(zh ? QStringLiteral("设置写保护(%1组)......").arg(e.value.value_or(0))
                           : QStringLiteral("Setting write protection (%1 groups)...")
                                 .arg(e.value.value_or(0)))};
        case EventCode::WriteProtectFailed:
            if (e.value)
                return {log(zh ? QStringLiteral("写保护设置后回读：页或扇区%1仍未受保护。失败！")
                                     .arg(e.value.value_or(0))
                               : QStringLiteral("Read back after the reset, page or sector %1 is "
                                                "still not protected. Write protection failed!")
                                     .arg(e.value.value_or(0)))};
            return {log(reasonLine(e, language, QStringLiteral("设置写保护失败"),
                                   QStringLiteral("Write Protect failed")))};
        case EventCode::WriteProtectDone:
            return {log(t("写保护已设置，并经回读核对。",
                          "Write protection set and confirmed by reading it back."))};
        case EventCode::WriteUnprotectBegun:
            return {log(t("解除写保护......", "Removing the write protection..."))};
        case EventCode::WriteUnprotectFailed:
            if (e.value)
                return {log(zh ? QStringLiteral("解除写保护后回读：仍有%1个页或扇区受保护。失败！")
                                     .arg(e.value.value_or(0))
                               : QStringLiteral("Read back after the reset, %1 pages or sectors "
                                                "are still protected. Write Unprotect failed!")
                                     .arg(e.value.value_or(0)))};
            return {log(reasonLine(e, language, QStringLiteral("解除写保护失败"),
                                   QStringLiteral("Write Unprotect failed")))};
        case EventCode::WriteUnprotectDone:
            if (e.value.value_or(0) < 0)
                return {log(t("已解除写保护（芯片复位后选项字节无法回读核对）。",
                              "Write protection removed (the option bytes could not be read "
                              "back after the reset)."))};
            return {log(t("已解除写保护，并经回读核对。",
                          "Write protection removed and confirmed by reading it back."))};
        case EventCode::UnitsWriteProtected:
            return {
                refusal(zh ? QStringLiteral("页或扇区%1(从%2起)处于写保护状态，未做任何擦除。请先"
                                            "执行 write-unprotect 解除写保护。")
                                 .arg(e.text, at)
                           : QStringLiteral("Pages or sectors %1 (from %2) are write-protected; "
                                            "nothing was erased. Remove the protection first "
                                            "(write-unprotect).")
                                 .arg(e.text, at))};
        case EventCode::BankLayout:
            if (e.value.value_or(1) == 1)
                return {log(t("Flash为单bank（由选项字节决定）。",
                              "The flash is one bank (as its option bytes say)."))};
            return {
                log(zh ? QStringLiteral("Flash为双bank，bank 2从%1开始。").arg(at)
                       : QStringLiteral("The flash has two banks; bank 2 starts at %1.").arg(at))};
        case EventCode::BankLayoutUnknown:
            return {
                refusal(t("此芯片的bank布局由选项字节决定，而其选项字节未能读取（芯片读保护，或本"
                          "程序不知道其选项字节）：只能整片擦除，拒绝按页或按bank擦除。",
                          "An option bit decides this chip's bank layout and its option bytes "
                          "were not read (readout protection, or this program does not know "
                          "them): only the whole chip can be erased; page and bank erase are "
                          "refused."))};
        // Turbo recovery
        case EventCode::TurboChipReset:
            return {log(e.ok ? t("芯片已回到系统引导程序。", "The chip is back in its bootloader.")
                             : t("芯片既不像RAM加载程序也不像系统引导程序那样应答；下次连接前请复位"
                                 "目标板。",
                                 "The chip answered neither as the RAM loader nor as its "
                                 "bootloader; reset the board before the next connect."))};
        case EventCode::LoaderFoundAtConnect:
            return {log(t("芯片仍在运行RAM加载程序，已通过它复位芯片。",
                          "The chip was still running the RAM loader; it was reset through the "
                          "loader."))};
        case EventCode::OptionBytesReadOnly:
            return {
                log(zh ? QStringLiteral("%1芯片的选项字节只能读取：本程序不知道经由引导程序改写"
                                        "它们的方法，未写入任何内容。")
                             .arg(e.family)
                       : QStringLiteral("The option bytes of this chip (%1) can be read but not "
                                        "written: this program knows no way to reprogram them "
                                        "through the bootloader. Nothing was written.")
                             .arg(e.family))};
        // Turbo two-stage start
        case EventCode::TurboStageStarted:
            return {
                log(zh ? QStringLiteral("RAM加载程序已经以%1的速率装入。").arg(e.value.value_or(0))
                       : QStringLiteral("RAM loader sent at %1 through a first stage.")
                             .arg(e.value.value_or(0)))};
        case EventCode::TurboStageFallback:
            return {log(t("高速装入RAM加载程序未成功，改由系统引导程序以连接速率装入。",
                          "Sending the RAM loader at the fast speed failed; it goes through the "
                          "bootloader at the connect speed."))};
        case EventCode::TurboLineRepaired:
            return {log(
                zh ? QStringLiteral("线路有错: 共发送%2帧, 其中%1帧重发。请检查连线或降低速率。")
                         .arg(e.value.value_or(0))
                         .arg(e.total)
                   : QStringLiteral("The line damaged or lost data: %1 of %2 frames were "
                                    "sent again. Check the wiring or use a lower speed.")
                         .arg(e.value.value_or(0))
                         .arg(e.total))};
    }
    return {};
}

LinkChange LinkChangeOf(const Event& e) {
    LinkChange change;
    switch (e.code) {
        case EventCode::ConnectBegun:
            change.lamp = Lamp::Gray;
            break;
        case EventCode::Synchronised:
            change.lamp = Lamp::Green;
            break;
        case EventCode::LinkClosed:
            change.lamp = Lamp::Gray;
            change.commands = CommandStates();
            break;
        case EventCode::LinkReady: {
            CommandStates s;
            s.protect = s.unprotect = s.program = s.erase = s.go = true;
            s.read = e.readable;
            change.commands = s;
            break;
        }
        default:
            break;
    }
    return change;
}

// ---------------------------------------------------------------------------------------------
// Names
QString EventName(EventCode code) {
    switch (code) {
        case EventCode::OperationBegun:
            return QStringLiteral("operation_begun");
        case EventCode::OperationEnded:
            return QStringLiteral("operation_ended");
        case EventCode::Progress:
            return QStringLiteral("progress");
        case EventCode::LinkClosed:
            return QStringLiteral("link_closed");
        case EventCode::LinkReady:
            return QStringLiteral("link_ready");
        case EventCode::PortOpenFailed:
            return QStringLiteral("port_open_failed");
        case EventCode::PortLinesFailed:
            return QStringLiteral("port_lines_failed");
        case EventCode::PortUnusable:
            return QStringLiteral("port_unusable");
        case EventCode::AddressRefused:
            return QStringLiteral("address_refused");
        case EventCode::DataRefused:
            return QStringLiteral("data_refused");
        case EventCode::ConnectBegun:
            return QStringLiteral("connect_begun");
        case EventCode::ConnectPortFailed:
            return QStringLiteral("connect_port_failed");
        case EventCode::AlreadySynchronised:
            return QStringLiteral("already_synchronised");
        case EventCode::Synchronised:
            return QStringLiteral("synchronised");
        case EventCode::BoardSilent:
            return QStringLiteral("board_silent");
        case EventCode::Connected:
            return QStringLiteral("connected");
        case EventCode::GetIdFailed:
            return QStringLiteral("get_id_failed");
        case EventCode::IdUnrecognised:
            return QStringLiteral("id_unrecognised");
        case EventCode::ChipIdentified:
            return QStringLiteral("chip_identified");
        case EventCode::GetFailed:
            return QStringLiteral("get_failed");
        case EventCode::BootloaderVersion:
            return QStringLiteral("bootloader_version");
        case EventCode::FlashSizeStated:
            return QStringLiteral("flash_size_stated");
        case EventCode::FlashSizeAssumed:
            return QStringLiteral("flash_size_assumed");
        case EventCode::FlashSizeUnknown:
            return QStringLiteral("flash_size_unknown");
        case EventCode::FlashSizeUnknownChip:
            return QStringLiteral("flash_size_unknown_chip");
        case EventCode::FlashSize:
            return QStringLiteral("flash_size");
        case EventCode::ReadStepFailed:
            return QStringLiteral("read_step_failed");
        case EventCode::ReadReplyFailed:
            return QStringLiteral("read_reply_failed");
        case EventCode::VerifyStepFailed:
            return QStringLiteral("verify_step_failed");
        case EventCode::NoImageFile:
            return QStringLiteral("no_image_file");
        case EventCode::ImageFileMissing:
            return QStringLiteral("image_file_missing");
        case EventCode::ImageFileUnreadable:
            return QStringLiteral("image_file_unreadable");
        case EventCode::HexLineRejected:
            return QStringLiteral("hex_line_rejected");
        case EventCode::HexBadData:
            return QStringLiteral("hex_bad_data");
        case EventCode::HexNoEndRecord:
            return QStringLiteral("hex_no_end_record");
        case EventCode::HexConflict:
            return QStringLiteral("hex_conflict");
        case EventCode::BinaryLoadAddress:
            return QStringLiteral("binary_load_address");
        case EventCode::ImageEmpty:
            return QStringLiteral("image_empty");
        case EventCode::ImageTooLarge:
            return QStringLiteral("image_too_large");
        case EventCode::SrecRefused:
            return QStringLiteral("srec_refused");
        case EventCode::SrecConflict:
            return QStringLiteral("srec_conflict");
        case EventCode::ElfRefused:
            return QStringLiteral("elf_refused");
        case EventCode::ChipUnknown:
            return QStringLiteral("chip_unknown");
        case EventCode::EraseCommandMissing:
            return QStringLiteral("erase_command_missing");
        case EventCode::EraseUnitsUnknown:
            return QStringLiteral("erase_units_unknown");
        case EventCode::OutsideMemory:
            return QStringLiteral("outside_memory");
        case EventCode::ProgramFailed:
            return QStringLiteral("program_failed");
        case EventCode::ProgramBegun:
            return QStringLiteral("program_begun");
        case EventCode::WriteFailed:
            return QStringLiteral("write_failed");
        case EventCode::VerifyMismatch:
            return QStringLiteral("verify_mismatch");
        case EventCode::VerifyMismatchAt:
            return QStringLiteral("verify_mismatch_at");
        case EventCode::VerifyReadFailed:
            return QStringLiteral("verify_read_failed");
        case EventCode::Verified:
            return QStringLiteral("verified");
        case EventCode::Programmed:
            return QStringLiteral("programmed");
        case EventCode::TurboUnavailable:
            return QStringLiteral("turbo_unavailable");
        case EventCode::TurboStarted:
            return QStringLiteral("turbo_started");
        case EventCode::TurboSpeed:
            return QStringLiteral("turbo_speed");
        case EventCode::TurboSkipped:
            return QStringLiteral("turbo_skipped");
        case EventCode::TurboFailed:
            return QStringLiteral("turbo_failed");
        case EventCode::TurboVerifyMismatch:
            return QStringLiteral("turbo_verify_mismatch");
        case EventCode::ChipEraseBegun:
            return QStringLiteral("chip_erase_begun");
        case EventCode::PagesEraseBegun:
            return QStringLiteral("pages_erase_begun");
        case EventCode::PageOutOfRange:
            return QStringLiteral("page_out_of_range");
        case EventCode::EraseOutsideFlash:
            return QStringLiteral("erase_outside_flash");
        case EventCode::Erased:
            return QStringLiteral("erased");
        case EventCode::EraseFailed:
            return QStringLiteral("erase_failed");
        case EventCode::EraseReplyFailed:
            return QStringLiteral("erase_reply_failed");
        case EventCode::ReadRangeInvalid:
            return QStringLiteral("read_range_invalid");
        case EventCode::ReadPastFlashEnd:
            return QStringLiteral("read_past_flash_end");
        case EventCode::OutputFolderMissing:
            return QStringLiteral("output_folder_missing");
        case EventCode::OutputNotWritable:
            return QStringLiteral("output_not_writable");
        case EventCode::ReadBegun:
            return QStringLiteral("read_begun");
        case EventCode::ReadAborted:
            return QStringLiteral("read_aborted");
        case EventCode::ReadDone:
            return QStringLiteral("read_done");
        case EventCode::Started:
            return QStringLiteral("started");
        case EventCode::GoSilent:
            return QStringLiteral("go_silent");
        case EventCode::GoReplyFailed:
            return QStringLiteral("go_reply_failed");
        case EventCode::GoAddressRefused:
            return QStringLiteral("go_address_refused");
        case EventCode::ResetIntoProgram:
            return QStringLiteral("reset_into_program");
        case EventCode::Protected:
            return QStringLiteral("protected");
        case EventCode::ProtectFailed:
            return QStringLiteral("protect_failed");
        case EventCode::ProtectReplyFailed:
            return QStringLiteral("protect_reply_failed");
        case EventCode::Unprotected:
            return QStringLiteral("unprotected");
        case EventCode::UnprotectFailed:
            return QStringLiteral("unprotect_failed");
        case EventCode::UnprotectReplyFailed:
            return QStringLiteral("unprotect_reply_failed");
        case EventCode::UnprotectErasing:
            return QStringLiteral("unprotect_erasing");
        case EventCode::UnprotectPending:
            return QStringLiteral("unprotect_pending");
        case EventCode::SerialNumberTaken:
            return QStringLiteral("serial_number_taken");
        case EventCode::SerialNumberUsed:
            return QStringLiteral("serial_number_used");
        case EventCode::SerialNumberReturned:
            return QStringLiteral("serial_number_returned");
        case EventCode::SerialTooWide:
            return QStringLiteral("serial_too_wide");
        case EventCode::SerialOverlapsImage:
            return QStringLiteral("serial_overlaps_image");
        case EventCode::SerialOutsideFlash:
            return QStringLiteral("serial_outside_flash");
        case EventCode::SerialStateMissing:
            return QStringLiteral("serial_state_missing");
        case EventCode::SerialStateInvalid:
            return QStringLiteral("serial_state_invalid");
        case EventCode::SerialStateFailed:
            return QStringLiteral("serial_state_failed");
        case EventCode::SerialStartAhead:
            return QStringLiteral("serial_start_ahead");
        case EventCode::RecordFailed:
            return QStringLiteral("record_failed");
        case EventCode::UniqueId:
            return QStringLiteral("unique_id");
        case EventCode::UniqueIdUnreadable:
            return QStringLiteral("unique_id_unreadable");
        case EventCode::OptionBytesUnsupported:
            return QStringLiteral("option_bytes_unsupported");
        case EventCode::OptionBytesProtected:
            return QStringLiteral("option_bytes_protected");
        case EventCode::OptionBytesReadFailed:
            return QStringLiteral("option_bytes_read_failed");
        case EventCode::OptionBytesRead:
            return QStringLiteral("option_bytes_read");
        case EventCode::OptionFieldValue:
            return QStringLiteral("option_field_value");
        case EventCode::WriteProtection:
            return QStringLiteral("write_protection");
        case EventCode::WriteProtectedRange:
            return QStringLiteral("write_protected_range");
        case EventCode::OptionEditMalformed:
            return QStringLiteral("option_edit_malformed");
        case EventCode::OptionNameUnknown:
            return QStringLiteral("option_name_unknown");
        case EventCode::OptionValueInvalid:
            return QStringLiteral("option_value_invalid");
        case EventCode::OptionLevelInvalid:
            return QStringLiteral("option_level_invalid");
        case EventCode::ReadoutLevel2Refused:
            return QStringLiteral("readout_level_two_refused");
        case EventCode::OptionBytesUnchanged:
            return QStringLiteral("option_bytes_unchanged");
        case EventCode::OptionBytesWriting:
            return QStringLiteral("option_bytes_writing");
        case EventCode::OptionBytesWriteFailed:
            return QStringLiteral("option_bytes_write_failed");
        case EventCode::ChipResetting:
            return QStringLiteral("chip_resetting");
        case EventCode::ResetBoardRequest:
            return QStringLiteral("reset_board_request");
        case EventCode::ReconnectFailed:
            return QStringLiteral("reconnect_failed");
        case EventCode::OptionBytesMismatch:
            return QStringLiteral("option_bytes_mismatch");
        case EventCode::OptionBytesWritten:
            return QStringLiteral("option_bytes_written");
        case EventCode::WriteProtectUnsupported:
            return QStringLiteral("write_protect_unsupported");
        case EventCode::WriteProtectOutside:
            return QStringLiteral("write_protect_outside");
        case EventCode::WriteProtectBegun:
            return QStringLiteral("write_protect_begun");
        case EventCode::WriteProtectFailed:
            return QStringLiteral("write_protect_failed");
        case EventCode::WriteProtectDone:
            return QStringLiteral("write_protect_done");
        case EventCode::WriteUnprotectBegun:
            return QStringLiteral("write_unprotect_begun");
        case EventCode::WriteUnprotectFailed:
            return QStringLiteral("write_unprotect_failed");
        case EventCode::WriteUnprotectDone:
            return QStringLiteral("write_unprotect_done");
        case EventCode::UnitsWriteProtected:
            return QStringLiteral("units_write_protected");
        case EventCode::BankLayout:
            return QStringLiteral("bank_layout");
        case EventCode::BankLayoutUnknown:
            return QStringLiteral("bank_layout_unknown");
        case EventCode::TurboChipReset:
            return QStringLiteral("turbo_chip_reset");
        case EventCode::LoaderFoundAtConnect:
            return QStringLiteral("loader_found_at_connect");
        case EventCode::OptionBytesReadOnly:
            return QStringLiteral("option_bytes_read_only");
        case EventCode::TurboStageStarted:
            return QStringLiteral("turbo_stage_started");
        case EventCode::TurboStageFallback:
            return QStringLiteral("turbo_stage_fallback");
        case EventCode::TurboLineRepaired:
            return QStringLiteral("turbo_line_repaired");
    }
    return {};
}

QString OperationName(Operation operation) {
    switch (operation) {
        case Operation::None:
            return QStringLiteral("none");
        case Operation::Connect:
            return QStringLiteral("connect");
        case Operation::Load:
            return QStringLiteral("load");
        case Operation::Program:
            return QStringLiteral("program");
        case Operation::Verify:
            return QStringLiteral("verify");
        case Operation::Read:
            return QStringLiteral("read");
        case Operation::Erase:
            return QStringLiteral("erase");
        case Operation::Go:
            return QStringLiteral("go");
        case Operation::Run:
            return QStringLiteral("run");
        case Operation::Protect:
            return QStringLiteral("protect");
        case Operation::Unprotect:
            return QStringLiteral("unprotect");
        case Operation::OptionBytes:
            return QStringLiteral("option_bytes");
        case Operation::OptionWrite:
            return QStringLiteral("option_write");
        case Operation::WriteProtect:
            return QStringLiteral("write_protect");
        case Operation::WriteUnprotect:
            return QStringLiteral("write_unprotect");
    }
    return {};
}

QString ReplyName(ReplyStatus status) {
    switch (status) {
        case ReplyStatus::Ack:
            return QStringLiteral("ack");
        case ReplyStatus::Nack:
            return QStringLiteral("nack");
        case ReplyStatus::Timeout:
            return QStringLiteral("timeout");
        case ReplyStatus::Stopped:
            return QStringLiteral("stopped");
        case ReplyStatus::LineLost:
            return QStringLiteral("line_lost");
    }
    return {};
}

QString StepName(Step step) {
    switch (step) {
        case Step::None:
            return QStringLiteral("none");
        case Step::Command:
            return QStringLiteral("command");
        case Step::Address:
            return QStringLiteral("address");
        case Step::Count:
            return QStringLiteral("count");
        case Step::Data:
            return QStringLiteral("data");
    }
    return {};
}

QString PortErrorName(PortError error) {
    switch (error) {
        case PortError::None:
            return QStringLiteral("none");
        case PortError::NotFound:
            return QStringLiteral("not_found");
        case PortError::NoPermission:
            return QStringLiteral("no_permission");
        case PortError::InUse:
            return QStringLiteral("in_use");
        case PortError::Other:
            return QStringLiteral("other");
    }
    return {};
}

QString HexLineErrorName(HexLineError error) {
    switch (error) {
        case HexLineError::None:
            return QStringLiteral("none");
        case HexLineError::IllegalFormat:
            return QStringLiteral("illegal_format");
        case HexLineError::BadChecksum:
            return QStringLiteral("bad_checksum");
        case HexLineError::SegmentLength:
            return QStringLiteral("segment_length");
        case HexLineError::StartSegment:
            return QStringLiteral("start_segment");
        case HexLineError::LinearLength:
            return QStringLiteral("linear_length");
        case HexLineError::StartLinearLength:
            return QStringLiteral("start_linear_length");
    }
    return {};
}

QString SrecErrorName(SrecError error) {
    switch (error) {
        case SrecError::None:
            return QStringLiteral("none");
        case SrecError::IllegalFormat:
            return QStringLiteral("illegal_format");
        case SrecError::BadType:
            return QStringLiteral("bad_type");
        case SrecError::BadLength:
            return QStringLiteral("bad_length");
        case SrecError::BadChecksum:
            return QStringLiteral("bad_checksum");
        case SrecError::AddressOverflow:
            return QStringLiteral("address_overflow");
        case SrecError::CountMismatch:
            return QStringLiteral("count_mismatch");
        case SrecError::AfterEnd:
            return QStringLiteral("after_end");
        case SrecError::NoEndRecord:
            return QStringLiteral("no_end_record");
        case SrecError::TooLong:
            return QStringLiteral("too_long");
    }
    return {};
}

QString ElfErrorName(ElfError error) {
    switch (error) {
        case ElfError::None:
            return QStringLiteral("none");
        case ElfError::NotElf:
            return QStringLiteral("not_elf");
        case ElfError::Not32Bit:
            return QStringLiteral("not_32_bit");
        case ElfError::NotLittleEndian:
            return QStringLiteral("not_little_endian");
        case ElfError::NotArm:
            return QStringLiteral("not_arm");
        case ElfError::BadHeader:
            return QStringLiteral("bad_header");
        case ElfError::SegmentPastEnd:
            return QStringLiteral("segment_past_end");
        case ElfError::AddressOverflow:
            return QStringLiteral("address_overflow");
        case ElfError::NoLoadableData:
            return QStringLiteral("no_loadable_data");
        case ElfError::OverlappingSegments:
            return QStringLiteral("overlapping_segments");
    }
    return {};
}

}  // namespace praxon
