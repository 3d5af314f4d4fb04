// "FTP Server Configuration...": password, start directory, the switches.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "config/configrecord.h"
#include "platform/qt/qt_ui.h"
#include "servers/ftpsrvr.h"

namespace {

void OpenFtpServer(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("FTP Server Configuration...");
    auto* form = new QFormLayout(&dlg);
    auto* password = new QLineEdit(QString::fromStdString(CFG_GET_STRING(g_cfg.FTP_PASSWORD)), &dlg);
    password->setEchoMode(QLineEdit::Password);
    auto* dir = new QLineEdit(QString::fromStdString(CFG_GET_STRING(g_cfg.FTP_START_DIR)), &dlg);
    auto* browse = new QPushButton("Browse", &dlg);
    auto* dirRow = new QHBoxLayout;
    dirRow->addWidget(dir);
    dirRow->addWidget(browse);
    auto* enabled = new QCheckBox(&dlg);
    enabled->setChecked(FtpsrvrRunning() || g_cfg.FTPSRVR_ENABLED != 0);
    enabled->setEnabled(!FtpsrvrRunning());
    auto* relOnly = new QCheckBox(&dlg);
    relOnly->setChecked(g_cfg.FTP_RELATIVE_ONLY != 0);
    form->addRow("Password:", password);
    form->addRow("Start In:", dirRow);
    form->addRow("Enabled:", enabled);
    form->addRow("Relative Paths Only:", relOnly);
    QObject::connect(browse, &QPushButton::clicked, &dlg, [&] {
        QString d = QFileDialog::getExistingDirectory(&dlg, "Select FTP Server TopLevel Directory:", dir->text());
        if (!d.isEmpty()) dir->setText(d);
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    FtpsrvrDialogApply(enabled->isChecked(), relOnly->isChecked(), password->text().toStdString(),
                       dir->text().trimmed().toStdString());
}

}  // namespace

OXEL_DIALOG("FTP Server Configuration...", OpenFtpServer);
