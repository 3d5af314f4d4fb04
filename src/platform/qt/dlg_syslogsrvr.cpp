// "SYSLOG Server...": the UDP port and the three switches. A failed start
// keeps the dialog open.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "config/configrecord.h"
#include "platform/qt/qt_ui.h"
#include "servers/syslogsrvr.h"

namespace {

void OpenSyslogServer(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("SYSLOG Server...");
    auto* form = new QFormLayout(&dlg);
    auto* port = new QLineEdit(QString::number(g_cfg.SYSLOGSRVR_PORT.get()), &dlg);
    port->setMaxLength(8);
    port->setEnabled(!SyslogsrvrRunning());
    auto* enabled = new QCheckBox("Enabled", &dlg);
    enabled->setChecked(SyslogsrvrRunning());
    auto* toLog = new QCheckBox("Log", &dlg);
    toLog->setChecked(g_cfg.SYSLOG_TOLOG_ENABLED != 0);
    auto* toConsole = new QCheckBox("ToConsole", &dlg);
    toConsole->setChecked(g_cfg.SYSLOGSRVR_TOCONSOLE != 0);
    form->addRow("Simple time-stamped UDP on port:", port);
    form->addRow(enabled);
    form->addRow(toLog);
    form->addRow(toConsole);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, [&] {
        if (SyslogsrvrDialogApply(enabled->isChecked(), toLog->isChecked(), toConsole->isChecked(),
                                  port->text().trimmed().toStdString()))
            dlg.accept();
        else
            enabled->setChecked(false);
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    dlg.exec();
}

}  // namespace

OXEL_DIALOG("SYSLOG Server...", OpenSyslogServer);
