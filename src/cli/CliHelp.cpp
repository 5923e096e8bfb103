// praxon-cli's usage and help pages, in Chinese and in English.
#include "CliOptions.h"

namespace praxon::cli {

namespace {

struct HelpPage {
    const char* intro;  // first line and a blank one
    const char* usage;  // the usage block, shown alone with a usage error
    const char* more;   // closes the usage block when it is shown alone
    const char* body;   // the rest of --help
};

const HelpPage kEnglish = {
    "praxon-cli: programs STM32 microcontrollers through their USART bootloader.\n\n",
    R"(Usage: praxon-cli --port PORT|auto [--baud N] [WIRING] [--compatible] [--flash-kb N]
                  [--turbo [--turbo-baud N]]
                  [--lang zh|en] [--json] COMMAND [ARGS]
       praxon-cli devices
       praxon-cli ports
  WIRING: --reset-line dtr|rts|none [--reset-inverted]
          --boot0-line rts|dtr|none [--boot0-inverted]
          or --sequence ENTRY:EXIT      (default: none, reset the board by hand)
Commands:
  info                   connect, identify the chip and summarise it
  program FILE [--format hex|srec|elf|bin] [--address A] [--erase[=all|pages]]
               [--verify] [--protect] [--run [--go-address A]]
                         write an Intel HEX, S-record, ELF or binary image into
                         the flash
  read FILE [--address A --size N]
                         read the flash (default: all of it) into FILE
  erase [--address A --size N]
                         erase the pages covering a range (default: whole chip)
  go [ADDRESS]           run from ADDRESS (hex, default 08000000)
  protect                set the readout protection
  unprotect              clear the readout protection (erases the flash)
  devices                list the chips praxon-cli knows (no port needed)
  ports                  list the serial ports and what the system knows of them
  option-bytes [--set NAME=VALUE ... [--allow-permanent]]
                         show the option bytes, or change them
  write-protect --address A --size N | --all
                         write-protect the pages or sectors covering a range
  write-unprotect        remove the write protection of the whole flash
)",
    "Run praxon-cli --help for details.\n",
    R"(
PORT is the serial device the board's bootloader USART is wired to: a name as
listed by the system (ttyUSB0, COM3) or a path (/dev/ttyUSB0, or a pseudo-
terminal such as the one praxon-sim prints). --port auto takes the only USB
serial adapter present; when there is none, or more than one, praxon-cli names
the ports it found and ends with exit status 1 before opening any port. The
line runs with 8 data bits, even parity and 1 stop bit at --baud N: 1200, 2400,
4800, 9600, 14400, 19200, 38400, 57600, 115200 (the default), 230400, 460800 or
921600. The three highest work on many adapters and boards, but not all: when a
connection fails at one of them, try 115200.

ports lists the serial ports, one per line: the name to give --port, then what
the system knows of it: the adapter's description and maker, its USB
vendor:product ID in parentheses and its serial number after S/N. Boards
simulated by a running praxon-sim show as praxon-sim. No port is opened.

Wiring (every command): how the adapter's DTR and RTS lines reach the board,
so that praxon-cli resets it into its bootloader before connecting and, with
program --run, into the program afterwards.
  --reset-line dtr|rts|none   the line on the board's NRST pin
  --reset-inverted            NRST is driven through an inverting transistor
  --boot0-line rts|dtr|none   the line on the board's BOOT0 pin
  --boot0-inverted            BOOT0 is driven through an inverting transistor
"none", the default for both, means: both lines are asserted when the port
opens and nothing more; reset the board into its bootloader by hand (BOOT0
high, then reset) before each command. Reset and BOOT0 cannot share a line.
An asserted DTR or RTS is a logical 1; on a TTL adapter the pin is then at
0 V. Wired directly, an asserted line pulls the board's pin low (NRST: held in
reset; BOOT0: low). Inverted, through a transistor, it drives the pin high.
The usual wirings:
  --reset-line dtr --boot0-line rts   reset on DTR, BOOT0 on RTS, both direct
  --reset-line rts --boot0-line dtr   the same with the lines swapped
  add --reset-inverted or --boot0-inverted for a pin behind a transistor.
Entering the bootloader: BOOT0 high, reset held for 100 ms, then 100 ms for
the bootloader to start. Leaving it: BOOT0 low, the same reset.

--sequence ENTRY:EXIT, instead of the wiring options, drives a board wired
otherwise: ENTRY runs before connecting, EXIT for program --run. Steps are
separated by commas: dtr=1 asserts DTR and dtr=0 releases it, likewise rts=1
and rts=0; brk=1 and brk=0 set and clear a break; wait pauses 100 ms and
wait=N N ms (at most 10000). Reset on DTR and BOOT0 on RTS, both direct:
  --sequence "rts=0,dtr=1,wait,dtr=0,wait:rts=1,dtr=1,wait,dtr=0"

Every command but devices and ports first connects (synchronise, Get ID, Get,
memory sizes) and stops there if the board does not answer. Without a wiring, a
board still in its bootloader from an earlier command needs no new reset.
A chip whose product ID devices does not list connects too, but is never
erased or programmed. Then:
  info     after the log, a summary on standard output: family and product
           line, product ID, bootloader version and command codes (hex),
           flash size (read from the chip, assumed or stated), RAM size, the
           chip's 96-bit unique ID (12 bytes in memory order), its readout
           level and its write-protected pages or sectors.
  program  FILE's content tells what it is: an ELF file (the bytes of its
           loadable segments at their load addresses; 32-bit ARM only), a
           Motorola S-record file (text starting with S and a digit), an
           Intel HEX file (text starting with ":"), otherwise a raw binary
           image, loaded at --address (default 08000000).
           --format hex|srec|elf|bin  read FILE as this instead. The whole
           file is read before anything is sent: a bad file leaves the board
           untouched.
           --erase, --erase=all  erase the whole chip first
           --erase=pages         erase only the pages the image touches; the
                                 rest of the flash keeps its contents
           --verify              read the image back and compare it
           --protect             set the readout protection after a
                                 successful download
           --run                 then start the program: with a wiring or
                                 a sequence by a reset with BOOT0 low (the
                                 exit steps), without one by Go
           --go-address A        where Go starts it (default 08000000)
  read     a FILE whose name ends in "hex" (any case) is written as Intel HEX,
           any other name as raw binary. An existing FILE is replaced only
           when the read succeeded.
  erase    with a range, the pages covering it; without, the whole chip.
  go       the board leaves its bootloader. Without a wiring, reset it into
           the bootloader again before the next command; with one, the next
           command does that. The same holds after protect and unprotect,
           which take effect at the next reset, and after program --run.
  option-bytes
           without --set: the option bytes as the chip holds them, then each
           field: name, value and meaning, and the write-protected pages or
           sectors. A readout-protected chip cannot show them.
           --set NAME=VALUE  change one field (repeat --set, or give more
                             NAME=VALUE after the first); values decimal or
                             0x hex; RDP takes the readout level 0, 1 or 2.
                             The chip resets to load the new option bytes;
                             praxon-cli connects again (with a wiring by
                             itself, otherwise it asks for a reset and waits
                             up to 60 s), reads them back and fails when they
                             differ.
           --allow-permanent RDP=2 (readout level 2) is permanent: the chip
                             can never be read or reprogrammed through its
                             bootloader again. It is refused without this.
  write-protect
           --address A --size N  the pages or sectors covering the range
           --all                 every page or sector
           Protection already set stays. Then, as with option-bytes --set:
           reset, connect again, read back and compare. Chips that protect
           areas of pages (STM32L4, G0, G4) set WRP1A_STRT/WRP1A_END and the
           like with option-bytes --set.
  write-unprotect
           removes the write protection; reset, connect and check as above.
