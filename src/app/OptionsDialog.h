#pragma once

#include <QDialog>

#include "Engine.h"

class QRadioButton;

namespace praxon {

// The programming options: how an image is written, and what 擦除 erases before it.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(WriteMode mode, EraseScope scope, QWidget* parent = nullptr);

    WriteMode mode() const;
    EraseScope eraseScope() const;  // Chip or Pages

private:
    QRadioButton* OptFast = nullptr;
    QRadioButton* OptCompatible = nullptr;
    QRadioButton* OptEraseChip = nullptr;
    QRadioButton* OptErasePages = nullptr;
};

}  // namespace praxon
