// "Moncmd Backend Config...": the monitor's host:port and the wait.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "backend/moncmdc.h"
#include "config/configrecord.h"
#include "qt_ui.h"

namespace {

void OpenMoncmdConfig(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("Moncmd Backend Config...");
    auto* form = new QFormLayout(&dlg);
    auto* host = new QLineEdit(QString::fromStdString(MoncmdConfigText()));
    host->setMaxLength(64);
    auto* wait = new QLineEdit(QString::number(g_cfg.BACKEND_MONCMD_WAIT));
    form->addRow("Moncmd Server IP:", host);
    form->addRow("Wait:", wait);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    MoncmdConfigApply(host->text().toStdString(), wait->text().toStdString());
}

}  // namespace

OXEL_DIALOG("Moncmd Backend Config...", OpenMoncmdConfig);
