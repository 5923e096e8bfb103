<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>praxon::MainForm</name>
    <message>
        <source>连接</source>
        <translation>Connection</translation>
    </message>
    <message>
        <source>连接设备&amp;C</source>
        <translation>&amp;Connect</translation>
    </message>
    <message>
        <source>运行</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>At</translation>
    </message>
    <message>
        <source>运行&amp;G</source>
        <translation>&amp;Go</translation>
    </message>
    <message>
        <source>开发工程师比较喜欢用，Vekko就不喜欢用。</source>
        <translation>Developers like this one; Vekko does not.</translation>
    </message>
    <message>
        <source>编程</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>文件：</source>
        <translation>File:</translation>
    </message>
    <message>
        <source>选文件&amp;B</source>
        <translation>&amp;Browse</translation>
    </message>
    <message>
        <source>选个文件下载到芯片上：Intel HEX格式文件，或BIN二进制文件（再填它的装载地址）。</source>
        <translation>Choose a file to program into the chip: an Intel HEX file, or a binary file (its load address is asked next).</translation>
    </message>
    <message>
        <source>编程&amp;S</source>
        <translation>&amp;Start</translation>
    </message>
    <message>
        <source>中止&amp;T</source>
        <translation>S&amp;top</translation>
    </message>
    <message>
        <source>擦除</source>
        <translation>Erase</translation>
    </message>
    <message>
        <source>编程前最好带擦除。</source>
        <translation>Best to erase before programming.</translation>
    </message>
    <message>
        <source>校验</source>
        <translation>Verify</translation>
    </message>
    <message>
        <source>比较耗时间</source>
        <translation>Takes a while</translation>
    </message>
    <message>
        <source>加密</source>
        <translation>Lock</translation>
    </message>
    <message>
        <source>置读保护。</source>
        <translation>Sets the readout protection.</translation>
    </message>
    <message>
        <source>选项&amp;O</source>
        <translation>&amp;Options</translation>
    </message>
    <message>
        <source>写入方式、擦除方式、复位接线、波特率、FLASH容量和语言（Language）。</source>
        <translation>Write mode, erase mode, reset wiring, line speed, flash size and language.</translation>
    </message>
    <message>
        <source>设置完毕须复位后才能有效</source>
        <translation>Takes effect once the chip is reset</translation>
    </message>
    <message>
        <source>保护</source>
        <translation>Readout protection</translation>
    </message>
    <message>
        <source>置读保护&amp;P</source>
        <translation>&amp;Protect</translation>
    </message>
    <message>
        <source>清读保护&amp;U</source>
        <translation>&amp;Unprotect</translation>
    </message>
    <message>
        <source>置写保护</source>
        <translation>Write protect</translation>
    </message>
    <message>
        <source>清写保护</source>
        <translation>Write unprotect</translation>
    </message>
    <message>
        <source>其它</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>擦除&amp;E</source>
        <translation>&amp;Erase</translation>
    </message>
    <message>
        <source>就是用扫把把每个单元都扫成FF，不过这不是我干的，是CPU它自已干的。</source>
        <translation>Sweeps every cell to FF with a broom; not my doing, the CPU does it itself.</translation>
    </message>
    <message>
        <source>读取&amp;R</source>
        <translation>&amp;Read</translation>
    </message>
    <message>
        <source>从片上读取程序，不知道想干吗用？</source>
        <translation>Reads the program off the chip. What for, one wonders?</translation>
    </message>
    <message>
        <source>电话: 0755-0000 0000</source>
        <translation>Tel: 0755-0000 0000</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>请按中止按钮后退出。</source>
        <translation>Press Stop before closing the window.</translation>
    </message>
    <message>
        <source>BIN文件的装载地址（十六进制）：</source>
        <translation>Load address of the binary file (hexadecimal):</translation>
    </message>
    <message>
        <source>装载地址无效，请输入十六进制地址，例如08000000。</source>
        <translation>Invalid load address: enter a hexadecimal address such as 08000000.</translation>
    </message>
    <message>
        <source>运行地址无效，请输入十六进制地址。</source>
        <translation>Invalid run address: enter a hexadecimal address.</translation>
    </message>
    <message>
        <source>固件文件 (*.hex *.ihx *.s19 *.s28 *.s37 *.srec *.mot *.elf *.axf *.bin);;Intel Hex (*.hex *.ihx);;S-record (*.s19 *.s28 *.s37 *.srec *.mot);;ELF (*.elf *.axf);;Bin (*.bin);;所有文件(*.*)</source>
        <translation>Firmware files (*.hex *.ihx *.s19 *.s28 *.s37 *.srec *.mot *.elf *.axf *.bin);;Intel Hex (*.hex *.ihx);;S-record (*.s19 *.s28 *.s37 *.srec *.mot);;ELF (*.elf *.axf);;Binary (*.bin);;All files (*.*)</translation>
    </message>
    <message>
        <source>Intel Hex (*.hex);;Bin (*.bin);;所有文件(*.*)</source>
        <translation>Intel Hex (*.hex);;Binary (*.bin);;All files (*.*)</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>器件</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>装载地址: %1</source>
        <translation>Load address: %1</translation>
    </message>
    <message>
        <source>未知器件：可以连接，不能擦除或编程</source>
        <translation>Unknown device: it connects, but cannot be erased or programmed</translation>
    </message>
    <message>
        <source>未知</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>（按指定值）</source>
        <translation> (as set in the options)</translation>
    </message>
    <message>
        <source>（按该系列最大容量计）</source>
        <translation> (the family&apos;s largest)</translation>
    </message>
    <message>
        <source>Bootloader版本: </source>
        <translation>Bootloader version: </translation>
    </message>
    <message>
        <source>（按该系列计）</source>
        <translation> (the family&apos;s)</translation>
    </message>
    <message>
        <source>唯一ID: </source>
        <translation>Unique ID: </translation>
    </message>
