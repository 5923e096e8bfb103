#include "MainForm.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextCursor>
#include <algorithm>
#include <cmath>

#include "Artwork.h"
#include "ComPorts.h"
#include "DialogProvider.h"
#include "Engine.h"
#include "HelpLinks.h"
#include "HexText.h"
#include "OptionBytesDialog.h"
#include "OptionsDialog.h"
#include "QtSerialPort.h"
#include "Settings.h"
#include "Translations.h"

namespace praxon {

const QString MainForm::kCaption = QStringLiteral("Praxon (1.0b)");

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidth = 8940;
constexpr int kClientHeight = 6525;
constexpr int kStatusBarHeight = 375;
constexpr int kPortListSize = 10;
// Design widths of the status-bar panels, left to right.
constexpr int kPanelWidths[6] = {700, 3000, 700, 2200, 1020, 1440};
const QString kProgramName = QStringLiteral("Praxon");

QString hex8(uint32_t value) {
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

// The 96-bit unique ID's bytes in memory order, as the log and praxon-cli show them.
QString uniqueIdText(const std::vector<uint8_t>& bytes) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()))
            .toHex()
            .toUpper());
}

// A raw binary image; every other name is read as Intel HEX.
QString withoutAccessMarks(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}

// Only blanks are removed, as the stored values have always been trimmed.
QString trimSpaces(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' ')) ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' ')) --end;
    return text.mid(begin, end - begin);
}

// Draws each port with its details; the item's own text, which the field takes, stays the name.
class PortItemDelegate : public QStyledItemDelegate {
public:
    explicit PortItemDelegate(PortComboBox* list) : QStyledItemDelegate(list), list_(list) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text = list_->shownText(index.row());
    }

private:
    PortComboBox* list_;
};

constexpr int kPortDetailsRole = Qt::UserRole + 1;

}  // namespace

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
    setItemDelegate(new PortItemDelegate(this));
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // A chosen name longer than the field shows its start; the tip shows it whole.
    connect(this, &QComboBox::currentIndexChanged, this,
            [this] { lineEdit()->setCursorPosition(0); });
    connect(this, &QComboBox::editTextChanged, this, &QWidget::setToolTip);
}

void PortComboBox::showPopup() {
    if (beforePopup) beforePopup();
    QComboBox::showPopup();
}

void PortComboBox::showNames(const QStringList& names, const QString& text,
                             const QStringList& details) {
    clear();
    addItems(names);
    int widest = 0;
    for (int i = 0; i < names.size(); ++i) {
        setItemData(i, details.value(i), kPortDetailsRole);
        widest = std::max(widest, fontMetrics().horizontalAdvance(shownText(i)));
    }
    // Item margins and the drop-down's scroll bar.
    const int margins = 4 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 16 +
                        style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    view()->setMinimumWidth(std::max(width(), widest + margins));
    setEditText(text);
    lineEdit()->setCursorPosition(0);
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

MainForm::MainForm(const Options& options, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MAINFORM"));
    port_ = options.port;
    if (!port_) {
        ownPort_ = std::make_unique<QtSerialPort>();
        port_ = ownPort_.get();
    }
    ports_ = options.ports;
    if (!ports_) {
        ownPorts_ = systemPortMap();
        ports_ = ownPorts_.get();
    }
    dialogs_ = options.dialogs;
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<StandardDialogs>();
        dialogs_ = ownDialogs_.get();
    }

    setWindowTitle(kCaption);
    setWindowIcon(artwork::windowIcon());
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    buildControls();
    buildStatusBar();
    scale_ = computeScale();
    applyLayout();
    retranslate();

    engine_ = std::make_unique<Engine>(*this, *port_);
    wireEvents();
    Form_Load();
}

MainForm::~MainForm() = default;

template <class W>
W* MainForm::make(QWidget* parent, const char* name, const QRect& twips, const char* text,
                  const char* tip) {
    auto* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    placed_.push_back({widget, twips, text, tip});
    return widget;
}

