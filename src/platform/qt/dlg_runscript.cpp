// Scripts -> Run: "Run Oxel Script..." with the script name, Debug On and Browse.
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/oxel.h"
#include "config/configrecord.h"
#include "platform/qt/qt_ui.h"
#include "script/scripting.h"

namespace {

void OpenRunScript(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("Run Oxel Script...");
    auto* name = new QLineEdit(QString::fromUtf8(g_cfg.LAST_SCRIPTNAME));
    name->setMaxLength(2048);
    name->setMinimumWidth(360);
    auto* debug = new QCheckBox("Debug On");
    debug->setChecked(ScriptDebug());
    auto* browse = new QPushButton("Browse");
    auto* ok = new QPushButton("Ok");
    auto* cancel = new QPushButton("Cancel");
    ok->setDefault(true);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Script:"));
    row->addWidget(name, 1);
    row->addWidget(browse);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(debug);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(&dlg);
    layout->addLayout(row);
    layout->addLayout(buttons);

    QObject::connect(browse, &QPushButton::clicked, &dlg, [&] {
        QString dir = QString::fromStdString(InstallDir() + "/scripts");
        QString file = QFileDialog::getOpenFileName(&dlg, "Run Script:", dir);
        if (!file.isEmpty()) name->setText(file);
    });
    QObject::connect(cancel, &QPushButton::clicked, &dlg, &QDialog::reject);
    QObject::connect(ok, &QPushButton::clicked, &dlg, [&] {
        ScriptSetDebug(debug->isChecked());
        std::string text = name->text().toStdString();
        if (!text.empty() && run_script(text.c_str(), nullptr)) dlg.accept();
    });
    dlg.exec();
}

}  // namespace

OXEL_DIALOG("Run Oxel Script...", OpenRunScript);
