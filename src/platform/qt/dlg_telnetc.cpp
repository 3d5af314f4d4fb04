// "Telnet Backend Config...": host:port, auto restart, line mode.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "backend/telnetc.h"
#include "config/configrecord.h"
#include "qt_ui.h"

namespace {

void OpenTelnetConfig(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("Telnet Backend Config...");
    auto* form = new QFormLayout(&dlg);
    auto* host = new QLineEdit(QString::fromStdString(TelnetConfigText()));
    host->setMaxLength(64 + 6);
    auto* restart = new QCheckBox("Auto restart");
    restart->setChecked(g_cfg.BACKEND_TELNET_AUTORESTART);
    auto* line = new QCheckBox("Line mode");
    line->setChecked(g_cfg.BACKEND_TELNET_LINEMODE);
    form->addRow("Telnet Server IP:", host);
    form->addRow(restart);
    form->addRow(line);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    TelnetConfigApply(host->text().toStdString(), restart->isChecked(), line->isChecked());
}

}  // namespace

OXEL_DIALOG("Telnet Backend Config...", OpenTelnetConfig);