Erasing or programming a write-protected page or sector is refused before
anything is erased; write-unprotect removes the protection. Where an option bit
decides the flash's banks (STM32U5 parts below their line's largest flash) and
the option bytes are not read, only the whole chip is erased.

devices lists the chips praxon-cli knows, one line each: product ID, family,
product line, the line's largest flash and its erase units: 1K pages of 1 KB
throughout; 16Kx4,64K four 16 KB sectors, then one of 64 KB; 2x(...) two
banks alike; @max only on chips with the line's largest flash (option bytes
decide on others); whole: option bytes decide, only the whole chip is erased.

--flash-kb N (every command) states the chip's flash size in KB, for clones
whose size register is blank or lies. Without it the size is read from the
chip; when the register tells nothing, the product line's largest is assumed.

Addresses (A, ADDRESS) are one hexadecimal number of 1 to 8 digits; a 0x
prefix and an h suffix are allowed. Sizes (N) are decimal, or hexadecimal
after 0x, with an optional K (1024 bytes) or M (1024 K) suffix: 4096, 0x1000
and 4K are the same.

Write modes (every command):
  fast (default)  a reply is taken as soon as it is complete; the image goes
                  out in aligned blocks of up to 256 bytes.
  --compatible    every reply waits for a quiet line, and each HEX record is
                  written (and, with --verify, checked) on its own: slower,
                  for boards or adapters that need it.
  --turbo         program writes through a small loader that praxon-cli
                  starts in the chip's RAM (STM32F0, F1, F3): the image goes
                  compressed, pages that already hold the right content are
                  left alone, and --verify asks the chip for a CRC of each
                  written range instead of reading it back. For other chips,
                  or when the loader does not start, program runs in the fast
                  mode. Checked only on the simulated STM32F103 of praxon-sim,
                  not yet on real boards.
  --turbo-baud N  with --turbo: the line speed once the loader runs (default:
                  the --baud speed): any --baud speed, 1000000, 1500000 or
                  2000000, where the adapter manages it. When the line does
                  not carry it, both sides return to the --baud speed.

