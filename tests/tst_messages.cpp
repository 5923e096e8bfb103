// The message catalogue: every text of every event in Chinese, in English where it carries the
// event's data (the rest held present, in place and distinct), and where a front end shows it
// ("log:", "msg:", "statusN:" for the window's status panel N: 2 progress, 4 device, 6 link). The
// Chinese texts are the ones the window and praxon-cli have always shown.
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include "Messages.h"

using namespace praxon;

Q_DECLARE_METATYPE(praxon::Event)

namespace {

// A row's event in one expression: Ev(code, operation).address(...).text(...)
struct Ev {
    Event e;
    Ev(EventCode code, Operation operation) : e(code, operation) {}
    operator Event() const { return e; }
    Ev& actual(uint8_t v) { return e.actual = v, *this; }
    Ev& address(uint32_t v) { return e.address = v, *this; }
    Ev& bytes(const QByteArray& v) { return e.bytes = v, *this; }
    Ev& detail(const char* v) { return e.detail = v, *this; }
    Ev& done(qint64 v) { return e.done = v, *this; }
    Ev& elapsedNs(qint64 v) { return e.elapsedNs = v, *this; }
    Ev& expected(uint8_t v) { return e.expected = v, *this; }
    Ev& family(const char* v) { return e.family = v, *this; }
    Ev& flashKB(int v) { return e.flashKB = v, *this; }
    Ev& hexError(HexLineError v) { return e.hexError = v, *this; }
    Ev& ok(bool v) { return e.ok = v, *this; }
    Ev& pid(uint16_t v) { return e.pid = v, *this; }
    Ev& portError(PortError v) { return e.portError = v, *this; }
    Ev& ramKB(int v) { return e.ramKB = v, *this; }
    Ev& readable(bool v) { return e.readable = v, *this; }
    Ev& reply(ReplyStatus v, uint8_t byte = 0) { return e.withReply(v, byte), *this; }
    Ev& step(Step v) { return e.step = v, *this; }
    Ev& text(const char* v) { return e.text = v, *this; }
    Ev& total(qint64 v) { return e.total = v, *this; }
    Ev& value(qint64 v) { return e.value = v, *this; }
    Ev& srecError(SrecError v) { return e.srecError = v, *this; }
    Ev& elfError(ElfError v) { return e.elfError = v, *this; }
};

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

// Line 3 of a HEX file refused for why.
Event HexLine(HexLineError why) {
    return Ev(EventCode::HexLineRejected, Operation::Load)
        .hexError(why)
        .text(":0400040005060708DD")
        .value(3);
}

// The port /dev/ttyUSB0 refused for why, with the system's text.
Ev PortOpen(PortError why) {
    return Ev(EventCode::PortOpenFailed, Operation::Connect)
        .portError(why)
        .text("/dev/ttyUSB0")
        .detail("open: system text");
}
// Line 4 of an S-record file refused for why.
Ev Srec(SrecError why) {
    return Ev(EventCode::SrecRefused, Operation::Load).srecError(why).text("S5030002FA").value(4);
}
Ev Elf(ElfError why) {
    return Ev(EventCode::ElfRefused, Operation::Load).elfError(why);
}

using C = EventCode;
using O = Operation;
using R = ReplyStatus;

// The Chinese text is always pinned; the English one where it carries the event's data, shows a
// status or names what to type. The others are held by the checks of texts() and
// englishDistinct().
struct Row {
    Event event;
    const char* zh;
    const char* en = nullptr;
};

const QList<Row>& Rows() {
    static const QList<Row> rows{
        {Ev(C::OperationBegun, O::Program), "", ""},
        {Ev(C::OperationEnded, O::Program).ok(true), "", ""},
        {Ev(C::Progress, O::Program).done(75).total(1000), "status2:完成07.50%.",
         "status2:Writing: 7.50%"},
        {Ev(C::Progress, O::Verify).done(256).total(1024), "status2:校验25.00%.",
         "status2:Verifying: 25.00%"},
        {Ev(C::Progress, O::Read).done(4).total(1024), "status2:已读0.39%.",
         "status2:Reading: 0.39%"},
        {Ev(C::LinkClosed, O::None), "status6:未连接", "status6:Not connected"},
        {Ev(C::LinkReady, O::Connect).readable(true), "", ""},
        {PortOpen(PortError::NotFound),
         "msg:指定的串口不存在或已被占用。 | log:串口/dev/ttyUSB0: open: system text",
         "msg:The serial port /dev/ttyUSB0 does not exist. Check the port name and that the "
         "adapter is plugged in. | log:Serial port /dev/ttyUSB0: open: system text"},
        {PortOpen(PortError::NoPermission),
         "msg:没有权限打开串口/dev/ttyUSB0。请把当前用户加入dialout组（命令：sudo usermod -aG "
         "dialout $USER），然后注销并重新登录后再试。 | log:串口/dev/ttyUSB0: open: system text",
         "msg:No permission to open the serial port /dev/ttyUSB0. Add your user to the dialout "
         "group with the command\n  sudo usermod -aG dialout $USER\nthen log out and log in again "
         "(the new group takes effect only in a new login). | log:Serial port /dev/ttyUSB0: open: "
         "system text"},
        {PortOpen(PortError::InUse),
         "msg:串口/dev/ttyUSB0正被其它程序占用，请关闭该程序后再试。 | log:串口/dev/ttyUSB0: open: "
         "system text",
         "msg:The serial port /dev/ttyUSB0 is in use by another program. Close that program and "
         "try again. | log:Serial port /dev/ttyUSB0: open: system text"},
        {PortOpen(PortError::Other),
         "msg:指定的串口不存在或已被占用。 | log:串口/dev/ttyUSB0: open: system text",
         "msg:The serial port /dev/ttyUSB0 could not be opened. | log:Serial port /dev/ttyUSB0: "
         "open: system text"},
        {Ev(C::PortOpenFailed, O::Connect).portError(PortError::NotFound),
         "msg:指定的串口不存在或已被占用。"},
        {Ev(C::PortLinesFailed, O::Connect),
         "msg:串口无法控制DTR/RTS信号，不能自动复位目标板。请检查复位接线设置。"},
        {Ev(C::PortUnusable, O::Read), "msg:请指定可用串行口。"},
        {Ev(C::AddressRefused, O::Read).address(0x08000400).actual(0x05),
         "msg:传送地址时应答为非ACK，应答值=5",
         "msg:The board did not acknowledge the address 0x08000400 (answer 0x05)."},
        {Ev(C::DataRefused, O::Program).address(0x08000400).actual(0x1F),
         "msg:传送数据时应答为非ACK，应答值=1F",
         "msg:The board did not acknowledge the data for 0x08000400 (answer 0x1F)."},
        {Ev(C::ConnectBegun, O::Connect), "status6:未连接. | status4: | log:连接目标板......",
         "status6:Not connected. | status4: | log:Connecting to the board..."},
        {Ev(C::ConnectPortFailed, O::Connect).portError(PortError::NotFound),
         "log:指定的串行口不存在或被其它应用程序占用。"},
        {Ev(C::ConnectPortFailed, O::Connect).portError(PortError::NoPermission),
         "log:没有权限打开指定的串行口。"},
        {Ev(C::ConnectPortFailed, O::Connect).portError(PortError::InUse),
         "log:指定的串行口不存在或被其它应用程序占用。"},
        {Ev(C::ConnectPortFailed, O::Connect).portError(PortError::Other),
         "log:指定的串行口不存在或被其它应用程序占用。"},
        {Ev(C::AlreadySynchronised, O::Connect), "log:目标板已处于同步状态（未复位），继续连接。"},
        {Ev(C::Synchronised, O::Connect), "status6:已连接. | status2:收到ACK，可以ISP了。",
         "status6:Connected. | status2:ACK received: ready to program."},
        {Ev(C::BoardSilent, O::Connect).reply(R::Nack, 0x1F),
         "status2:收到NACK，请复位目标板并重新连接。 | "
         "log:目标板未响应，检查连接情况，请复位后再次连接。",
         "status2:NACK received: reset the board and connect again. | log:The board did not "
         "answer. Check the connection, reset the board and connect again."},
        {Ev(C::BoardSilent, O::Connect).reply(R::Timeout),
         "status2:请复位目标板并重新连接！ | log:目标板未响应，检查连接情况，请复位后再次连接。",
         "status2:Reset the board and connect again! | log:The board did not answer. Check the "
         "connection, reset the board and connect again."},
        {Ev(C::BoardSilent, O::Connect), "log:目标板未响应，检查连接情况，请复位后再次连接。"},
        {Ev(C::Connected, O::Connect), "log:连接成功，准备获取器件信息......"},
        {Ev(C::GetIdFailed, O::Connect).reply(R::Nack, 0x1F),
         "log:读取器件信息失败: 目标板应答NACK。"},
        {Ev(C::GetIdFailed, O::Connect).reply(R::Nack, 0x05),
         "log:读取器件信息失败: 目标板应答05。",
         "log:Reading the chip's identity failed: the board answered 0x05."},
        {Ev(C::GetIdFailed, O::Connect).reply(R::Timeout), "log:读取器件信息失败: 等待应答超时。"},
        {Ev(C::GetIdFailed, O::Connect).reply(R::Stopped), "log:读取器件信息失败: 已停止。"},
        {Ev(C::GetIdFailed, O::Connect).reply(R::LineLost), "log:读取器件信息失败: 串口已断开。"},
        {Ev(C::IdUnrecognised, O::Connect), "log:器件信息不可识别."},
        {Ev(C::ChipIdentified, O::Connect)
             .pid(0x410)
             .family("STM32F10x")
             .bytes(QByteArray::fromHex("0410")),
         "status4:STM32F10x, PID=0410 | log:器件信息为STM32F10x, PID=0410",
         "status4:STM32F10x, PID=0410 | log:Chip: STM32F10x, PID=0410"},
        {Ev(C::ChipIdentified, O::Connect).pid(0x999).bytes(QByteArray::fromHex("09990000")),
         "status4:未知器件, PID=09990000 | log:器件信息为未知器件, PID=09990000",
         "status4:Unknown chip, PID=09990000 | log:Chip: Unknown chip, PID=09990000"},
        {Ev(C::GetFailed, O::Connect).reply(R::Timeout),
         "log:读取Bootloader命令失败: 等待应答超时。"},
        {Ev(C::BootloaderVersion, O::Connect).value(0x31), "log:Bootloader版本: 3.1",
         "log:Bootloader version: 3.1"},
        {Ev(C::FlashSizeStated, O::Connect).flashKB(256), "log:FLASH容量按指定值计: 256K.",
         "log:Flash size taken as stated: 256 KB."},
        {Ev(C::FlashSizeAssumed, O::Connect).flashKB(128).value(0xFFFF),
         "log:FLASH容量寄存器读数为FFFF，按该系列最大容量128K计.",
         "log:The flash size register reads 0xFFFF; taking the family's largest flash, 128 KB."},
        {Ev(C::FlashSizeAssumed, O::Connect).flashKB(128),
         "log:FLASH容量寄存器不可读，按该系列最大容量128K计.",
         "log:The flash size register cannot be read; taking the family's largest flash, 128 KB."},
        {Ev(C::FlashSizeUnknown, O::Connect), "log:取器件存储器容量失败."},
        {Ev(C::FlashSizeUnknownChip, O::Connect), "log:器件未识别，FLASH容量未知."},
        {Ev(C::FlashSize, O::Connect).flashKB(64).ramKB(20),
         "log:FLASH容量为: 64K; RAM容量为: 20K.", "log:Flash size: 64 KB; RAM size: 20 KB."},
        {Ev(C::FlashSize, O::Connect).flashKB(64), "log:FLASH容量为: 64K; RAM容量为: 未知.",
         "log:Flash size: 64 KB; RAM size: unknown."},
        {Ev(C::ReadStepFailed, O::Read).step(Step::Command).reply(R::Nack, 0x1F),
         "log:下发读命令失败。"},
        {Ev(C::VerifyStepFailed, O::Program).step(Step::Command).reply(R::Nack, 0x1F),
         "log:下发送命令失败"},
        {Ev(C::ReadStepFailed, O::Read).step(Step::Address).reply(R::Nack, 0x1F),
         "log:下发地址命令失败。"},
        {Ev(C::VerifyStepFailed, O::Program).step(Step::Address).reply(R::Nack, 0x1F),
         "log:下发地址命令失败"},
        {Ev(C::ReadStepFailed, O::Read).step(Step::Count).reply(R::Nack, 0x1F),
         "log:下发读个数失败。"},
        {Ev(C::VerifyStepFailed, O::Program).step(Step::Count).reply(R::Nack, 0x1F),
         "log:下发读个数失败"},
        {Ev(C::ReadStepFailed, O::Read).step(Step::Data).reply(R::Nack, 0x1F),
         "log:读存储器内容非ACK应答, 中止读数."},
        {Ev(C::VerifyStepFailed, O::Program).step(Step::Data).reply(R::Nack, 0x1F),
         "log:非ACK应答，数据校验不正确."},
        {Ev(C::ReadStepFailed, O::Read).step(Step::Data).reply(R::Timeout),
         "log:读存储器内容超时."},
        {Ev(C::VerifyStepFailed, O::Program).step(Step::Data).reply(R::Timeout), "log:超时."},
        {Ev(C::ReadReplyFailed, O::Read).address(0x08000100).reply(R::Timeout),
         "log:读取08000100失败: 等待应答超时。",
         "log:Reading at 0x08000100 failed: no answer in time."},
        {Ev(C::NoImageFile, O::Load), "msg:请指定下载文件。"},
        {Ev(C::ImageFileMissing, O::Load).text("/tmp/f.hex"), "msg:指定的文件不存在，请重新打开。",
         "msg:The file /tmp/f.hex does not exist. Choose it again."},
        {Ev(C::ImageFileUnreadable, O::Load).text("/tmp/f.hex"), "msg:无法打开文件: /tmp/f.hex",
         "msg:Cannot open the file: /tmp/f.hex"},
        {HexLine(HexLineError::IllegalFormat), "msg:HEX文件中包含非法格式数据.",
         "msg:Line 3 of the HEX file is not a valid record."},
        {HexLine(HexLineError::BadChecksum), "msg:校验和不正确，您给的串是：:0400040005060708DD",
         "msg:Line 3 of the HEX file has a wrong checksum: :0400040005060708DD"},
        {HexLine(HexLineError::SegmentLength),
         "msg:扩展段地址长度不是2个字节，这个地址偶也算不出啊......",
         "msg:Line 3 of the HEX file: an extended segment address record must hold 2 bytes."},
        {HexLine(HexLineError::StartSegment),
         "msg:HEX文件中出现开始段地址记录，请参阅帮助中的“HEX文件”一节。",
         "msg:Line 3 of the HEX file is a start segment address record (type 03); see \"HEX "
         "files\" in the help."},
        {HexLine(HexLineError::LinearLength),
         "msg:扩展线性地址长度不是4个字节，这个地址偶也算不出啊......",
         "msg:Line 3 of the HEX file: an extended linear address record must hold 2 bytes."},
        {HexLine(HexLineError::StartLinearLength),
         "msg:开始线性地址长度不是4个字节，这个地址偶也算不出啊......",
         "msg:Line 3 of the HEX file: a start linear address record must hold 4 bytes."},
        {Ev(C::HexBadData, O::Load).text(":0400040005060708DD").value(3),
         "msg:HEX数据有误，下载失败！:0400040005060708DD",
         "msg:The HEX data are wrong at line 3; programming failed! :0400040005060708DD"},
        {Ev(C::HexNoEndRecord, O::Load), "msg:HEX文件没有结束记录，文件可能不完整，下载失败！"},
        {Ev(C::HexConflict, O::Load).address(0x08000003),
         "msg:HEX文件中地址08000003的数据前后不一致，下载失败！",
         "msg:The HEX file gives two different values for address 0x08000003; programming failed!"},
        {Ev(C::BinaryLoadAddress, O::Load).address(0x08004000),
         "log:二进制文件的装载地址为08004000。", "log:The binary file is loaded at 0x08004000."},
        {Ev(C::ImageEmpty, O::Load), "msg:文件中没有可下载的数据，下载失败！"},
        {Ev(C::ImageTooLarge, O::Load), "msg:文件超出32位地址空间，下载失败！"},
        {Srec(SrecError::IllegalFormat),
         "msg:S-record文件第4行不是S-record记录，下载失败！ S5030002FA",
         "msg:Line 4 of the S-record file is not an S-record; programming failed! S5030002FA"},
        {Srec(SrecError::BadType), "msg:S-record文件第4行记录类型无效，下载失败！ S5030002FA",
         "msg:Line 4 of the S-record file has an unknown record type; programming failed! "
         "S5030002FA"},
        {Srec(SrecError::BadLength),
         "msg:S-record文件第4行字节数与记录长度不符，下载失败！ S5030002FA",
         "msg:Line 4 of the S-record file has a byte count that does not match its length; "
         "programming failed! S5030002FA"},
        {Srec(SrecError::BadChecksum), "msg:S-record文件第4行校验和不正确，下载失败！ S5030002FA",
         "msg:Line 4 of the S-record file has a wrong checksum; programming failed! S5030002FA"},
        {Srec(SrecError::AddressOverflow),
         "msg:S-record文件第4行数据超出32位地址空间，下载失败！ S5030002FA",
         "msg:Line 4 of the S-record file reaches past the 32-bit address space; programming "
         "failed! S5030002FA"},
        {Srec(SrecError::CountMismatch),
         "msg:S-record文件第4行记录数与前面的数据记录数不符，下载失败！ S5030002FA",
         "msg:Line 4 of the S-record file counts a different number of data records than there are "
         "before it; programming failed! S5030002FA"},
        {Srec(SrecError::AfterEnd),
         "msg:S-record文件第4行结束记录之后还有记录，下载失败！ S5030002FA",
         "msg:Line 4 of the S-record file comes after the end record; programming failed! "
         "S5030002FA"},
        {Ev(C::SrecRefused, O::Load).srecError(SrecError::TooLong).value(1),
         "msg:S-record文件第1行太长，不是S-record记录，下载失败！",
         "msg:Line 1 of the S-record file is too long to be an S-record; programming failed!"},
        {Ev(C::SrecRefused, O::Load).srecError(SrecError::NoEndRecord),
         "msg:S-record文件没有结束记录(S7/S8/S9)，文件可能不完整，下载失败！"},
        {Ev(C::SrecConflict, O::Load).address(0x08000093),
         "msg:S-record文件中地址08000093的数据前后不一致，下载失败！",
         "msg:The S-record file gives two different values for address 0x08000093; programming "
         "failed!"},
        {Elf(ElfError::NotElf), "msg:ELF文件不是ELF文件，下载失败！"},
        {Elf(ElfError::Not32Bit), "msg:ELF文件不是32位ELF文件，下载失败！"},
        {Elf(ElfError::NotLittleEndian), "msg:ELF文件不是小端(little-endian)ELF文件，下载失败！"},
        {Elf(ElfError::NotArm), "msg:ELF文件不是ARM程序，下载失败！"},
        {Elf(ElfError::BadHeader), "msg:ELF文件文件头或程序头表不完整或不一致，下载失败！"},
        {Elf(ElfError::SegmentPastEnd), "msg:ELF文件可装载段的数据超出文件末尾，下载失败！"},
        {Elf(ElfError::AddressOverflow), "msg:ELF文件可装载段超出32位地址空间，下载失败！"},
        {Elf(ElfError::NoLoadableData), "msg:ELF文件没有可装载的数据，下载失败！"},
        {Elf(ElfError::OverlappingSegments).address(0x08000002),
         "msg:ELF文件可装载段在地址08000002处重叠，下载失败！",
         "msg:The ELF file is refused: loadable segments overlap at 0x08000002; programming "
         "failed!"},
        {Ev(C::ChipUnknown, O::Program).pid(0x999),
         "msg:未知器件(PID=0999)，不知道它的FLASH如何擦除和写入，不能擦除或编程。",
         "msg:Unknown chip (PID 0x0999): how its flash is erased and written is not known, so it "
         "cannot be erased or programmed."},
        {Ev(C::ChipUnknown, O::Erase).pid(0x999),
         "log:未知器件(PID=0999)，不知道它的FLASH如何擦除和写入，不能擦除或编程。",
         "log:Unknown chip (PID 0x0999): how its flash is erased and written is not known, so it "
         "cannot be erased or programmed."},
        {Ev(C::ChipUnknown, O::Program), "msg:器件未识别，不能擦除或编程。"},
        {Ev(C::EraseCommandMissing, O::Program), "msg:Bootloader没有擦除命令，无法擦除。"},
        {Ev(C::EraseUnitsUnknown, O::Program),
         "msg:该器件的页(扇区)划分由选项字节决定，无法按页擦除，请选择整片擦除。"},
        {Ev(C::OutsideMemory, O::Program).address(0x08020000),
         "msg:地址08020000超出器件可写入的存储器范围，下载失败！",
         "msg:Address 0x08020000 is outside the chip's writable memory; programming failed!"},
        {Ev(C::ProgramFailed, O::Program), "msg:下载失败。"},
        {Ev(C::ProgramBegun, O::Program), "log:开始编程......"},
        {Ev(C::WriteFailed, O::Program).address(0x08000000).reply(R::Nack, 0x1F),
         "log:写入08000000失败: 目标板应答NACK。",
         "log:Writing at 0x08000000 failed: the board answered NACK."},
        {Ev(C::VerifyMismatch, O::Program).address(0x08000007).expected(0x08).actual(0xF7),
         "log:数据校验不正确.", "log:Verification failed at 0x08000007: expected 0x08, read 0xF7."},
        {Ev(C::VerifyMismatchAt, O::Verify).address(0x0800003F).expected(0x4A).actual(0xB5),
         "log:数据校验不正确. 首个不一致的地址为0800003F: 应为4A, 读回B5.",
         "log:Verification failed. First difference at 0x0800003F: expected 0x4A, read 0xB5."},
        {Ev(C::VerifyReadFailed, O::Verify).address(0x08000000).reply(R::LineLost),
         "log:校验时读取08000000失败: 串口已断开。",
         "log:Reading back 0x08000000 to verify failed: the serial line was lost."},
        {Ev(C::Verified, O::Verify).done(64), "", ""},
        {Ev(C::Programmed, O::Program).elapsedNs(570000000).done(64),
         "status2:下载结束. | log:编程成功, 用时共.57秒。",
         "status2:Programming finished. | log:Programmed successfully in 0.57 s."},
        {Ev(C::Programmed, O::Program).elapsedNs(12345000000).done(64),
         "status2:下载结束. | log:编程成功, 用时共12.35秒。",
         "status2:Programming finished. | log:Programmed successfully in 12.35 s."},
        {Ev(C::TurboUnavailable, O::Program).value(0),
         "log:此芯片或文件不能用极速方式，改用快速方式。"},
        {Ev(C::TurboUnavailable, O::Program).value(1), "log:RAM加载程序未能启动，改用快速方式。"},
        {Ev(C::TurboStarted, O::Program).value(5120), "log:RAM加载程序已启动, 缓冲区5120字节。",
         "log:RAM loader running, 5120-byte buffer."},
        {Ev(C::TurboSpeed, O::Program).value(921600).ok(true), "log:线路速率已提高到921600。",
         "log:Line speed raised to 921600."},
        {Ev(C::TurboSpeed, O::Program).value(2000000),
         "log:线路速率2000000不可用, 保持连接时的速率。",
         "log:Line speed 2000000 did not work; staying at the connect speed."},
        {Ev(C::TurboSkipped, O::Program).value(60).total(64).done(61440),
         "log:60页(共64页)内容未变, 跳过61440字节。",
         "log:60 of 64 pages already held the image and were left alone (61440 bytes)."},
        {Ev(C::TurboFailed, O::Program).address(0x08000400).value(5),
         "log:RAM加载程序在08000400报告错误5。",
         "log:The RAM loader reported error 5 at 0x08000400."},
        {Ev(C::TurboFailed, O::Program), "log:RAM加载程序不再应答。"},
        {Ev(C::TurboVerifyMismatch, O::Verify).address(0x08000C00).value(4096),
         "log:CRC校验不正确: 08000C00起4096字节。",
         "log:CRC check failed for 4096 bytes from 0x08000C00."},
        {Ev(C::ChipEraseBegun, O::Erase), "log:开始整片擦除......"},
        {Ev(C::PagesEraseBegun, O::Erase).value(2), "log:开始擦除2页......",
         "log:Erasing 2 pages or sectors..."},
        {Ev(C::PagesEraseBegun, O::Erase).value(1), "log:开始擦除1页......",
         "log:Erasing 1 page or sector..."},
        {Ev(C::PageOutOfRange, O::Erase).value(256),
         "log:页号256超出擦除命令的范围(0~255)，无法擦除。",
         "log:Page 256 is beyond what the Erase command can name (0 to 255); nothing was erased."},
        {Ev(C::EraseOutsideFlash, O::Erase), "log:擦除范围不在FLASH内。"},
        {Ev(C::Erased, O::Erase), "status2:Flash擦除完毕。 | log:擦除成功。",
         "status2:Flash erased. | log:Erase succeeded."},
        {Ev(C::EraseFailed, O::Erase), "status2:Flash擦除失败。 | log:擦除失败，请清除读保护......",
         "status2:Flash erase failed. | log:Erase failed; clear the readout protection first..."},
        {Ev(C::EraseReplyFailed, O::Erase).reply(R::Nack, 0x1F), "log:擦除: 目标板应答NACK。"},
        {Ev(C::ReadRangeInvalid, O::Read), "msg:读取范围无效。"},
        {Ev(C::ReadPastFlashEnd, O::Read).address(0x08020000).value(0x08020100),
         "msg:读取范围超出FLASH末尾(FLASH止于08020000)，未读取。",
         "msg:The read range runs past the end of the flash, which ends at 0x08020000; nothing was "
         "read."},
        {Ev(C::OutputFolderMissing, O::Read).text("/no/such/folder"),
         "msg:文件夹/no/such/folder不存在，无法保存读出的数据。",
         "msg:The folder /no/such/folder does not exist; the data read cannot be saved there."},
        {Ev(C::OutputNotWritable, O::Read).text("/tmp/out.bin"),
         "msg:/tmp/out.bin文件正打开着, 覆盖失败.", "msg:Cannot write the file /tmp/out.bin."},
        {Ev(C::OutputNotWritable, O::Read).text("/tmp/out.bin").detail("No space left on device"),
         "msg:/tmp/out.bin文件正打开着, 覆盖失败. | log:/tmp/out.bin: No space left on device",
         "msg:Cannot write the file /tmp/out.bin. | log:/tmp/out.bin: No space left on device"},
        {Ev(C::ReadBegun, O::Read), "log:开始读取数据......"},
        {Ev(C::ReadAborted, O::Read), "log:读数据失败, 退出从芯片读取数据过程."},
        {Ev(C::ReadDone, O::Read).elapsedNs(990000000).done(65536),
         "log:读取完成, 读取时间为:.99秒. | status2:已读完.",
         "log:Read finished in 0.99 s. | status2:Read complete."},
        {Ev(C::Started, O::Go).address(0x08000000), "log:已运行。",
         "log:Started the program at 0x08000000."},
        {Ev(C::GoSilent, O::Go), "log:目标板无响应。"},
        {Ev(C::GoReplyFailed, O::Go).reply(R::Timeout), "log:运行: 等待应答超时。"},
        {Ev(C::GoAddressRefused, O::Go).address(0x12345678).actual(0x1F),
         "log:目标板拒绝了运行地址12345678(应答值=1F)，程序未运行。",
         "log:The board refused the start address 0x12345678 (answer 0x1F); the program was not "
         "started."},
        {Ev(C::ResetIntoProgram, O::Run), "log:已复位目标板，用户程序开始运行。"},
        {Ev(C::Protected, O::Protect), "log:置读保护成功, 复位目标板后才能有效。"},
        {Ev(C::ProtectFailed, O::Protect), "log:置读保护失败。"},
        {Ev(C::ProtectReplyFailed, O::Protect).reply(R::Nack, 0x1F),
         "log:置读保护: 目标板应答NACK。"},
        {Ev(C::Unprotected, O::Unprotect), "log:清读保护成功, 复位目标板后才能有效。"},
        {Ev(C::UnprotectFailed, O::Unprotect), "log:清读保护失败."},
        {Ev(C::UnprotectReplyFailed, O::Unprotect).reply(R::Timeout),
         "log:清读保护: 等待应答超时。"},
        {Ev(C::UnprotectErasing, O::Unprotect), "status2:等待目标板擦除并复位......",
         "status2:Waiting for the board to erase its flash and reset..."},
        {Ev(C::UnprotectPending, O::Unprotect),
         "log:清读保护已执行，目标板可能仍在擦除，请稍候再复位目标板。"},
        // Production line
        {Ev(C::SerialNumberTaken, O::Program).text("1001").address(0x0800F000),
         "log:序列号1001，写在0800F000。", "log:Serial number 1001, written at 0x0800F000."},
        {Ev(C::SerialNumberUsed, O::Program).text("1001"), "log:序列号1001已用掉。",
         "log:Serial number 1001 is used."},
        {Ev(C::SerialNumberReturned, O::Program).text("1001"),
         "log:未写入任何数据，序列号1001留给下一块板。",
         "log:Nothing was written; serial number 1001 goes to the next board."},
        {Ev(C::SerialTooWide, O::Program).text("10000"),
         "msg:序列号10000超出所选格式的位数，未编程。",
         "msg:Serial number 10000 does not fit the chosen format; nothing was programmed."},
        {Ev(C::SerialOverlapsImage, O::Program).address(0x08000010),
         "msg:序列号的位置与文件自身的数据重叠(08000010)，未编程。",
         "msg:The serial number's place overlaps the file's own data at 0x08000010; nothing was "
         "programmed."},
        {Ev(C::SerialOutsideFlash, O::Program).address(0x08010000),
         "msg:序列号地址08010000不在芯片的FLASH内，未编程。",
         "msg:The serial number's address 0x08010000 is not inside the chip's flash; nothing was "
         "programmed."},
        {Ev(C::SerialStateMissing, O::Program).text("sn.txt"),
         "msg:序列号状态文件sn.txt不存在；首次使用请加 --serial-start。",
         "msg:The serial number file sn.txt does not exist; give --serial-start to begin a "
         "series."},
        {Ev(C::SerialStateInvalid, O::Program).text("sn.txt").value(3),
         "msg:序列号状态文件sn.txt第3行有误，未编程。",
         "msg:The serial number file sn.txt is not valid at line 3; nothing was programmed."},
        {Ev(C::SerialStateFailed, O::Program).text("sn.txt").detail("Permission denied"),
         "msg:无法使用序列号状态文件sn.txt：Permission denied",
         "msg:Cannot use the serial number file sn.txt: Permission denied"},
        {Ev(C::SerialStartAhead, O::Program).text("sn.txt").value(7),
         "msg:序列号状态文件sn.txt的下一个号是7，小于 --serial-start；跳号请直接修改该文件。",
         "msg:The serial number file sn.txt continues at 7, below --serial-start; to skip numbers, "
         "edit the file."},
        {Ev(C::RecordFailed, O::None).text("log.csv").detail("No such file"),
         "msg:无法写入记录文件log.csv：No such file",
         "msg:Cannot write the record file log.csv: No such file"},
        // Unique ID, option bytes, bank layout and write protection
        {Ev(C::UniqueId, O::Connect)
             .address(0x1FFFF7E8)
             .bytes(QByteArray::fromHex("0102030405060708090A0B0C")),
         "log:芯片唯一ID(1FFFF7E8处): 0102030405060708090A0B0C",
         "log:Unique ID (at 0x1FFFF7E8): 0102030405060708090A0B0C"},
        {Ev(C::UniqueIdUnreadable, O::Connect).address(0x1FFFF7E8).reply(R::Nack, 0x1F),
         "log:无法读取芯片唯一ID(1FFFF7E8)：目标板应答NACK。芯片可能处于读保护状态。",
         "log:The unique ID at 0x1FFFF7E8 could not be read: the board answered NACK. The chip may "
         "be readout-protected."},
        {Ev(C::OptionBytesUnsupported, O::OptionBytes).family("STM32H7xx"),
         "log:本程序不知道STM32H7xx芯片的选项字节区，无法读写选项字节。",
         "log:The option bytes of this chip (STM32H7xx) are not known to this program; they cannot "
         "be read or written."},
        {Ev(C::OptionBytesProtected, O::OptionBytes),
         "log:芯片处于读保护状态，无法读取选项字节。先清除读保护（会擦除整片Flash）。",
         "log:The chip is readout-protected: its option bytes cannot be read. Remove the readout "
         "protection first (unprotect; this erases the whole flash)."},
        {Ev(C::OptionBytesReadFailed, O::OptionBytes).address(0x1FFFF800).reply(R::Timeout),
         "log:读取选项字节(1FFFF800)失败：等待应答超时。",
         "log:Reading the option bytes at 0x1FFFF800 failed: no answer in time."},
        {Ev(C::OptionBytesRead, O::OptionBytes)
             .address(0x1FFFF800)
             .text("F1")
             .value(0)
             .bytes(QByteArray::fromHex("A55A")),
         "log:选项字节(1FFFF800, F1布局): A5 5A，读保护级别0。",
         "log:Option bytes at 0x1FFFF800 (F1 layout): A5 5A; readout level 0."},
        {Ev(C::OptionFieldValue, O::OptionBytes)
             .text("WDG_SW")
             .value(1)
             .detail("software watchdog"),
         "log:WDG_SW             0x1        software watchdog",
         "log:WDG_SW             0x1        software watchdog"},
        {Ev(C::OptionFieldValue, O::OptionBytes).text("DATA0").value(0x12),
         "log:DATA0              0x12", "log:DATA0              0x12"},
        {Ev(C::WriteProtection, O::Connect).value(0).total(64), "log:没有写保护的页或扇区。"},
        {Ev(C::WriteProtection, O::Connect).value(4).total(64),
         "log:写保护：共64个页或扇区中的4个。", "log:Write-protected: 4 of 64 pages or sectors."},
        {Ev(C::WriteProtectedRange, O::Connect).address(0x08000000).value(0x1000).done(0).total(3),
         "log:  写保护：08000000-08000FFF（页或扇区0-3）",
         "log:  write-protected: 0x08000000-0x08000FFF (pages or sectors 0-3)"},
        {Ev(C::OptionEditMalformed, O::OptionWrite).text("WDG_SW"),
         "log:选项修改\"WDG_SW\"格式不对，应为 名称=值。",
         "log:The option edit \"WDG_SW\" is not NAME=VALUE."},
        {Ev(C::OptionNameUnknown, O::OptionWrite).text("BOGUS").detail("RDP,WDG_SW"),
         "log:此芯片没有选项\"BOGUS\"。可用的选项：RDP,WDG_SW。",
         "log:This chip has no option \"BOGUS\". Its options: RDP,WDG_SW."},
        {Ev(C::OptionValueInvalid, O::OptionWrite).text("WDG_SW=2").value(1),
         "log:选项修改\"WDG_SW=2\"的值不合适：取值为0到0x1。",
         "log:The value of \"WDG_SW=2\" does not fit: the option takes 0 to 0x1."},
        {Ev(C::OptionLevelInvalid, O::OptionWrite).text("RDP=2").value(1),
         "log:\"RDP=2\"：读保护级别只能是0到1。",
         "log:\"RDP=2\": the readout level is 0 to 1 on this chip."},
        {Ev(C::ReadoutLevel2Refused, O::OptionWrite),
         "log:"
         "拒绝设置读保护级别2：级别2是永久的，芯片将再也无法通过Bootloader读取或重新编程。确需设置"
         "时请加上--allow-permanent。",
         "log:Readout level 2 refused: it is permanent; the chip could never be read or "
         "reprogrammed through its bootloader again. Add --allow-permanent only if that is really "
         "wanted."},
        {Ev(C::OptionBytesUnchanged, O::OptionWrite), "log:选项字节已是所要的值，未写入。"},
        {Ev(C::OptionBytesWriting, O::OptionWrite)
             .address(0x1FFFF800)
             .bytes(QByteArray::fromHex("A55A")),
         "log:写入选项字节(1FFFF800): A5 5A", "log:Writing the option bytes at 0x1FFFF800: A5 5A"},
        {Ev(C::OptionBytesWriteFailed, O::OptionWrite).step(Step::Data).reply(R::Nack, 0x1F),
         "log:写选项字节失败: 目标板应答NACK。"},
        {Ev(C::ChipResetting, O::OptionWrite),
         "log:芯片复位以载入新的选项字节，正在重新连接......"},
        {Ev(C::ResetBoardRequest, O::OptionWrite).value(60),
         "log:"
         "芯片没有自行回到Bootloader。请让BOOT0保持高电平并复位目标板（最多等待60秒，可按停止）。",
         "log:The chip did not come back into its bootloader by itself. Keep BOOT0 high and reset "
         "the board (waiting up to 60 s; Stop ends the wait)."},
        {Ev(C::ReconnectFailed, O::OptionWrite),
         "log:复位后未能重新连接芯片：新的选项字节未经核对。"},
        {Ev(C::OptionBytesMismatch, O::OptionWrite).address(4).expected(0x12).actual(0x13),
         "log:选项字节回读不符：第4字节应为12，实为13。写入失败！",
         "log:The option bytes read back differ: byte 4 should be 0x12 but is 0x13. The write "
         "failed!"},
        {Ev(C::OptionBytesWritten, O::OptionWrite).value(0),
         "log:选项字节已写入，并经回读核对无误。"},
        {Ev(C::WriteProtectUnsupported, O::WriteProtect),
         "log:此芯片的写保护按页区域设置，不能按页选择。请用 option-bytes --set "
         "设置WRP1A_STRT/WRP1A_END等选项。",
         "log:This chip protects areas of pages, not single groups. Set its WRP area options "
         "(WRP1A_STRT, WRP1A_END, ...) with option-bytes --set."},
        {Ev(C::WriteProtectOutside, O::WriteProtect),
         "log:所给范围内没有可写保护的Flash页或扇区。"},
        {Ev(C::WriteProtectBegun, O::WriteProtect).value(2), "log:设置写保护(2组)......",
         "log:Setting write protection (2 groups)..."},
        {Ev(C::WriteProtectFailed, O::WriteProtect).step(Step::Data).reply(R::Nack, 0x1F),
         "log:设置写保护失败: 目标板应答NACK。"},
        {Ev(C::WriteProtectFailed, O::WriteProtect).value(5),
         "log:写保护设置后回读：页或扇区5仍未受保护。失败！",
         "log:Read back after the reset, page or sector 5 is still not protected. Write protection "
         "failed!"},
        {Ev(C::WriteProtectDone, O::WriteProtect).value(8), "log:写保护已设置，并经回读核对。"},
        {Ev(C::WriteUnprotectBegun, O::WriteUnprotect), "log:解除写保护......"},
        {Ev(C::WriteUnprotectFailed, O::WriteUnprotect).reply(R::Timeout),
         "log:解除写保护失败: 等待应答超时。"},
        {Ev(C::WriteUnprotectFailed, O::WriteUnprotect).value(4),
         "log:解除写保护后回读：仍有4个页或扇区受保护。失败！",
         "log:Read back after the reset, 4 pages or sectors are still protected. Write Unprotect "
         "failed!"},
        {Ev(C::WriteUnprotectDone, O::WriteUnprotect).value(0), "log:已解除写保护，并经回读核对。"},
        {Ev(C::WriteUnprotectDone, O::WriteUnprotect).value(-1),
         "log:已解除写保护（芯片复位后选项字节无法回读核对）。"},
        {Ev(C::UnitsWriteProtected, O::Program).address(0x08000000).value(4).text("0-3"),
         "msg:页或扇区0-3(从08000000起)处于写保护状态，未做任何擦除。请先执行 write-unprotect "
         "解除写保护。",
         "msg:Pages or sectors 0-3 (from 0x08000000) are write-protected; nothing was erased. "
         "Remove the protection first (write-unprotect)."},
        {Ev(C::BankLayout, O::Connect).value(2).address(0x08040000),
         "log:Flash为双bank，bank 2从08040000开始。",
         "log:The flash has two banks; bank 2 starts at 0x08040000."},
        {Ev(C::BankLayout, O::Connect).value(1).address(0),
         "log:Flash为单bank（由选项字节决定）。"},
        {Ev(C::BankLayoutUnknown, O::Connect),
         "log:"
         "此芯片的bank布局由选项字节决定，而其选项字节未能读取（芯片读保护，或本程序不知道其选项字"
         "节）：只能整片擦除，拒绝按页或按bank擦除。"},
        {Ev(C::TurboChipReset, O::Program).ok(true), "log:芯片已回到系统引导程序。"},
        {Ev(C::TurboChipReset, O::Program),
         "log:芯片既不像RAM加载程序也不像系统引导程序那样应答；下次连接前请复位目标板。"},
        {Ev(C::LoaderFoundAtConnect, O::Connect),
         "log:芯片仍在运行RAM加载程序，已通过它复位芯片。"},
        {Ev(C::OptionBytesReadOnly, O::OptionWrite).family("STM32U5xx"),
         "log:STM32U5xx芯片的选项字节只能读取：本程序不知道经由引导程序改写它们的方法，未写入任何内容。"},
        {Ev(C::TurboStageStarted, O::Program).value(921600),
         "log:RAM加载程序已经以921600的速率装入。",
         "log:RAM loader sent at 921600 through a first stage."},
        {Ev(C::TurboStageFallback, O::Program).value(2),
         "log:高速装入RAM加载程序未成功，改由系统引导程序以连接速率装入。"},
    };
    return rows;
}

constexpr int kLastCode = int(EventCode::TurboStageFallback);

}  // namespace

