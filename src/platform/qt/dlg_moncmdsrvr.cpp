// "MONCMD Server...": the enable box and the UDP port.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "config/configrecord.h"
#include "platform/qt/qt_ui.h"
#include "servers/moncmdsrvr.h"

namespace {

void OpenMoncmdServer(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("MONCMD Server...");
    auto* form = new QFormLayout(&dlg);
    auto* enabled = new QCheckBox("Enabled", &dlg);
    enabled->setChecked(MoncmdsrvrRunning());
    auto* port = new QLineEdit(QString::number(g_cfg.MONCMDSRVR_PORT), &dlg);
    port->setMaxLength(8);
    form->addRow(enabled);
    form->addRow("Port:", port);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    MoncmdsrvrDialogApply(enabled->isChecked(), port->text().trimmed().toStdString());
}

}  // namespace

OXEL_DIALOG("MONCMD Server...", OpenMoncmdServer);
