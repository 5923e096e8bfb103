#include "OptionBytesDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

#include "DialogProvider.h"
#include "OptionBytes.h"
#include "Translations.h"

namespace praxon {

namespace {

enum Column { kName, kValue, kMeaning };

// The table's texts for a value, a whole field or a generated description, in Chinese.
const std::map<std::string, const char*>& chineseMeanings() {
    static const std::map<std::string, const char*> table = {
        {"hardware watchdog", "硬件看门狗"},
        {"software watchdog", "软件看门狗"},
        {"hardware window watchdog", "硬件窗口看门狗"},
        {"software", "软件"},
        {"reset on entering Stop", "进入停机(Stop)模式时复位"},
        {"reset on entering Standby", "进入待机(Standby)模式时复位"},
        {"reset on entering Shutdown", "进入关断(Shutdown)模式时复位"},
        {"no reset", "不复位"},
        {"watchdog frozen in Stop", "停机模式下看门狗暂停"},
        {"watchdog frozen in Standby", "待机模式下看门狗暂停"},
        {"runs", "照常运行"},
        {"boot from bank 1", "从第1块(bank 1)启动"},
        {"boot from bank 2", "从第2块(bank 2)启动"},
        {"BOOT0 taken from this bit when BOOT_SEL is 0", "BOOT_SEL为0时BOOT0取此位"},
        {"BOOT0 from nBOOT0", "BOOT0取自nBOOT0位"},
        {"BOOT0 from the pin", "BOOT0取自引脚"},
        {"BOOT1 high", "BOOT1为高"},
        {"BOOT1 low", "BOOT1为低"},
        {"VDDA monitor off", "不监测VDDA"},
        {"VDDA monitor on", "监测VDDA"},
        {"RAM parity check on", "RAM奇偶校验开"},
        {"RAM parity check off", "RAM奇偶校验关"},
        {"SRAM parity check on", "SRAM奇偶校验开"},
        {"SRAM parity check off", "SRAM奇偶校验关"},
        {"SRAM2 parity check on", "SRAM2奇偶校验开"},
        {"SRAM2 erased at reset", "复位时擦除SRAM2"},
        {"CCM SRAM erased at reset", "复位时擦除CCM SRAM"},
        {"kept", "保留"},
        {"off", "关"},
        {"level 1", "1级"},
        {"level 2", "2级"},
        {"level 3", "3级"},
        {"one bank", "单块(bank)"},
        {"two banks", "双块(bank)"},
        {"1 MB parts: one bank", "1MB器件：单块(bank)"},
        {"1 MB parts: two banks", "1MB器件：双块(bank)"},
        {"smaller parts: one bank", "较小容量器件：单块(bank)"},
        {"smaller parts: two banks", "较小容量器件：双块(bank)"},
        {"one bank of 128-bit rows", "单块(bank)，128位一行"},
        {"two banks of 64-bit rows", "双块(bank)，64位一行"},
        {"write protection", "写保护"},
        {"readout protection of sectors", "扇区读保护"},
        {"none protected", "无写保护"},
        {"area off", "此区域不保护"},
    };
    return table;
}

// "0=hardware watchdog;1=software watchdog": each value the field names, with its text; empty
// when the meaning is one text for any value.
std::vector<std::pair<uint32_t, std::string>> namedValues(const std::string& meaning) {
    std::vector<std::pair<uint32_t, std::string>> values;
    static const QRegularExpression item(QStringLiteral("^([0-9]+)=(.+)$"));
    for (const QString& part : QString::fromStdString(meaning).split(QLatin1Char(';'))) {
        const QRegularExpressionMatch m = item.match(part);
        if (!m.hasMatch()) return {};
        values.emplace_back(m.captured(1).toUInt(), m.captured(2).toStdString());
    }
    return values;
}

// Values up to 4 bits are shown in decimal, wider ones in hexadecimal with all their digits.
QString valueText(uint32_t value, int width) {
    if (width <= 4) return QString::number(value);
    return QStringLiteral("0x") +
           QStringLiteral("%1").arg(value, (width + 3) / 4, 16, QLatin1Char('0')).toUpper();
}

// Decimal, or hexadecimal after 0x, as the edits take them.
std::optional<uint32_t> parseValue(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    const uint32_t value = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                               ? t.mid(2).toUInt(&ok, 16)
                               : t.toUInt(&ok, 10);
    return ok && !t.contains(QLatin1Char('+')) ? std::optional<uint32_t>(value) : std::nullopt;
}

QString readoutLevelText(int level) {
    switch (level) {
        case 0:
            return OptionBytesDialog::tr("0级：不保护");
        case 1:
            return OptionBytesDialog::tr("1级：读保护");
        default:
            return OptionBytesDialog::tr("2级：永久保护，不能撤销");
    }
}

// Runs of consecutive numbers: "0-3, 8".
QString runsText(const std::vector<uint32_t>& units, const DeviceInfo* device, int flashKB) {
    QStringList runs;
    for (size_t i = 0; i < units.size();) {
        size_t j = i;
        while (j + 1 < units.size() && units[j + 1] == units[j] + 1) ++j;
        QString run = units[i] == units[j] ? QString::number(units[i])
                                           : QStringLiteral("%1-%2").arg(units[i]).arg(units[j]);
        if (device && flashKB > 0) {
            const uint32_t bytes = uint32_t(flashKB) * 1024;
            const uint32_t first = device->unit(units[i], bytes).begin;
            const uint64_t end = device->unit(units[j], bytes).end;
            run += QStringLiteral(" (%1-%2)")
                       .arg(first, 8, 16, QLatin1Char('0'))
                       .arg(uint32_t(end - 1), 8, 16, QLatin1Char('0'))
                       .toUpper();
        }
        runs << run;
        i = j + 1;
    }
    return runs.join(QStringLiteral(", "));
}

}  // namespace

QString OptionMeaningText(const std::string& meaning, Language language) {
    if (language == Language::English || meaning.empty()) return QString::fromStdString(meaning);
    const auto& table = chineseMeanings();
    if (const auto it = table.find(meaning); it != table.end())
        return QString::fromUtf8(it->second);
    // What DecodeOptionBytes says of the write protection.
    static const QRegularExpression groups(
        QStringLiteral("^(4 KB blocks|sectors) (.+) protected$"));
    static const QRegularExpression pages(QStringLiteral("^pages (.+) protected$"));
    QRegularExpressionMatch m = groups.match(QString::fromStdString(meaning));
    if (m.hasMatch())
        return (m.captured(1) == QLatin1String("sectors") ? QStringLiteral("扇区%1写保护")
                                                          : QStringLiteral("4KB块%1写保护"))
            .arg(m.captured(2));
    m = pages.match(QString::fromStdString(meaning));
    if (m.hasMatch()) return QStringLiteral("第%1页写保护").arg(m.captured(1));
    return QString::fromStdString(meaning);
}

OptionBytesDialog::OptionBytesDialog(Engine& engine, DialogProvider& dialogs, QWidget* parent)
    : QDialog(parent), engine_(engine), dialogs_(dialogs) {
    setObjectName(QStringLiteral("OptionBytesForm"));
    setWindowTitle(tr("选项字节"));
    setModal(true);
    auto* column = new QVBoxLayout(this);

    LblChip = new QLabel(tr("按“读取”读出芯片的选项字节。"));
    LblChip->setObjectName(QStringLiteral("LblChip"));
    column->addWidget(LblChip);

    TblFields = new QTableWidget(0, 3, this);
    TblFields->setObjectName(QStringLiteral("TblFields"));
    TblFields->setHorizontalHeaderLabels({tr("名称"), tr("值"), tr("含义")});
    TblFields->verticalHeader()->hide();
    TblFields->setSelectionMode(QAbstractItemView::NoSelection);
    TblFields->setEditTriggers(QAbstractItemView::AllEditTriggers);
    TblFields->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::ResizeToContents);
    TblFields->horizontalHeader()->setSectionResizeMode(kValue, QHeaderView::ResizeToContents);
    TblFields->horizontalHeader()->setStretchLastSection(true);
    TblFields->setMinimumSize(fontMetrics().horizontalAdvance(QString(70, QLatin1Char('x'))),
                              fontMetrics().height() * 16);
    TblFields->setToolTip(tr("改过的值以粗体显示；“写入”只写改过的字段。"));
    connect(TblFields, &QTableWidget::itemChanged, this, [this] { refreshMeanings(); });
    column->addWidget(TblFields, 1);