// Captions and tool tips are given untranslated (QT_TR_NOOP) and set by retranslate().
void MainForm::buildControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("MAINFORMClient"));
    setCentralWidget(client);

    auto button = [this](QWidget* parent, const char* name, const QRect& r, const char* caption,
                         const char* tip = nullptr) {
        auto* b = make<QPushButton>(parent, name, r, caption, tip);
        b->setAutoDefault(false);
        return b;
    };
    auto group = [this](QWidget* parent, const char* name, const QRect& r, const char* title) {
        return make<QGroupBox>(parent, name, r, title);
    };
    auto label = [this](QWidget* parent, const char* name, const QRect& r, const char* text) {
        return make<QLabel>(parent, name, r, text);
    };
    auto check = [this](QWidget* parent, const char* name, const QRect& r, const char* caption,
                        bool checked, const char* tip) {
        auto* c = make<QCheckBox>(parent, name, r, caption, tip);
        c->setChecked(checked);
        return c;
    };

    OPFRAME = group(client, "OPFRAME", {120, 60, 5895, 6075}, nullptr);
    INFOFRAME = group(client, "INFOFRAME", {6180, 60, 2655, 6015}, nullptr);

    AUTFRAME = group(OPFRAME, "AUTFRAME", {120, 180, 2655, 795}, QT_TR_NOOP("连接"));
    // As wide as the space beside 连接设备 allows, for names such as /dev/pts/10.
    CombComPort = make<PortComboBox>(AUTFRAME, "CombComPort", {150, 300, 1140, 315});
    CombComPort->setEditText(QStringLiteral("COM1"));
    CHECKCMD = button(AUTFRAME, "CHECKCMD", {1380, 240, 1095, 375}, QT_TR_NOOP("连接设备&C"));
    CommText = new QLineEdit(QStringLiteral("Comm Setting"), AUTFRAME);
    CommText->setObjectName(QStringLiteral("CommText"));
    CommText->hide();

    Frame1 = group(OPFRAME, "Frame1", {3000, 180, 2775, 795}, QT_TR_NOOP("运行"));
    Label2 = label(Frame1, "Label2", {180, 360, 435, 255}, QT_TR_NOOP("地址"));
    GATEXT = make<QLineEdit>(Frame1, "GATEXT", {660, 360, 1035, 285});
    GATEXT->setText(QStringLiteral("08000000"));
    Command_GO = button(Frame1, "Command_GO", {1800, 240, 855, 435}, QT_TR_NOOP("运行&G"),
                        QT_TR_NOOP("开发工程师比较喜欢用，Vekko就不喜欢用。"));

    Frame4 = group(OPFRAME, "Frame4", {120, 1020, 5655, 1635}, QT_TR_NOOP("编程"));
    Label5 = label(Frame4, "Label5", {120, 360, 555, 255}, QT_TR_NOOP("文件："));
    TxtDownloadFile = make<QLineEdit>(Frame4, "TxtDownloadFile", {660, 300, 4815, 285});
    TxtDownloadFile->setEnabled(false);
    CmdDownLoad = button(Frame4, "CmdDownLoad", {540, 780, 1035, 375}, QT_TR_NOOP("选文件&B"),
                         QT_TR_NOOP("选个文件下载到芯片上：Intel HEX格式文件，"
                                    "或BIN二进制文件（再填它的装载地址）。"));
    CmdStart = button(Frame4, "CmdStart", {2280, 780, 1035, 375}, QT_TR_NOOP("编程&S"));
    CmdStop = button(Frame4, "CmdStop", {4080, 780, 1035, 375}, QT_TR_NOOP("中止&T"));
    ChkErase = check(Frame4, "ChkErase", {720, 1260, 675, 255}, QT_TR_NOOP("擦除"), true,
                     QT_TR_NOOP("编程前最好带擦除。"));
    ChkCheck = check(Frame4, "ChkCheck", {2460, 1260, 675, 255}, QT_TR_NOOP("校验"), false,
                     QT_TR_NOOP("比较耗时间"));
    ChkSetreadProtect = check(Frame4, "ChkSetreadProtect", {4320, 1260, 675, 255},
                              QT_TR_NOOP("加密"), false, QT_TR_NOOP("置读保护。"));
    // In the free space between 校验 and 加密, under the gap between 编程 and 中止.
    CmdOptions = button(Frame4, "CmdOptions", {3330, 1200, 735, 375}, QT_TR_NOOP("选项&O"),
                        QT_TR_NOOP("写入方式、擦除方式、复位接线、波特率、FLASH容量和语言"
                                   "（Language）。"));

    const char* protectTip = QT_TR_NOOP("设置完毕须复位后才能有效");
    Frame2 = group(OPFRAME, "Frame2", {120, 2880, 2835, 915}, QT_TR_NOOP("保护"));
    CmdReadProtect = button(Frame2, "CmdReadProtect", {180, 300, 1155, 375},
                            QT_TR_NOOP("置读保护&P"), protectTip);
    CmdReadUnProtect = button(Frame2, "CmdReadUnProtect", {1500, 300, 1155, 375},
                              QT_TR_NOOP("清读保护&U"), protectTip);
    // Placed beyond the group's right edge, so never seen; always disabled.
    CmdWriteProtect = button(Frame2, "CmdWriteProtect", {3000, 300, 1155, 375},
                             QT_TR_NOOP("置写保护"), protectTip);
    CmdWriteUnProtect = button(Frame2, "CmdWriteUnProtect", {4320, 300, 1155, 375},
                               QT_TR_NOOP("清写保护"), protectTip);

    Frame3 = group(OPFRAME, "Frame3", {3120, 2880, 2655, 915}, QT_TR_NOOP("其它"));
    Command_ER =
        button(Frame3, "Command_ER", {180, 300, 1035, 375}, QT_TR_NOOP("擦除&E"),
               QT_TR_NOOP("就是用扫把把每个单元都扫成FF，不过这不是我干的，是CPU它自已干的。"));
    CmdRead = button(Frame3, "CmdRead", {1380, 300, 1035, 375}, QT_TR_NOOP("读取&R"),
                     QT_TR_NOOP("从片上读取程序，不知道想干吗用？"));

    TxtMsg = make<QPlainTextEdit>(OPFRAME, "TxtMsg", {120, 3900, 5655, 2055});
    TxtMsg->setReadOnly(true);
    TxtMsg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    TxtMsg->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    const QCursor hand = artwork::handshakeCursor();
    Picture2 = make<PictureBox>(INFOFRAME, "Picture2", {120, 240, 2415, 1395});
    Picture2->setCursor(hand);
    Label1 = make<QLabel>(INFOFRAME, "Label1", {660, 1740, 1335, 255});
    Label1->setText(kDistributorAddress);
    Label4 = label(INFOFRAME, "Label4", {600, 1980, 1395, 255}, QT_TR_NOOP("电话: 0755-0000 0000"));
    Picture1 = make<PictureBox>(INFOFRAME, "Picture1", {120, 2220, 2415, 1875});
    Picture1->setCursor(hand);
    Label3 = make<QLabel>(INFOFRAME, "Label3", {240, 4200, 2235, 255});
    Label3->setText(kVendorAddress);
    Picture3 = make<QLabel>(INFOFRAME, "Picture3", {780, 4440, 1155, 1035});
    CmdHelp = button(INFOFRAME, "CmdHelp", {480, 5580, 1695, 375}, QT_TR_NOOP("&Help"));
    for (QLabel* l : {Label1, Label4, Label3}) l->setAlignment(Qt::AlignCenter);

    // Hidden holders of the lamp pictures that panel 6 shows.
    PICGRAYLED = new QLabel(this);
    PICGREENLED = new QLabel(this);
    PICREDLED = new QLabel(this);
    const std::pair<QLabel*, artwork::LampColour> lamps[] = {
        {PICGRAYLED, artwork::LampColour::Gray},
        {PICGREENLED, artwork::LampColour::Green},
        {PICREDLED, artwork::LampColour::Red}};
    const char* lampNames[] = {"PICGRAYLED", "PICGREENLED", "PICREDLED"};
    for (int i = 0; i < 3; ++i) {
        lamps[i].first->setObjectName(QString::fromLatin1(lampNames[i]));
        lamps[i].first->setPixmap(artwork::lamp(lamps[i].second));
        lamps[i].first->hide();
    }
}

