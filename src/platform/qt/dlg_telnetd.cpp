// "Telnet Server Config...": welcome, password, port, local commands, the two
// read-only modes and the enable box. The port and the modes are fixed while
// the server runs.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

#include "config/configrecord.h"
#include "platform/qt/qt_ui.h"
#include "servers/telnetd.h"

namespace {

QCheckBox* Box(QDialog* dlg, bool on) {
    auto* c = new QCheckBox(dlg);
    c->setChecked(on);
    return c;
}

void OpenTelnetServer(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("Telnet Server Config...");
    auto* form = new QFormLayout(&dlg);
    auto* welcome = new QLineEdit(QString::fromUtf8(g_cfg.TELNET_WELCOME), &dlg);
    welcome->setMaxLength(sizeof g_cfg.TELNET_WELCOME - 1);
    welcome->setMinimumWidth(320);
    auto* password = new QLineEdit(QString::fromUtf8(g_cfg.TELNET_PASSWORD), &dlg);
    password->setMaxLength(sizeof g_cfg.TELNET_PASSWORD - 1);
    password->setEchoMode(QLineEdit::Password);
    auto* port = new QSpinBox(&dlg);
    port->setRange(1, 65535);
    port->setValue(g_cfg.TELNET_PORT);
    auto* local = Box(&dlg, TelnetdLocalCommands());
    auto* readOnly = Box(&dlg, g_cfg.TELNET_READONLY);
    auto* readOnlyAbo = Box(&dlg, g_cfg.TELNET_READONLYABO);
    auto* enabled = Box(&dlg, TelnetdRunning());
    form->addRow("Welcome Message:", welcome);
    form->addRow("Login Password:", password);
    form->addRow("Port:", port);
    form->addRow("Local-cmd enable:", local);
    form->addRow("Read-only all:", readOnly);
    form->addRow("Read-only all but one:", readOnlyAbo);
    form->addRow("Enabled:", enabled);
    // The two read-only modes exclude each other.
    QObject::connect(readOnly, &QCheckBox::toggled, [readOnlyAbo](bool on) { if (on) readOnlyAbo->setChecked(false); });
    QObject::connect(readOnlyAbo, &QCheckBox::toggled, [readOnly](bool on) { if (on) readOnly->setChecked(false); });
    const bool running = TelnetdRunning();
    for (QWidget* w : {static_cast<QWidget*>(port), static_cast<QWidget*>(local), static_cast<QWidget*>(readOnly),
                       static_cast<QWidget*>(readOnlyAbo)})
        w->setEnabled(!running);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    TelnetDialogValues v;
    v.welcome = welcome->text().toStdString();
    v.password = password->text().toStdString();
    v.port = static_cast<uint16_t>(port->value());
    v.localCommands = local->isChecked();
    v.readOnly = readOnly->isChecked();
    v.readOnlyAbo = readOnlyAbo->isChecked();
    v.enabled = enabled->isChecked();
    TelnetdDialogApply(v);
}

}  // namespace

OXEL_DIALOG("Telnet Server Config...", OpenTelnetServer);
