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

#include "app/commands.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "console/vt100.h"
#include "platform/qt/consoleview.h"

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
    traceTabs_->hide();
    layout->addWidget(traceTabs_);
    setCentralWidget(central);
    status_ = new QLabel(this);
    statusBar()->addWidget(status_, 1);
    console_->setFocus();
}

void MainWindow::BuildMenus() {
    menuBar()->clear();
    actions_.clear();
    std::map<QString, QMenu*> menus;
    auto menuFor = [&](const QString& path) {
        QMenu* parent = nullptr;
        QString sofar;
        for (const QString& part : path.split('/')) {
            sofar += "/" + part;
            auto it = menus.find(sofar);
            if (it == menus.end()) {
                QMenu* m = parent ? parent->addMenu(part) : menuBar()->addMenu(part);
                if (!parent) {
                    // While a menu is open the emulator passes bytes through raw.
                    connect(m, &QMenu::aboutToShow, this, [] { Vt100SetMenuOpen(true); });
                    connect(m, &QMenu::aboutToHide, this, [] { Vt100SetMenuOpen(false); });
                }
                it = menus.emplace(sofar, m).first;
            }
            parent = it->second;
        }
        return parent;
    };
    for (const CommandEntry& e : CommandTable()) {
        if (e.text.empty() || e.menu.empty()) continue;
        QAction* a = menuFor(QString::fromStdString(e.menu))->addAction(QString::fromStdString(e.text));
        a->setCheckable(e.checkable);
        const int id = e.id;
        connect(a, &QAction::triggered, this, [this, id] {
            if (!CommandDispatch(id)) statusBar()->showMessage(kNotAvailable, 5000);
        });
        actions_[id] = a;
    }
    QAction* exit = menuFor("&File")->addAction("E&xit");
    connect(exit, &QAction::triggered, this, &QWidget::close);
    if (!ConsoleReady()) ConsoleInit(1200, 250);
    Relayout();
}

void MainWindow::RefreshStatus() {}

void MainWindow::EnableCommand(int id, bool on) {
    auto it = actions_.find(id);
    if (it != actions_.end()) it->second->setEnabled(on);
}

void MainWindow::CheckCommand(int id, bool on) {
    auto it = actions_.find(id);
    if (it != actions_.end()) {
        it->second->setCheckable(true);
        it->second->setChecked(on);
    }
}

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
    ConsoleApplyConfig();
    console_->ApplyFont();
    console_->setMinimumSize(console_->CellsSize(4, 20));
    console_->updateGeometry();
    // Dragging the frame moves in whole character cells.
    setSizeIncrement(console_->CharWidth(), console_->CharHeight());
    adjustSize();
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