void MainForm::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    // Panels 1 and 3 are captions, set by retranslate().
    const QString initial[6] = {QString(),    QStringLiteral("Ready"), QString(), QString(),
                                kProgramName, QStringLiteral("未连接")};
    for (int i = 0; i < 6; ++i) {
        auto* panel = new QLabel(initial[i]);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i + 1));
        panels_[i] = panel;
        if (i < 5) {
            panel->setFrameShape(QFrame::Panel);
            panel->setFrameShadow(QFrame::Sunken);
            bar->addWidget(panel);
        }
    }
    // Panel 6: the lamp picture followed by the link state.
    auto* box = new QFrame;
    box->setObjectName(QStringLiteral("StatusBar1Panel6Box"));
    box->setFrameShape(QFrame::Panel);
    box->setFrameShadow(QFrame::Sunken);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(2, 0, 2, 0);
    row->setSpacing(3);
    panelLamp_ = new QLabel;
    panelLamp_->setObjectName(QStringLiteral("StatusBar1Panel6Lamp"));
    row->addWidget(panelLamp_);
    row->addWidget(panels_[5], 1);
    panel6Box_ = box;
    bar->addWidget(box, 1);
}

// One factor for every position: at least the screen's DPI over 96, and large enough that the
// widest caption fits its control with the font in use.
double MainForm::computeScale() const {
    const QFontMetrics fm(font());
    const QStyle* st = style();
    double factor = logicalDpiX() / 96.0;
    auto need = [&](double required, int designTwips) {
        if (designTwips > 0)
            factor = std::max(factor, required * kTwipsPerPixel / double(designTwips));
    };
    const int textHeight = fm.height();
    for (const Placed& p : placed_) {
        const QRect& r = p.twips;
        const QString text = QString::fromUtf8(p.text);
        if (auto* b = qobject_cast<QPushButton*>(p.widget)) {
            if (b == CmdWriteProtect || b == CmdWriteUnProtect) continue;
            need(fm.horizontalAdvance(withoutAccessMarks(text)) + 12, r.width());
            need(textHeight + 6, r.height());
        } else if (qobject_cast<QCheckBox*>(p.widget)) {
            need(st->pixelMetric(QStyle::PM_IndicatorWidth) +
                     st->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) + fm.horizontalAdvance(text) +
                     4,
                 r.width());
            need(std::max(textHeight, st->pixelMetric(QStyle::PM_IndicatorHeight)), r.height());
        } else if (qobject_cast<QGroupBox*>(p.widget)) {
            if (!text.isEmpty()) need(fm.horizontalAdvance(text) + 24, r.width());
        } else if (qobject_cast<QLineEdit*>(p.widget) || qobject_cast<QComboBox*>(p.widget)) {
            need(textHeight + 4, r.height());
        } else if (p.widget == Label2 || p.widget == Label5) {
            need(fm.horizontalAdvance(text) + 2, r.width());
            need(textHeight, r.height());
        }
    }
    // The usual adapter names fit the port list's field.
    need(fm.horizontalAdvance(QStringLiteral("ttyUSB10")) + 28, 1140);
    // The status-bar texts seen on every connect.
    need(fm.horizontalAdvance(QStringLiteral("收到ACK，可以ISP了。")) + 8, kPanelWidths[1]);
    need(fm.horizontalAdvance(QStringLiteral("STM32F10x, PID=04100000")) + 8, kPanelWidths[3]);
    need(16 + 3 + fm.horizontalAdvance(QStringLiteral("已连接.")) + 10, kPanelWidths[5]);
    need(textHeight + 6, kStatusBarHeight);
    return std::ceil(std::min(factor, 4.0) * 20.0) / 20.0;  // steps of 0.05
}

