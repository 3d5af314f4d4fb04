// "XMODEM Transfer..." and "YMODEM Transfer...": file, target command and the
// running transfer's packet counter, total, state and progress bar.
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

#include "config/configrecord.h"
#include "platform/qt/qt_ui.h"
#include "platform/ui.h"
#include "util/cmdids.h"
#include "util/utils.h"
#include "xfer/xmodem.h"

namespace {

void OpenTransferDialog(QWidget* parent, bool ymodem) {
    auto* dlg = new QDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle(ymodem ? "YMODEM Transfer..." : "XMODEM Transfer...");
    auto* file = new QLineEdit(QString::fromUtf8(g_cfg.XMODEM_FILE), dlg);
    auto* browse = new QPushButton("Browse", dlg);
    auto* cmd = new QLineEdit(QString::fromUtf8(g_cfg.XMODEM_CMD), dlg);
    auto* rcvSize = new QLineEdit(dlg);
    auto* autosize = new QCheckBox("Xamo auto-send size", dlg);
    autosize->setChecked(g_cfg.XMODEM_AUTOSIZE);
    auto* delay = new QCheckBox("Enable delay between chars", dlg);
    delay->setChecked(XmodemDelay());
    auto* send = new QPushButton("Send", dlg);
    auto* send1k = new QPushButton("Send1k", dlg);
    auto* recv = new QPushButton("Recv", dlg);
    auto* recvCrc = new QPushButton("RecvCrc", dlg);
    auto* pktcnt = new QLabel("Pktcnt: 00000", dlg);
    auto* pkttot = new QLabel("PktTot:  -----", dlg);
    auto* state = new QLabel("State: IDLE", dlg);
    auto* bar = new QProgressBar(dlg);
    auto* cancel = new QPushButton("Cancel", dlg);
    auto* close = new QPushButton("Close", dlg);
    cancel->setEnabled(false);

    auto* grid = new QGridLayout(dlg);
    grid->addWidget(new QLabel("File:", dlg), 0, 0);
    grid->addWidget(file, 0, 1);
    grid->addWidget(browse, 0, 2);
    grid->addWidget(new QLabel("Cmd:", dlg), 1, 0);
    grid->addWidget(cmd, 1, 1, 1, 2);
    int row = 2;
    if (!ymodem) {
        grid->addWidget(new QLabel("RcvSize:", dlg), row, 0);
        grid->addWidget(rcvSize, row++, 1);
        grid->addWidget(autosize, row++, 1);
    }
    grid->addWidget(delay, row++, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(send);
    if (!ymodem) {
        buttons->addWidget(send1k);
        buttons->addWidget(recv);
        buttons->addWidget(recvCrc);
    }
    grid->addLayout(buttons, row++, 0, 1, 3);
    auto* progress = new QHBoxLayout();
    progress->addWidget(pktcnt);
    progress->addWidget(pkttot);
    progress->addWidget(state);
    grid->addLayout(progress, row++, 0, 1, 3);
    grid->addWidget(bar, row++, 0, 1, 3);
    auto* ends = new QHBoxLayout();
    ends->addStretch();
    ends->addWidget(cancel);
    ends->addWidget(close);
    grid->addLayout(ends, row, 0, 1, 3);
    if (ymodem) {
        rcvSize->hide();
        autosize->hide();
        send1k->hide();
        recv->hide();
        recvCrc->hide();
    }

    QObject::connect(browse, &QPushButton::clicked, dlg, [dlg, file, ymodem] {
        QString name = QFileDialog::getOpenFileName(dlg, ymodem ? "Ymodem file:" : "Xmodem file:", file->text());
        if (!name.isEmpty()) file->setText(name);
    });
    auto start = [=](bool isSend, int sizeOrCrc) {
        g_cfg.XMODEM_AUTOSIZE = ymodem ? 0 : autosize->isChecked();
        XmodemSetDelay(delay->isChecked());
        XmodemSetYmodem(ymodem);
        XmodemSetRetryLimit(10);
        std::string c = cmd->text().toStdString(), f = file->text().toStdString();
        if (isSend) {
            XmodemSetPacketSize(sizeOrCrc);
            XmodemStartSend(c.c_str(), f.c_str());
        } else {
            auto n = ParseSigned(rcvSize->text().toStdString().c_str());
            if (!rcvSize->text().isEmpty() && n) XmodemSetExpectedSize(*n);
            XmodemSetCrcReceive(sizeOrCrc == 1);
            XmodemStartRecv(c.c_str(), f.c_str());
        }
    };
    QObject::connect(send, &QPushButton::clicked, dlg, [=] { start(true, ymodem ? 1024 : 128); });
    QObject::connect(send1k, &QPushButton::clicked, dlg, [=] { start(true, 1024); });
    QObject::connect(recv, &QPushButton::clicked, dlg, [=] { start(false, 0); });
    QObject::connect(recvCrc, &QPushButton::clicked, dlg, [=] { start(false, 1); });
    QObject::connect(cancel, &QPushButton::clicked, dlg, [] { XmodemCancel(); });
    QObject::connect(close, &QPushButton::clicked, dlg, [dlg] {
        XmodemAbort();
        dlg->close();
    });

    // Progress follows the transfer thread's counters.
    auto* timer = new QTimer(dlg);
    QObject::connect(timer, &QTimer::timeout, dlg, [=] {
        XmodemProgress p = XmodemStatus();
        pktcnt->setText(QString::asprintf("Pktcnt: %05ld", p.packets));
        pkttot->setText(p.total >= 0 ? QString::asprintf("PktTot:  %05ld", p.total) : QString("PktTot:  -----"));
        state->setText(QString("State: ") + XmodemStateName(p.state));
        bar->setRange(0, p.total > 0 ? static_cast<int>(p.total) : 0);
        if (p.total > 0) bar->setValue(static_cast<int>(std::min(p.packets, p.total)));
        for (auto* b : {send, send1k, recv, recvCrc}) b->setEnabled(!p.running);
        cancel->setEnabled(p.running);
    });
    timer->start(200);
    ui().MenuEnable(CMD_XMODEM, false);
    ui().MenuEnable(CMD_XFER_FILE, false);
    QObject::connect(dlg, &QObject::destroyed, [] {
        ui().MenuEnable(CMD_XMODEM, true);
        ui().MenuEnable(CMD_XFER_FILE, true);
    });
    dlg->show();
}

void OpenXmodemDialog(QWidget* parent) { OpenTransferDialog(parent, false); }
void OpenYmodemDialog(QWidget* parent) { OpenTransferDialog(parent, true); }

}  // namespace

OXEL_DIALOG("XMODEM Transfer...", OpenXmodemDialog);
OXEL_DIALOG("YMODEM Transfer...", OpenYmodemDialog);
