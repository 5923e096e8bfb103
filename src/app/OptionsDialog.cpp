#include "OptionsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <algorithm>

#include "DialogProvider.h"

namespace praxon {

namespace {

// Entries of the wiring list; the two wirings come first after "none".
enum WiringChoice { kManual, kResetDtr, kResetRts, kCustom };

constexpr int kMaxFlashKB = 0xFFFF;  // the size register's range

// The flash size typed: 0 when empty, -1 when not a size.
int flashKBOf(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const QString t = text.trimmed();
    if (t.isEmpty()) return 0;
    const int kb = digits.match(t).hasMatch() ? t.toInt() : -1;
    return kb >= 1 && kb <= kMaxFlashKB ? kb : -1;
}

const QString kSequenceExample =
    QStringLiteral("rts=0,dtr=1,wait,dtr=0,wait:rts=1,dtr=1,wait,dtr=0");

template <class W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QRadioButton* choice(QWidget* parent, const char* name, const QString& caption) {
    auto* r = named(new QRadioButton(caption, parent), name);
    parent->layout()->addWidget(r);
    return r;
}

QGroupBox* group(QLayout* column, const char* name, const QString& title) {
    auto* g = named(new QGroupBox(title), name);
    new QVBoxLayout(g);
    column->addWidget(g);
    return g;
}

Wiring presetWiring(int choice, bool resetInverted, bool boot0Inverted) {
    Wiring w;
    if (choice != kResetDtr && choice != kResetRts) return w;
    w.reset = choice == kResetDtr ? WiredLine::Dtr : WiredLine::Rts;
    w.boot0 = choice == kResetDtr ? WiredLine::Rts : WiredLine::Dtr;
    w.resetInverted = resetInverted;
    w.boot0Inverted = boot0Inverted;
    return w;
}

}  // namespace

LineOptions LineOptionsFor(const OptionValues& values) {
    LineOptions options;
    options.baudRate = values.baudRate;
    SequenceError error;
    if (!values.sequence.trimmed().isEmpty())
        options.boot = ParseSequence(values.sequence, &error);
    else
        options.boot = LinesForWiring(values.wiring);
    return options;
}

OptionsDialog::OptionsDialog(const OptionValues& values, DialogProvider& dialogs, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs) {
    setObjectName(QStringLiteral("OptionsForm"));
    setWindowTitle(tr("选项"));
    setModal(true);
    auto* outer = new QVBoxLayout(this);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right);
    outer->addLayout(columns);

    QGroupBox* writing = group(left, "FraWriteMode", tr("写入方式"));
    OptFast = choice(writing, "OptFast", tr("快速 (默认)"));
    OptFast->setToolTip(tr("按对齐的整块写入和校验，用时最短。"));
    OptCompatible = choice(writing, "OptCompatible", tr("兼容 (逐条记录写入)"));
    OptCompatible->setToolTip(tr("按文件中的记录逐条写入，每次应答都等线路静止，较慢。"));
    OptTurbo = choice(writing, "OptTurbo", tr("极速 (RAM加载程序)"));
    OptTurbo->setToolTip(
        tr("把一个小加载程序装入芯片RAM后再编程（STM32F0/F1/F3）：压缩传输，内容未变的页不写，"
           "用芯片的CRC校验。其他芯片按快速方式写入。目前只在praxon-sim模拟的STM32F103上"
           "检验过，尚未在真实开发板上检验。"));
    (values.mode == WriteMode::Compatible ? OptCompatible
     : values.mode == WriteMode::Turbo    ? OptTurbo
                                          : OptFast)
        ->setChecked(true);
    // The line speed once the loader runs: the connect speed, or a faster one.
    auto* turboRow = new QHBoxLayout;
    turboRow->addWidget(named(new QLabel(tr("加载后波特率")), "LblTurboBaud"));
    CboTurboBaud = named(new QComboBox, "CboTurboBaud");
    CboTurboBaud->addItem(tr("同连接速率"), 0);
    for (int rate : kTurboLineSpeeds)
        if (rate > kDefaultLineSpeed) CboTurboBaud->addItem(QString::number(rate), rate);
    CboTurboBaud->setCurrentIndex(std::max(0, CboTurboBaud->findData(values.turboBaudRate)));
    CboTurboBaud->setEnabled(OptTurbo->isChecked());
    connect(OptTurbo, &QRadioButton::toggled, CboTurboBaud, &QWidget::setEnabled);
    turboRow->addWidget(CboTurboBaud, 1);
    static_cast<QVBoxLayout*>(writing->layout())->addLayout(turboRow);

    QGroupBox* erasing = group(left, "FraEraseScope", tr("擦除方式 (勾选“擦除”时)"));
    OptEraseChip = choice(erasing, "OptEraseChip", tr("整片擦除"));
    OptErasePages = choice(erasing, "OptErasePages", tr("只擦除文件用到的页"));
    OptErasePages->setToolTip(tr("文件没有用到的页保留原来的内容。"));
    (values.eraseScope == EraseScope::Pages ? OptErasePages : OptEraseChip)->setChecked(true);

