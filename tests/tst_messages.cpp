// The message catalogue: every text of every event in Chinese and English, and where a front
// end shows it ("log:", "msg:", "statusN:" for the window's status panel N: 2 progress, 4 device,
// 6 link). The Chinese texts are the ones the window and praxon-cli have always shown.
#include <QRegularExpression>
#include <QSet>
#include <QtTest>
#include <functional>

#include "Messages.h"

using namespace praxon;

Q_DECLARE_METATYPE(praxon::Event)

namespace {

Event make(EventCode code, Operation operation, const std::function<void(Event&)>& setup) {
    Event e(code, operation);
    if (setup) setup(e);
    return e;
}

QString shown(const Event& e, Language language) {
    QStringList parts;
    for (const Shown& s : Render(e, language)) {
        const QString where = s.how == Presentation::Log ? QStringLiteral("log")
                              : s.how == Presentation::Message
                                  ? QStringLiteral("msg")
                                  : QStringLiteral("status%1")
                                        .arg(s.field == StatusField::Progress ? 2
                                             : s.field == StatusField::Device ? 4
                                                                              : 6);
        parts << where + ':' + s.text;
    }
    return parts.join(QStringLiteral(" | "));
}

struct Row {
    const char* name;
    Event event;
    const char* zh;
    const char* en;
};

const QList<Row>& Rows() {
    static const QList<Row> rows{
        {"operation begun", make(EventCode::OperationBegun, Operation::Program, nullptr), "", ""},
        {"operation ended",
         make(EventCode::OperationEnded, Operation::Program, [](Event& e) { e.ok = true; }), "",
         ""},
        {"progress of a write",
         make(EventCode::Progress, Operation::Program,
              [](Event& e) {
                  e.done = 75;
                  e.total = 1000;
              }),
         "status2:完成07.50%.", "status2:Writing: 7.50%"},
        {"progress of a verify",
         make(EventCode::Progress, Operation::Verify,
              [](Event& e) {
                  e.done = 256;
                  e.total = 1024;
              }),
         "status2:校验25.00%.", "status2:Verifying: 25.00%"},
        {"progress of a read",
         make(EventCode::Progress, Operation::Read,
              [](Event& e) {
                  e.done = 4;
                  e.total = 1024;
              }),
         "status2:已读0.39%.", "status2:Reading: 0.39%"},
        {"link closed", make(EventCode::LinkClosed, Operation::None, nullptr), "status6:未连接",
         "status6:Not connected"},
        {"link ready",
         make(EventCode::LinkReady, Operation::Connect, [](Event& e) { e.readable = true; }), "",
         ""},
        {"port open failed, NotFound",
         make(EventCode::PortOpenFailed, Operation::Connect,
              [](Event& e) {
                  e.portError = PortError::NotFound;
                  e.text = "/dev/ttyUSB0";
                  e.detail = "open: system text";
              }),
         "msg:指定的串口不存在或已被占用。 | log:串口/dev/ttyUSB0: open: system text",
         "msg:The serial port /dev/ttyUSB0 does not exist. Check the port name and that the "
         "adapter is plugged in. | log:Serial port /dev/ttyUSB0: open: system text"},
        {"port open failed, NoPermission",
         make(EventCode::PortOpenFailed, Operation::Connect,
              [](Event& e) {
                  e.portError = PortError::NoPermission;
                  e.text = "/dev/ttyUSB0";
                  e.detail = "open: system text";
              }),
         "msg:没有权限打开串口/dev/ttyUSB0。请把当前用户加入dialout组（命令：sudo usermod -aG "
         "dialout $USER），然后注销并重新登录后再试。 | log:串口/dev/ttyUSB0: open: system text",
         "msg:No permission to open the serial port /dev/ttyUSB0. Add your user to the dialout "
         "group with the command\n  sudo usermod -aG dialout $USER\nthen log out and log in again "
         "(the new group takes effect only in a new login). | log:Serial port /dev/ttyUSB0: open: "
         "system text"},
        {"port open failed, InUse",
         make(EventCode::PortOpenFailed, Operation::Connect,
              [](Event& e) {
                  e.portError = PortError::InUse;
                  e.text = "/dev/ttyUSB0";
                  e.detail = "open: system text";
              }),
         "msg:串口/dev/ttyUSB0正被其它程序占用，请关闭该程序后再试。 | log:串口/dev/ttyUSB0: open: "
         "system text",
         "msg:The serial port /dev/ttyUSB0 is in use by another program. Close that program and "
         "try again. | log:Serial port /dev/ttyUSB0: open: system text"},
        {"port open failed, Other",
         make(EventCode::PortOpenFailed, Operation::Connect,
              [](Event& e) {
                  e.portError = PortError::Other;
                  e.text = "/dev/ttyUSB0";
                  e.detail = "open: system text";
              }),
         "msg:指定的串口不存在或已被占用。 | log:串口/dev/ttyUSB0: open: system text",
         "msg:The serial port /dev/ttyUSB0 could not be opened. | log:Serial port /dev/ttyUSB0: "
         "open: system text"},
        {"port open failed, no name",
         make(EventCode::PortOpenFailed, Operation::Connect,
              [](Event& e) { e.portError = PortError::NotFound; }),
         "msg:指定的串口不存在或已被占用。",
         "msg:No serial port was given. Name one, for example /dev/ttyUSB0 or COM3."},
        {"port lines failed", make(EventCode::PortLinesFailed, Operation::Connect, nullptr),
         "msg:串口无法控制DTR/RTS信号，不能自动复位目标板。请检查复位接线设置。",
         "msg:The serial port cannot drive its DTR and RTS lines, so the board cannot be reset "
         "automatically. Check the reset wiring setting."},
        {"port unusable", make(EventCode::PortUnusable, Operation::Read, nullptr),
         "msg:请指定可用串行口。",
         "msg:The serial port could not be written or went away. Check the adapter and choose a "
         "working port."},
        {"address refused",
         make(EventCode::AddressRefused, Operation::Read,
              [](Event& e) {
                  e.address = 0x08000400;
                  e.actual = 0x05;
              }),
         "msg:传送地址时应答为非ACK，应答值=5",
         "msg:The board did not acknowledge the address 0x08000400 (answer 0x05)."},
        {"data refused",
         make(EventCode::DataRefused, Operation::Program,
              [](Event& e) {
                  e.address = 0x08000400;
                  e.actual = 0x1F;
              }),
         "msg:传送数据时应答为非ACK，应答值=1F",
         "msg:The board did not acknowledge the data for 0x08000400 (answer 0x1F)."},
        {"connect begun", make(EventCode::ConnectBegun, Operation::Connect, nullptr),
         "status6:未连接. | status4: | log:连接目标板......",
         "status6:Not connected. | status4: | log:Connecting to the board..."},
        {"connect: port, NotFound",
         make(EventCode::ConnectPortFailed, Operation::Connect,
              [](Event& e) { e.portError = PortError::NotFound; }),
         "log:指定的串行口不存在或被其它应用程序占用。", "log:The serial port does not exist."},
        {"connect: port, NoPermission",
         make(EventCode::ConnectPortFailed, Operation::Connect,
              [](Event& e) { e.portError = PortError::NoPermission; }),
         "log:没有权限打开指定的串行口。", "log:No permission to open the serial port."},
        {"connect: port, InUse",
         make(EventCode::ConnectPortFailed, Operation::Connect,
              [](Event& e) { e.portError = PortError::InUse; }),
         "log:指定的串行口不存在或被其它应用程序占用。",
         "log:The serial port is in use by another program."},
        {"connect: port, Other",
         make(EventCode::ConnectPortFailed, Operation::Connect,
              [](Event& e) { e.portError = PortError::Other; }),
         "log:指定的串行口不存在或被其它应用程序占用。",
         "log:The serial port could not be opened."},
        {"already synchronised", make(EventCode::AlreadySynchronised, Operation::Connect, nullptr),
         "log:目标板已处于同步状态（未复位），继续连接。",
         "log:The board was synchronised already (not reset); connecting on."},
        {"synchronised", make(EventCode::Synchronised, Operation::Connect, nullptr),
         "status6:已连接. | status2:收到ACK，可以ISP了。",
         "status6:Connected. | status2:ACK received: ready to program."},
        {"board silent, NACK",
         make(EventCode::BoardSilent, Operation::Connect,
              [](Event& e) { e.withReply(ReplyStatus::Nack, 0x1F); }),
         "status2:收到NACK，请复位目标板并重新连接。 | "
         "log:目标板未响应，检查连接情况，请复位后再次连接。",
         "status2:NACK received: reset the board and connect again. | log:The board did not "
         "answer. Check the connection, reset the board and connect again."},
        {"board silent, timeout",
         make(EventCode::BoardSilent, Operation::Connect,
              [](Event& e) { e.reply = ReplyStatus::Timeout; }),
         "status2:请复位目标板并重新连接！ | log:目标板未响应，检查连接情况，请复位后再次连接。",
         "status2:Reset the board and connect again! | log:The board did not answer. Check the "
         "connection, reset the board and connect again."},
        {"board silent, entry sequence", make(EventCode::BoardSilent, Operation::Connect, nullptr),
         "log:目标板未响应，检查连接情况，请复位后再次连接。",
         "log:The board did not answer. Check the connection, reset the board and connect again."},
        {"connected", make(EventCode::Connected, Operation::Connect, nullptr),
         "log:连接成功，准备获取器件信息......", "log:Connected; reading the chip's details..."},
        {"get id failed, NACK",
         make(EventCode::GetIdFailed, Operation::Connect,
              [](Event& e) { e.withReply(ReplyStatus::Nack, 0x1F); }),
         "log:读取器件信息失败: 目标板应答NACK。",
         "log:Reading the chip's identity failed: the board answered NACK."},
        {"get id failed, stray byte",
         make(EventCode::GetIdFailed, Operation::Connect,
              [](Event& e) { e.withReply(ReplyStatus::Nack, 0x05); }),
         "log:读取器件信息失败: 目标板应答05。",
         "log:Reading the chip's identity failed: the board answered 0x05."},
        {"get id failed, timeout",
         make(EventCode::GetIdFailed, Operation::Connect,
              [](Event& e) { e.reply = ReplyStatus::Timeout; }),
         "log:读取器件信息失败: 等待应答超时。",
         "log:Reading the chip's identity failed: no answer in time."},
        {"get id failed, stopped",
         make(EventCode::GetIdFailed, Operation::Connect,
              [](Event& e) { e.reply = ReplyStatus::Stopped; }),
         "log:读取器件信息失败: 已停止。", "log:Reading the chip's identity failed: stopped."},
        {"get id failed, line lost",
         make(EventCode::GetIdFailed, Operation::Connect,
              [](Event& e) { e.reply = ReplyStatus::LineLost; }),
         "log:读取器件信息失败: 串口已断开。",
         "log:Reading the chip's identity failed: the serial line was lost."},
        {"id unrecognised", make(EventCode::IdUnrecognised, Operation::Connect, nullptr),
         "log:器件信息不可识别.", "log:The chip's identity answer was not understood."},
        {"chip identified",
         make(EventCode::ChipIdentified, Operation::Connect,
              [](Event& e) {
                  e.pid = 0x410;
                  e.family = "STM32F10x";
                  e.bytes = QByteArray::fromHex("0410");
              }),
         "status4:STM32F10x, PID=0410 | log:器件信息为STM32F10x, PID=0410",
         "status4:STM32F10x, PID=0410 | log:Chip: STM32F10x, PID=0410"},
        {"unknown chip identified",
         make(EventCode::ChipIdentified, Operation::Connect,
              [](Event& e) {
                  e.pid = 0x999;
                  e.bytes = QByteArray::fromHex("09990000");
              }),
         "status4:未知器件, PID=09990000 | log:器件信息为未知器件, PID=09990000",
         "status4:Unknown chip, PID=09990000 | log:Chip: Unknown chip, PID=09990000"},
        {"get failed",
         make(EventCode::GetFailed, Operation::Connect,
              [](Event& e) { e.reply = ReplyStatus::Timeout; }),
         "log:读取Bootloader命令失败: 等待应答超时。",
         "log:Reading the bootloader's commands failed: no answer in time."},
        {"bootloader version",
         make(EventCode::BootloaderVersion, Operation::Connect, [](Event& e) { e.value = 0x31; }),
         "log:Bootloader版本: 3.1", "log:Bootloader version: 3.1"},
        {"flash size stated",
         make(EventCode::FlashSizeStated, Operation::Connect, [](Event& e) { e.flashKB = 256; }),
         "log:FLASH容量按指定值计: 256K.", "log:Flash size taken as stated: 256 KB."},
        {"flash size assumed, register value",
         make(EventCode::FlashSizeAssumed, Operation::Connect,
              [](Event& e) {
                  e.flashKB = 128;
                  e.value = 0xFFFF;
              }),
         "log:FLASH容量寄存器读数为FFFF，按该系列最大容量128K计.",
         "log:The flash size register reads 0xFFFF; taking the family's largest flash, 128 KB."},
        {"flash size assumed, unreadable",
         make(EventCode::FlashSizeAssumed, Operation::Connect, [](Event& e) { e.flashKB = 128; }),
         "log:FLASH容量寄存器不可读，按该系列最大容量128K计.",
         "log:The flash size register cannot be read; taking the family's largest flash, 128 KB."},
        {"flash size unknown", make(EventCode::FlashSizeUnknown, Operation::Connect, nullptr),
         "log:取器件存储器容量失败.", "log:The chip's flash size is unknown."},
        {"flash size unknown chip",
         make(EventCode::FlashSizeUnknownChip, Operation::Connect, nullptr),
         "log:器件未识别，FLASH容量未知.",
         "log:The chip is not identified; its flash size is unknown."},
        {"flash and RAM size",
         make(EventCode::FlashSize, Operation::Connect,
              [](Event& e) {
                  e.flashKB = 64;
                  e.ramKB = 20;
              }),
         "log:FLASH容量为: 64K; RAM容量为: 20K.", "log:Flash size: 64 KB; RAM size: 20 KB."},
        {"flash size, RAM unknown",
         make(EventCode::FlashSize, Operation::Connect, [](Event& e) { e.flashKB = 64; }),
         "log:FLASH容量为: 64K; RAM容量为: 未知.", "log:Flash size: 64 KB; RAM size: unknown."},
        {"read step, Command",
         make(EventCode::ReadStepFailed, Operation::Read,
              [](Event& e) {
                  e.step = Step::Command;
                  e.withReply(ReplyStatus::Nack, 0x1F);
              }),
         "log:下发读命令失败。", "log:The board did not accept the Read Memory command."},
        {"verify step, Command",
         make(EventCode::VerifyStepFailed, Operation::Program,
              [](Event& e) {
                  e.step = Step::Command;
                  e.withReply(ReplyStatus::Nack, 0x1F);
              }),
         "log:下发送命令失败", "log:Verify: the board did not accept the Read Memory command."},
        {"read step, Address",
         make(EventCode::ReadStepFailed, Operation::Read,
              [](Event& e) {
                  e.step = Step::Address;
                  e.withReply(ReplyStatus::Nack, 0x1F);
              }),
         "log:下发地址命令失败。", "log:The board did not accept the read address."},
        {"verify step, Address",
         make(EventCode::VerifyStepFailed, Operation::Program,
              [](Event& e) {
                  e.step = Step::Address;
                  e.withReply(ReplyStatus::Nack, 0x1F);
              }),
         "log:下发地址命令失败", "log:Verify: the board did not accept the read address."},
        {"read step, Count",
         make(EventCode::ReadStepFailed, Operation::Read,
              [](Event& e) {
                  e.step = Step::Count;
                  e.withReply(ReplyStatus::Nack, 0x1F);
              }),
         "log:下发读个数失败。", "log:The board did not accept the read length."},
        {"verify step, Count",
         make(EventCode::VerifyStepFailed, Operation::Program,
              [](Event& e) {
                  e.step = Step::Count;
                  e.withReply(ReplyStatus::Nack, 0x1F);
              }),
         "log:下发读个数失败", "log:Verify: the board did not accept the read length."},
        {"read step, Data",
         make(EventCode::ReadStepFailed, Operation::Read,
              [](Event& e) {
                  e.step = Step::Data;
                  e.withReply(ReplyStatus::Nack, 0x1F);
              }),
         "log:读存储器内容非ACK应答, 中止读数.",
         "log:The board refused to send the memory contents; reading stopped."},
        {"verify step, Data",
         make(EventCode::VerifyStepFailed, Operation::Program,
              [](Event& e) {
                  e.step = Step::Data;
                  e.withReply(ReplyStatus::Nack, 0x1F);
              }),
         "log:非ACK应答，数据校验不正确.", "log:Verify: the board refused to send the data back."},
        {"read step, Data timeout",
         make(EventCode::ReadStepFailed, Operation::Read,
              [](Event& e) {
                  e.step = Step::Data;
                  e.reply = ReplyStatus::Timeout;
              }),
         "log:读存储器内容超时.", "log:Timed out waiting for the memory contents."},
        {"verify step, Data timeout",
         make(EventCode::VerifyStepFailed, Operation::Program,
              [](Event& e) {
                  e.step = Step::Data;
                  e.reply = ReplyStatus::Timeout;
              }),
         "log:超时.", "log:Verify: timed out waiting for the data."},
        {"read reply failed",
         make(EventCode::ReadReplyFailed, Operation::Read,
              [](Event& e) {
                  e.address = 0x08000100;
                  e.reply = ReplyStatus::Timeout;
              }),
         "log:读取08000100失败: 等待应答超时。",
         "log:Reading at 0x08000100 failed: no answer in time."},
        {"no image file", make(EventCode::NoImageFile, Operation::Load, nullptr),
         "msg:请指定下载文件。", "msg:Choose the firmware file to program."},
        {"image file missing",
         make(EventCode::ImageFileMissing, Operation::Load,
              [](Event& e) { e.text = "/tmp/f.hex"; }),
         "msg:指定的文件不存在，请重新打开。",
         "msg:The file /tmp/f.hex does not exist. Choose it again."},
        {"image file unreadable",
         make(EventCode::ImageFileUnreadable, Operation::Load,
              [](Event& e) { e.text = "/tmp/f.hex"; }),
         "msg:无法打开文件: /tmp/f.hex", "msg:Cannot open the file: /tmp/f.hex"},
        {"hex line, IllegalFormat",
         make(EventCode::HexLineRejected, Operation::Load,
              [](Event& e) {
                  e.hexError = HexLineError::IllegalFormat;
                  e.text = ":0400040005060708DD";
                  e.value = 3;
              }),
         "msg:HEX文件中包含非法格式数据.", "msg:Line 3 of the HEX file is not a valid record."},
        {"hex line, BadChecksum",
         make(EventCode::HexLineRejected, Operation::Load,
              [](Event& e) {
                  e.hexError = HexLineError::BadChecksum;
                  e.text = ":0400040005060708DD";
                  e.value = 3;
              }),
         "msg:校验和不正确，您给的串是：:0400040005060708DD",
         "msg:Line 3 of the HEX file has a wrong checksum: :0400040005060708DD"},
        {"hex line, SegmentLength",
         make(EventCode::HexLineRejected, Operation::Load,
              [](Event& e) {
                  e.hexError = HexLineError::SegmentLength;
                  e.text = ":0400040005060708DD";
                  e.value = 3;
              }),
         "msg:扩展段地址长度不是2个字节，这个地址偶也算不出啊......",
         "msg:Line 3 of the HEX file: an extended segment address record must hold 2 bytes."},
        {"hex line, StartSegment",
         make(EventCode::HexLineRejected, Operation::Load,
              [](Event& e) {
                  e.hexError = HexLineError::StartSegment;
                  e.text = ":0400040005060708DD";
                  e.value = 3;
              }),
         "msg:HEX文件中出现开始段地址记录，请参阅帮助中的“HEX文件”一节。",
         "msg:Line 3 of the HEX file is a start segment address record (type 03); see \"HEX "
         "files\" in the help."},
        {"hex line, LinearLength",
         make(EventCode::HexLineRejected, Operation::Load,
              [](Event& e) {
                  e.hexError = HexLineError::LinearLength;
                  e.text = ":0400040005060708DD";
                  e.value = 3;
              }),
         "msg:扩展线性地址长度不是4个字节，这个地址偶也算不出啊......",
         "msg:Line 3 of the HEX file: an extended linear address record must hold 2 bytes."},
        {"hex line, StartLinearLength",
         make(EventCode::HexLineRejected, Operation::Load,
              [](Event& e) {
                  e.hexError = HexLineError::StartLinearLength;
                  e.text = ":0400040005060708DD";
                  e.value = 3;
              }),
         "msg:开始线性地址长度不是4个字节，这个地址偶也算不出啊......",
         "msg:Line 3 of the HEX file: a start linear address record must hold 4 bytes."},
        {"hex bad data",
         make(EventCode::HexBadData, Operation::Load,
              [](Event& e) {
                  e.text = ":0400040005060708DD";
                  e.value = 3;
              }),
         "msg:HEX数据有误，下载失败！:0400040005060708DD",
         "msg:The HEX data are wrong at line 3; programming failed! :0400040005060708DD"},
        {"hex no end record", make(EventCode::HexNoEndRecord, Operation::Load, nullptr),
         "msg:HEX文件没有结束记录，文件可能不完整，下载失败！",
         "msg:The HEX file has no end-of-file record and may be incomplete; programming failed!"},
        {"hex conflict",
         make(EventCode::HexConflict, Operation::Load, [](Event& e) { e.address = 0x08000003; }),
         "msg:HEX文件中地址08000003的数据前后不一致，下载失败！",
         "msg:The HEX file gives two different values for address 0x08000003; programming failed!"},
        {"image empty", make(EventCode::ImageEmpty, Operation::Load, nullptr),
         "msg:文件中没有可下载的数据，下载失败！",
         "msg:The file holds no data to program; programming failed!"},
        {"image too large", make(EventCode::ImageTooLarge, Operation::Load, nullptr),
         "msg:文件超出32位地址空间，下载失败！",
         "msg:The file reaches past the 32-bit address space; programming failed!"},
        {"chip unknown, program",
         make(EventCode::ChipUnknown, Operation::Program, [](Event& e) { e.pid = 0x999; }),
         "msg:未知器件(PID=0999)，不知道它的FLASH如何擦除和写入，不能擦除或编程。",
         "msg:Unknown chip (PID 0x0999): how its flash is erased and written is not known, so it "
         "cannot be erased or programmed."},
        {"chip unknown, erase",
         make(EventCode::ChipUnknown, Operation::Erase, [](Event& e) { e.pid = 0x999; }),
         "log:未知器件(PID=0999)，不知道它的FLASH如何擦除和写入，不能擦除或编程。",
         "log:Unknown chip (PID 0x0999): how its flash is erased and written is not known, so it "
         "cannot be erased or programmed."},
        {"chip not identified, program", make(EventCode::ChipUnknown, Operation::Program, nullptr),
         "msg:器件未识别，不能擦除或编程。",
         "msg:The chip did not identify itself; it cannot be erased or programmed."},
        {"erase command missing, program",
         make(EventCode::EraseCommandMissing, Operation::Program, nullptr),
         "msg:Bootloader没有擦除命令，无法擦除。",
         "msg:The bootloader has no erase command; the flash cannot be erased."},
        {"erase command missing, erase",
         make(EventCode::EraseCommandMissing, Operation::Erase, nullptr),
         "log:Bootloader没有擦除命令，无法擦除。",
         "log:The bootloader has no erase command; the flash cannot be erased."},
        {"erase units unknown, program",
         make(EventCode::EraseUnitsUnknown, Operation::Program, nullptr),
         "msg:该器件的页(扇区)划分由选项字节决定，无法按页擦除，请选择整片擦除。",
         "msg:This chip's pages (sectors) are set by its option bytes, so it cannot be erased page "
         "by page. Choose a full chip erase."},
        {"erase units unknown, erase",
         make(EventCode::EraseUnitsUnknown, Operation::Erase, nullptr),
         "log:该器件的页(扇区)划分由选项字节决定，无法按页擦除，请选择整片擦除。",
         "log:This chip's pages (sectors) are set by its option bytes, so it cannot be erased page "
         "by page. Choose a full chip erase."},
        {"outside memory",
         make(EventCode::OutsideMemory, Operation::Program,
              [](Event& e) { e.address = 0x08020000; }),
         "msg:地址08020000超出器件可写入的存储器范围，下载失败！",
         "msg:Address 0x08020000 is outside the chip's writable memory; programming failed!"},
        {"program failed", make(EventCode::ProgramFailed, Operation::Program, nullptr),
         "msg:下载失败。", "msg:Programming failed."},
        {"program begun", make(EventCode::ProgramBegun, Operation::Program, nullptr),
         "log:开始编程......", "log:Programming..."},
        {"write failed",
         make(EventCode::WriteFailed, Operation::Program,
              [](Event& e) {
                  e.address = 0x08000000;
                  e.withReply(ReplyStatus::Nack, 0x1F);
              }),
         "log:写入08000000失败: 目标板应答NACK。",
         "log:Writing at 0x08000000 failed: the board answered NACK."},
        {"verify mismatch",
         make(EventCode::VerifyMismatch, Operation::Program,
              [](Event& e) {
                  e.address = 0x08000007;
                  e.expected = 0x08;
                  e.actual = 0xF7;
              }),
         "log:数据校验不正确.", "log:Verification failed at 0x08000007: expected 0x08, read 0xF7."},
        {"verify mismatch at",
         make(EventCode::VerifyMismatchAt, Operation::Verify,
              [](Event& e) {
                  e.address = 0x0800003F;
                  e.expected = 0x4A;
                  e.actual = 0xB5;
              }),
         "log:数据校验不正确. 首个不一致的地址为0800003F: 应为4A, 读回B5.",
         "log:Verification failed. First difference at 0x0800003F: expected 0x4A, read 0xB5."},
        {"verify read failed",
         make(EventCode::VerifyReadFailed, Operation::Verify,
              [](Event& e) {
                  e.address = 0x08000000;
                  e.reply = ReplyStatus::LineLost;
              }),
         "log:校验时读取08000000失败: 串口已断开。",
         "log:Reading back 0x08000000 to verify failed: the serial line was lost."},
        {"verified", make(EventCode::Verified, Operation::Verify, [](Event& e) { e.done = 64; }),
         "", ""},
        {"programmed, below a second",
         make(EventCode::Programmed, Operation::Program,
              [](Event& e) {
                  e.elapsedNs = 570000000;
                  e.done = 64;
              }),
         "status2:下载结束. | log:编程成功, 用时共.57秒。",
         "status2:Programming finished. | log:Programmed successfully in 0.57 s."},
        {"programmed, over a second",
         make(EventCode::Programmed, Operation::Program,
              [](Event& e) {
                  e.elapsedNs = 12345000000;
                  e.done = 64;
              }),
         "status2:下载结束. | log:编程成功, 用时共12.35秒。",
         "status2:Programming finished. | log:Programmed successfully in 12.35 s."},
        {"turbo unavailable for the chip",
         make(EventCode::TurboUnavailable, Operation::Program, [](Event& e) { e.value = 0; }),
         "log:此芯片或文件不能用极速方式，改用快速方式。",
         "log:Turbo serves neither this chip nor this image; programming in the fast mode."},
        {"turbo loader did not start",
         make(EventCode::TurboUnavailable, Operation::Program, [](Event& e) { e.value = 1; }),
         "log:RAM加载程序未能启动，改用快速方式。",
         "log:The RAM loader did not start; programming in the fast mode."},
        {"turbo started",
         make(EventCode::TurboStarted, Operation::Program, [](Event& e) { e.value = 5120; }),
         "log:RAM加载程序已启动, 缓冲区5120字节。", "log:RAM loader running, 5120-byte buffer."},
        {"turbo speed raised",
         make(EventCode::TurboSpeed, Operation::Program,
              [](Event& e) {
                  e.value = 921600;
                  e.ok = true;
              }),
         "log:线路速率已提高到921600。", "log:Line speed raised to 921600."},
        {"turbo speed kept",
         make(EventCode::TurboSpeed, Operation::Program, [](Event& e) { e.value = 2000000; }),
         "log:线路速率2000000不可用, 保持连接时的速率。",
         "log:Line speed 2000000 did not work; staying at the connect speed."},
        {"turbo skipped",
         make(EventCode::TurboSkipped, Operation::Program,
              [](Event& e) {
                  e.value = 60;
                  e.total = 64;
                  e.done = 61440;
              }),
         "log:60页(共64页)内容未变, 跳过61440字节。",
         "log:60 of 64 pages already held the image and were left alone (61440 bytes)."},
        {"turbo loader error",
         make(EventCode::TurboFailed, Operation::Program,
              [](Event& e) {
                  e.address = 0x08000400;
                  e.value = 5;
              }),
         "log:RAM加载程序在08000400报告错误5。",
         "log:The RAM loader reported error 5 at 0x08000400."},
        {"turbo loader silent", make(EventCode::TurboFailed, Operation::Program, nullptr),
         "log:RAM加载程序不再应答。", "log:The RAM loader stopped answering."},
        {"turbo CRC mismatch",
         make(EventCode::TurboVerifyMismatch, Operation::Verify,
              [](Event& e) {
                  e.address = 0x08000C00;
                  e.value = 4096;
              }),
         "log:CRC校验不正确: 08000C00起4096字节。",
         "log:CRC check failed for 4096 bytes from 0x08000C00."},
        {"chip erase begun", make(EventCode::ChipEraseBegun, Operation::Erase, nullptr),
         "log:开始整片擦除......", "log:Erasing the whole flash..."},
        {"pages erase begun",
         make(EventCode::PagesEraseBegun, Operation::Erase, [](Event& e) { e.value = 2; }),
         "log:开始擦除2页......", "log:Erasing 2 pages or sectors..."},
        {"one page erase begun",
         make(EventCode::PagesEraseBegun, Operation::Erase, [](Event& e) { e.value = 1; }),
         "log:开始擦除1页......", "log:Erasing 1 page or sector..."},
        {"page out of range",
         make(EventCode::PageOutOfRange, Operation::Erase, [](Event& e) { e.value = 256; }),
         "log:页号256超出擦除命令的范围(0~255)，无法擦除。",
         "log:Page 256 is beyond what the Erase command can name (0 to 255); nothing was erased."},
        {"erase outside flash", make(EventCode::EraseOutsideFlash, Operation::Erase, nullptr),
         "log:擦除范围不在FLASH内。", "log:The erase range is not inside the flash."},
        {"erased", make(EventCode::Erased, Operation::Erase, nullptr),
         "status2:Flash擦除完毕。 | log:擦除成功。",
         "status2:Flash erased. | log:Erase succeeded."},
        {"erase failed", make(EventCode::EraseFailed, Operation::Erase, nullptr),
         "status2:Flash擦除失败。 | log:擦除失败，请清除读保护......",
         "status2:Flash erase failed. | log:Erase failed; clear the readout protection first..."},
        {"erase reply failed",
         make(EventCode::EraseReplyFailed, Operation::Erase,
              [](Event& e) { e.withReply(ReplyStatus::Nack, 0x1F); }),
         "log:擦除: 目标板应答NACK。", "log:Erase failed: the board answered NACK."},
        {"read range invalid", make(EventCode::ReadRangeInvalid, Operation::Read, nullptr),
         "msg:读取范围无效。", "msg:The read range is not valid."},
        {"read past flash end",
         make(EventCode::ReadPastFlashEnd, Operation::Read,
              [](Event& e) {
                  e.address = 0x08020000;
                  e.value = 0x08020100;
              }),
         "msg:读取范围超出FLASH末尾(FLASH止于08020000)，未读取。",
         "msg:The read range runs past the end of the flash, which ends at 0x08020000; nothing was "
         "read."},
        {"output folder missing",
         make(EventCode::OutputFolderMissing, Operation::Read,
              [](Event& e) { e.text = "/no/such/folder"; }),
         "msg:文件夹/no/such/folder不存在，无法保存读出的数据。",
         "msg:The folder /no/such/folder does not exist; the data read cannot be saved there."},
        {"output not writable",
         make(EventCode::OutputNotWritable, Operation::Read,
              [](Event& e) { e.text = "/tmp/out.bin"; }),
         "msg:/tmp/out.bin文件正打开着, 覆盖失败.", "msg:Cannot write the file /tmp/out.bin."},
        {"output not writable, system text",
         make(EventCode::OutputNotWritable, Operation::Read,
              [](Event& e) {
                  e.text = "/tmp/out.bin";
                  e.detail = "No space left on device";
              }),
         "msg:/tmp/out.bin文件正打开着, 覆盖失败. | log:/tmp/out.bin: No space left on device",
         "msg:Cannot write the file /tmp/out.bin. | log:/tmp/out.bin: No space left on device"},
        {"read begun", make(EventCode::ReadBegun, Operation::Read, nullptr),
         "log:开始读取数据......", "log:Reading..."},
        {"read aborted", make(EventCode::ReadAborted, Operation::Read, nullptr),
         "log:读数据失败, 退出从芯片读取数据过程.",
         "log:Reading failed; the read from the chip was abandoned."},
        {"read done",
         make(EventCode::ReadDone, Operation::Read,
              [](Event& e) {
                  e.elapsedNs = 990000000;
                  e.done = 65536;
              }),
         "log:读取完成, 读取时间为:.99秒. | status2:已读完.",
         "log:Read finished in 0.99 s. | status2:Read complete."},
        {"started",
         make(EventCode::Started, Operation::Go, [](Event& e) { e.address = 0x08000000; }),
         "log:已运行。", "log:Started the program at 0x08000000."},
        {"go silent", make(EventCode::GoSilent, Operation::Go, nullptr), "log:目标板无响应。",
         "log:The board did not answer."},
        {"go reply failed",
         make(EventCode::GoReplyFailed, Operation::Go,
              [](Event& e) { e.reply = ReplyStatus::Timeout; }),
         "log:运行: 等待应答超时。", "log:Go failed: no answer in time."},
        {"go address refused",
         make(EventCode::GoAddressRefused, Operation::Go,
              [](Event& e) {
                  e.address = 0x12345678;
                  e.actual = 0x1F;
              }),
         "log:目标板拒绝了运行地址12345678(应答值=1F)，程序未运行。",
         "log:The board refused the start address 0x12345678 (answer 0x1F); the program was not "
         "started."},
        {"reset into program", make(EventCode::ResetIntoProgram, Operation::Run, nullptr),
         "log:已复位目标板，用户程序开始运行。",
         "log:The board was reset; the user program is running."},
        {"protected", make(EventCode::Protected, Operation::Protect, nullptr),
         "log:置读保护成功, 复位目标板后才能有效。",
         "log:Readout protection set; it takes effect once the board is reset."},
        {"protect failed", make(EventCode::ProtectFailed, Operation::Protect, nullptr),
         "log:置读保护失败。", "log:Setting the readout protection failed."},
        {"protect reply failed",
         make(EventCode::ProtectReplyFailed, Operation::Protect,
              [](Event& e) { e.withReply(ReplyStatus::Nack, 0x1F); }),
         "log:置读保护: 目标板应答NACK。", "log:Readout Protect failed: the board answered NACK."},
        {"unprotected", make(EventCode::Unprotected, Operation::Unprotect, nullptr),
         "log:清读保护成功, 复位目标板后才能有效。",
         "log:Readout protection cleared; it takes effect once the board is reset."},
        {"unprotect failed", make(EventCode::UnprotectFailed, Operation::Unprotect, nullptr),
         "log:清读保护失败.", "log:Clearing the readout protection failed."},
        {"unprotect reply failed",
         make(EventCode::UnprotectReplyFailed, Operation::Unprotect,
              [](Event& e) { e.reply = ReplyStatus::Timeout; }),
         "log:清读保护: 等待应答超时。", "log:Readout Unprotect failed: no answer in time."},
        {"unprotect erasing", make(EventCode::UnprotectErasing, Operation::Unprotect, nullptr),
         "status2:等待目标板擦除并复位......",
         "status2:Waiting for the board to erase its flash and reset..."},
        {"unprotect pending", make(EventCode::UnprotectPending, Operation::Unprotect, nullptr),
         "log:清读保护已执行，目标板可能仍在擦除，请稍候再复位目标板。",
         "log:Readout Unprotect was sent; the board may still be erasing. Wait a moment before "
         "resetting it."},
    };
    return rows;
}

constexpr int kLastCode = int(EventCode::UnprotectPending);

}  // namespace