Language: praxon-cli speaks Chinese when the locale (the first of LC_ALL,
LC_MESSAGES and LANG that is set) starts with "zh", English otherwise;
--lang zh or --lang en decides instead.

Output: standard output receives every log line exactly as the Praxon window's
log holds it (time of day, a space, the message). Standard error receives the
texts the window shows in message boxes and, when it is a terminal, one
progress line with the bytes done and the rate.
--json writes one JSON object per line on standard output instead, for scripts.

Ctrl+C acts as the window's Stop button: the running step fails at its next
check and the command ends as failed; an output file is left as it was.

Examples:
  praxon-cli --port ttyUSB0 --reset-line dtr --boot0-line rts \
      program firmware.hex --erase --verify --run
  praxon-cli --port COM3 --baud 460800 read flash.bin
  praxon-cli --port auto info

Without hardware: praxon-sim simulates an STM32F10x board on a pseudo-terminal
and prints PORT=/dev/pts/N first; pass that device as PORT.
  praxon-sim &
  praxon-cli --port /dev/pts/N program firmware.hex --erase --verify
  praxon-cli --port /dev/pts/N program app.bin --address 08004000 --erase=pages
  praxon-cli --port /dev/pts/N read boot.hex --address 08000000 --size 16K
A wired board: praxon-sim --reset-line dtr --boot0-line rts also prints
CLIENT_ENV=NAME=VALUE; with that in praxon-cli's environment the simulated
board sees DTR and RTS:
  env NAME=VALUE praxon-cli --port /dev/pts/N --reset-line dtr \
      --boot0-line rts program firmware.hex --run

Exit status: 0 the operation succeeded, 1 it failed (including Ctrl+C, and
--port auto finding no USB serial adapter or more than one), 2 usage error.
)",
};

