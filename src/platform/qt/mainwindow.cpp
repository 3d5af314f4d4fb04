#include "platform/qt/mainwindow.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include "app/commands.h"
#include "config/configrecord.h"
#include "platform/qt/desktop.h"

MainWindow::MainWindow() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    console_ = new QWidget(central);
    console_->setMinimumSize(640, 400);
    console_->setAutoFillBackground(true);
    layout->addWidget(console_, 1);
    traceTabs_ = new QTabWidget(central);
    trace_ = new QPlainTextEdit(traceTabs_);
    trace_->setReadOnly(true);
    trace_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    traceTabs_->addTab(trace_, "SysTrace");
    traceTabs_->hide();
    layout->addWidget(traceTabs_);
    setCentralWidget(central);
    desktop_ = new DesktopFrame(this, layout, console_, traceTabs_);
}

void MainWindow::BuildMenus() { desktop_->BuildMenus(); }

void MainWindow::RefreshStatus() { desktop_->RefreshStatus(); }

void MainWindow::EnableCommand(int id, bool on) { desktop_->EnableCommand(id, on); }

void MainWindow::CheckCommand(int id, bool on) { desktop_->CheckCommand(id, on); }

void MainWindow::SetTraceText(const QString& text) {
    // Lines arrive as CR LF + text; the view wants plain line feeds.
    QString plain = text;
    plain.remove(QChar('\r'));
    if (plain.startsWith(QChar('\n'))) plain.remove(0, 1);
    trace_->setPlainText(plain);
    trace_->verticalScrollBar()->setValue(trace_->verticalScrollBar()->maximum());
}

void MainWindow::SetTraceCaption(const QString& caption) {
    QString shown = caption;
    shown.replace("&", "&&");   // "Telnet&Lcmd" is text, not a mnemonic
    traceTabs_->setTabText(0, shown);
}

void MainWindow::ApplyTracePane() {
    const int rows = std::max(1, static_cast<int>(g_cfg.TRACE_ROWS));
    const int margin = static_cast<int>(trace_->document()->documentMargin());
    trace_->setFixedHeight(rows * trace_->fontMetrics().lineSpacing() + 2 * (trace_->frameWidth() + margin));
    traceTabs_->setVisible(g_cfg.TRACE_VISIBLE != 0);
    trace_->verticalScrollBar()->setValue(trace_->verticalScrollBar()->maximum());
}

void MainWindow::Relayout() {
    ApplyTracePane();
    desktop_->Relayout();
}

void MainWindow::ConsoleChanged() {
    if (repaintPending_.exchange(true)) return;
    QMetaObject::invokeMethod(this, [this] {
        QTimer::singleShot(10, this, [this] {
            repaintPending_ = false;
            console_->update();
        });
    }, Qt::QueuedConnection);
}

void MainWindow::closeEvent(QCloseEvent* e) {
    e->accept();
    QApplication::exit(0);
}
