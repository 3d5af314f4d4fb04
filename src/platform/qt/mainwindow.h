// The main window: bands, console, SysTrace pane and status bar.
#pragma once

#include <QMainWindow>
#include <QString>
#include <map>

class QAction;
class QPlainTextEdit;
class QTabWidget;
class QLabel;
class ConsoleView;
class DesktopFrame;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow();

    void RefreshStatus();
    void EnableCommand(int id, bool on);
    void CheckCommand(int id, bool on);
    void SetTraceText(const QString& text);
    void SetTraceCaption(const QString& caption);
    // Shows or hides the SysTrace pane (TRACE_VISIBLE), TRACE_ROWS rows high.
    void ApplyTracePane();
    // Re-reads the console font and re-lays the window out.
    Q_INVOKABLE void Relayout();
    // Any thread: the console changed; repaint soon (coalesced).
    void ConsoleChanged();
    // Builds the menus from the command table (after start-up registered them).
    void BuildMenus();
    ConsoleView* Console() const { return console_; }
    DesktopFrame* Desktop() const { return desktop_; }

protected:
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    // Keys that reach the main window belong to the console.
    void keyPressEvent(QKeyEvent* e) override;

private:
    ConsoleView* console_;
    QTabWidget* traceTabs_;
    QPlainTextEdit* trace_;
    DesktopFrame* desktop_;
};
