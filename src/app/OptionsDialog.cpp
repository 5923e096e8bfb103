#include "OptionsDialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace praxon {

namespace {

QRadioButton* choice(QWidget* parent, const char* name, const QString& caption) {
    auto* r = new QRadioButton(caption, parent);
    r->setObjectName(QString::fromLatin1(name));
    parent->layout()->addWidget(r);
    return r;
}

QGroupBox* group(QWidget* parent, const char* name, const QString& title) {
    auto* g = new QGroupBox(title, parent);
    g->setObjectName(QString::fromLatin1(name));
    new QVBoxLayout(g);
    parent->layout()->addWidget(g);
    return g;
}

}  // namespace

OptionsDialog::OptionsDialog(WriteMode mode, EraseScope scope, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("OptionsForm"));
    setWindowTitle(QStringLiteral("选项"));
    setModal(true);
    auto* column = new QVBoxLayout(this);
    column->setSizeConstraint(QLayout::SetFixedSize);

    QGroupBox* writing = group(this, "FraWriteMode", QStringLiteral("写入方式"));
    OptFast = choice(writing, "OptFast", QStringLiteral("快速 (默认)"));
    OptFast->setToolTip(QStringLiteral("按对齐的整块写入和校验，用时最短。"));
    OptCompatible = choice(writing, "OptCompatible", QStringLiteral("兼容 (逐条记录，与原版相同)"));
    OptCompatible->setToolTip(
        QStringLiteral("按文件中的记录逐条写入，每次应答都等线路静止，较慢。"));
    (mode == WriteMode::Compatible ? OptCompatible : OptFast)->setChecked(true);

    QGroupBox* erasing = group(this, "FraEraseScope", QStringLiteral("擦除方式 (勾选“擦除”时)"));
    OptEraseChip = choice(erasing, "OptEraseChip", QStringLiteral("整片擦除"));
    OptErasePages = choice(erasing, "OptErasePages", QStringLiteral("只擦除文件用到的页"));
    OptErasePages->setToolTip(QStringLiteral("文件没有用到的页保留原来的内容。"));
    (scope == EraseScope::Pages ? OptErasePages : OptEraseChip)->setChecked(true);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    ok->setObjectName(QStringLiteral("CmdOK"));
    cancel->setObjectName(QStringLiteral("CmdCancel"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
}

WriteMode OptionsDialog::mode() const {
    return OptCompatible->isChecked() ? WriteMode::Compatible : WriteMode::Fast;
}

EraseScope OptionsDialog::eraseScope() const {
    return OptErasePages->isChecked() ? EraseScope::Pages : EraseScope::Chip;
}

}  // namespace praxon
