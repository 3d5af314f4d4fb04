// "Timestamp Config...": stamps on received lines.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "config/configrecord.h"
#include "util/cmdids.h"
#include "log/logging.h"
#include "platform/qt/qt_ui.h"
#include "platform/ui.h"

namespace {

void OpenTimestamp(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("Timestamp Config...");
    auto* top = new QVBoxLayout(&dlg);
    auto* boxes = new QHBoxLayout;
    auto box = [&](const char* label, bool on) {
        auto* c = new QCheckBox(label, &dlg);
        c->setChecked(on);
        boxes->addWidget(c);
        return c;
    };
    auto* enabled = box("Enabled", g_cfg.TSTAMP_ENABLED);
    auto* local = box("Local Only", g_cfg.TSTAMP_LOCAL_ONLY);
    auto* atToggle = box("Stamp at toggle", g_cfg.TSTAMP_AT_TOGGLE);
    auto* custom = box("Custom", g_cfg.TSTAMP_CUSTOM);
    top->addLayout(boxes);

    auto* list = new QListWidget(&dlg);
    for (int r = 0; r < kTimestampRows; ++r) list->addItem(TimestampLabel(r));
    const int idx = g_cfg.TSTAMP_FORMAT_IDX;
    list->setCurrentRow(idx >= 0 && idx < kTimestampRows ? idx : 0);
    top->addWidget(list);

    auto* formatRow = new QWidget(&dlg);
    auto* form = new QFormLayout(formatRow);
    form->setContentsMargins(0, 0, 0, 0);
    auto* format = new QLineEdit(QString::fromUtf8(g_cfg.TSTAMP_CUSTOM_FORMAT), formatRow);
    format->setMaxLength(2047);
    form->addRow("Format:", format);
    top->addWidget(formatRow);

    auto refresh = [&] {
        list->setVisible(!custom->isChecked());
        formatRow->setVisible(custom->isChecked());
        list->setEnabled(enabled->isChecked());
        local->setEnabled(enabled->isChecked());
    };
    refresh();
    QObject::connect(custom, &QCheckBox::toggled, refresh);
    QObject::connect(enabled, &QCheckBox::toggled, refresh);

    auto* bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    top->addWidget(bb);
    QObject::connect(bb, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(bb, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;
    g_cfg.TSTAMP_ENABLED = enabled->isChecked();
    g_cfg.TSTAMP_LOCAL_ONLY = local->isChecked();
    g_cfg.TSTAMP_AT_TOGGLE = atToggle->isChecked();
    g_cfg.TSTAMP_CUSTOM = custom->isChecked();
    g_cfg.TSTAMP_FORMAT_IDX = std::max(0, list->currentRow());
    CFG_SET_STRING(g_cfg.TSTAMP_CUSTOM_FORMAT, format->text().toStdString().c_str());
    ui().MenuCheck(CMD_TB_TIMESTAMP, g_cfg.TSTAMP_ENABLED != 0);
}

}  // namespace

OXEL_DIALOG("Timestamp Config...", OpenTimestamp);
