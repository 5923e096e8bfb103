#pragma once

#include <QDialog>

#include "Engine.h"
#include "Language.h"
#include "LineControl.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace praxon {

class DialogProvider;

// What the options dialog sets.
struct OptionValues {
    WriteMode mode = WriteMode::Fast;
    EraseScope eraseScope = EraseScope::Chip;  // Chip or Pages
    Wiring wiring;                             // none, or reset and BOOT0 on one line each
    QString sequence;  // custom "ENTRY:EXIT"; when not empty it replaces the wiring
    int baudRate = kDefaultLineSpeed;
    int turboBaudRate = 0;  // the line once the turbo loader runs; 0: baudRate
    bool runAfterProgram = false;
    int flashKB = 0;  // the chip's flash size as stated, for clones whose register lies; 0: read it
    Language language = Language::Chinese;  // what the window speaks
};

// The engine's line options for these values; a sequence that does not parse counts as none.
LineOptions LineOptionsFor(const OptionValues& values);

// The programming options: how an image is written, what 擦除 erases before it, how the board is
// reset into its bootloader, the line speed, whether the program starts afterwards, and the
// language of the window. Its 选项字节 button asks for the chip's option bytes, which the
// window opens over it; the settings are kept or dropped by OK and Cancel alone.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(const OptionValues& values, DialogProvider& dialogs, QWidget* parent = nullptr);

    OptionValues values() const;
    // Refuses a custom sequence that does not parse, saying where and why, and a flash size
    // that is not 1 to 65535 KB; the dialog stays.
    void accept() override;
    // The 选项字节 button is offered only while the chip is connected and idle; not at first.
    void setOptionBytesAvailable(bool available);

signals:
    void optionBytesRequested();

private:
    void showWiring();

    DialogProvider& dialogs_;
    QString customText_;  // kept while a preset is shown
    QRadioButton* OptFast = nullptr;
    QRadioButton* OptCompatible = nullptr;
    QRadioButton* OptTurbo = nullptr;
    QComboBox* CboTurboBaud = nullptr;
    QRadioButton* OptEraseChip = nullptr;
    QRadioButton* OptErasePages = nullptr;
    QComboBox* CboWiring = nullptr;
    QCheckBox* ChkResetInverted = nullptr;
    QCheckBox* ChkBoot0Inverted = nullptr;
    QLineEdit* TxtSequence = nullptr;
    QComboBox* CboBaud = nullptr;
    QCheckBox* ChkRunAfterProgram = nullptr;
    QLineEdit* TxtFlashKB = nullptr;
    QComboBox* CboLanguage = nullptr;
    QPushButton* CmdOptionBytes = nullptr;
};

}  // namespace praxon
