// "DHCP Server Configuration...": the enable box, the single-client fields
// or the configuration file (Browse, New, Edit). A failed load or start
// keeps the dialog open.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "config/configrecord.h"
#include "config/shellvar.h"
#include "platform/qt/qt_ui.h"
#include "servers/dhcpsrvr.h"

namespace {

QLineEdit* Field(QDialog* dlg, const std::string& text, int max) {
    auto* e = new QLineEdit(QString::fromStdString(text), dlg);
    e->setMaxLength(max);
    return e;
}

void OpenDhcpServer(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("DHCP Server Configuration...");
    auto* form = new QFormLayout(&dlg);
    auto* enabled = new QCheckBox("Enable Server", &dlg);
    enabled->setChecked(g_cfg.DHCPSRVR_ENABLED != 0);
    auto* single = new QRadioButton("Single-Client Config", &dlg);
    auto* file = new QRadioButton("File-Based Config", &dlg);
    (g_cfg.DHCP_CFGFILE_MODE ? file : single)->setChecked(true);
    std::string server = CFG_GET_STRING(g_cfg.DHCP_SRVR_IP);
    if (server.empty()) server = ShellHostAddress().value_or("");
    QLineEdit* fields[] = {Field(&dlg, CFG_GET_STRING(g_cfg.DHCP_CLIENT_MAC), 63),
                           Field(&dlg, CFG_GET_STRING(g_cfg.DHCP_CLIENT_IP), 63), Field(&dlg, server, 63),
                           Field(&dlg, CFG_GET_STRING(g_cfg.DHCP_NETMASK), 63),
                           Field(&dlg, CFG_GET_STRING(g_cfg.DHCP_GATEWAY), 63),
                           Field(&dlg, CFG_GET_STRING(g_cfg.DHCP_BOOTFILE), 2048)};
    const char* labels[] = {"Client MAC:", "Client IP:", "Server IP:", "NetMask:", "GateWay:", "BootFile:"};
    auto* cfgFile = Field(&dlg, CFG_GET_STRING(g_cfg.DHCP_CFG_FILE), 2048);
    auto* browse = new QPushButton("Browse", &dlg);
    auto* newFile = new QPushButton("New", &dlg);
    auto* edit = new QPushButton("Edit", &dlg);
    form->addRow(enabled);
    form->addRow(single);
    for (int i = 0; i < 6; ++i) form->addRow(labels[i], fields[i]);
    form->addRow(file);
    auto* fileRow = new QHBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(cfgFile), static_cast<QWidget*>(browse), static_cast<QWidget*>(newFile),
                       static_cast<QWidget*>(edit)})
        fileRow->addWidget(w);
    form->addRow("Config File:", fileRow);
    auto sync = [&] {
        const bool f = file->isChecked();
        for (QLineEdit* e : fields) e->setEnabled(!f);
        for (QWidget* w : {static_cast<QWidget*>(cfgFile), static_cast<QWidget*>(browse),
                           static_cast<QWidget*>(newFile), static_cast<QWidget*>(edit)})
            w->setEnabled(f);
    };
    sync();
    QObject::connect(file, &QRadioButton::toggled, &dlg, sync);
    QObject::connect(browse, &QPushButton::clicked, &dlg, [&] {
        QString f = QFileDialog::getOpenFileName(&dlg, "DHCP Cfg File:", cfgFile->text());
        if (!f.isEmpty()) cfgFile->setText(f);
    });
    QObject::connect(newFile, &QPushButton::clicked, &dlg, [&] {
        QString f = QFileDialog::getSaveFileName(&dlg, "DHCP Cfg File:", cfgFile->text());
        if (!f.isEmpty() && DhcpsrvrNewCfgFile(f.toStdString())) cfgFile->setText(f);
    });
    QObject::connect(edit, &QPushButton::clicked, &dlg,
                     [&] { DhcpsrvrEditCfgFile(cfgFile->text().trimmed().toStdString()); });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, [&] {
        auto text = [](QLineEdit* e) { return e->text().trimmed().toStdString(); };
        DhcpDialogFields f{enabled->isChecked(), file->isChecked(), text(cfgFile), text(fields[0]), text(fields[1]),
                           text(fields[2]),      text(fields[3]),   text(fields[4]), text(fields[5])};
        if (DhcpsrvrDialogApply(f)) dlg.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    dlg.exec();
}

}  // namespace

OXEL_DIALOG("DHCP Server Configuration...", OpenDhcpServer);
