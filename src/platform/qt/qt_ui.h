// The desktop face. Calls from worker threads are posted to the GUI thread;
// questions block the calling thread until the user answers, never the window.
#pragma once

#include <QObject>
#include <functional>
#include <map>

#include "platform/ui.h"

class MainWindow;
class QWidget;

// Desktop dialogs register themselves by name; ShowDialog opens them.
using DialogFactory = std::function<void(QWidget* parent)>;
bool RegisterDialog(const char* name, DialogFactory factory);
#define OXEL_DIALOG(name, fn) static const bool oxelDialog_##fn = RegisterDialog(name, fn)
// Dialogs that can also be run and waited for (true: accepted).
using ModalDialogFn = std::function<bool(QWidget* parent)>;
bool RegisterModalDialog(const char* name, ModalDialogFn fn);
#define OXEL_MODAL_DIALOG(name, fn) static const bool oxelModal_##fn = RegisterModalDialog(name, fn)

// The DIALOG command's question window and the bitmap viewer.
std::optional<std::string> RunQuestion(QWidget* parent, const UiQuestion& q);
int ShowBitmapWindow(QWidget* parent, const UiBitmap& bitmap, bool replace);

class QtUi : public QObject, public Ui {
    Q_OBJECT
public:
    explicit QtUi(MainWindow* window);

    int MessageBox(unsigned style, const std::string& title, const std::string& text) override;
    std::optional<std::string> AskText(const std::string& title, const std::string& prompt,
                                       const std::string& initial) override;
    std::optional<std::string> ChooseFile(const UiFileRequest& req) override;
    void SetTitle(const std::string& title) override;
    void StatusRefresh() override;
    void MenuEnable(int commandId, bool enabled) override;
    void MenuCheck(int commandId, bool checked) override;
    void TraceText(const std::string& text) override;
    void TraceCaption(const std::string& caption) override;
    void Relayout() override;
    void SetWindowPos(int x, int y) override;
    int VirtualScreenWidth() override;
    void ConsoleBytes(const char* data, size_t len) override;
    void ConsoleInvalidate() override;
    void SetClipboard(const std::string& text) override;
    std::optional<std::string> GetClipboard() override;
    bool OpenUrl(const std::string& urlOrPath) override;
    bool ShowDialog(const std::string& name) override;
    int RunDialog(const std::string& name) override;
    std::optional<std::string> AskQuestion(const UiQuestion& q) override;
    void Beep(int freqHz, int ms) override;
    void SetWindowState(UiWindowState state) override;
    int ShowBitmap(const UiBitmap& bitmap, bool replace) override;
    void Quit(int status) override;

private:
    // Runs fn on the GUI thread: posted, or blocking when wait is true.
    void OnGui(std::function<void()> fn, bool wait);
    MainWindow* window_;
};
