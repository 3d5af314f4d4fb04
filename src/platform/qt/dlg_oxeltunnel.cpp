// "OxelTunnel Connection...": enable the mirror to a tunnel server.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

#include "backend/oxeltunnel.h"
#include "qt_ui.h"

namespace {

void OpenTunnel(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("OxelTunnel Connection...");
    auto* form = new QFormLayout(&dlg);
    bool up = TunnelUp();
    auto* enabled = new QCheckBox;
    enabled->setChecked(up);
    auto* port = new QSpinBox;
    port->setRange(1, 65535);
    port->setValue(TunnelPort());
    auto* server = new QLineEdit(QString::fromStdString(TunnelHost()));
    // While the tunnel is up its server and port stay as they are.
    port->setEnabled(!up);
    server->setEnabled(!up);
    form->addRow("Enabled:", enabled);
    form->addRow("Port:", port);
    form->addRow("Tunnel server:", server);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    TunnelConfigApply(enabled->isChecked(), server->text().toStdString(), port->value());
}

}  // namespace

OXEL_DIALOG("OxelTunnel Connection...", OpenTunnel);