class TestMessages : public QObject {
    Q_OBJECT
private slots:
    void texts_data() {
        QTest::addColumn<Event>("event");
        QTest::addColumn<QString>("zh");
        QTest::addColumn<QString>("en");  // null: not pinned
        int i = 0;
        for (const Row& r : Rows())
            QTest::addRow("%d %s", ++i, qPrintable(EventName(r.event.code)))
                << r.event << QString::fromUtf8(r.zh)
                << (r.en ? QString::fromUtf8(r.en) : QString());
    }

    void texts() {
        QFETCH(Event, event);
        QFETCH(QString, zh);
        QFETCH(QString, en);
        QCOMPARE(shown(event, Language::Chinese), zh);
        if (!en.isNull()) QCOMPARE(shown(event, Language::English), en);
        // English shows the same parts in the same places, never empty where Chinese says
        // something, and never falls back on a Chinese text.
        const QList<Shown> chinese = Render(event, Language::Chinese),
                           english = Render(event, Language::English);
        QCOMPARE(english.size(), chinese.size());
        static const QRegularExpression cjk(
            QStringLiteral("[\\x{3000}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
        for (qsizetype i = 0; i < english.size(); ++i) {
            QCOMPARE(int(english[i].how) * 8 + int(english[i].field),
                     int(chinese[i].how) * 8 + int(chinese[i].field));
            QCOMPARE(english[i].text.isEmpty(), chinese[i].text.isEmpty());
            QVERIFY2(!cjk.match(english[i].text).hasMatch(), qPrintable(english[i].text));
        }
    }

    // No two rows show the same English: none stands for another's.
    void englishDistinct() {
        QSet<QString> seen;
        for (const Row& r : Rows()) {
            const QString en = shown(r.event, Language::English);
            QVERIFY2(en.isEmpty() || !seen.contains(en), qPrintable(en));
            seen.insert(en);
        }
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