    QGroupBox* running = group(left, "FraRun", tr("运行"));
    ChkRunAfterProgram = named(new QCheckBox(tr("编程后运行")), "ChkRunAfterProgram");
    ChkRunAfterProgram->setToolTip(
        tr("编程成功后启动程序：设了复位接线时复位开发板，否则从“地址”框的地址运行。"));
    ChkRunAfterProgram->setChecked(values.runAfterProgram);
    running->layout()->addWidget(ChkRunAfterProgram);

    // Each language is offered in its own words, so it can be found whichever one is showing.
    QGroupBox* speaking = group(left, "FraLanguage", tr("语言 (Language)"));
    CboLanguage = named(new QComboBox, "CboLanguage");
    CboLanguage->addItem(QStringLiteral("中文"), int(Language::Chinese));
    CboLanguage->addItem(QStringLiteral("English"), int(Language::English));
    CboLanguage->setCurrentIndex(CboLanguage->findData(int(values.language)));
    speaking->layout()->addWidget(CboLanguage);

    left->addStretch(1);

    QGroupBox* lines = group(right, "FraResetLines", tr("复位接线"));
    lines->setToolTip(
        tr("用串口模块的DTR、RTS控制开发板的复位和BOOT0。置位时模块引脚为0V："
           "直接接时把开发板引脚拉低，经三极管反相时把它拉高。"));
    CboWiring = named(new QComboBox, "CboWiring");
    CboWiring->addItems({tr("无（手动复位，默认）"), tr("复位接DTR、BOOT0接RTS"),
                         tr("复位接RTS、BOOT0接DTR"), tr("自定义序列")});
    ChkResetInverted = named(new QCheckBox(tr("复位经三极管反相")), "ChkResetInverted");
    ChkBoot0Inverted = named(new QCheckBox(tr("BOOT0经三极管反相")), "ChkBoot0Inverted");
    ChkResetInverted->setChecked(values.wiring.resetInverted);
    ChkBoot0Inverted->setChecked(values.wiring.boot0Inverted);
    TxtSequence = named(new QLineEdit, "TxtSequence");
    TxtSequence->setMinimumWidth(TxtSequence->fontMetrics().horizontalAdvance(kSequenceExample) +
                                 12);
    TxtSequence->setToolTip(
        tr("进入:退出，步骤用逗号分开。dtr=1 置位DTR，dtr=0 释放；rts=1/0 同样；"
           "brk=1/0 断开信号；wait 等100毫秒，wait=N 等N毫秒。"));
    auto* sequenceRow = new QHBoxLayout;
    auto* sequenceLabel = named(new QLabel(tr("序列")), "LblSequence");
    sequenceLabel->setBuddy(TxtSequence);
    TxtSequence->setAccessibleName(sequenceLabel->text());
    sequenceRow->addWidget(sequenceLabel);
    sequenceRow->addWidget(TxtSequence, 1);
    auto* linesColumn = static_cast<QVBoxLayout*>(lines->layout());
    linesColumn->addWidget(CboWiring);
    linesColumn->addWidget(ChkResetInverted);
    linesColumn->addWidget(ChkBoot0Inverted);
    linesColumn->addLayout(sequenceRow);

    QGroupBox* speed = group(right, "FraBaud", tr("波特率"));
    CboBaud = named(new QComboBox, "CboBaud");
    for (int rate : kLineSpeeds) {
        CboBaud->addItem(QString::number(rate), rate);
        if (rate == values.baudRate) CboBaud->setCurrentIndex(CboBaud->count() - 1);
    }
    if (CboBaud->currentData().toInt() != values.baudRate)
        CboBaud->setCurrentIndex(CboBaud->findData(kDefaultLineSpeed));
    auto* note = named(new QLabel(tr("230400及以上的速率许多串口模块和开发板都能用，"
                                     "但并非全部。")),
                       "LblBaudNote");
    note->setWordWrap(true);
    auto* speedRow = new QHBoxLayout;
    speedRow->addWidget(CboBaud);
    speedRow->addWidget(note, 1);
    static_cast<QVBoxLayout*>(speed->layout())->addLayout(speedRow);

    QGroupBox* chip = group(right, "FraFlash", tr("FLASH容量"));
    TxtFlashKB = named(new QLineEdit, "TxtFlashKB");
    TxtFlashKB->setMaximumWidth(
        TxtFlashKB->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 12);
    TxtFlashKB->setPlaceholderText(tr("自动"));
    if (values.flashKB > 0) TxtFlashKB->setText(QString::number(values.flashKB));
    chip->setToolTip(
        tr("部分仿制芯片的FLASH容量寄存器不准：在这里填写实际容量。"
           "留空则按芯片报告的容量。下次连接时生效。"));
    auto* flashRow = new QHBoxLayout;
    flashRow->addWidget(TxtFlashKB);
    auto* flashNote = named(new QLabel(tr("KB。留空则按芯片报告的容量。")), "LblFlashNote");
    flashNote->setWordWrap(true);
    flashRow->addWidget(flashNote, 1);
    static_cast<QVBoxLayout*>(chip->layout())->addLayout(flashRow);
    right->addStretch(1);

