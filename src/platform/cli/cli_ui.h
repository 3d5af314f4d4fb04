// The terminal face: target output to standard output, questions to standard
// error answered from OXEL_ANSWERS (else with their first button).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/ui.h"

// A terminal has no window: title, menus, trace pane and dialogs stay quiet.
class CliUi : public QuietUi {
public:
    CliUi();
    int MessageBox(unsigned style, const std::string& title, const std::string& text) override;
    std::optional<std::string> AskText(const std::string& title, const std::string& prompt,
                                       const std::string& initial) override;
    std::optional<std::string> ChooseFile(const UiFileRequest& req) override;
    int VirtualScreenWidth() override { return 1 << 20; }
    void ConsoleBytes(const char* data, size_t len) override;
    void SetClipboard(const std::string& text) override;
    std::optional<std::string> GetClipboard() override;
    bool OpenUrl(const std::string& urlOrPath) override;
    std::optional<std::string> AskQuestion(const UiQuestion& q) override;
    void Beep(int freqHz, int ms) override;
    void Quit(int status) override;

    // Blocks until Quit or until the time passes; the status once Quit came.
    std::optional<int> WaitForQuit(std::chrono::milliseconds timeout);

private:
    std::optional<std::string> NextAnswerWord();
    void WriteLine(const std::string& line);
    std::mutex mu_;
    std::condition_variable cv_;
    bool quit_ = false;
    int status_ = 0;
    std::deque<std::string> answers_;
    std::string clipboard_;
    bool haveClipboard_ = false;
};