    LblProtected = new QLabel;
    LblProtected->setObjectName(QStringLiteral("LblProtected"));
    LblProtected->setWordWrap(true);
    column->addWidget(LblProtected);

    ChkPermanent = new QCheckBox(tr("允许设为2级读保护（永久：芯片再也不能读出或重新编程）"));
    ChkPermanent->setObjectName(QStringLiteral("ChkPermanent"));
    column->addWidget(ChkPermanent);

    auto* buttons = new QDialogButtonBox(this);
    CmdObRead = buttons->addButton(tr("读取&R"), QDialogButtonBox::ActionRole);
    CmdObWrite = buttons->addButton(tr("写入&W"), QDialogButtonBox::ActionRole);
    // The window's own 中止 cannot be reached while this dialog is open: the wait for the chip's
    // reset after a write may be ended here.
    CmdObStop = buttons->addButton(tr("中止&T"), QDialogButtonBox::ActionRole);
    CmdObClose = buttons->addButton(tr("关闭"), QDialogButtonBox::RejectRole);
    CmdObStop->setObjectName(QStringLiteral("CmdObStop"));
    CmdObRead->setObjectName(QStringLiteral("CmdObRead"));
    CmdObWrite->setObjectName(QStringLiteral("CmdObWrite"));
    CmdObClose->setObjectName(QStringLiteral("CmdObClose"));
    CmdObWrite->setToolTip(tr("把改过的字段写入芯片，芯片随后复位并重新连接。"));
    for (QPushButton* b : {CmdObRead, CmdObWrite, CmdObStop, CmdObClose}) b->setAutoDefault(false);
    connect(CmdObRead, &QPushButton::clicked, this, [this] { readFromChip(); });
    connect(CmdObWrite, &QPushButton::clicked, this, [this] { writeToChip(); });
    connect(CmdObStop, &QPushButton::clicked, &engine_, &Engine::stop);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);

    connect(&engine_, &Engine::busyChanged, this, [this] { updateButtons(); });
    if (engine_.optionBytes()) showState(*engine_.optionBytes());
    updateButtons();
}

