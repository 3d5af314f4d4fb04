// "Standard Logging Configuration...": the log file and its filters.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "config/configrecord.h"
#include "log/logging.h"
#include "platform/qt/qt_ui.h"
#include "platform/report.h"
#include "xfer/xmodem.h"

namespace {

QCheckBox* AddBox(QDialog* dlg, QLayout* to, const char* label, bool on) {
    auto* c = new QCheckBox(label, dlg);
    c->setChecked(on);
    to->addWidget(c);
    return c;
}

void OpenLogging(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("Standard Logging Configuration...");
    auto* top = new QVBoxLayout(&dlg);
    auto* row = new QHBoxLayout;
    auto* enabled = AddBox(&dlg, row, "Enabled", g_cfg.LOGGING_ENABLED);
    auto* append = AddBox(&dlg, row, "Append", g_cfg.LOGGING_APPEND);
    auto* raw = AddBox(&dlg, row, "Log Non-printables", g_cfg.LOG_NON_PRINTABLES);
    auto* dos = AddBox(&dlg, row, "DOS", g_cfg.LOGGING_DOSMODE);
    auto* bin = AddBox(&dlg, row, "BIN", LogBinaryCaptureOn());
    top->addLayout(row);
    append->setEnabled(enabled->isChecked());
    QObject::connect(enabled, &QCheckBox::toggled, append, &QWidget::setEnabled);

    auto* fileRow = new QHBoxLayout;
    auto* file = new QLineEdit(QString::fromUtf8(g_cfg.LOGGING_FILENAME), &dlg);
    file->setMaxLength(127);
    file->setMinimumWidth(320);
    auto* browse = new QPushButton("Browse", &dlg);
    fileRow->addWidget(new QLabel("File:", &dlg));
    fileRow->addWidget(file, 1);
    fileRow->addWidget(browse);
    top->addLayout(fileRow);
    QObject::connect(browse, &QPushButton::clicked, [&] {
        QString f = QFileDialog::getSaveFileName(&dlg, "Log file:", file->text(), QString(), nullptr,
                                                 QFileDialog::DontConfirmOverwrite);
        if (!f.isEmpty()) file->setText(f);
    });

    auto* buttons = new QHBoxLayout;
    auto* trunc = new QPushButton("Truncate", &dlg);
    auto* ok = new QPushButton("Ok", &dlg);
    auto* cancel = new QPushButton("Cancel", &dlg);
    ok->setDefault(true);
    buttons->addWidget(trunc);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    top->addLayout(buttons);
    QObject::connect(trunc, &QPushButton::clicked, [] { LogTruncateButton(); });
    QObject::connect(ok, &QPushButton::clicked, &dlg, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    // "XLOG:path" names the transfers' hex log instead of the log file.
    std::string name = file->text().toStdString();
    if (name.rfind("XLOG:", 0) == 0) {
        if (!XmodemSetXlog(name.substr(5))) OxelMessageBox("XLOG", "%s: can't be created", name.c_str() + 5);
        return;
    }
    LogApplyConfig(enabled->isChecked(), append->isChecked(), raw->isChecked(), dos->isChecked(),
                   bin->isChecked(), file->text().toStdString().c_str());
}

}  // namespace

OXEL_DIALOG("Standard Logging Configuration...", OpenLogging);
