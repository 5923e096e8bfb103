#pragma once

#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QRect>
#include <QTime>
#include <functional>
#include <memory>
#include <vector>

#include "Engine.h"
#include "Event.h"
#include "Language.h"
#include "Messages.h"
#include "OptionsDialog.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace praxon {

class DialogProvider;
class OptionBytesDialog;
class PortMap;
class SerialPort;

// The port list: filled again from the system each time it drops down, keeping what the user
// typed or chose. Each item shows the port's name and what the system knows of it; choosing one
// puts only the name into the field. The drop-down is as wide as the longest line, and a name set
// from the list shows from its start.
class PortComboBox : public QComboBox {
public:
    explicit PortComboBox(QWidget* parent = nullptr);
    std::function<void()> beforePopup;
    void showPopup() override;
    // details: one per name (missing ones are empty), shown after the name in the drop-down.
    void showNames(const QStringList& names, const QString& text, const QStringList& details = {});
    // The line the drop-down shows for item index: "ttyUSB0  CP2102 ... (10c4:ea60)".
    QString shownText(int index) const;
};

// A picture box that reports a click.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// What the window works with. Anything left null is the real thing: the machine's serial port,
// its port map, Qt's dialogs. Nothing is owned.
struct MainFormOptions {
    SerialPort* port = nullptr;
    PortMap* ports = nullptr;
    DialogProvider* dialogs = nullptr;
};

// MAINFORM: the one window. It presents the engine's events and turns every click into one engine
// operation, reading its inputs from the controls. Status-bar panels are the labels
// StatusBar1Panel1 to StatusBar1Panel6; panel 6 sits beside the lamp picture
// StatusBar1Panel6Lamp, whose property "lamp" is "gray" or "green".
class MainForm : public QMainWindow, public EventSink {
    Q_OBJECT
public:
    using Options = MainFormOptions;

    static const QString kCaption;
    // The file dialogs' filters in the window's language: opening offers every firmware file
    // first, then Intel HEX, binary and all files; saving offers Intel HEX first.
    static QString openFilter();  // CommonDlgHexFile
    static QString saveFilter();  // CommDlgSave

    explicit MainForm(const Options& options = Options(), QWidget* parent = nullptr);
    ~MainForm() override;

    Engine& engine() { return *engine_; }
    QString panelText(int panel) const;
    Lamp lamp() const { return lamp_; }
    EraseScope eraseScope() const { return options_.eraseScope; }  // when 擦除 is ticked
    uint32_t binAddress() const { return binAddress_; }            // load address of binary files

    // The engine's events: log lines, status texts, messages, the lamp and the buttons.
    void report(const Event& event) override;
    // A log line: time stamp, one space, the text. The log is emptied first once it holds more
    // than its limit.
    void appendLog(const QString& text);
    void setStatusText(StatusField field, const QString& text);
    void setLamp(Lamp lamp);
    void showMessage(const QString& text);
    void enableCommands(const CommandStates& states);
    // Design twips to pixels: 1/15, times the window's scale.
    int pixels(int twips) const;
    // For tests: the clock of the log's time stamps.
    void setTimeOfDaySource(std::function<QTime()> source) { timeOfDay_ = std::move(source); }

    // The log's size limit in characters, each line counted with its CR LF.
    static constexpr qint64 kLogLimit = 8096;

    void LoadConfig();
    void SaveConfig();

    // What the window speaks: chosen in the options, remembered in the settings, Chinese at
    // first. Setting it switches the application's translations (Qt's dialogs included); every
    // caption follows at once.
    Language language() const { return language_; }
    void setLanguage(Language language);

signals:
    void languageChanged(praxon::Language language);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A control at its design place, with its caption and tool tip untranslated (or null).
    struct Placed {
        QWidget* widget;
        QRect twips;
        const char* text;
        const char* tip;
    };