void OptionBytesDialog::setConnected(bool connected) {
    connected_ = connected;
    updateButtons();
}

void OptionBytesDialog::updateButtons() {
    const bool idle = connected_ && !engine_.busy();
    CmdObRead->setEnabled(idle);
    CmdObWrite->setEnabled(idle && read_.has_value());
    ChkPermanent->setEnabled(read_ && read_->layout && read_->layout->level2 >= 0);
    // Closing under a running operation would leave its results nowhere to be seen.
    CmdObClose->setEnabled(!engine_.busy());
    CmdObStop->setEnabled(engine_.busy());
}

void OptionBytesDialog::reject() {
    if (!engine_.busy()) QDialog::reject();
}

void OptionBytesDialog::readFromChip() {
    if (engine_.busy()) return;
    if (const std::optional<OptionBytesState> state = engine_.readOptionBytes()) {
        showState(*state);
        return;
    }
    // What was shown may no longer hold (the log says why the read failed).
    read_.reset();
    TblFields->setRowCount(0);
    LblChip->setText(tr("按“读取”读出芯片的选项字节。"));
    LblProtected->clear();
    updateButtons();
}

void OptionBytesDialog::showState(const OptionBytesState& state) {
    read_ = state;
    filling_ = true;
    TblFields->clearContents();
    TblFields->setRowCount(0);
    const DeviceInfo* device = engine_.target().device;
    const OptionLayout* layout = state.layout;
    LblChip->setText(
        device && layout
            ? tr("%1 %2，选项字节位于%3")
                  .arg(device->family, device->line,
                       QStringLiteral("%1").arg(state.address, 8, 16, QLatin1Char('0')).toUpper())
            : QString());
    for (const DecodedOption& option : state.fields) {
        const int row = TblFields->rowCount();
        const OptionField* field = fieldOf(row);
        TblFields->insertRow(row);
        auto* name = new QTableWidgetItem(QString::fromStdString(option.name));
        name->setFlags(Qt::ItemIsEnabled);
        TblFields->setItem(row, kName, name);
        auto* meaning = new QTableWidgetItem;
        meaning->setFlags(Qt::ItemIsEnabled);
        TblFields->setItem(row, kMeaning, meaning);

        // A field with a few named values (and the readout level) is a choice among them.
        std::vector<std::pair<uint32_t, QString>> choices;
        uint32_t current = option.value;
        if (field && field->kind == OptionKind::Readout) {
            current = uint32_t(ReadoutLevel(*layout, state.raw));
            for (int level = 0; level <= (layout->level2 >= 0 ? 2 : 1); ++level)
                choices.emplace_back(level, readoutLevelText(level));
        } else if (field) {
            for (const auto& [value, text] : namedValues(field->meaning))
                choices.emplace_back(value, OptionMeaningText(text, currentLanguage()));
        }
        if (choices.empty()) {
            TblFields->setItem(
                row, kValue,
                new QTableWidgetItem(valueText(option.value, field ? field->width : 32)));
            continue;
        }
        auto* box = new QComboBox;
        box->setObjectName(QStringLiteral("Cbo") + QString::fromStdString(option.name));
        // The levels' texts name their number already.
        const bool readout = field->kind == OptionKind::Readout;
        for (const auto& [value, text] : choices)
            box->addItem(readout ? text : QStringLiteral("%1: %2").arg(value).arg(text), value);
        if (box->findData(current) < 0) box->addItem(QString::number(current), current);
        box->setCurrentIndex(box->findData(current));
        connect(box, &QComboBox::currentIndexChanged, this, [this] { refreshMeanings(); });
        TblFields->setCellWidget(row, kValue, box);
        TblFields->setItem(row, kValue, new QTableWidgetItem);  // holds the changed mark
        TblFields->item(row, kValue)->setFlags(Qt::NoItemFlags);
    }
    filling_ = false;
    // Tall enough for every field of the usual layouts without scrolling.
    TblFields->resizeRowsToContents();
    int height = TblFields->horizontalHeader()->height() + 2 * TblFields->frameWidth();
    for (int r = 0; r < std::min(TblFields->rowCount(), 16); ++r) height += TblFields->rowHeight(r);
    TblFields->setMinimumHeight(std::max(height, fontMetrics().height() * 16));

    const bool sectors = layout && layout->grain == ProtectionGrain::Sector;
    LblProtected->setText(
        !state.unitsKnown ? tr("写保护：不知道该芯片的页（扇区）划分，无法列出受保护的页。")
        : state.protectedUnits.empty()
            ? tr("写保护：无")
            : (sectors ? tr("写保护的扇区：%1") : tr("写保护的页：%1"))
                  .arg(runsText(state.protectedUnits, device, engine_.target().flashSizeKB)));
    refreshMeanings();
    updateButtons();
}