int MainForm::pixels(int twips) const {
    return int(std::lround(twips * scale_ / kTwipsPerPixel));
}

void MainForm::applyLayout() {
    auto px = [this](int twips) { return pixels(twips); };
    for (const Placed& p : placed_) {
        const QRect& r = p.twips;
        p.widget->setGeometry(px(r.left()), px(r.top()), px(r.width()), px(r.height()));
    }
    // The address and telephone labels are centred in the information panel, wide enough for
    // their text at any font.
    for (QLabel* l : {Label1, Label4, Label3}) {
        const QRect g = l->geometry();
        l->setGeometry(px(60), g.top(), INFOFRAME->width() - 2 * px(60), g.height());
    }
    Picture2->setPixmap(artwork::logo(Picture2->size()));
    Picture1->setPixmap(artwork::promotion(Picture1->size()));
    Picture3->setPixmap(artwork::chip(Picture3->size()));

    for (int i = 0; i < 5; ++i) panels_[i]->setFixedWidth(px(kPanelWidths[i]));
    panel6Box_->setMinimumWidth(px(kPanelWidths[5]));
    statusBar()->setFixedHeight(px(kStatusBarHeight));
    setFixedSize(px(kClientWidth), px(kClientHeight));
}

void MainForm::wireEvents() {
    const std::pair<QPushButton*, void (MainForm::*)()> clicks[] = {
        {CHECKCMD, &MainForm::CHECKCMD_Click},
        {CmdStop, &MainForm::CmdStop_Click},
        {CmdDownLoad, &MainForm::CmdDownLoad_Click},
        {CmdStart, &MainForm::CmdStart_Click},
        {CmdRead, &MainForm::CmdRead_Click},
        {Command_ER, &MainForm::Command_ER_Click},
        {Command_GO, &MainForm::Command_GO_Click},
        {CmdReadProtect, &MainForm::CmdReadProtect_Click},
        {CmdReadUnProtect, &MainForm::CmdReadUnProtect_Click},
        {CmdOptions, &MainForm::CmdOptions_Click}};
    for (const auto& [button, handler] : clicks)
        connect(button, &QPushButton::clicked, this,
                [this, handler = handler] { (this->*handler)(); });
    connect(CmdHelp, &QPushButton::clicked, this, [this] { CmdHelp_Click(); });
    connect(Picture1, &PictureBox::clicked, this, [this] { Picture1_Click(); });
    connect(Picture2, &PictureBox::clicked, this, [this] { Picture2_Click(); });
    CombComPort->installEventFilter(this);
    if (CombComPort->lineEdit()) CombComPort->lineEdit()->installEventFilter(this);
    CombComPort->beforePopup = [this] { fillPortList(true); };
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut &&
        (watched == CombComPort || watched == CombComPort->lineEdit())) {
        // Only a move of the focus to another control of this window counts: not the list's own
        // drop-down, not another window (such as a message box) becoming active.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) {
            // Opening the drop-down moves the focus into the list with an ordinary reason: look
            // where the focus settled before counting it as leaving the port list.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!portListHasFocus()) CombComPort_LostFocus();
                },
                Qt::QueuedConnection);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainForm::portListHasFocus() const {
    const QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr) return false;
    const QWidget* popup = CombComPort->view()->window();
    return focus == CombComPort || CombComPort->isAncestorOf(focus) || focus == popup ||
           popup->isAncestorOf(focus);
}

