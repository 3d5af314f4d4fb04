#include "platform/ui.h"

#include <algorithm>
#include <atomic>
#include <cctype>

namespace {

QuietUi g_silent;
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
