// "Catch Script Setup...": the catch string, its script and line tagging.
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/oxel.h"
#include "platform/qt/qt_ui.h"
#include "script/catchstr.h"

namespace {

void OpenCatchDialog(QWidget* parent) {
    auto* dlg = new QDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle("Catch Script Setup...");
    CatchConfig cfg = CatchGetConfig();

    auto* script = new QLineEdit(QString::fromStdString(cfg.script), dlg);
    script->setMaxLength(static_cast<int>(kCatchMaxScript));
    auto* browse = new QPushButton("Browse", dlg);
    auto* text = new QLineEdit(cfg.strings.empty() ? QString() : QString::fromStdString(cfg.strings.front()), dlg);
    text->setMaxLength(static_cast<int>(kCatchMaxText));
    auto* tagging = new QCheckBox("LineTagging", dlg);
    tagging->setChecked(cfg.tagging);
    auto* clear = new QPushButton("Clear", dlg);
    auto* ok = new QPushButton("Ok", dlg);
    auto* cancel = new QPushButton("Cancel", dlg);
    ok->setDefault(true);

    auto* grid = new QGridLayout(dlg);
    grid->addWidget(new QLabel("Script:", dlg), 0, 0);
    grid->addWidget(script, 0, 1);
    grid->addWidget(browse, 0, 2);
    grid->addWidget(new QLabel("String:", dlg), 1, 0);
    grid->addWidget(text, 1, 1, 1, 2);
    grid->addWidget(tagging, 2, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(clear);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 3, 0, 1, 3);

    QObject::connect(browse, &QPushButton::clicked, dlg, [dlg, script] {
        QString dir = QString::fromStdString(InstallDir() + "/scripts");
        QString f = QFileDialog::getOpenFileName(dlg, "Catch Script:", dir);
        if (!f.isEmpty()) script->setText(f);
    });
    QObject::connect(clear, &QPushButton::clicked, dlg, [script, text, tagging] {
        CatchClear();
        CatchSetTagging(false);
        script->clear();
        text->clear();
        tagging->setChecked(false);
    });
    QObject::connect(ok, &QPushButton::clicked, dlg, [dlg, script, text, tagging] {
        if (CatchDialogApply(script->text().toStdString(), text->text().toStdString(), tagging->isChecked()))
            dlg->accept();
    });
    QObject::connect(cancel, &QPushButton::clicked, dlg, &QDialog::reject);
    dlg->show();
}

}  // namespace

OXEL_DIALOG("Catch Script Setup...", OpenCatchDialog);