QString PortComboBox::shownText(int index) const {
    const QString details = itemData(index, kPortDetailsRole).toString();
    return details.isEmpty() ? itemText(index) : itemText(index) + QStringLiteral("  ") + details;
}

void MainForm::fillPortList(bool keepText) {
    QStringList names;
    for (int i = 0; i < kPortListSize; ++i) names.append(QString());
    const qint16 n = EnumComPorts(names, qint16(kPortListSize), *ports_);
    names = names.mid(0, std::min<int>(n, names.size()));
    QStringList details;
    for (const QString& name : names) details << ports_->details(name);
    // At load the first name found becomes the text; when refilled, what the user typed stays.
    CombComPort->showNames(names, !keepText && n >= 1 ? names.at(0) : CombComPort->currentText(),
                           details);
}

void MainForm::Form_Load() {
    fillPortList(false);
    hexDialogFolder_ = QCoreApplication::applicationDirPath();
    saveDialogFolder_ = QCoreApplication::applicationDirPath();
    setLamp(Lamp::Gray);
    LoadConfig();
    engine_->initialise();  // idle, grey lamp, operation buttons disabled ("未连接")
}

void MainForm::closeEvent(QCloseEvent* event) {
    if (!Form_QueryUnload()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

bool MainForm::Form_QueryUnload() {
    if (engine_->busy()) {
        showMessage(tr("请按中止按钮后退出。"));
        return false;
    }
    return true;
}

void MainForm::Form_Unload() {
    SaveConfig();
}

void MainForm::LoadConfig() {
    const ConfigValues values = readConfig();
    TxtDownloadFile->setText(values.fileName);
    GATEXT->setText(values.goAddress);
    ChkErase->setChecked(values.erase);
    ChkCheck->setChecked(values.check);
    ChkSetreadProtect->setChecked(values.readProtect);
    options_.mode = values.writeMode;
    options_.turboBaudRate = values.turboBaudRate;
    options_.eraseScope = values.erasePagesOnly ? EraseScope::Pages : EraseScope::Chip;
    options_.wiring = values.wiring;
    options_.sequence = values.sequence;
    options_.baudRate = values.baudRate;
    options_.runAfterProgram = values.runAfterProgram;
    options_.flashKB = values.flashKB;
    engine_->setMode(options_.mode);
    engine_->setFlashSizeOverride(options_.flashKB);
    engine_->setLineOptions(LineOptionsFor(options_));
    binAddress_ = values.binAddress;
    showFileTip();
    options_.language = values.language;
    setLanguage(values.language);
}

void MainForm::SaveConfig() {
    ConfigValues values;
    values.fileName = trimSpaces(TxtDownloadFile->text());
    values.goAddress = trimSpaces(GATEXT->text());
    values.erase = ChkErase->isChecked();
    values.check = ChkCheck->isChecked();
    values.readProtect = ChkSetreadProtect->isChecked();
    values.writeMode = engine_->mode();
    values.turboBaudRate = options_.turboBaudRate;
    values.erasePagesOnly = options_.eraseScope == EraseScope::Pages;
    values.binAddress = binAddress_;
    values.wiring = options_.wiring;
    values.sequence = options_.sequence;
    values.baudRate = options_.baudRate;
    values.runAfterProgram = options_.runAfterProgram;
    values.flashKB = options_.flashKB;
    values.language = language_;
    writeConfig(values);
}

// ---------------------------------------------------------------------------------------------
// The operations: each reads its controls and hands them to the engine. While one runs, the
// others do nothing (the engine refuses them too) and ask nothing.

void MainForm::CHECKCMD_Click() {
    engine_->connect(CombComPort->currentText());
    panels_[3]->setToolTip(deviceTip(engine_->target(), engine_->flashSizeOverride()));
}

void MainForm::CombComPort_LostFocus() {
    engine_->openPort(CombComPort->currentText());
}

void MainForm::CmdStop_Click() {
    engine_->stop();
}

void MainForm::CmdDownLoad_Click() {
    if (engine_->busy()) return;
    const QString name = dialogs_->openFileName(this, hexDialogFolder_, openFilter());
    if (name.isEmpty()) return;
    // A binary file does not say where it belongs; a file that cannot be read is refused at Start.
    if (DetectImageFileFormat(QFile::encodeName(name).toStdString())
            .value_or(ImageFormat::Binary) == ImageFormat::Binary) {
        bool ok = false;
        const QString text = dialogs_->askText(
            this, kProgramName, tr("BIN文件的装载地址（十六进制）："), hex8(binAddress_), &ok);
        if (!ok) return;
        uint32_t address = 0;
        if (!ParseGoAddress(text.toStdString(), &address)) {
            showMessage(tr("装载地址无效，请输入十六进制地址，例如08000000。"));
            return;
        }
        binAddress_ = address;
    }
    TxtDownloadFile->setText(name);
    showFileTip();
}

void MainForm::CmdStart_Click() {
    if (engine_->busy()) return;
    ProgramOptions options;
    // The address is checked before anything is sent.
    if (options_.runAfterProgram &&
        !ParseGoAddress(GATEXT->text().toStdString(), &options.goAddress)) {
        showMessage(tr("运行地址无效，请输入十六进制地址。"));
        return;
    }
    options.run = options_.runAfterProgram;
    options.turboBaudRate = options_.turboBaudRate;
    ImageSource source;
    source.path = TxtDownloadFile->text();
    source.loadAddress = binAddress_;
    const std::optional<FirmwareImage> image = engine_->loadImage(source);
    if (!image) return;
    options.erase = ChkErase->isChecked() ? options_.eraseScope : EraseScope::None;
    options.verify = ChkCheck->isChecked();
    options.protect = ChkSetreadProtect->isChecked();
    engine_->program(*image, options);
}

void MainForm::CmdRead_Click() {
    if (engine_->busy()) return;
    const QString name = dialogs_->saveFileName(this, saveDialogFolder_, saveFilter());
    if (name.trimmed().isEmpty()) return;
    engine_->readToFile(name, SavedImageFormatForFileName(name.toStdString()));
}

void MainForm::Command_ER_Click() {
    engine_->erase();
}

void MainForm::Command_GO_Click() {
    if (engine_->busy()) return;
    uint32_t address = 0;
    if (!ParseGoAddress(GATEXT->text().toStdString(), &address)) {
        // Nothing is sent, so the link stays as it was.
        showMessage(tr("运行地址无效，请输入十六进制地址。"));
        return;
    }
    engine_->go(address);
}

void MainForm::CmdReadProtect_Click() {
    engine_->protect();
}

void MainForm::CmdReadUnProtect_Click() {
    engine_->unprotect();
}

void MainForm::CmdOptions_Click() {
    // Changing how replies are awaited under a running operation would confuse it.
    if (engine_->busy()) return;
    options_.mode = engine_->mode();
    options_.language = language_;
    OptionsDialog dialog(options_, *dialogs_, this);
    optionsDialog_ = &dialog;
    dialog.setOptionBytesAvailable(optionBytesAvailable_);
    connect(&dialog, &OptionsDialog::optionBytesRequested, this,
            [this, &dialog] { openOptionBytes(&dialog); });
    const int answer = dialog.exec();
    optionsDialog_ = nullptr;
    if (answer != QDialog::Accepted) return;
    options_ = dialog.values();
    engine_->setMode(options_.mode);
    engine_->setLineOptions(LineOptionsFor(options_));
    engine_->setFlashSizeOverride(options_.flashKB);
    setLanguage(options_.language);
}

void MainForm::openOptionBytes(QWidget* over) {
    if (engine_->busy() || !optionBytesAvailable_) return;
    OptionBytesDialog dialog(*engine_, *dialogs_, over);
    optionBytesDialog_ = &dialog;
    dialog.setConnected(optionBytesAvailable_);
    dialog.exec();
    optionBytesDialog_ = nullptr;
}

void MainForm::CmdHelp_Click() {
    const QString path = helpFilePath(QCoreApplication::applicationDirPath(), language_);
    if (!path.isEmpty()) dialogs_->openUrl(QUrl::fromLocalFile(path));
}

void MainForm::Picture1_Click() {
    dialogs_->openUrl(webAddressUrl(kVendorAddress));
}

void MainForm::Picture2_Click() {
    dialogs_->openUrl(webAddressUrl(kDistributorAddress));
}

QString MainForm::openFilter() {
    return tr(
        "固件文件 (*.hex *.ihx *.s19 *.s28 *.s37 *.srec *.mot *.elf *.axf *.bin);;"
        "Intel Hex (*.hex *.ihx);;S-record (*.s19 *.s28 *.s37 *.srec *.mot);;"
        "ELF (*.elf *.axf);;Bin (*.bin);;所有文件(*.*)");
}

QString MainForm::saveFilter() {
    return tr("Intel Hex (*.hex);;Bin (*.bin);;所有文件(*.*)");
}

void MainForm::setLanguage(Language language) {
    // Every widget is told through QEvent::LanguageChange, this window in changeEvent().
    useLanguage(language);
    if (language == language_) return;
    language_ = language;
    emit languageChanged(language);
}

void MainForm::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) retranslate();
    QMainWindow::changeEvent(event);
}

