// Config -> Miscellaneous...: the console's keys — display, keyboard and
// sending, hex display and entry, colours, editor and title.
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <memory>
#include <string>
#include <vector>

#include "config/configrecord.h"
#include "util/cmdids.h"
#include "console/screenbuf.h"
#include "platform/qt/qt_ui.h"
#include "platform/ui.h"

namespace {

struct Flag {
    CfgInt* key;
    const char* text;
    const char* tip;
};

struct Colour {
    CfgInt* key;
    const char* text;
    int32_t value;
    QPushButton* button;
};

void ShowColour(QPushButton* b, int32_t c) {
    if (c == 0) {
        b->setText("System");
        b->setStyleSheet({});
        return;
    }
    QColor q(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    b->setText(q.name());
    b->setStyleSheet(QString("background:%1;color:%2").arg(q.name(), q.lightness() > 128 ? "#000000" : "#ffffff"));
}

QSpinBox* Spin(QWidget* parent, int lo, int hi, int value) {
    auto* s = new QSpinBox(parent);
    s->setRange(lo, hi);
    s->setValue(value);
    return s;
}

void OpenMisc(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("Miscellaneous Configuration");
    auto* outer = new QVBoxLayout(&dlg);

    const std::vector<std::vector<Flag>> groups = {
        {{&g_cfg.VT100_EMULATION, "VT100 emulation", "Interpret VT100 escape sequences"},
         {&g_cfg.AUTOWRAP, "Auto wrap", "Wrap at the right edge"},
         {&g_cfg.NEWLINE, "CR is new line", "A carriage return also does a line feed"},
         {&g_cfg.CHAR_ATTRIBUTES, "Character colours", "Keep colours per character"},
         {&g_cfg.NOBEEP, "No beep", "Ignore BEL"},
         {&g_cfg.CONSOLE_READONLY, "Read-only console", "Typed keys are not sent"}},
        {{&g_cfg.LOCALECHO, "Local echo", "Show typed characters"},
         {&g_cfg.LINEMODE, "Line mode", "Send a line at Enter"},
         {&g_cfg.ENTER_IS_CRLF, "Enter sends CR LF", nullptr},
         {&g_cfg.CTRLV_IS_PASTE, "Ctrl-V pastes", nullptr},
         {&g_cfg.RIGHT_BTTN_PASTE, "Right button pastes", nullptr}},
        {{&g_cfg.APPEND_CR, "Add CR before LF", nullptr},
         {&g_cfg.APPEND_LF, "Add LF after CR", nullptr},
         {&g_cfg.DROP_NON_PRINTABLES, "Drop non-printables", nullptr},
         {&g_cfg.HEXMODE_WITH_SPACE, "Hex display with spaces", nullptr},
         {&g_cfg.ASCIICODEDHEX_ENTRYMODE, "Hex entry mode", "Type hex digits, send bytes"},
         {&g_cfg.LOCALECHOACH, "Echo hex entry", nullptr}},
    };
    const char* titles[] = {"Display", "Keyboard", "Received data"};
    auto* top = new QHBoxLayout;
    std::vector<std::pair<QCheckBox*, CfgInt*>> boxes;
    for (size_t g = 0; g < groups.size(); ++g) {
        auto* box = new QGroupBox(titles[g], &dlg);
        auto* v = new QVBoxLayout(box);
        for (const Flag& f : groups[g]) {
            auto* c = new QCheckBox(f.text, box);
            c->setChecked(*f.key != 0);
            if (f.tip) c->setToolTip(f.tip);
            v->addWidget(c);
            boxes.emplace_back(c, f.key);
        }
        v->addStretch(1);
        top->addWidget(box);
    }
    outer->addLayout(top);

    auto* form = new QFormLayout;
    auto* hex = new QComboBox(&dlg);
    hex->addItems({"Off", "All bytes", "All but CR and LF", "Non-printables only"});
    hex->setCurrentIndex(std::clamp(static_cast<int>(g_cfg.HEXMODE), 0, 3));
    form->addRow("Hex display:", hex);
    auto* csum = new QComboBox(&dlg);
    csum->addItems({"0", "1", "2", "4"});
    csum->setCurrentText(QString::number(g_cfg.ACH_CSUM_METHOD));
    form->addRow("Hex entry checksum bytes:", csum);
    auto* tab = Spin(&dlg, 1, 32, g_cfg.TABSTOP);
    form->addRow("Tab stop:", tab);
    auto* delay = Spin(&dlg, 0, 10000, g_cfg.DELAY_BETWEEN_CHARS);
    delay->setSuffix(" ms");
    form->addRow("Delay between characters:", delay);
    auto* vscroll = Spin(&dlg, 32768, 64 * 1024 * 1024, std::max<int32_t>(32768, g_cfg.VSCROLL_BUFSIZ));
    vscroll->setSuffix(" bytes");
    form->addRow("Scroll capture buffer:", vscroll);
    auto* editor = new QLineEdit(QString::fromUtf8(g_cfg.EDITOR), &dlg);
    editor->setMaxLength(static_cast<int>(sizeof g_cfg.EDITOR) - 1);
    editor->setPlaceholderText("empty: the desktop's editor (xdg-open)");
    form->addRow("Editor:", editor);
    auto* title = new QLineEdit(QString::fromUtf8(g_cfg.TITLEBAR), &dlg);
    title->setMaxLength(static_cast<int>(sizeof g_cfg.TITLEBAR) - 1);
    form->addRow("Title bar:", title);
    auto colours = std::make_shared<std::vector<Colour>>(std::vector<Colour>{
        {&g_cfg.TEXT_COLOR, "Text colour:", g_cfg.TEXT_COLOR, nullptr},
        {&g_cfg.TEXT_COLOR_ALT, "Alternate port text colour:", g_cfg.TEXT_COLOR_ALT, nullptr},
        {&g_cfg.BACKGROUND_COLOR, "Background colour:", g_cfg.BACKGROUND_COLOR, nullptr}});
    for (size_t i = 0; i < colours->size(); ++i) {
        Colour& c = (*colours)[i];
        c.button = new QPushButton(&dlg);
        c.button->setToolTip("Right click: the system colour");
        c.button->setContextMenuPolicy(Qt::CustomContextMenu);
        ShowColour(c.button, c.value);
        QObject::connect(c.button, &QPushButton::clicked, &dlg, [&dlg, colours, i] {
            Colour& k = (*colours)[i];
            QColor q = QColorDialog::getColor(QColor(k.value & 0xFF, (k.value >> 8) & 0xFF, (k.value >> 16) & 0xFF), &dlg);
            if (!q.isValid()) return;
            k.value = q.red() | (q.green() << 8) | (q.blue() << 16);
            if (k.value == 0) k.value = 0x010101;   // black, not "system"
            ShowColour(k.button, k.value);
        });
        QObject::connect(c.button, &QPushButton::customContextMenuRequested, &dlg, [colours, i] {
            (*colours)[i].value = 0;
            ShowColour((*colours)[i].button, 0);
        });
        form->addRow(c.text, c.button);
    }
    outer->addLayout(form);
    auto* bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    outer->addWidget(bb);
    QObject::connect(bb, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(bb, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    if (dlg.exec() != QDialog::Accepted) return;

    for (auto& [box, key] : boxes) *key = box->isChecked() ? 1 : 0;
    g_cfg.HEXMODE = hex->currentIndex();
    g_cfg.ACH_CSUM_METHOD = csum->currentText().toInt();
    g_cfg.TABSTOP = tab->value();
    g_cfg.DELAY_BETWEEN_CHARS = delay->value();
    if (vscroll->value() != g_cfg.VSCROLL_BUFSIZ) ConsoleResizeRing(vscroll->value());
    CFG_SET_STRING(g_cfg.EDITOR, editor->text().toStdString().c_str());
    CFG_SET_STRING(g_cfg.TITLEBAR, title->text().toStdString().c_str());
    // A title of its own replaces the window title at once ("Oxel" keeps the
    // configuration's name in it until the next load).
    if (std::string(g_cfg.TITLEBAR) != "Oxel") ui().SetTitle(g_cfg.TITLEBAR);
    for (const Colour& c : *colours) *c.key = c.value;
    ui().MenuCheck(CMD_RTBTNPASTE, g_cfg.RIGHT_BTTN_PASTE != 0);
    ui().MenuCheck(CMD_READONLY, g_cfg.CONSOLE_READONLY != 0);
    ui().ConsoleInvalidate();
    ui().StatusRefresh();
}

}  // namespace

OXEL_DIALOG("Miscellaneous Configuration", OpenMisc);
