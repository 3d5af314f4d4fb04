// "PLINK Backend Config...": the child-process backend's arguments.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "backend/plinkfe.h"
#include "config/configrecord.h"
#include "qt_ui.h"

namespace {

void OpenPlinkConfig(QWidget* parent) {
    if (!PlinkConfigCanOpen()) return;
    QDialog dlg(parent);
    dlg.setWindowTitle("PLINK Backend Config...");
    auto* form = new QFormLayout(&dlg);
    auto* args = new QLineEdit(QString::fromUtf8(g_cfg.BACKENT_PLINK_ARGS));
    args->setMaxLength(64);
    args->setMinimumWidth(320);
    form->addRow("Plink arguments:", args);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    PlinkConfigApply(args->text().toStdString());
}

}  // namespace

OXEL_DIALOG("PLINK Backend Config...", OpenPlinkConfig);