std::optional<uint32_t> OptionBytesDialog::shownValue(int row) const {
    if (auto* box = qobject_cast<QComboBox*>(TblFields->cellWidget(row, kValue)))
        return box->currentData().toUInt();
    const QTableWidgetItem* item = TblFields->item(row, kValue);
    return item ? parseValue(item->text()) : std::nullopt;
}

const OptionField* OptionBytesDialog::fieldOf(int row) const {
    if (!read_ || !read_->layout || row < 0 || size_t(row) >= read_->fields.size()) return nullptr;
    return FindOptionField(*read_->layout, engine_.target().pid.value_or(0),
                           read_->fields[size_t(row)].name);
}

// NAME=VALUE when the row's value differs from the one read; empty otherwise. The readout field
// takes the level.
QString OptionBytesDialog::rowEdit(int row) const {
    const DecodedOption& option = read_->fields.at(size_t(row));
    const OptionField* field = fieldOf(row);
    const bool readout = field && field->kind == OptionKind::Readout;
    const uint32_t was =
        readout ? uint32_t(ReadoutLevel(*read_->layout, read_->raw)) : option.value;
    const std::optional<uint32_t> value = shownValue(row);
    const QString name = QString::fromStdString(option.name) + QLatin1Char('=');
    if (!value) return name + TblFields->item(row, kValue)->text().trimmed();
    if (*value == was) return QString();
    return name +
           (readout ? QString::number(*value) : valueText(*value, field ? field->width : 32));
}

