// "Raw File Transfer...", "Send text..." and "Transfer ASCII Coded Hex as
// Binary...": bytes to the target without a protocol.
#include <QCheckBox>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "config/configrecord.h"
#include "platform/qt/qt_ui.h"
#include "platform/ui.h"
#include "util/cmdids.h"
#include "xfer/filexfer.h"

namespace {

// Greys menu items while the dialog lives.
void GreyWhileOpen(QDialog* dlg, std::initializer_list<int> ids) {
    std::vector<int> list(ids);
    for (int id : list) ui().MenuEnable(id, false);
    QObject::connect(dlg, &QObject::destroyed, [list] {
        for (int id : list) ui().MenuEnable(id, true);
    });
}

void OpenRawDialog(QWidget* parent) {
    auto* dlg = new QDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle("Raw File Transfer...");
    auto* file = new QLineEdit(QString::fromUtf8(g_cfg.XMODEM_FILE), dlg);
    auto* browse = new QPushButton("Browse", dlg);
    auto* count = new QLabel("ByteCnt:  0", dlg);
    auto* total = new QLabel("ByteTot:      0", dlg);
    auto* dbc = new QCheckBox("DBC:", dlg);
    dbc->setChecked(FileXferDelay());
    auto* send = new QPushButton("Send", dlg);
    auto* cancel = new QPushButton("Cancel", dlg);
    auto* close = new QPushButton("Close", dlg);
    auto* grid = new QGridLayout(dlg);
    grid->addWidget(new QLabel("File:", dlg), 0, 0);
    grid->addWidget(file, 0, 1);
    grid->addWidget(browse, 0, 2);
    grid->addWidget(count, 1, 1);
    grid->addWidget(total, 2, 1);
    grid->addWidget(dbc, 3, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(send);
    buttons->addWidget(cancel);
    buttons->addWidget(close);
    grid->addLayout(buttons, 4, 0, 1, 3);
    QObject::connect(browse, &QPushButton::clicked, dlg, [dlg, file] {
        QString name = QFileDialog::getOpenFileName(dlg, "File:", file->text());
        if (!name.isEmpty()) file->setText(name);
    });
    QObject::connect(send, &QPushButton::clicked, dlg, [file, dbc] {
        FileXferSetDelay(dbc->isChecked());
        FileXferStart(file->text().toStdString().c_str());
    });
    QObject::connect(cancel, &QPushButton::clicked, dlg, [] { FileXferCancel(); });
    QObject::connect(close, &QPushButton::clicked, dlg, [dlg] {
        FileXferCancel();
        dlg->close();
    });
    auto* timer = new QTimer(dlg);
    QObject::connect(timer, &QTimer::timeout, dlg, [=] {
        FileXferProgress p = FileXferStatus();
        count->setText(QString::asprintf("ByteCnt:  %ld", p.bytes));
        total->setText(QString::asprintf("ByteTot:  %5ld", p.total));
        send->setEnabled(!p.running);
        cancel->setEnabled(p.running);
    });
    timer->start(200);
    GreyWhileOpen(dlg, {CMD_XMODEM, CMD_XFER_FILE});
    dlg->show();
}

// "Track": the dialog keeps its place relative to the main window when that moves.
class TrackMoves : public QObject {
public:
    TrackMoves(QDialog* dlg, QWidget* main, QCheckBox* on) : QObject(dlg), dlg_(dlg), on_(on), last_(main->pos()) {}
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Move) {
            QPoint now = static_cast<QWidget*>(watched)->pos();
            if (on_->isChecked()) dlg_->move(dlg_->pos() + (now - last_));
            last_ = now;
        }
        return false;
    }

private:
    QDialog* dlg_;
    QCheckBox* on_;
    QPoint last_;
};

void OpenTextDialog(QWidget* parent) {
    auto* dlg = new QDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle("Send text...");
    auto* text = new QLineEdit(dlg);
    text->setMaxLength(256);
    auto* cr = new QCheckBox("CR", dlg);
    auto* lf = new QCheckBox("LF", dlg);
    auto* clr = new QCheckBox("Clr", dlg);
    auto* track = new QCheckBox("Track", dlg);
    auto* send = new QPushButton("Send", dlg);
    send->setDefault(true);
    auto* status = new QLabel(dlg);
    auto* grid = new QGridLayout(dlg);
    grid->addWidget(new QLabel("Text:", dlg), 0, 0);
    grid->addWidget(text, 0, 1, 1, 4);
    grid->addWidget(cr, 1, 1);
    grid->addWidget(lf, 1, 2);
    grid->addWidget(clr, 1, 3);
    grid->addWidget(track, 1, 4);
    grid->addWidget(send, 2, 4);
    grid->addWidget(status, 2, 0, 1, 4);
    auto running = std::make_shared<long>(0);
    auto go = [=] {
        int n = SendText(text->text().toStdString(), cr->isChecked(), lf->isChecked());
        if (n < 0) {
            status->setText("SendText failed");
            return;
        }
        *running += n;
        status->setText(QString::asprintf("Sent: %d bytes (%ld)", n, *running));
        if (clr->isChecked()) text->clear();
    };
    QObject::connect(send, &QPushButton::clicked, dlg, go);
    QObject::connect(text, &QLineEdit::returnPressed, dlg, go);
    if (parent) parent->installEventFilter(new TrackMoves(dlg, parent, track));
    dlg->show();
}

void OpenHexDialog(QWidget* parent) {
    auto* dlg = new QDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle("Transfer ASCII Coded Hex as Binary...");
    auto* hex = new QLineEdit(dlg);
    hex->setMaxLength(255);
    auto* send = new QPushButton("Send Binary", dlg);
    auto* close = new QPushButton("Close", dlg);
    auto* grid = new QGridLayout(dlg);
    grid->addWidget(new QLabel("ASCII Coded Hex:", dlg), 0, 0);
    grid->addWidget(hex, 0, 1, 1, 2);
    grid->addWidget(send, 1, 1);
    grid->addWidget(close, 1, 2);
    QObject::connect(send, &QPushButton::clicked, dlg, [hex] { SendHexText(hex->text().toStdString()); });
    QObject::connect(close, &QPushButton::clicked, dlg, &QDialog::close);
    GreyWhileOpen(dlg, {CMD_XFER_BINARY});
    dlg->show();
}

}  // namespace

OXEL_DIALOG("Raw File Transfer...", OpenRawDialog);
OXEL_DIALOG("Send text...", OpenTextDialog);
OXEL_DIALOG("Transfer ASCII Coded Hex as Binary...", OpenHexDialog);