    const bool custom = !values.sequence.trimmed().isEmpty();
    if (custom) customText_ = values.sequence;
    CboWiring->setCurrentIndex(custom                                  ? kCustom
                               : values.wiring.reset == WiredLine::Dtr ? kResetDtr
                               : values.wiring.reset == WiredLine::Rts ? kResetRts
                                                                       : kManual);
    showWiring();
    QObject::connect(CboWiring, &QComboBox::currentIndexChanged, this, [this] { showWiring(); });
    for (QCheckBox* box : {ChkResetInverted, ChkBoot0Inverted})
        QObject::connect(box, &QCheckBox::toggled, this, [this] { showWiring(); });

    // Beside OK and Cancel, apart from the settings: it changes the chip, not the options.
    CmdOptionBytes = named(new QPushButton(tr("选项字节…")), "CmdOptionBytes");
    CmdOptionBytes->setToolTip(
        tr("读出、修改和写入芯片的选项字节：读保护级别、写保护、看门狗等。连接后才能使用。"));
    CmdOptionBytes->setAutoDefault(false);
    CmdOptionBytes->setEnabled(false);
    connect(CmdOptionBytes, &QPushButton::clicked, this, &OptionsDialog::optionBytesRequested);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(CmdOptionBytes);
    bottom->addStretch(1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    ok->setObjectName(QStringLiteral("CmdOK"));
    cancel->setObjectName(QStringLiteral("CmdCancel"));
    ok->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    bottom->addWidget(buttons);
    outer->addLayout(bottom);
}

void OptionsDialog::setOptionBytesAvailable(bool available) {
    CmdOptionBytes->setEnabled(available);
}

// The sequence field shows what a wiring does and is edited only for a custom sequence, which
// starts from the wiring last shown.
void OptionsDialog::showWiring() {
    const int chosen = CboWiring->currentIndex();
    const bool preset = chosen == kResetDtr || chosen == kResetRts;
    ChkResetInverted->setEnabled(preset);
    ChkBoot0Inverted->setEnabled(preset);
    if (TxtSequence->isEnabled() && chosen != kCustom) customText_ = TxtSequence->text();
    TxtSequence->setEnabled(chosen == kCustom);
    TxtSequence->setPlaceholderText(chosen == kCustom ? kSequenceExample : QString());
    if (chosen == kCustom) {
        if (!customText_.trimmed().isEmpty()) TxtSequence->setText(customText_);
    } else if (preset) {
        const auto lines = LinesForWiring(
            presetWiring(chosen, ChkResetInverted->isChecked(), ChkBoot0Inverted->isChecked()));
        TxtSequence->setText(lines ? SequenceText(*lines) : QString());
    } else {
        TxtSequence->clear();
    }
    TxtSequence->setCursorPosition(0);
}

OptionValues OptionsDialog::values() const {
    OptionValues v;
    v.mode = OptCompatible->isChecked() ? WriteMode::Compatible
             : OptTurbo->isChecked()    ? WriteMode::Turbo
                                        : WriteMode::Fast;
    v.turboBaudRate = CboTurboBaud->currentData().toInt();
    v.eraseScope = OptErasePages->isChecked() ? EraseScope::Pages : EraseScope::Chip;
    const int chosen = CboWiring->currentIndex();
    v.wiring = presetWiring(chosen, ChkResetInverted->isChecked(), ChkBoot0Inverted->isChecked());
    v.wiring.resetInverted = ChkResetInverted->isChecked();
    v.wiring.boot0Inverted = ChkBoot0Inverted->isChecked();
    if (chosen == kCustom) v.sequence = TxtSequence->text().trimmed();
    v.baudRate = CboBaud->currentData().toInt();
    v.runAfterProgram = ChkRunAfterProgram->isChecked();
    v.flashKB = std::max(0, flashKBOf(TxtFlashKB->text()));
    v.language = Language(CboLanguage->currentData().toInt());
    return v;
}

void OptionsDialog::accept() {
    if (CboWiring->currentIndex() == kCustom) {
        const QString text = TxtSequence->text();
        SequenceError error;
        QString problem;
        if (text.trimmed().isEmpty())
            problem = tr("请输入自定义序列，例如：") + kSequenceExample;
        else if (!ParseSequence(text, &error))
            problem = tr("自定义序列第%1个字符处有误：%2").arg(error.position).arg(error.message);
        if (!problem.isEmpty()) {
            dialogs_.message(this, QStringLiteral("Praxon"), problem);
            TxtSequence->setFocus();
            if (error.position > 0) TxtSequence->setCursorPosition(error.position - 1);
            return;
        }
    }
    if (flashKBOf(TxtFlashKB->text()) < 0) {
        dialogs_.message(
            this, QStringLiteral("Praxon"),
            tr("FLASH容量请填1到%1之间的整数（KB），或留空由芯片读出。").arg(kMaxFlashKB));
        TxtFlashKB->setFocus();
        TxtFlashKB->selectAll();
        return;
    }
    QDialog::accept();
}

}  // namespace praxon
