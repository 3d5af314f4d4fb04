// The DIALOG command's questions: a text field (plain or hidden), a
// drop-down list, or a file name with "Browse", each closed by "Continue".
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/qt_ui.h"

namespace {
QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }
}  // namespace

std::optional<std::string> RunQuestion(QWidget* parent, const UiQuestion& q) {
    QDialog dlg(parent);
    dlg.setWindowTitle(Q(q.title));
    auto* layout = new QVBoxLayout(&dlg);
    auto* label = new QLabel(Q(q.prompt), &dlg);
    label->setWordWrap(true);
    layout->addWidget(label);
    QLineEdit* edit = nullptr;
    QComboBox* list = nullptr;
    auto* row = new QHBoxLayout;
    if (q.kind == UiQuestion::List) {
        list = new QComboBox(&dlg);
        for (const auto& item : q.items) list->addItem(Q(item));
        row->addWidget(list, 1);
    } else {
        edit = new QLineEdit(Q(q.initial), &dlg);
        if (q.kind == UiQuestion::Hidden) edit->setEchoMode(QLineEdit::Password);
        row->addWidget(edit, 1);
    }
    if (q.kind == UiQuestion::File) {
        auto* browse = new QPushButton("Browse", &dlg);
        QObject::connect(browse, &QPushButton::clicked, &dlg, [&] {
            QString f = QFileDialog::getOpenFileName(&dlg, Q(q.title), edit->text());
            if (!f.isEmpty()) edit->setText(f);
        });
        row->addWidget(browse);
    }
    layout->addLayout(row);
    auto* go = new QPushButton("Continue", &dlg);
    go->setDefault(true);
    QObject::connect(go, &QPushButton::clicked, &dlg, &QDialog::accept);
    layout->addWidget(go, 0, Qt::AlignRight);
    if (q.width > 0 || q.height > 0) dlg.resize(q.width > 0 ? q.width : dlg.sizeHint().width(),
                                                q.height > 0 ? q.height : dlg.sizeHint().height());
    if (q.x >= 0 && q.y >= 0) dlg.move(q.x, q.y);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return (list ? list->currentText() : edit->text()).toStdString();
}
