#!/usr/bin/env python3
"""Fills src/app/translations/praxon_en.ts from the table below, after lupdate has brought the
file up to date with the code. Every source text needs an English text here; the script fails
naming any that has none, so no entry is left unfinished.
Usage: tools/fill_translations.py [TS_FILE]"""
import html
import re
import sys
from xml.sax.saxutils import escape

ENGLISH = {
    # The window
    "连接": "Connection",
    "连接设备&C": "&Connect",
    "运行": "Run",
    "地址": "At",
    "运行&G": "&Go",
    "开发工程师比较喜欢用，Vekko就不喜欢用。": "Developers like this one; Vekko does not.",
    "编程": "Program",
    "文件：": "File:",
    "选文件&B": "&Browse",
    "选个文件下载到芯片上：Intel HEX格式文件，或BIN二进制文件（再填它的装载地址）。":
        "Choose a file to program into the chip: an Intel HEX file, or a binary file "
        "(its load address is asked next).",
    "编程&S": "&Start",
    "中止&T": "S&top",
    "擦除": "Erase",
    "编程前最好带擦除。": "Best to erase before programming.",
    "校验": "Verify",
    "比较耗时间": "Takes a while",
    "加密": "Lock",
    "置读保护。": "Sets the readout protection.",
    "选项&O": "&Options",
    "写入方式、擦除方式、复位接线、波特率、FLASH容量和语言（Language）。":
        "Write mode, erase mode, reset wiring, line speed, flash size and language.",
    "设置完毕须复位后才能有效": "Takes effect once the chip is reset",
    "保护": "Readout protection",
    "置读保护&P": "&Protect",
    "清读保护&U": "&Unprotect",
    "置写保护": "Write protect",
    "清写保护": "Write unprotect",
    "其它": "Other",
    "擦除&E": "&Erase",
    "就是用扫把把每个单元都扫成FF，不过这不是我干的，是CPU它自已干的。":
        "Sweeps every cell to FF with a broom; not my doing, the CPU does it itself.",
    "读取&R": "&Read",
    "从片上读取程序，不知道想干吗用？": "Reads the program off the chip. What for, one wonders?",
    "电话: 0755-0000 0000": "Tel: 0755-0000 0000",
    "&Help": "&Help",
    "请按中止按钮后退出。": "Press Stop before closing the window.",
    "BIN文件的装载地址（十六进制）：": "Load address of the binary file (hexadecimal):",
    "装载地址无效，请输入十六进制地址，例如08000000。":
        "Invalid load address: enter a hexadecimal address such as 08000000.",
    "运行地址无效，请输入十六进制地址。": "Invalid run address: enter a hexadecimal address.",
    "固件文件 (*.hex *.ihx *.bin);;Intel Hex (*.hex);;Bin (*.bin);;所有文件(*.*)":
        "Firmware files (*.hex *.ihx *.bin);;Intel Hex (*.hex);;Binary (*.bin);;All files (*.*)",
    "固件文件 (*.hex *.ihx *.s19 *.s28 *.s37 *.srec *.mot *.elf *.axf *.bin);;"
    "Intel Hex (*.hex *.ihx);;S-record (*.s19 *.s28 *.s37 *.srec *.mot);;ELF (*.elf *.axf);;"
    "Bin (*.bin);;所有文件(*.*)":
        "Firmware files (*.hex *.ihx *.s19 *.s28 *.s37 *.srec *.mot *.elf *.axf *.bin);;"
        "Intel Hex (*.hex *.ihx);;S-record (*.s19 *.s28 *.s37 *.srec *.mot);;ELF (*.elf *.axf);;"
        "Binary (*.bin);;All files (*.*)",
    "Intel Hex (*.hex);;Bin (*.bin);;所有文件(*.*)":
        "Intel Hex (*.hex);;Binary (*.bin);;All files (*.*)",
    "状态": "Status",
    "器件": "Device",
    "装载地址: %1": "Load address: %1",
    "未知器件：可以连接，不能擦除或编程": "Unknown device: it connects, but cannot be erased or programmed",
    "未知": "unknown",
    "（按指定值）": " (as set in the options)",
    "（按该系列最大容量计）": " (the family's largest)",
    "Bootloader版本: ": "Bootloader version: ",
    "（按该系列计）": " (the family's)",
    # The options dialog
    "选项": "Options",
    "写入方式": "Write mode",
    "快速 (默认)": "Fast (default)",
    "按对齐的整块写入和校验，用时最短。": "Writes and verifies in aligned blocks; the quickest.",
    "兼容 (逐条记录写入)": "Compatible (one write per record)",
    "按文件中的记录逐条写入，每次应答都等线路静止，较慢。":
        "Writes the file record by record and waits for a quiet line after every reply; slower.",
    "极速 (RAM加载程序)": "Turbo (loader in RAM)",
    "把一个小加载程序装入芯片RAM后再编程（STM32F0/F1/F3）：压缩传输，内容未变的页不写，"
    "用芯片的CRC校验。其他芯片按快速方式写入。目前只在praxon-sim模拟的STM32F103上"
    "检验过，尚未在真实开发板上检验。":
        "Programs through a small loader placed in the chip's RAM (STM32F0/F1/F3): compressed "
        "transfer, unchanged pages left alone, verify by the chip's CRC. Other chips are written "
        "in the fast mode. So far checked only on the STM32F103 simulated by praxon-sim, not yet "
        "on real boards.",
    "加载后波特率": "Speed once loaded",
    "同连接速率": "As connected",
    "擦除方式 (勾选“擦除”时)": "Erase mode (when \u201cErase\u201d is ticked)",
    "整片擦除": "Whole chip",
    "只擦除文件用到的页": "Only the pages the file uses",
    "文件没有用到的页保留原来的内容。": "Pages the file does not use keep their contents.",
    "编程后运行": "Run after programming",
    "编程成功后启动程序：设了复位接线时复位开发板，否则从“地址”框的地址运行。":
        "Starts the program once programming succeeded: resets the board when a reset wiring "
        "is set, otherwise runs from the address in the \u201cAt\u201d box.",
    "语言 (Language)": "Language",
    "复位接线": "Reset wiring",
    "用串口模块的DTR、RTS控制开发板的复位和BOOT0。置位时模块引脚为0V：直接接时把开发板引脚拉低，经三极管反相时把它拉高。":
        "The adapter's DTR and RTS drive the board's reset and BOOT0. An asserted line puts 0 V "
        "on the adapter's pin: wired directly it pulls the board's pin low, through an "
        "inverting transistor it pulls it high.",
    "无（手动复位，默认）": "None (reset by hand, default)",
    "复位接DTR、BOOT0接RTS": "Reset on DTR, BOOT0 on RTS",
    "复位接RTS、BOOT0接DTR": "Reset on RTS, BOOT0 on DTR",
    "自定义序列": "Custom sequence",
    "复位经三极管反相": "Reset through an inverting transistor",
    "BOOT0经三极管反相": "BOOT0 through an inverting transistor",
    "进入:退出，步骤用逗号分开。dtr=1 置位DTR，dtr=0 释放；rts=1/0 同样；brk=1/0 断开信号；wait 等100毫秒，wait=N 等N毫秒。":
        "ENTRY:EXIT, steps separated by commas. dtr=1 asserts DTR, dtr=0 releases it; rts=1/0 "
        "the same; brk=1/0 the break signal; wait waits 100 ms, wait=N waits N ms.",
    "序列": "Sequence",
    "波特率": "Line speed (baud)",
    "230400及以上的速率许多串口模块和开发板都能用，但并非全部。":
        "Many adapters and boards work at 230400 and above, but not all.",
    "FLASH容量": "Flash size",
    "自动": "auto",
    "部分仿制芯片的FLASH容量寄存器不准：在这里填写实际容量。留空则按芯片报告的容量。下次连接时生效。":
        "Some clone chips report a wrong flash size: enter the real size here. Left empty, the "
        "size the chip reports is used. Takes effect at the next connect.",
    "KB。留空则按芯片报告的容量。": "KB. Left empty, the size the chip reports is used.",
    "确定": "OK",
    "取消": "Cancel",
    "请输入自定义序列，例如：": "Enter a custom sequence, for example: ",
    "自定义序列第%1个字符处有误：%2": "The custom sequence is wrong at character %1: %2",
    "FLASH容量请填1到%1之间的整数（KB），或留空由芯片读出。":
        "Enter the flash size as a whole number from 1 to %1 (KB), or leave it empty to read "
        "it from the chip.",
    # The option bytes
    "选项字节…": "Option bytes…",
    "读出、修改和写入芯片的选项字节：读保护级别、写保护、看门狗等。连接后才能使用。":
        "Reads, edits and writes the chip's option bytes: readout level, write protection, "
        "watchdog and more. Available once connected.",
    "唯一ID: ": "Unique ID: ",
    "选项字节": "Option bytes",
    "按“读取”读出芯片的选项字节。": "Press Read to read the chip's option bytes.",
    "名称": "Name",
    "值": "Value",
    "含义": "Meaning",
    "改过的值以粗体显示；“写入”只写改过的字段。":
        "Changed values are shown in bold; Write writes only the changed fields.",
    "允许设为2级读保护（永久：芯片再也不能读出或重新编程）":
        "Allow readout level 2 (permanent: the chip can never be read or reprogrammed again)",
    "写入&W": "&Write",
    "关闭": "Close",
    "把改过的字段写入芯片，芯片随后复位并重新连接。":
        "Writes the changed fields to the chip, which then resets and is connected again.",
    "%1 %2，选项字节位于%3": "%1 %2, option bytes at %3",
    "写保护：无": "Write protection: none",
    "写保护：不知道该芯片的页（扇区）划分，无法列出受保护的页。":
        "Write protection: the chip's page (sector) layout is not known, so the protected pages "
        "cannot be listed.",
    "写保护的扇区：%1": "Write-protected sectors: %1",
    "写保护的页：%1": "Write-protected pages: %1",
    "0级：不保护": "level 0: not protected",
    "1级：读保护": "level 1: readout protected",
    "2级：永久保护，不能撤销": "level 2: permanent, cannot be undone",
    "（值无效）": "(invalid value)",
    "没有改动，不需要写入。": "Nothing was changed: there is nothing to write.",
    "要设为2级读保护，请先勾选“允许设为2级读保护”。":
        "To set readout level 2, first tick \"Allow readout level 2\".",
    "2级读保护是永久的：芯片再也不能通过引导程序读出、擦除或重新编程，也不能撤销。确定要写入吗？":
        "Readout level 2 is permanent: the chip can never again be read, erased or "
        "reprogrammed through its bootloader, and this cannot be undone. Write it?",
}


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "src/app/translations/praxon_en.ts"
    with open(path, encoding="utf-8") as f:
        text = f.read()
    missing = []

    # Only the translations change, so the file keeps lupdate's own layout.
    def fill(match):
        source = html.unescape(match.group(2))
        if source not in ENGLISH:
            missing.append(source)
            return match.group(0)
        english = escape(ENGLISH[source], {'"': "&quot;", "'": "&apos;"})
        return match.group(1) + "<translation>" + english + "</translation>"

    text = MESSAGE.sub(fill, text)
    if missing:
        sys.exit("no English text for:\n  " + "\n  ".join(missing))
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


# A message as lupdate writes it: its source, then its translation, finished or not.
MESSAGE = re.compile(r"(<source>(.*?)</source>\s*)<translation[^>]*>(.*?)</translation>", re.S)

if __name__ == "__main__":
    main()
