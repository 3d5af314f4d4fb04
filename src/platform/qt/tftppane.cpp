#include "platform/qt/tftppane.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

#include "servers/tab_tftp.h"
#include "servers/tftpsrvr.h"

void AttachTftpPane(QTabWidget* tabs) {
    auto* pane = new QPlainTextEdit(tabs);
    pane->setReadOnly(true);
    pane->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    pane->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    pane->hide();
    // The server runs on its own thread; the pane follows it at a relaxed pace.
    auto* timer = new QTimer(tabs);
    QObject::connect(timer, &QTimer::timeout, tabs, [tabs, pane] {
        int at = tabs->indexOf(pane);
        bool running = TftpSrvrRunning();
        if (running && at < 0) tabs->addTab(pane, "TFTP");
        if (!running && at >= 0) tabs->removeTab(at);
        if (!running) return;
        QString text = QString::fromUtf8(TftpPaneText()).replace("\r\n", "\n");
        if (text == pane->toPlainText()) return;
        pane->setPlainText(text);
        pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
    });
    timer->start(500);
}
