#pragma once

#include <QDialog>
#include <QStringList>
#include <optional>

#include "Engine.h"
#include "Language.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace praxon {

class DialogProvider;

// A meaning from the option-byte table (optionbytes.tsv, DecodeOptionBytes) in the language
// given: the table speaks English, so Chinese takes it from a list kept here; a text not in the
// list stays as it is.
QString OptionMeaningText(const std::string& meaning, Language language);

// The chip's option bytes. Read has the engine read them and shows every field the chip has: its
// name, its value (a choice for fields with a few named values, a number to type otherwise) and
// what it means, with the erase units the write protection covers. Write hands the fields changed
// since the read to the engine as NAME=VALUE edits; readout level 2 is permanent, so it is sent
// only with its own box ticked and a Yes to a question naming that. What happens is reported by
// the engine through the window's log and messages.
class OptionBytesDialog : public QDialog {
    Q_OBJECT
public:
    OptionBytesDialog(Engine& engine, DialogProvider& dialogs, QWidget* parent = nullptr);

    // Read and Write are offered only while the link is up and no operation runs.
    void setConnected(bool connected);
    // The edits Write would send: one NAME=VALUE per field whose value differs from the one
    // read, in the table's order. A typed value that is not a number goes as typed, for the
    // engine to refuse with its reason.
    QStringList edits() const;
    // Not while an operation runs: Stop ends it first.
    void reject() override;

private:
    void readFromChip();
    void writeToChip();
    void showState(const OptionBytesState& state);
    // The meanings and the marks of changed values, after an edit.
    void refreshMeanings();
    void updateButtons();
    // The value of row as the table holds it now; none when its text is not a number.
    std::optional<uint32_t> shownValue(int row) const;
    const OptionField* fieldOf(int row) const;  // nullptr when the layout lacks it
    QString rowEdit(int row) const;

    Engine& engine_;
    DialogProvider& dialogs_;
    std::optional<OptionBytesState> read_;  // what the table shows, as read
    bool connected_ = true;
    bool filling_ = false;  // the table is being filled: its changes are no edits
    QLabel* LblChip = nullptr;
    QTableWidget* TblFields = nullptr;
    QLabel* LblProtected = nullptr;
    QCheckBox* ChkPermanent = nullptr;
    QPushButton* CmdObRead = nullptr;
    QPushButton* CmdObWrite = nullptr;
    QPushButton* CmdObStop = nullptr;
    QPushButton* CmdObClose = nullptr;
};

}  // namespace praxon