class TestMessages : public QObject {
    Q_OBJECT
private slots:
    void texts_data() {
        QTest::addColumn<Event>("event");
        QTest::addColumn<QString>("zh");
        QTest::addColumn<QString>("en");
        for (const Row& r : Rows())
            QTest::newRow(r.name) << r.event << QString::fromUtf8(r.zh) << QString::fromUtf8(r.en);
    }

    void texts() {
        QFETCH(Event, event);
        QFETCH(QString, zh);
        QFETCH(QString, en);
        QCOMPARE(shown(event, Language::Chinese), zh);
        QCOMPARE(shown(event, Language::English), en);
        // English never falls back on a Chinese text.
        static const QRegularExpression cjk(
            QStringLiteral("[\\x{3000}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
        QVERIFY(!cjk.match(en).hasMatch());
        QCOMPARE(Render(event, Language::English).size(), Render(event, Language::Chinese).size());
    }

    // Every event has its row above, and a stable name of its own for machine-readable output.
    void everyCodeCovered() {
        QSet<int> covered;
        for (const Row& r : Rows()) covered.insert(int(r.event.code));
        QSet<QString> names;
        static const QRegularExpression snake(QStringLiteral("^[a-z]+(_[a-z]+)*$"));
        for (int c = 0; c <= kLastCode; ++c) {
            const QString name = EventName(EventCode(c));
            QVERIFY2(covered.contains(c), qPrintable(name));
            QVERIFY2(snake.match(name).hasMatch(), qPrintable(name));
            names.insert(name);
        }
        QCOMPARE(names.size(), kLastCode + 1);
    }

    // What an event changes of the lamp and the buttons.
    void linkChange_data() {
        QTest::addColumn<Event>("event");
        QTest::addColumn<QString>("change");  // lamp, then the operations offered
        const auto row = [](const char* name, EventCode code, bool readable, const char* change) {
            Event e(code);
            e.readable = readable;
            QTest::newRow(name) << e << QString(change);
        };
        row("connect begun", EventCode::ConnectBegun, false, "gray");
        row("synchronised", EventCode::Synchronised, false, "green");
        row("closed", EventCode::LinkClosed, false, "gray none");
        row("ready, readable", EventCode::LinkReady, true, "- all");
        row("ready, size unknown", EventCode::LinkReady, false, "- all but read");
        row("a log line", EventCode::Erased, false, "-");
    }

    void linkChange() {
        QFETCH(Event, event);
        QFETCH(QString, change);
        const LinkChange c = LinkChangeOf(event);
        QString actual = !c.lamp ? "-" : *c.lamp == Lamp::Green ? "green" : "gray";
        if (c.commands) {
            const CommandStates& s = *c.commands;
            const bool others = s.protect && s.unprotect && s.program && s.erase && s.go;
            const bool none = !s.protect && !s.unprotect && !s.program && !s.erase && !s.go;
            actual += others && s.read    ? " all"
                      : others && !s.read ? " all but read"
                      : none && !s.read   ? " none"
                                          : " mixed";
        }
        QCOMPARE(actual, change);
    }
};

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