const HelpPage kChinese = {
    "praxon-cli：通过 STM32 单片机的 USART 引导程序（bootloader）为其编程。\n\n",
    R"(用法：praxon-cli --port 串口|auto [--baud N] [接线] [--compatible] [--flash-kb N]
                 [--turbo [--turbo-baud N]]
                 [--lang zh|en] [--json] 命令 [参数]
      praxon-cli devices
      praxon-cli ports
  接线：--reset-line dtr|rts|none [--reset-inverted]
        --boot0-line rts|dtr|none [--boot0-inverted]
        或 --sequence 进入:退出        （默认 none：手动复位电路板）
命令：
  info                   连接，识别芯片并列出其概况
  program 文件 [--format hex|srec|elf|bin] [--address A] [--erase[=all|pages]]
               [--verify] [--protect] [--run [--go-address A]]
                         把 Intel HEX、S-record、ELF 或二进制映像写入 FLASH
  read 文件 [--address A --size N]
                         把 FLASH（默认全部）读入文件
  erase [--address A --size N]
                         擦除覆盖某一范围的页（默认整片）
  go [地址]              从该地址（十六进制，默认 08000000）运行
  protect                置读保护
  unprotect              清读保护（FLASH 随之被擦除）
  devices                列出 praxon-cli 认识的芯片（无需串口）
  ports                  列出串口及系统所知的信息
  option-bytes [--set 名称=值 ... [--allow-permanent]]
                         显示或修改选项字节
  write-protect --address A --size N | --all
                         对覆盖某一范围的页或扇区置写保护
  write-unprotect        解除整个 FLASH 的写保护
)",
    "详细说明请运行 praxon-cli --help。\n",
    R"(
串口是电路板引导程序所用 USART 接到的串行设备：系统列出的名称（ttyUSB0、COM3）
或路径（/dev/ttyUSB0，或 praxon-sim 打印的伪终端）。--port auto 选用当前唯一的
USB 串口适配器；若一个也没有或不止一个，praxon-cli 列出找到的串口，不打开任何
串口，以退出状态 1 结束。线路为 8 个数据位、偶校验、1 个停止位，速率由 --baud N
指定：1200、2400、4800、9600、14400、19200、38400、57600、115200（默认）、
230400、460800 或 921600。最高的三种在多数适配器和电路板上可用，但并非全部：
若在其中之一连接失败，请改用 115200。

ports 每行列出一个串口：先是 --port 所用的名称，然后是系统所知的信息：适配器的
描述和厂商，括号中的 USB 厂商:产品 ID，S/N 之后的序列号。运行中的 praxon-sim
模拟的电路板显示为 praxon-sim。此命令不打开任何串口。

接线（所有命令）：适配器的 DTR 和 RTS 如何接到电路板，praxon-cli 据此在连接前
把电路板复位进引导程序，并在 program --run 之后复位进用户程序。
  --reset-line dtr|rts|none   接电路板 NRST 引脚的线
  --reset-inverted            NRST 经反相三极管驱动
  --boot0-line rts|dtr|none   接电路板 BOOT0 引脚的线
  --boot0-inverted            BOOT0 经反相三极管驱动
两者默认均为 "none"：打开串口时两条线都置为有效，此外不做任何事；每条命令之前
请手动把电路板复位进引导程序（BOOT0 置高，然后复位）。复位和 BOOT0 不能共用
一条线。DTR 或 RTS 有效即逻辑 1，此时 TTL 适配器上该引脚为 0 V。直接相连时，
有效的线把电路板引脚拉低（NRST：保持复位；BOOT0：低）；经三极管反相时则拉高。
常见接法：
  --reset-line dtr --boot0-line rts   DTR 接复位，RTS 接 BOOT0，均直接相连
  --reset-line rts --boot0-line dtr   同上，两线互换
  引脚经三极管驱动时加 --reset-inverted 或 --boot0-inverted。
进入引导程序：BOOT0 置高，复位保持 100 ms，再等 100 ms 让引导程序启动。
退出：BOOT0 置低，同样复位。

--sequence 进入:退出 用于其他接法，代替上述接线选项：“进入”在连接前执行，“退出”
用于 program --run。各步以逗号分隔：dtr=1 使 DTR 有效，dtr=0 使其无效，rts=1
和 rts=0 同理；brk=1 和 brk=0 发出和撤销 break；wait 暂停 100 ms，wait=N 暂停
N ms（至多 10000）。DTR 接复位、RTS 接 BOOT0，均直接相连：
  --sequence "rts=0,dtr=1,wait,dtr=0,wait:rts=1,dtr=1,wait,dtr=0"

