// "HTTP Server...": home directory, enabled, the HTTP and WebSocket ports and
// the optional Basic credentials. The server module checks and applies them.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "util/utils.h"
#include "config/configrecord.h"
#include "qt_ui.h"
#include "servers/httpsrvr.h"

namespace {

// A port as typed: 0x hexadecimal, leading 0 octal, else decimal; anything
// else is out of range, so the server module refuses it.
uint32_t PortValue(const QLineEdit* edit) {
    return ParseUnsigned(edit->text().trimmed().toStdString().c_str()).value_or(0x10000);
}

void OpenHttpServer(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("HTTP Server...");
    auto* form = new QFormLayout(&dlg);

    auto* home = new QLineEdit(QString::fromUtf8(g_cfg.HTTP_START_DIR));
    auto* browse = new QPushButton("Browse");
    auto* homeRow = new QHBoxLayout;
    homeRow->addWidget(home, 1);
    homeRow->addWidget(browse);
    form->addRow("Home:", homeRow);
    QObject::connect(browse, &QPushButton::clicked, &dlg, [&] {
        QString d = QFileDialog::getExistingDirectory(&dlg, "Select HTTP Server TopLevel Directory:", home->text());
        if (!d.isEmpty()) home->setText(d);
    });

    auto* enabled = new QCheckBox("Enabled");
    enabled->setChecked(g_cfg.HTTPSRVR_ENABLED);
    form->addRow(enabled);

    auto* http = new QLineEdit(QString::number(g_cfg.HTTPSRVR_PORT));
    auto* websoc = new QLineEdit(QString::number(g_cfg.WEBSOCSRVR_PORT));
    auto* ports = new QHBoxLayout;
    ports->addWidget(new QLabel("Http="));
    ports->addWidget(http);
    ports->addWidget(new QLabel("Websoc="));
    ports->addWidget(websoc);
    form->addRow("Ports: ", ports);

    auto* creds = new QGroupBox("Optional authentication credentials:");
    auto* credForm = new QFormLayout(creds);
    auto* user = new QLineEdit(QString::fromUtf8(g_cfg.HTTP_AUTH_USER));
    auto* pswd = new QLineEdit(QString::fromUtf8(g_cfg.HTTP_AUTH_PSWD));
    pswd->setEchoMode(QLineEdit::Password);
    credForm->addRow("User:", user);
    credForm->addRow("Pswd:", pswd);
    form->addRow(creds);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, [&] {
        HttpSettings s;
        s.home = home->text().trimmed().toStdString();
        s.enabled = enabled->isChecked();
        s.httpPort = PortValue(http);
        s.websocPort = PortValue(websoc);
        s.user = user->text().toStdString();
        s.pswd = pswd->text().toStdString();
        if (const char* refusal = HttpApplySettings(s)) {
            QMessageBox::warning(&dlg, "HTTP SERVER", refusal);
            return;
        }
        dlg.accept();
    });
    dlg.exec();
}

}  // namespace

OXEL_DIALOG("HTTP Server...", OpenHttpServer);
