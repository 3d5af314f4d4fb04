// "System Trace Config...": categories, stamps, pane height and copy file.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <utility>
#include <vector>

#include "config/configrecord.h"
#include "log/srvrtrace.h"
#include "platform/qt/qt_ui.h"

namespace {

struct Box {
    const char* label;
    uint32_t bit;
};

constexpr Box kBoxes[] = {
    {"TFTP:", TRC_TFTP},     {"FTP:", TRC_FTP},         {"TELNET:", TRC_TELNET},
    {"SCRIPTS:", TRC_SCRIPT}, {"DHCP:", TRC_DHCP},       {"DEBUG:", TRC_DEBUG},
    {"XMODEM:", TRC_XMODEM}, {"HISTORY:", TRC_CLIHIST}, {"MONCMD:", TRC_MONCMD},
    {"VT100:", TRC_VT100},   {"HTTP:", TRC_HTTP},
};

void OpenSysTrace(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("System Trace Config...");
    auto* top = new QVBoxLayout(&dlg);

    auto* grid = new QGridLayout;
    std::vector<std::pair<QCheckBox*, uint32_t>> boxes;
    int i = 0;
    for (const Box& b : kBoxes) {
        auto* c = new QCheckBox(b.label, &dlg);
        c->setLayoutDirection(Qt::RightToLeft);
        c->setChecked(g_cfg.TRACEFLAGS & b.bit);
        grid->addWidget(c, i / 3, i % 3);
        boxes.emplace_back(c, b.bit);
        ++i;
    }
    top->addLayout(grid);

    auto* setClr = new QHBoxLayout;
    auto* setAll = new QPushButton("SetAll", &dlg);
    auto* clrAll = new QPushButton("ClrAll", &dlg);
    setClr->addWidget(setAll);
    setClr->addWidget(clrAll);
    setClr->addStretch();
    top->addLayout(setClr);
    QObject::connect(setAll, &QPushButton::clicked, [&] { for (auto& b : boxes) b.first->setChecked(true); });
    QObject::connect(clrAll, &QPushButton::clicked, [&] { for (auto& b : boxes) b.first->setChecked(false); });

    auto* stamps = new QCheckBox("TimeStamp Enable:", &dlg);
    stamps->setLayoutDirection(Qt::RightToLeft);
    stamps->setChecked(g_cfg.TRACE_TSTAMP_ENABLE);
    top->addWidget(stamps);

    auto* rowsLine = new QHBoxLayout;
    auto* rows = new QSpinBox(&dlg);
    rows->setRange(1, kTraceLines);
    rows->setValue(g_cfg.TRACE_ROWS);
    rowsLine->addWidget(new QLabel("Trace Window Height in Rows:", &dlg));
    rowsLine->addWidget(rows);
    rowsLine->addStretch();
    top->addLayout(rowsLine);

    auto* fileLine = new QHBoxLayout;
    auto* copy = new QCheckBox("CopyToFile:", &dlg);
    auto* file = new QLineEdit(QString::fromStdString(TraceFileName()), &dlg);
    copy->setChecked(!TraceFileName().empty());
    fileLine->addWidget(copy);
    fileLine->addWidget(file, 1);
    top->addLayout(fileLine);

    auto* actions = new QHBoxLayout;
    auto* clear = new QPushButton("Clear Trace Window", &dlg);
    auto* toggle = new QPushButton("Toggle", &dlg);
    auto* blank = new QPushButton("Insert Blank Trace Line", &dlg);
    actions->addWidget(clear);
    actions->addWidget(toggle);
    actions->addWidget(blank);
    top->addLayout(actions);
    QObject::connect(clear, &QPushButton::clicked, [] { TraceClear(); });
    QObject::connect(toggle, &QPushButton::clicked, [] { TraceToggleVisible(); });
    QObject::connect(blank, &QPushButton::clicked, [] { TraceInsertBlank(); });

    auto* bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    top->addWidget(bb);
    QObject::connect(bb, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(bb, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;

    uint32_t flags = 0;
    for (auto& b : boxes)
        if (b.first->isChecked()) flags |= b.second;
    TraceApplyConfig(flags, stamps->isChecked(), rows->value(), copy->isChecked(),
                     file->text().toStdString().c_str());
}

}  // namespace

OXEL_DIALOG("System Trace Config...", OpenSysTrace);
