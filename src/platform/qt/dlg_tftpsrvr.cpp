// "TFTP Server...": the switch, the top-level directory, the totals and the
// status, and the server's transfer pane, kept current while it is open.
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "config/configrecord.h"
#include "platform/qt/qt_ui.h"
#include "servers/tab_tftp.h"
#include "servers/tftpsrvr.h"

namespace {

void OpenTftpServer(QWidget* parent) {
    auto* dlg = new QDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle("TFTP Server...");
    auto* top = new QVBoxLayout(dlg);
    auto* enabled = new QCheckBox("Enabled", dlg);
    auto* relative = new QCheckBox("Relative Paths Only", dlg);
    enabled->setChecked(TftpSrvrRunning());
    relative->setChecked(g_cfg.TFTP_RELATIVE_ONLY);
    top->addWidget(enabled);
    top->addWidget(relative);

    auto* row = new QHBoxLayout;
    auto* dir = new QLineEdit(QString::fromUtf8(g_cfg.TFTP_START_DIR), dlg);
    dir->setMaxLength(2047);
    dir->setMinimumWidth(320);
    auto* browse = new QPushButton("Browse", dlg);
    row->addWidget(new QLabel("Start In:", dlg));
    row->addWidget(dir);
    row->addWidget(browse);
    top->addLayout(row);
    QObject::connect(browse, &QPushButton::clicked, dlg, [dlg, dir] {
        QString d = QFileDialog::getExistingDirectory(dlg, "Select TFTP Server TopLevel Directory:", dir->text());
        if (!d.isEmpty()) dir->setText(d);
    });

    auto* totals = new QLabel(dlg);
    auto* status = new QLabel(dlg);
    top->addWidget(totals);
    top->addWidget(status);
    auto* pane = new QPlainTextEdit(dlg);
    pane->setReadOnly(true);
    pane->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    pane->setMinimumSize(560, 200);
    top->addWidget(pane);

    auto* buttons = new QHBoxLayout;
    auto* apply = new QPushButton("Apply", dlg);
    auto* ok = new QPushButton("Ok", dlg);
    auto* cancel = new QPushButton("Cancel", dlg);
    ok->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(apply);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    top->addLayout(buttons);

    auto applyNow = [enabled, relative, dir] {
        int rc = TftpSrvrApply(enabled->isChecked(), relative->isChecked(), dir->text().toStdString());
        enabled->setChecked(TftpSrvrRunning());
        return rc;
    };
    QObject::connect(apply, &QPushButton::clicked, dlg, [applyNow] { applyNow(); });
    QObject::connect(ok, &QPushButton::clicked, dlg, [dlg, applyNow] {
        if (applyNow()) dlg->close();
    });
    QObject::connect(cancel, &QPushButton::clicked, dlg, &QDialog::close);

    auto refresh = [totals, status, pane] {
        totals->setText(QString::fromStdString(TftpSrvrTotalsText()));
        status->setText(QString::fromStdString(TftpSrvrStatusText()).trimmed());
        QString text = QString::fromUtf8(TftpPaneText()).replace("\r\n", "\n");
        if (text != pane->toPlainText()) {
            pane->setPlainText(text);
            pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
        }
    };
    refresh();
    auto* timer = new QTimer(dlg);
    QObject::connect(timer, &QTimer::timeout, dlg, refresh);
    timer->start(500);
    dlg->show();
}

}  // namespace

OXEL_DIALOG("TFTP Server...", OpenTftpServer);