void MainForm::retranslate() {
    for (const Placed& p : placed_) {
        if (p.text) {
            const QString text = translated(p.text);
            if (auto* c = qobject_cast<QCheckBox*>(p.widget)) {
                c->setText(text);
                // The layout is made for the Chinese captions; a longer one runs on into the
                // free space at the box's right.
                const int need = style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                                 style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) +
                                 c->fontMetrics().horizontalAdvance(text) + 4;
                c->resize(std::max(pixels(p.twips.width()), need), c->height());
            } else if (auto* b = qobject_cast<QAbstractButton*>(p.widget))
                b->setText(text);
            else if (auto* g = qobject_cast<QGroupBox*>(p.widget))
                g->setTitle(text);
            else if (auto* l = qobject_cast<QLabel*>(p.widget))
                l->setText(text);
        }
        if (p.tip) p.widget->setToolTip(translated(p.tip));
    }
    panels_[0]->setText(tr("状态"));
    panels_[2]->setText(tr("器件"));
    // Set by a connect; until then (and after a new device text) there is none.
    if (engine_ && !panels_[3]->toolTip().isEmpty())
        panels_[3]->setToolTip(deviceTip(engine_->target(), engine_->flashSizeOverride()));
    showFileTip();
}

QString MainForm::translated(const char* text) {
    return QCoreApplication::translate(staticMetaObject.className(), text);
}

