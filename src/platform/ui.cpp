#include "platform/ui.h"

#include <algorithm>
#include <atomic>
#include <cctype>

namespace {

// Answers everything with its first button and shows nothing: what the core
// sees before a face is installed (early start-up, unit tests that need none).
class SilentUi : public Ui {
public:
    int MessageBox(unsigned style, const std::string&, const std::string&) override {
        return UiDefaultAnswer(style);
    }
    std::optional<std::string> AskText(const std::string&, const std::string&,
                                       const std::string&) override { return std::nullopt; }
    std::optional<std::string> ChooseFile(const UiFileRequest&) override { return std::nullopt; }
    void SetTitle(const std::string&) override {}
    void StatusRefresh() override {}
    void MenuEnable(int, bool) override {}
    void MenuCheck(int, bool) override {}
    void TraceText(const std::string&) override {}
    void TraceCaption(const std::string&) override {}
    void Relayout() override {}
    void SetWindowPos(int, int) override {}
    int VirtualScreenWidth() override { return 1920; }
    void ConsoleBytes(const char*, size_t) override {}
    void ConsoleInvalidate() override {}
    void SetClipboard(const std::string&) override {}
    std::optional<std::string> GetClipboard() override { return std::nullopt; }
    bool OpenUrl(const std::string&) override { return false; }
    bool ShowDialog(const std::string&) override { return false; }
    void Quit(int) override {}
};

SilentUi g_silent;
std::atomic<Ui*> g_face{&g_silent};

}  // namespace

Ui& ui() { return *g_face.load(std::memory_order_acquire); }

void UiSet(Ui* face) { g_face.store(face ? face : &g_silent, std::memory_order_release); }

std::string UiBoxLine(const std::string& title, const std::string& text) {
    std::string line = "[" + title + "] ";
    for (char c : text) {
        if (c == '\r') line += "\\r";
        else if (c == '\n') line += "\\n";
        else line += c;
    }
    return line;
}

int UiAnswerFromWord(const std::string& word) {
    std::string w = word;
    std::transform(w.begin(), w.end(), w.begin(), [](unsigned char c) { return std::toupper(c); });
    static const struct { const char* name; int id; } words[] = {
        {"OK", IDOK}, {"CANCEL", IDCANCEL}, {"YES", IDYES}, {"NO", IDNO},
        {"RETRY", IDRETRY}, {"ABORT", IDABORT}, {"IGNORE", IDIGNORE},
    };
    for (const auto& e : words)
        if (w == e.name) return e.id;
    return 0;
}

int UiDefaultAnswer(unsigned style) {
    switch (style & MB_TYPEMASK) {
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNOCANCEL:
    case MB_YESNO: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    default: return IDOK;
    }
}