</context>
<context>
    <name>praxon::OptionBytesDialog</name>
    <message>
        <source>0级：不保护</source>
        <translation>level 0: not protected</translation>
    </message>
    <message>
        <source>1级：读保护</source>
        <translation>level 1: readout protected</translation>
    </message>
    <message>
        <source>2级：永久保护，不能撤销</source>
        <translation>level 2: permanent, cannot be undone</translation>
    </message>
    <message>
        <source>选项字节</source>
        <translation>Option bytes</translation>
    </message>
    <message>
        <source>按“读取”读出芯片的选项字节。</source>
        <translation>Press Read to read the chip&apos;s option bytes.</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>含义</source>
        <translation>Meaning</translation>
    </message>
    <message>
        <source>改过的值以粗体显示；“写入”只写改过的字段。</source>
        <translation>Changed values are shown in bold; Write writes only the changed fields.</translation>
    </message>
    <message>
        <source>允许设为2级读保护（永久：芯片再也不能读出或重新编程）</source>
        <translation>Allow readout level 2 (permanent: the chip can never be read or reprogrammed again)</translation>
    </message>
    <message>
        <source>读取&amp;R</source>
        <translation>&amp;Read</translation>
    </message>
    <message>
        <source>写入&amp;W</source>
        <translation>&amp;Write</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>把改过的字段写入芯片，芯片随后复位并重新连接。</source>
        <translation>Writes the changed fields to the chip, which then resets and is connected again.</translation>
    </message>
    <message>
        <source>%1 %2，选项字节位于%3</source>
        <translation>%1 %2, option bytes at %3</translation>
    </message>
    <message>
        <source>写保护：无</source>
        <translation>Write protection: none</translation>
    </message>
    <message>
        <source>写保护的扇区：%1</source>
        <translation>Write-protected sectors: %1</translation>
    </message>
    <message>
        <source>写保护的页：%1</source>
        <translation>Write-protected pages: %1</translation>
    </message>
    <message>
        <source>（值无效）</source>
        <translation>(invalid value)</translation>
    </message>
    <message>
        <source>没有改动，不需要写入。</source>
        <translation>Nothing was changed: there is nothing to write.</translation>
    </message>
    <message>
        <source>要设为2级读保护，请先勾选“允许设为2级读保护”。</source>
        <translation>To set readout level 2, first tick &quot;Allow readout level 2&quot;.</translation>
    </message>
    <message>
        <source>2级读保护是永久的：芯片再也不能通过引导程序读出、擦除或重新编程，也不能撤销。确定要写入吗？</source>
        <translation>Readout level 2 is permanent: the chip can never again be read, erased or reprogrammed through its bootloader, and this cannot be undone. Write it?</translation>
    </message>
    <message>
        <source>中止&amp;T</source>
        <translation>S&amp;top</translation>
    </message>
    <message>
        <source>写保护：不知道该芯片的页（扇区）划分，无法列出受保护的页。</source>
        <translation>Write protection: the chip&apos;s page (sector) layout is not known, so the protected pages cannot be listed.</translation>
    </message>
