// The desktop's part of the main window: menus built from the command table,
// the tool bar, the function-key and button bands, the five status fields,
// the window size from the configuration and the whole-cell layout.
#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <array>
#include <map>

class QAction;
class QLabel;
class QMainWindow;
class QToolBar;
class QVBoxLayout;
class QWidget;
class Band;
class StatusFields;

class DesktopFrame : public QObject {
    Q_OBJECT
public:
    // Adds the bands above the console in the central layout and the status
    // fields to the window's status bar.
    DesktopFrame(QMainWindow* window, QVBoxLayout* central, QWidget* console, QWidget* tracePane);

    void BuildMenus();
    void RefreshStatus();
    void EnableCommand(int id, bool on);
    void CheckCommand(int id, bool on);
    // Visibility of the parts, header texts, and the window size.
    void Relayout();
    // Size of one console cell in pixels.
    QSize CellSize() const;
    // The console's text area (without its scroll bar and frame).
    QSize TextArea() const;
    Band* FkeyBand() const { return fkeyBand_; }
    Band* ButtonBand() const { return buttonBand_; }
    QToolBar* ToolBar() const { return toolBar_; }
    QWidget* Console() const { return console_; }
    StatusFields* Status() const { return status_; }
    QAction* MenuAction(int id) const {
        auto it = menuActions_.find(id);
        return it == menuActions_.end() ? nullptr : it->second;
    }
    // Runs a command as the menus do ("not available" in the status bar).
    void Run(int id);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void BuildToolBar();
    void ApplyConfigSize();
    void SizeFromConfig(bool final);
    bool LayoutSettled() const;
    void FitWholeCells();
    void RefreshToolTips();

    QMainWindow* window_;
    QWidget* console_;
    QWidget* trace_;
    QWidget* viewport_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    Band* fkeyBand_ = nullptr;
    Band* buttonBand_ = nullptr;
    StatusFields* status_ = nullptr;
    std::map<int, QAction*> menuActions_, toolActions_;
    std::map<int, bool> checked_, enabled_;
    int appliedRows_ = -1, appliedCols_ = -1;
    int fitGuard_ = 0;
    bool fitPending_ = false;
    bool sizePending_ = false;
    int sizeTries_ = 0;
};