    void buildControls();
    void buildStatusBar();
    double computeScale() const;
    void applyLayout();
    void retranslate();
    static QString translated(const char* text);
    void showFileTip();
    QString deviceTip(const TargetInfo& target, int flashOverrideKB) const;
    void wireEvents();
    void Form_Load();
    bool Form_QueryUnload();
    void Form_Unload();
    bool portListHasFocus() const;
    void fillPortList(bool keepText);
    void CHECKCMD_Click();
    void CmdStop_Click();
    void CmdDownLoad_Click();
    void CmdStart_Click();
    void CmdRead_Click();
    void Command_ER_Click();
    void Command_GO_Click();
    void CmdReadProtect_Click();
    void CmdReadUnProtect_Click();
    void CombComPort_LostFocus();
    void CmdOptions_Click();
    // The option-bytes dialog over the given one (the options), while the chip is connected
    // and idle; it runs the engine's option-byte operations.
    void openOptionBytes(QWidget* over);
    void CmdHelp_Click();
    void Picture1_Click();
    void Picture2_Click();

    template <class W>
    W* make(QWidget* parent, const char* name, const QRect& twips, const char* text = nullptr,
            const char* tip = nullptr);

    std::unique_ptr<SerialPort> ownPort_;
    std::unique_ptr<PortMap> ownPorts_;
    std::unique_ptr<DialogProvider> ownDialogs_;
    SerialPort* port_ = nullptr;
    PortMap* ports_ = nullptr;
    DialogProvider* dialogs_ = nullptr;

    std::vector<Placed> placed_;
    double scale_ = 1.0;
    QString hexDialogFolder_;
    QString saveDialogFolder_;
    Lamp lamp_ = Lamp::Gray;
    Language language_ = Language::Chinese;
    qint64 logLength_ = 0;  // characters in the log, each line with its CR LF
    std::function<QTime()> timeOfDay_ = [] { return QTime::currentTime(); };
    OptionValues options_;                            // the mode is the engine's
    OptionsDialog* optionsDialog_ = nullptr;          // while it is open
    OptionBytesDialog* optionBytesDialog_ = nullptr;  // while it is open
    bool optionBytesAvailable_ = false;               // connected and idle
    uint32_t binAddress_ = 0x08000000;

    QGroupBox* OPFRAME = nullptr;
    QGroupBox* INFOFRAME = nullptr;
    QGroupBox* AUTFRAME = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    PortComboBox* CombComPort = nullptr;
    QPushButton* CHECKCMD = nullptr;
    QLineEdit* CommText = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* GATEXT = nullptr;
    QPushButton* Command_GO = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* TxtDownloadFile = nullptr;
    QPushButton* CmdDownLoad = nullptr;
    QPushButton* CmdStart = nullptr;
    QPushButton* CmdStop = nullptr;
    QCheckBox* ChkErase = nullptr;
    QCheckBox* ChkCheck = nullptr;
    QCheckBox* ChkSetreadProtect = nullptr;
    QPushButton* CmdOptions = nullptr;
    QPushButton* CmdReadProtect = nullptr;
    QPushButton* CmdReadUnProtect = nullptr;
    QPushButton* CmdWriteProtect = nullptr;
    QPushButton* CmdWriteUnProtect = nullptr;
    QPushButton* Command_ER = nullptr;
    QPushButton* CmdRead = nullptr;
    QPlainTextEdit* TxtMsg = nullptr;
    PictureBox* Picture2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label4 = nullptr;
    PictureBox* Picture1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Picture3 = nullptr;
    QPushButton* CmdHelp = nullptr;
    QLabel* PICGRAYLED = nullptr;
    QLabel* PICGREENLED = nullptr;
    QLabel* PICREDLED = nullptr;
    QLabel* panels_[6] = {};
    QLabel* panelLamp_ = nullptr;
    QWidget* panel6Box_ = nullptr;

    std::unique_ptr<Engine> engine_;  // last: goes first, while the widgets it reports to exist
};

}  // namespace praxon
