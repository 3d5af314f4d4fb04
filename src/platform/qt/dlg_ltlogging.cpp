// "LongTerm Logging Configuration...": daily files in a directory.
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/editor.h"
#include "util/utils.h"
#include "config/configrecord.h"
#include "log/ltlogging.h"
#include "platform/qt/qt_ui.h"

namespace {

void OpenLtlog(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("LongTerm Logging Configuration...");
    auto* top = new QVBoxLayout(&dlg);
    auto* enabled = new QCheckBox("Enabled", &dlg);
    enabled->setChecked(g_cfg.LTLOG_ENABLED);
    top->addWidget(enabled);

    auto* grid = new QGridLayout;
    auto* prefix = new QLineEdit(QString::fromUtf8(g_cfg.LTLOG_PREFIX), &dlg);
    auto* dir = new QLineEdit(QString::fromUtf8(g_cfg.LTLOG_DIR), &dlg);
    prefix->setMaxLength(static_cast<int>(sizeof g_cfg.LTLOG_PREFIX) - 1);
    dir->setMaxLength(static_cast<int>(sizeof g_cfg.LTLOG_DIR) - 1);
    dir->setMinimumWidth(320);
    auto* browse = new QPushButton("Browse", &dlg);
    auto* purge = new QLineEdit(QString::number(g_cfg.LTLOG_PURGESIZE), &dlg);
    purge->setMaximumWidth(80);
    grid->addWidget(new QLabel("Prefix:", &dlg), 0, 0);
    grid->addWidget(prefix, 0, 1);
    grid->addWidget(new QLabel("Dir:", &dlg), 1, 0);
    grid->addWidget(dir, 1, 1);
    grid->addWidget(browse, 1, 2);
    auto* purgeRow = new QHBoxLayout;
    purgeRow->addWidget(purge);
    purgeRow->addWidget(new QLabel("Mbyte", &dlg));
    purgeRow->addStretch();
    grid->addWidget(new QLabel("Purge after:", &dlg), 2, 0);
    grid->addLayout(purgeRow, 2, 1);
    top->addLayout(grid);
    QObject::connect(browse, &QPushButton::clicked, [&] {
        QString d = QFileDialog::getExistingDirectory(&dlg, "Select LongTerm Log Directory:", dir->text());
        if (!d.isEmpty()) dir->setText(d);
    });

    auto* buttons = new QHBoxLayout;
    auto* openLog = new QPushButton("OpenLog", &dlg);
    auto* ok = new QPushButton("Ok", &dlg);
    auto* cancel = new QPushButton("Cancel", &dlg);
    ok->setDefault(true);
    buttons->addWidget(openLog);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    top->addLayout(buttons);
    QObject::connect(openLog, &QPushButton::clicked, [&] {
        const std::string today = LtlogFileName(dir->text().toStdString(), prefix->text().toStdString());
        QString f = QFileDialog::getOpenFileName(&dlg, "File:", QString::fromStdString(today), "All files (*)");
        if (!f.isEmpty()) StartEditor(f.toStdString());
    });
    QObject::connect(ok, &QPushButton::clicked, &dlg, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    LtlogConfigure(enabled->isChecked(), dir->text().toStdString().c_str(), prefix->text().toStdString().c_str(),
                   ParseSignedLoose(purge->text().toStdString().c_str()));
}

}  // namespace

OXEL_DIALOG("LongTerm Logging Configuration...", OpenLtlog);
