#include "platform/qt/mainwindow.h"

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
#include <QTimer>
#include <QVBoxLayout>

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
    status_ = new QLabel(this);
    statusBar()->addWidget(status_, 1);
    BuildMenus();
}

void MainWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    QAction* exit = file->addAction("E&xit");
    connect(exit, &QAction::triggered, this, &QWidget::close);
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
    trace_->setPlainText(text);
    trace_->verticalScrollBar()->setValue(trace_->verticalScrollBar()->maximum());
}

void MainWindow::SetTraceCaption(const QString& caption) { traceTabs_->setTabText(0, caption); }

void MainWindow::Relayout() {}

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
