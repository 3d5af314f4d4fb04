// "TFTP Client...": server and file fields, the session options, and the
// transfer's packet count (and progress when the size is known).
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "config/configrecord.h"
#include "platform/qt/qt_ui.h"
#include "platform/ui.h"
#include "servers/tftpclient.h"

namespace {

constexpr int kTftpMenuId = 418;

QLineEdit* Field(QDialog* dlg, const char* value) {
    auto* e = new QLineEdit(QString::fromUtf8(value), dlg);
    e->setMaxLength(2048);
    e->setMinimumWidth(320);
    return e;
}

// A Browse button fills its field from a file chooser.
void Browse(QDialog* dlg, QPushButton* button, QLineEdit* field, const char* title, bool save) {
    QObject::connect(button, &QPushButton::clicked, dlg, [=] {
        QString f = save ? QFileDialog::getSaveFileName(dlg, title, field->text())
                         : QFileDialog::getOpenFileName(dlg, title, field->text());
        if (!f.isEmpty()) field->setText(f);
    });
}

void OpenTftpClient(QWidget* parent) {
    auto* dlg = new QDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle("TFTP Client...");
    auto* top = new QVBoxLayout(dlg);
    auto* grid = new QGridLayout;
    auto* srvr = Field(dlg, g_cfg.TFTPC_SRVR);
    auto* src = Field(dlg, g_cfg.TFTPC_SRCFILE);
    auto* dst = Field(dlg, g_cfg.TFTPC_DSTFILE);
    auto* srcBrowse = new QPushButton("Browse", dlg);
    auto* dstBrowse = new QPushButton("Browse", dlg);
    grid->addWidget(new QLabel("Srvr:", dlg), 0, 0);
    grid->addWidget(srvr, 0, 1);
    grid->addWidget(new QLabel("Src:", dlg), 1, 0);
    grid->addWidget(src, 1, 1);
    grid->addWidget(srcBrowse, 1, 2);
    grid->addWidget(new QLabel("Dest:", dlg), 2, 0);
    grid->addWidget(dst, 2, 1);
    grid->addWidget(dstBrowse, 2, 2);
    top->addLayout(grid);
    Browse(dlg, srcBrowse, src, "Src:", false);
    Browse(dlg, dstBrowse, dst, "Dest:", true);

    auto* options = new QHBoxLayout;
    auto* ascii = new QCheckBox("Ascii", dlg);
    auto* trace = new QCheckBox("Trace", dlg);
    auto* tsize = new QCheckBox("Tsize", dlg);
    auto* fof = new QCheckBox("FOF", dlg);
    for (QCheckBox* c : {ascii, trace, tsize, fof}) options->addWidget(c);
    top->addLayout(options);
    auto* count = new QLabel("PktCnt: 0", dlg);
    auto* progress = new QProgressBar(dlg);
    progress->setRange(0, 1000);
    progress->hide();
    top->addWidget(count);
    top->addWidget(progress);

    auto* buttons = new QHBoxLayout;
    auto* send = new QPushButton("Send/Go", dlg);
    auto* recv = new QPushButton("Recv", dlg);
    auto* cancel = new QPushButton("Cancel", dlg);
    auto* close = new QPushButton("Close", dlg);
    for (QPushButton* b : {send, recv, cancel, close}) buttons->addWidget(b);
    top->addLayout(buttons);

    auto start = [=](bool put) {
        CFG_SET_STRING(g_cfg.TFTPC_SRVR, srvr->text().toStdString().c_str());
        CFG_SET_STRING(g_cfg.TFTPC_SRCFILE, src->text().toStdString().c_str());
        CFG_SET_STRING(g_cfg.TFTPC_DSTFILE, dst->text().toStdString().c_str());
        TftpClientSetTrace(trace->isChecked());
        TftpClientSetTsize(tsize->isChecked());
        TftpClient(put, ascii->isChecked(), put && fof->isChecked());
    };
    QObject::connect(send, &QPushButton::clicked, dlg, [start] { start(true); });
    QObject::connect(recv, &QPushButton::clicked, dlg, [start] { start(false); });
    QObject::connect(cancel, &QPushButton::clicked, dlg, [] { TftpClientCancel(); });
    QObject::connect(close, &QPushButton::clicked, dlg, [dlg] {
        TftpClientCancel();
        dlg->close();
    });
    QObject::connect(dlg, &QObject::destroyed, [] { ui().MenuEnable(kTftpMenuId, true); });

    auto refresh = [=] {
        bool busy = TftpClientWorkerRunning();
        bool batch = fof->isChecked();
        send->setEnabled(!busy);
        recv->setEnabled(!busy && !batch);
        dst->setEnabled(!batch);
        dstBrowse->setEnabled(!batch);
        cancel->setEnabled(busy);
        TftpClientProgress p = TftpClientProgressNow();
        count->setText(QString("PktCnt: %1").arg(p.pkts));
        progress->setVisible(p.busy && p.size > 0);
        if (p.size > 0) progress->setValue(static_cast<int>(p.bytes * 1000 / p.size));
    };
    refresh();
    auto* timer = new QTimer(dlg);
    QObject::connect(timer, &QTimer::timeout, dlg, refresh);
    timer->start(250);
    ui().MenuEnable(kTftpMenuId, false);
    dlg->show();
}

}  // namespace

OXEL_DIALOG("TFTP Client...", OpenTftpClient);
