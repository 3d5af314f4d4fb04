#include "platform/qt/mainwindow.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QVBoxLayout>

#include "util/commands.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "console/vt100.h"
#include "platform/qt/consoleview.h"
#include "platform/qt/desktop.h"
#include "platform/qt/tftppane.h"

MainWindow::MainWindow() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    console_ = new ConsoleView(central);
    console_->setMinimumSize(console_->CellsSize(4, 20));
    layout->addWidget(console_, 1);
    traceTabs_ = new QTabWidget(central);
    trace_ = new QPlainTextEdit(traceTabs_);
    trace_->setReadOnly(true);
    trace_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    traceTabs_->addTab(trace_, "SysTrace");
    AttachTftpPane(traceTabs_);
    traceTabs_->hide();
    layout->addWidget(traceTabs_);
    setCentralWidget(central);
    desktop_ = new DesktopFrame(this, layout, console_, traceTabs_);
    console_->setFocus();
}

void MainWindow::BuildMenus() {
    if (!ConsoleReady()) ConsoleInit(1200, 250);
    desktop_->BuildMenus();
    Relayout();
}

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
    // Start-up asks for a layout (the trace pane) before the configuration
    // defaults and the console exist.
    if (!ConsoleReady()) return;
    ConsoleApplyConfig();
    console_->ApplyFont();
    console_->setMinimumSize(console_->CellsSize(4, 20));
    console_->updateGeometry();
    // The window's size, size steps and whole-cell layout.
    desktop_->Relayout();
}

void MainWindow::ConsoleChanged() { console_->Changed(); }

void MainWindow::closeEvent(QCloseEvent* e) {
    e->accept();
    QApplication::exit(0);
}

void MainWindow::changeEvent(QEvent* e) {
    if (e->type() == QEvent::WindowStateChange) ConsoleSetMinimised(isMinimized());
    QMainWindow::changeEvent(e);
}

void MainWindow::keyPressEvent(QKeyEvent* e) {
    console_->setFocus();
    QApplication::sendEvent(console_, e);
}
