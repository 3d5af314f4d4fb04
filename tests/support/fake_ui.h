// A Ui that records every call and answers questions from a queue, so tests
// can see what a user would have seen.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui.h"

struct FakeBox {
    unsigned style;
    std::string title;
    std::string text;
};

class FakeUi : public Ui {
public:
    // Installs itself on construction and restores the silent face on destruction.
    FakeUi();
    ~FakeUi() override;

    // Queue answers for the next questions; an empty queue answers the first button.
    void Answer(int id);
    // Answers only questions with this title (before the general queue), so a
    // test is not thrown off by unrelated boxes from other modules.
    void AnswerTitle(const std::string& title, int id);
    void AnswerText(std::optional<std::string> text);
    void AnswerFile(std::optional<std::string> path);

    std::vector<FakeBox> Boxes();
    std::string Console();              // every byte handed to the display
    std::string Title();
    std::string TraceTextNow();
    std::string Caption();
    std::string Clipboard();
    std::vector<std::string> Urls();
    std::vector<std::string> Dialogs();
    int StatusRefreshes();
    void Reset();
    // Forgets what was shown but keeps the queued answers (and the open
    // bitmap viewers).
    void ClearRecorded();

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
    std::vector<UiQuestion> Questions();
    std::vector<std::pair<int, int>> Beeps();
    std::vector<UiWindowState> WindowStates();
    std::vector<UiBitmap> Bitmaps();
    int runDialogAnswer = -1;            // what RunDialog answers (-1: no such dialog)
    void Quit(int status) override;
    int quitStatus = -1;

    int screenWidth = 1920;
    int posX = -1, posY = -1;
    std::vector<std::pair<int, bool>> menuEnabled, menuChecked;

private:
    std::mutex mu_;
    std::deque<int> answers_;
    std::deque<std::pair<std::string, int>> titled_;
    std::deque<std::optional<std::string>> texts_, files_;
    std::vector<FakeBox> boxes_;
    std::string console_, title_, trace_, caption_;
    std::optional<std::string> clipboard_;
    std::vector<std::string> urls_, dialogs_;
    int statusRefreshes_ = 0;
    std::vector<UiQuestion> questions_;
    std::vector<std::pair<int, int>> beeps_;
    std::vector<UiWindowState> windowStates_;
    std::vector<UiBitmap> bitmaps_;
};