除 devices 和 ports 外，每条命令先连接（同步、Get ID、Get、存储器容量），电路板
不应答则到此为止。未指定接线时，仍停在上一条命令所进入的引导程序中的电路板无需
再次复位。devices 未列出其产品 ID 的芯片也能连接，但不会被擦除或编程。然后：
  info     日志之后，在标准输出上列出概况：系列和产品线、产品 ID、引导程序版本
           和命令码（十六进制）、FLASH 容量（从芯片读出、推定或指定）、RAM
           容量、芯片的 96 位唯一 ID（按内存顺序的 12 个字节）、读保护级别
           和处于写保护的页或扇区。
  program  按文件内容识别其类型：ELF 文件（各可装载段的数据装入其装载地址；
           仅限 32 位 ARM）、Motorola S-record 文件（以 S 和一个数字开头的
           文本）、Intel HEX 文件（以 ":" 开头的文本），否则按二进制映像读取，
           装入 --address 处（默认 08000000）。
           --format hex|srec|elf|bin  改按指定类型读取。发送任何内容之前先读完
           整个文件：文件有误时电路板不受影响。
           --erase, --erase=all  先擦除整片
           --erase=pages         只擦除映像涉及的页，FLASH 其余部分保持原样
           --verify              读回映像并比较
           --protect             下载成功后置读保护
           --run                 然后启动程序：有接线或序列时以 BOOT0 置低
                                 复位（退出步骤），否则用 Go
           --go-address A        Go 的起始地址（默认 08000000）
  read     文件名以 "hex" 结尾（不分大小写）时写成 Intel HEX，否则写成二进制。
           已有的文件只在读取成功后才被替换。
  erase    给出范围时擦除覆盖它的页，否则擦除整片。
  go       电路板退出引导程序。未指定接线时，下一条命令之前请再次把它复位进
           引导程序；有接线时由下一条命令完成。protect 和 unprotect（在下次
           复位时生效）以及 program --run 之后同样如此。
  option-bytes
           不带 --set：显示芯片中的选项字节，再逐项列出名称、值和含义，以及
           处于写保护的页或扇区。处于读保护的芯片无法显示。
           --set 名称=值     修改一项（可重复 --set，或在第一项之后直接写
                             更多的 名称=值）；值为十进制或 0x 十六进制；
                             RDP 取读保护级别 0、1 或 2。芯片复位以载入新的
                             选项字节；praxon-cli 重新连接（有接线时自动，
                             否则提示复位并最多等待 60 秒），读回并比较，
                             不符即失败。
           --allow-permanent RDP=2（读保护级别 2）是永久的：芯片再也无法通过
                             引导程序读取或重新编程。不加此选项则拒绝。
  write-protect
           --address A --size N  覆盖该范围的页或扇区
           --all                 全部页或扇区
           已有的写保护保持不变。之后与 option-bytes --set 相同：复位、重新
           连接、读回并比较。按页区域设置写保护的芯片（STM32L4、G0、G4）请用
           option-bytes --set 设置 WRP1A_STRT/WRP1A_END 等选项。
  write-unprotect
           解除写保护；复位、连接和核对同上。
擦除或编程处于写保护的页或扇区时，在擦除任何内容之前即被拒绝；用 write-unprotect
解除写保护。FLASH 的 bank 布局由选项位决定（STM32U5 中小于该产品线最大容量的
芯片）而选项字节未能读取时，只能整片擦除。

devices 每行列出一种 praxon-cli 认识的芯片：产品 ID、系列、产品线、该产品线最大
的 FLASH 容量及其擦除单位：1K 表示全部为 1 KB 的页；16Kx4,64K 表示四个 16 KB
扇区，再一个 64 KB 扇区；2x(...) 表示两个相同的存储体；@max 表示仅适用于具有该
产品线最大 FLASH 的芯片（其他芯片由选项字节决定）；whole 表示由选项字节决定，只
能整片擦除。

