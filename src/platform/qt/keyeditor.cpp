#include "platform/qt/keyeditor.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <memory>
#include <vector>

#include "config/configrecord.h"
#include "app/buttons.h"

namespace {

QPointer<QDialog> g_open[2];

struct Row {
    int n;                      // key 1..12 or button 1..16
    QLineEdit* label = nullptr; // F2-F9 and buttons
    QLineEdit* text = nullptr;
    QCheckBox* script = nullptr;
    QPushButton* colour = nullptr;
    int32_t colourValue = kButtonFaceColor;
};

void ShowColour(QPushButton* b, int32_t c) {
    if (c == kButtonFaceColor || c == 0) {
        b->setText("Default");
        b->setStyleSheet({});
        return;
    }
    QColor q(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    b->setText(q.name());
    b->setStyleSheet(QString("background:%1;color:%2").arg(q.name(), q.lightness() > 128 ? "#010101" : "#ffffff"));
}

void Apply(bool buttons, const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        const std::string text = r.text->text().toStdString();
        if (buttons) {
            CFG_SET_STRING(g_cfg.BUTTON[r.n - 1], text.c_str());
            g_cfg.BTN_SCRIPT[r.n - 1] = r.script->isChecked();
            g_cfg.BUTTON_COLOR[r.n - 1] = r.colourValue;
        } else {
            CFG_SET_STRING(g_cfg.FKEY[r.n - 1], text.c_str());
            g_cfg.FKEY_SCRIPT[r.n - 1] = r.script->isChecked();
            if (r.n >= 2 && r.n <= 9) g_cfg.FKEY_COLOR[r.n - 2] = r.colourValue;
        }
        if (r.label) SetLabel(buttons, r.n, r.label->text().toStdString().c_str());
    }
    ButtonsRefreshHeaders();
}

}  // namespace

void OpenKeyEditor(QWidget* parent, bool buttons) {
    QPointer<QDialog>& open = g_open[buttons ? 1 : 0];
    if (open) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dlg = new QDialog(parent);
    open = dlg;
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle(buttons ? kButtonsDialog : kFkeysDialog);
    auto* outer = new QVBoxLayout(dlg);
    auto* area = new QScrollArea(dlg);
    area->setWidgetResizable(true);
    auto* inner = new QWidget(area);
    auto* grid = new QGridLayout(inner);
    const char* heads[] = {"", "Label", "Text (\\r \\n \\t \\xHH escapes; @@@SCRCMD: @@@LTAG: @@@TEST: ^P)", "Script", "Colour"};
    for (int c = 0; c < 5; ++c) grid->addWidget(new QLabel(QString("<b>%1</b>").arg(heads[c]), inner), 0, c);
    auto rows = std::make_shared<std::vector<Row>>();
    const int count = buttons ? kButtonCount : kFkeyCount;
    for (int n = 1; n <= count; ++n) {
        Row r;
        r.n = n;
        grid->addWidget(new QLabel(buttons ? QString("B%1").arg(n) : QString("F%1").arg(n), inner), n, 0);
        const bool hasHeader = buttons || (n >= 2 && n <= 9);
        if (hasHeader) {
            r.label = new QLineEdit(QString::fromUtf8(buttons ? g_cfg.BUTTON_LABEL[n - 1] : g_cfg.FKEY_LABEL[n - 2]), inner);
            r.label->setMaxLength(static_cast<int>(kLabelMax));
            grid->addWidget(r.label, n, 1);
        }
        r.text = new QLineEdit(QString::fromUtf8(buttons ? g_cfg.BUTTON[n - 1] : g_cfg.FKEY[n - 1]), inner);
        r.text->setMaxLength(1024);
        r.text->setMinimumWidth(360);
        grid->addWidget(r.text, n, 2);
        r.script = new QCheckBox(inner);
        r.script->setToolTip("The text names a script file to run");
        r.script->setChecked(buttons ? g_cfg.BTN_SCRIPT[n - 1] : g_cfg.FKEY_SCRIPT[n - 1]);
        grid->addWidget(r.script, n, 3, Qt::AlignCenter);
        if (hasHeader) {
            r.colourValue = buttons ? g_cfg.BUTTON_COLOR[n - 1] : g_cfg.FKEY_COLOR[n - 2];
            r.colour = new QPushButton(inner);
            r.colour->setToolTip("Header colour (right click: default)");
            r.colour->setContextMenuPolicy(Qt::CustomContextMenu);
            ShowColour(r.colour, r.colourValue);
            grid->addWidget(r.colour, n, 4);
        }
        rows->push_back(r);
    }
    for (size_t i = 0; i < rows->size(); ++i) {
        QPushButton* b = (*rows)[i].colour;
        if (!b) continue;
        QObject::connect(b, &QPushButton::clicked, dlg, [dlg, rows, i] {
            Row& r = (*rows)[i];
            const int32_t c = r.colourValue;
            QColor start = (c == kButtonFaceColor || c == 0) ? QColor(Qt::white)
                                                             : QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
            QColor q = QColorDialog::getColor(start, dlg, "Header colour");
            if (!q.isValid()) return;
            r.colourValue = q.red() | (q.green() << 8) | (q.blue() << 16);
            if (r.colourValue == 0) r.colourValue = 0x010101;   // black, not "default"
            ShowColour(r.colour, r.colourValue);
        });
        QObject::connect(b, &QPushButton::customContextMenuRequested, dlg, [rows, i] {
            Row& r = (*rows)[i];
            r.colourValue = kButtonFaceColor;
            ShowColour(r.colour, r.colourValue);
        });
    }
    area->setWidget(inner);
    outer->addWidget(area);
    auto* bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, dlg);
    outer->addWidget(bb);
    QObject::connect(bb, &QDialogButtonBox::accepted, dlg, [dlg, rows, buttons] {
        Apply(buttons, *rows);
        dlg->accept();
    });
    QObject::connect(bb->button(QDialogButtonBox::Apply), &QPushButton::clicked, dlg,
                     [rows, buttons] { Apply(buttons, *rows); });
    QObject::connect(bb, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    dlg->resize(760, 520);
    dlg->show();
}