QStringList OptionBytesDialog::edits() const {
    QStringList list;
    if (!read_) return list;
    for (int row = 0; row < TblFields->rowCount(); ++row)
        if (const QString edit = rowEdit(row); !edit.isEmpty()) list << edit;
    return list;
}

void OptionBytesDialog::refreshMeanings() {
    if (filling_ || !read_ || !read_->layout || !engine_.target().device) return;
    const DeviceRow& row = *engine_.target().device;
    const OptionLayout& layout = *read_->layout;
    // The table's values as the chip would take them, decoded as a read would show them.
    std::vector<std::string> all;
    std::vector<uint8_t> image = read_->raw;
    bool permanent = false;
    std::string error;
    for (const QString& edit : edits()) all.push_back(edit.toStdString());
    const bool valid = EncodeOptionEdits(row, layout, all, &image, &permanent, &error);
    const std::vector<DecodedOption> decoded =
        DecodeOptionBytes(row, layout, valid ? image : read_->raw);
    filling_ = true;
    for (int r = 0; r < TblFields->rowCount() && size_t(r) < decoded.size(); ++r) {
        const QString edit = rowEdit(r);
        std::vector<uint8_t> alone = read_->raw;
        bool alonePermanent = false;
        const bool fits = edit.isEmpty() || EncodeOptionEdits(row, layout, {edit.toStdString()},
                                                              &alone, &alonePermanent, &error);
        const OptionField* field = fieldOf(r);
        QString meaning = !fits ? tr("（值无效）")
                          : field && field->kind == OptionKind::Readout
                              ? readoutLevelText(ReadoutLevel(layout, valid ? image : read_->raw))
                              : OptionMeaningText(decoded[size_t(r)].meaning, currentLanguage());
        TblFields->item(r, kMeaning)->setText(meaning);
        QFont font = TblFields->font();
        font.setBold(!edit.isEmpty());
        TblFields->item(r, kValue)->setFont(font);
        if (QWidget* box = TblFields->cellWidget(r, kValue)) box->setFont(font);
    }
    filling_ = false;
}

void OptionBytesDialog::writeToChip() {
    if (engine_.busy() || !read_) return;
    const QStringList changed = edits();
    if (changed.isEmpty()) {
        dialogs_.message(this, QStringLiteral("Praxon"), tr("没有改动，不需要写入。"));
        return;
    }
    std::vector<std::string> list;
    for (const QString& edit : changed) list.push_back(edit.toStdString());
    // Whether the edits set readout level 2, by the rule the engine applies; edits it refuses
    // are sent without the permission, for the engine to say why.
    bool permanent = false;
    std::string error;
    std::vector<uint8_t> image = read_->raw;
    const DeviceInfo* device = engine_.target().device;
    if (device && read_->layout &&
        EncodeOptionEdits(*device, *read_->layout, list, &image, &permanent, &error) && permanent) {
        if (!ChkPermanent->isChecked()) {
            dialogs_.message(this, QStringLiteral("Praxon"),
                             tr("要设为2级读保护，请先勾选“允许设为2级读保护”。"));
            return;
        }
        if (!dialogs_.askYesNo(this, QStringLiteral("Praxon"),
                               tr("2级读保护是永久的：芯片再也不能通过引导程序读出、擦除或重新"
                                  "编程，也不能撤销。确定要写入吗？")))
            return;
    }
    const bool written = engine_.writeOptionBytes(list, permanent);
    // The engine reads them back after the chip's reset. Refused edits stay in the table, to be
    // corrected.
    const std::optional<OptionBytesState>& now = engine_.optionBytes();
    if (now && (written || now->raw != read_->raw)) showState(*now);
}

}  // namespace praxon
