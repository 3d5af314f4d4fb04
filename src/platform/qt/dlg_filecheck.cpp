// File -> Validate: "File Check: MD5SUM/CRC32..." — a file, the checks to run
// (remembered for the run), and a field that takes the result or the value
// to compare with.
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "app/filecheck.h"
#include "platform/qt/qt_ui.h"

namespace {

bool g_md5 = true, g_crc = true;

void OpenFileCheck(QWidget* parent) {
    QDialog dlg(parent);
    dlg.setWindowTitle("File Check: MD5SUM/CRC32...");
    auto* form = new QFormLayout(&dlg);
    auto* file = new QLineEdit(&dlg);
    file->setMinimumWidth(420);
    auto* browse = new QPushButton("Browse", &dlg);
    auto* row = new QHBoxLayout;
    row->addWidget(file, 1);
    row->addWidget(browse);
    form->addRow("File:", row);
    auto* md5 = new QCheckBox("MD5", &dlg);
    auto* crc = new QCheckBox("CRC-32", &dlg);
    md5->setChecked(g_md5);
    crc->setChecked(g_crc);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(md5);
    boxes->addWidget(crc);
    boxes->addStretch(1);
    form->addRow("Check:", boxes);
    auto* value = new QLineEdit(&dlg);
    value->setPlaceholderText("empty: compute; HEXCRC/HEXMD5: compare");
    form->addRow("CRC/MD5:", value);
    auto* bb = new QDialogButtonBox(&dlg);
    QPushButton* compute = bb->addButton("Compute", QDialogButtonBox::ActionRole);
    QPushButton* close = bb->addButton(QDialogButtonBox::Cancel);
    compute->setDefault(true);
    form->addRow(bb);

    QObject::connect(browse, &QPushButton::clicked, &dlg, [&] {
        QString f = QFileDialog::getOpenFileName(&dlg, "File to check:", file->text());
        if (!f.isEmpty()) file->setText(f);
    });
    QObject::connect(close, &QPushButton::clicked, &dlg, &QDialog::reject);
    QObject::connect(compute, &QPushButton::clicked, &dlg, [&] {
        g_md5 = md5->isChecked();
        g_crc = crc->isChecked();
        FileCheckResult r = FileCheckRun(g_md5, g_crc, file->text().toStdString(), value->text().toStdString());
        if (!r.ok) {
            QMessageBox::critical(&dlg, "ERROR", QString::fromStdString(r.errorText));
            return;
        }
        value->setText(QString::fromStdString(r.field));
        close->setText("Done");
    });
    dlg.exec();
}

}  // namespace

OXEL_DIALOG("File Check: MD5SUM/CRC32...", OpenFileCheck);