</context>
<context>
    <name>praxon::OptionsDialog</name>
    <message>
        <source>选项</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>写入方式</source>
        <translation>Write mode</translation>
    </message>
    <message>
        <source>快速 (默认)</source>
        <translation>Fast (default)</translation>
    </message>
    <message>
        <source>按对齐的整块写入和校验，用时最短。</source>
        <translation>Writes and verifies in aligned blocks; the quickest.</translation>
    </message>
    <message>
        <source>兼容 (逐条记录写入)</source>
        <translation>Compatible (one write per record)</translation>
    </message>
    <message>
        <source>按文件中的记录逐条写入，每次应答都等线路静止，较慢。</source>
        <translation>Writes the file record by record and waits for a quiet line after every reply; slower.</translation>
    </message>
    <message>
        <source>擦除方式 (勾选“擦除”时)</source>
        <translation>Erase mode (when “Erase” is ticked)</translation>
    </message>
    <message>
        <source>整片擦除</source>
        <translation>Whole chip</translation>
    </message>
    <message>
        <source>只擦除文件用到的页</source>
        <translation>Only the pages the file uses</translation>
    </message>
    <message>
        <source>文件没有用到的页保留原来的内容。</source>
        <translation>Pages the file does not use keep their contents.</translation>
    </message>
    <message>
        <source>运行</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>编程后运行</source>
        <translation>Run after programming</translation>
    </message>
    <message>
        <source>编程成功后启动程序：设了复位接线时复位开发板，否则从“地址”框的地址运行。</source>
        <translation>Starts the program once programming succeeded: resets the board when a reset wiring is set, otherwise runs from the address in the “At” box.</translation>
    </message>
    <message>
        <source>复位接线</source>
        <translation>Reset wiring</translation>
    </message>
    <message>
        <source>用串口模块的DTR、RTS控制开发板的复位和BOOT0。置位时模块引脚为0V：直接接时把开发板引脚拉低，经三极管反相时把它拉高。</source>
        <translation>The adapter&apos;s DTR and RTS drive the board&apos;s reset and BOOT0. An asserted line puts 0 V on the adapter&apos;s pin: wired directly it pulls the board&apos;s pin low, through an inverting transistor it pulls it high.</translation>
    </message>
    <message>
        <source>无（手动复位，默认）</source>
        <translation>None (reset by hand, default)</translation>
    </message>
    <message>
        <source>复位接DTR、BOOT0接RTS</source>
        <translation>Reset on DTR, BOOT0 on RTS</translation>
    </message>
    <message>
        <source>复位接RTS、BOOT0接DTR</source>
        <translation>Reset on RTS, BOOT0 on DTR</translation>
    </message>
    <message>
        <source>自定义序列</source>
        <translation>Custom sequence</translation>
    </message>
    <message>
        <source>复位经三极管反相</source>
        <translation>Reset through an inverting transistor</translation>
    </message>
    <message>
        <source>BOOT0经三极管反相</source>
        <translation>BOOT0 through an inverting transistor</translation>
    </message>
    <message>
        <source>进入:退出，步骤用逗号分开。dtr=1 置位DTR，dtr=0 释放；rts=1/0 同样；brk=1/0 断开信号；wait 等100毫秒，wait=N 等N毫秒。</source>
        <translation>ENTRY:EXIT, steps separated by commas. dtr=1 asserts DTR, dtr=0 releases it; rts=1/0 the same; brk=1/0 the break signal; wait waits 100 ms, wait=N waits N ms.</translation>
    </message>
    <message>
        <source>序列</source>
        <translation>Sequence</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Line speed (baud)</translation>
    </message>
    <message>
        <source>230400及以上的速率许多串口模块和开发板都能用，但并非全部。</source>
        <translation>Many adapters and boards work at 230400 and above, but not all.</translation>
    </message>
    <message>
        <source>FLASH容量</source>
        <translation>Flash size</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>auto</translation>
    </message>
    <message>
        <source>部分仿制芯片的FLASH容量寄存器不准：在这里填写实际容量。留空则按芯片报告的容量。下次连接时生效。</source>
        <translation>Some clone chips report a wrong flash size: enter the real size here. Left empty, the size the chip reports is used. Takes effect at the next connect.</translation>
    </message>
    <message>
        <source>KB。留空则按芯片报告的容量。</source>
        <translation>KB. Left empty, the size the chip reports is used.</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>请输入自定义序列，例如：</source>
        <translation>Enter a custom sequence, for example: </translation>
    </message>
    <message>
        <source>自定义序列第%1个字符处有误：%2</source>
        <translation>The custom sequence is wrong at character %1: %2</translation>
    </message>
    <message>
        <source>FLASH容量请填1到%1之间的整数（KB），或留空由芯片读出。</source>
        <translation>Enter the flash size as a whole number from 1 to %1 (KB), or leave it empty to read it from the chip.</translation>
    </message>
    <message>
        <source>语言 (Language)</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>极速 (RAM加载程序)</source>
        <translation>Turbo (loader in RAM)</translation>
    </message>
    <message>
        <source>把一个小加载程序装入芯片RAM后再编程（STM32F0/F1/F3）：压缩传输，内容未变的页不写，用芯片的CRC校验。其他芯片按快速方式写入。目前只在praxon-sim模拟的STM32F103上检验过，尚未在真实开发板上检验。</source>
        <translation>Programs through a small loader placed in the chip&apos;s RAM (STM32F0/F1/F3): compressed transfer, unchanged pages left alone, verify by the chip&apos;s CRC. Other chips are written in the fast mode. So far checked only on the STM32F103 simulated by praxon-sim, not yet on real boards.</translation>
    </message>
    <message>
        <source>加载后波特率</source>
        <translation>Speed once loaded</translation>
    </message>
    <message>
        <source>同连接速率</source>
        <translation>As connected</translation>
    </message>
    <message>
        <source>选项字节…</source>
        <translation>Option bytes…</translation>
    </message>
    <message>
        <source>读出、修改和写入芯片的选项字节：读保护级别、写保护、看门狗等。连接后才能使用。</source>
        <translation>Reads, edits and writes the chip&apos;s option bytes: readout level, write protection, watchdog and more. Available once connected.</translation>
    </message>
</context>
</TS>
