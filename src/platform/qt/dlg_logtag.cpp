// "Logging Tag...": one line written to the log, remembered for next time.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "config/configrecord.h"
#include "log/logging.h"
#include "platform/qt/qt_ui.h"

namespace {

void OpenLogTag(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("Logging Tag...");
    auto* form = new QFormLayout(&dlg);
    auto* tag = new QLineEdit(QString::fromUtf8(g_cfg.LOGGING_TAG), &dlg);
    tag->setMaxLength(static_cast<int>(sizeof g_cfg.LOGGING_TAG) - 1);
    tag->setMinimumWidth(360);
    form->addRow("Tag:", tag);
    auto* bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    form->addRow(bb);
    QObject::connect(bb, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(bb, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    const std::string text = tag->text().toStdString();
    if (!text.empty()) CFG_SET_STRING(g_cfg.LOGGING_TAG, text.c_str());
    LogInsertTag(text.c_str());
}

}  // namespace

OXEL_DIALOG("Logging Tag...", OpenLogTag);