// A binary file's load address is shown with it, in the file box's tool tip: the box keeps the
// file name alone, which is what is remembered and loaded.
void MainForm::showFileTip() {
    const bool binary =
        DetectImageFileFormat(QFile::encodeName(TxtDownloadFile->text().trimmed()).toStdString()) ==
        ImageFormat::Binary;
    TxtDownloadFile->setToolTip(binary ? tr("装载地址: %1").arg(hex8(binAddress_)) : QString());
}

QString MainForm::panelText(int panel) const {
    if (panel < 1 || panel > 6) return QString();
    return panels_[panel - 1]->text();
}

// The device panel's tool tip once connected: what the log said of the chip, in one place.
QString MainForm::deviceTip(const TargetInfo& t, int flashOverrideKB) const {
    if (!t.pid) return QString();
    QStringList lines;
    lines << (t.device ? t.device->family + QLatin1Char(' ') + t.device->line
                       : tr("未知器件：可以连接，不能擦除或编程"));
    QString flash = tr("未知");
    if (t.flashSizeKB > 0)
        flash = QString::number(t.flashSizeKB) + QLatin1Char('K') +
                (flashOverrideKB > 0  ? tr("（按指定值）")
                 : t.flashSizeAssumed ? tr("（按该系列最大容量计）")
                                      : QString());
    lines << QStringLiteral("FLASH: ") + flash;
    lines << QStringLiteral("RAM: ") +
                 (t.ramSizeKB > 0 ? QString::number(t.ramSizeKB) + 'K' : tr("未知"));
    if (t.version)
        lines << tr("Bootloader版本: ") +
                     QString::asprintf("%X.%X", *t.version >> 4, *t.version & 0xF) +
                     (t.commands.empty() ? tr("（按该系列计）") : QString());
    if (t.uniqueId.size() == 12) lines << tr("唯一ID: ") + uniqueIdText(t.uniqueId);
    return lines.join(QLatin1Char('\n'));
}

