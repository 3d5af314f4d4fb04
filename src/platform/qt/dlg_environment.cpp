// "Set Environment Variable..." (Config -> Environment -> Set).
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "platform/qt/qt_ui.h"
#include "config/shellvar.h"

namespace {

void OpenEnvironmentDialog(QWidget* parent) {
    auto* dlg = new QDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle("Set Environment Variable...");
    auto* form = new QFormLayout(dlg);
    auto* name = new QLineEdit(dlg);
    auto* value = new QLineEdit(dlg);
    name->setMaxLength(2048);
    value->setMaxLength(2048);
    auto* exported = new QCheckBox(dlg);
    form->addRow("ShellVarName:", name);
    form->addRow("Value:", value);
    form->addRow("Export:", exported);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dlg);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dlg, [=] {
        ShellSetFromDialog(name->text().toStdString(), value->text().toStdString(),
                           exported->isChecked());
        dlg->accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    dlg->open();
}

}  // namespace

OXEL_DIALOG("Set Environment Variable...", OpenEnvironmentDialog);
