#include "fake_ui.h"

FakeUi::FakeUi() { UiSet(this); }
FakeUi::~FakeUi() { UiSet(nullptr); }

void FakeUi::Answer(int id) { std::lock_guard l(mu_); answers_.push_back(id); }
void FakeUi::AnswerTitle(const std::string& t, int id) { std::lock_guard l(mu_); titled_.push_back({t, id}); }
void FakeUi::AnswerText(std::optional<std::string> t) { std::lock_guard l(mu_); texts_.push_back(std::move(t)); }
void FakeUi::AnswerFile(std::optional<std::string> p) { std::lock_guard l(mu_); files_.push_back(std::move(p)); }

std::vector<FakeBox> FakeUi::Boxes() { std::lock_guard l(mu_); return boxes_; }
std::string FakeUi::Console() { std::lock_guard l(mu_); return console_; }
std::string FakeUi::Title() { std::lock_guard l(mu_); return title_; }
std::string FakeUi::TraceTextNow() { std::lock_guard l(mu_); return trace_; }
std::string FakeUi::Caption() { std::lock_guard l(mu_); return caption_; }
std::string FakeUi::Clipboard() { std::lock_guard l(mu_); return clipboard_.value_or(""); }
std::vector<std::string> FakeUi::Urls() { std::lock_guard l(mu_); return urls_; }
std::vector<std::string> FakeUi::Dialogs() { std::lock_guard l(mu_); return dialogs_; }
int FakeUi::StatusRefreshes() { std::lock_guard l(mu_); return statusRefreshes_; }

void FakeUi::Reset() {
    std::lock_guard l(mu_);
    answers_.clear(); titled_.clear(); texts_.clear(); files_.clear(); boxes_.clear();
    console_.clear(); title_.clear(); trace_.clear(); caption_.clear();
    clipboard_.reset(); urls_.clear(); dialogs_.clear(); statusRefreshes_ = 0;
    menuEnabled.clear(); menuChecked.clear();
    questions_.clear(); beeps_.clear(); windowStates_.clear(); bitmaps_.clear();
}

void FakeUi::ClearRecorded() {
    std::lock_guard l(mu_);
    boxes_.clear(); console_.clear(); questions_.clear(); beeps_.clear(); windowStates_.clear();
}

// Questions are recorded and answered from the same queue as AskText.
std::optional<std::string> FakeUi::AskQuestion(const UiQuestion& q) {
    std::lock_guard l(mu_);
    questions_.push_back(q);
    boxes_.push_back({MB_OKCANCEL, q.title, q.prompt});
    if (texts_.empty()) return std::nullopt;
    auto t = texts_.front();
    texts_.pop_front();
    return t;
}
void FakeUi::Beep(int freqHz, int ms) { std::lock_guard l(mu_); beeps_.push_back({freqHz, ms}); }
void FakeUi::SetWindowState(UiWindowState state) { std::lock_guard l(mu_); windowStates_.push_back(state); }
int FakeUi::ShowBitmap(const UiBitmap& bitmap, bool replace) {
    std::lock_guard l(mu_);
    bool open = false;
    for (const auto& b : bitmaps_) open |= b.title == bitmap.title;
    if (replace && !open) return -1;
    bitmaps_.push_back(bitmap);
    return 1;
}
std::vector<UiQuestion> FakeUi::Questions() { std::lock_guard l(mu_); return questions_; }
std::vector<std::pair<int, int>> FakeUi::Beeps() { std::lock_guard l(mu_); return beeps_; }
std::vector<UiWindowState> FakeUi::WindowStates() { std::lock_guard l(mu_); return windowStates_; }
std::vector<UiBitmap> FakeUi::Bitmaps() { std::lock_guard l(mu_); return bitmaps_; }

int FakeUi::MessageBox(unsigned style, const std::string& title, const std::string& text) {
    std::lock_guard l(mu_);
    boxes_.push_back({style, title, text});
    for (auto it = titled_.begin(); it != titled_.end(); ++it)
        if (it->first == title) {
            int a = it->second;
            titled_.erase(it);
            return a;
        }
    if (answers_.empty()) return UiDefaultAnswer(style);
    int a = answers_.front();
    answers_.pop_front();
    return a;
}

std::optional<std::string> FakeUi::AskText(const std::string& title, const std::string& prompt,
                                           const std::string&) {
    std::lock_guard l(mu_);
    boxes_.push_back({MB_OKCANCEL, title, prompt});
    if (texts_.empty()) return std::nullopt;
    auto t = texts_.front();
    texts_.pop_front();
    return t;
}

std::optional<std::string> FakeUi::ChooseFile(const UiFileRequest&) {
    std::lock_guard l(mu_);
    if (files_.empty()) return std::nullopt;
    auto f = files_.front();
    files_.pop_front();
    return f;
}

void FakeUi::SetTitle(const std::string& t) { std::lock_guard l(mu_); title_ = t; }
void FakeUi::StatusRefresh() { std::lock_guard l(mu_); ++statusRefreshes_; }
void FakeUi::MenuEnable(int id, bool on) { std::lock_guard l(mu_); menuEnabled.push_back({id, on}); }
void FakeUi::MenuCheck(int id, bool on) { std::lock_guard l(mu_); menuChecked.push_back({id, on}); }
void FakeUi::TraceText(const std::string& t) { std::lock_guard l(mu_); trace_ = t; }
void FakeUi::TraceCaption(const std::string& c) { std::lock_guard l(mu_); caption_ = c; }
void FakeUi::Relayout() {}
void FakeUi::SetWindowPos(int x, int y) { std::lock_guard l(mu_); posX = x; posY = y; }
int FakeUi::VirtualScreenWidth() { return screenWidth; }
void FakeUi::ConsoleBytes(const char* d, size_t n) { std::lock_guard l(mu_); console_.append(d, n); }
void FakeUi::ConsoleInvalidate() {}
void FakeUi::SetClipboard(const std::string& t) { std::lock_guard l(mu_); clipboard_ = t; }
std::optional<std::string> FakeUi::GetClipboard() { std::lock_guard l(mu_); return clipboard_; }
bool FakeUi::OpenUrl(const std::string& u) { std::lock_guard l(mu_); urls_.push_back(u); return true; }
bool FakeUi::ShowDialog(const std::string& n) { std::lock_guard l(mu_); dialogs_.push_back(n); return true; }
int FakeUi::RunDialog(const std::string& n) {
    std::lock_guard l(mu_);
    dialogs_.push_back("run:" + n);
    return runDialogAnswer;
}
void FakeUi::Quit(int s) { std::lock_guard l(mu_); quitStatus = s; }