--flash-kb N（所有命令）以 KB 为单位指定芯片的 FLASH 容量，用于容量寄存器为空或
不准的仿制芯片。不指定时从芯片读取容量；寄存器无有效值时按该产品线的最大容量计。

地址（A、地址）是 1 至 8 位的十六进制数，可带 0x 前缀或 h 后缀。大小（N）为十进制
数，或 0x 之后的十六进制数，可带 K（1024 字节）或 M（1024 K）后缀：4096、0x1000
和 4K 相同。

写入方式（所有命令）：
  快速（默认）    应答一完整即被接受；映像以对齐的块发送，每块至多 256 字节。
  --compatible    每个应答都等线路空闲后才接受，每条 HEX 记录单独写入（用
                  --verify 时也单独校验）：较慢，供需要这样做的电路板或适配器
                  使用。
  --turbo         program 通过 praxon-cli 在芯片 RAM 中启动的小型加载程序写入
                  （STM32F0、F1、F3）：映像压缩发送，内容已经正确的页保持不
                  动，--verify 请芯片计算每个已写范围的 CRC，不再读回比较。
                  其他芯片，或加载程序未能启动时，program 按快速方式进行。
                  仅在 praxon-sim 模拟的 STM32F103 上检验过，尚未在真实电路
                  板上检验。
  --turbo-baud N  与 --turbo 同用：加载程序运行后的线路速率（默认为 --baud
                  的速率）：任一 --baud 速率、1000000、1500000 或 2000000，
                  需适配器支持。线路承载不了时，双方都回到 --baud 的速率。

语言：区域设置（LC_ALL、LC_MESSAGES、LANG 中第一个已设置的）以 "zh" 开头时
praxon-cli 使用中文，否则使用英文；--lang zh 或 --lang en 可直接指定。

输出：标准输出接收每一行日志，与 Praxon 窗口日志中的完全相同（时刻、一个空格、
消息）。标准错误接收窗口在消息框中显示的文字；若标准错误是终端，还有一行进度，
显示已完成的字节数和速率。
--json 则在标准输出上每行写一个 JSON 对象，供脚本使用。

Ctrl+C 相当于窗口的“停止”按钮：正在进行的步骤在下一次检查时失败，命令以失败
结束；输出文件保持原样。

示例：
  praxon-cli --port ttyUSB0 --reset-line dtr --boot0-line rts \
      program firmware.hex --erase --verify --run
  praxon-cli --port COM3 --baud 460800 read flash.bin
  praxon-cli --port auto info

没有硬件时：praxon-sim 在伪终端上模拟一块 STM32F10x 电路板，首先打印
PORT=/dev/pts/N；把该设备作为串口传入。
  praxon-sim &
  praxon-cli --port /dev/pts/N program firmware.hex --erase --verify
  praxon-cli --port /dev/pts/N program app.bin --address 08004000 --erase=pages
  praxon-cli --port /dev/pts/N read boot.hex --address 08000000 --size 16K
接线的电路板：praxon-sim --reset-line dtr --boot0-line rts 还会打印
CLIENT_ENV=NAME=VALUE；praxon-cli 的环境中有该变量时，模拟的电路板能看到 DTR
和 RTS：
  env NAME=VALUE praxon-cli --port /dev/pts/N --reset-line dtr \
      --boot0-line rts program firmware.hex --run

退出状态：0 操作成功，1 操作失败（包括 Ctrl+C，以及 --port auto 未找到 USB 串口
适配器或找到不止一个），2 用法错误。
)",
};

const HelpPage& page(Language language) {
    return language == Language::Chinese ? kChinese : kEnglish;
}

}  // namespace

QString usageText(Language language) {
    const HelpPage& p = page(language);
    return QString::fromUtf8(p.usage) + QString::fromUtf8(p.more);
}

QString helpText(Language language) {
    const HelpPage& p = page(language);
    return QString::fromUtf8(p.intro) + QString::fromUtf8(p.usage) + QString::fromUtf8(p.body);
}

}  // namespace praxon::cli