void MainForm::report(const Event& event) {
    const LinkChange change = LinkChangeOf(event);
    if (change.commands) enableCommands(*change.commands);
    for (const Shown& shown : Render(event, language_)) {
        switch (shown.how) {
            case Presentation::Log:
                appendLog(shown.text);
                break;
            case Presentation::Status:
                setStatusText(shown.field, shown.text);
                break;
            case Presentation::Message:
                showMessage(shown.text);
                break;
        }
    }
    if (change.lamp) setLamp(*change.lamp);
}

void MainForm::appendLog(const QString& text) {
    const QString line =
        timeOfDay_().toString(QStringLiteral("hh:mm:ss")) + QLatin1Char(' ') + text;
    if (logLength_ > kLogLimit) {
        TxtMsg->clear();
        logLength_ = 0;
    }
    logLength_ += line.size() + 2;  // each line ends with CR LF
    QTextCursor cursor = TxtMsg->textCursor();
    cursor.movePosition(QTextCursor::End);
    // The document keeps lines as blocks; a "\r" would become a second, empty line.
    cursor.insertText(line + QLatin1Char('\n'));
    TxtMsg->setTextCursor(cursor);
    TxtMsg->ensureCursorVisible();
    QScrollBar* bar = TxtMsg->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void MainForm::setStatusText(StatusField field, const QString& text) {
    switch (field) {
        case StatusField::Progress:
            panels_[1]->setText(text);
            break;
        case StatusField::Device:
            panels_[3]->setText(text);
            panels_[3]->setToolTip(QString());  // until the connect has learnt the rest
            break;
        case StatusField::Link:
            panels_[5]->setText(text);
            break;
    }
}

void MainForm::setLamp(Lamp lamp) {
    lamp_ = lamp;
    QLabel* source = lamp == Lamp::Green ? PICGREENLED : PICGRAYLED;
    panelLamp_->setPixmap(source->pixmap());
    panelLamp_->setProperty("lamp", lamp == Lamp::Green ? "green" : "gray");
}

void MainForm::showMessage(const QString& text) {
    dialogs_->message(this, kProgramName, text);
}

void MainForm::enableCommands(const CommandStates& states) {
    CmdReadProtect->setEnabled(states.protect);
    CmdReadUnProtect->setEnabled(states.unprotect);
    CmdStart->setEnabled(states.program);
    Command_ER->setEnabled(states.erase);
    Command_GO->setEnabled(states.go);
    CmdWriteProtect->setEnabled(false);
    CmdWriteUnProtect->setEnabled(false);
    CmdRead->setEnabled(states.read);
    // Readable or not: a protected chip's option bytes are refused with the engine's reason.
    optionBytesAvailable_ = states.protect;
    if (optionsDialog_) optionsDialog_->setOptionBytesAvailable(states.protect);
    if (optionBytesDialog_) optionBytesDialog_->setConnected(states.protect);
}

}  // namespace praxon
