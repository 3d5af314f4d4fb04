#include "platform/cli/cli_ui.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

CliUi::CliUi() {
    if (const char* a = std::getenv("OXEL_ANSWERS")) {
        std::stringstream ss(a);
        std::string word;
        while (std::getline(ss, word, ',')) answers_.push_back(word);
    }
}

std::optional<std::string> CliUi::NextAnswerWord() {
    std::lock_guard l(mu_);
    if (answers_.empty()) return std::nullopt;
    std::string w = answers_.front();
    answers_.pop_front();
    return w;
}

namespace {

// An answer counts only when the box has that button.
bool HasButton(unsigned style, int id) {
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL: return id == IDOK || id == IDCANCEL;
    case MB_ABORTRETRYIGNORE: return id == IDABORT || id == IDRETRY || id == IDIGNORE;
    case MB_YESNOCANCEL: return id == IDYES || id == IDNO || id == IDCANCEL;
    case MB_YESNO: return id == IDYES || id == IDNO;
    case MB_RETRYCANCEL: return id == IDRETRY || id == IDCANCEL;
    default: return id == IDOK;
    }
}

}  // namespace

void CliUi::WriteLine(const std::string& line) {
    std::lock_guard l(mu_);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

int CliUi::MessageBox(unsigned style, const std::string& title, const std::string& text) {
    WriteLine(UiBoxLine(title, text) + "\n");
    auto word = NextAnswerWord();
    int id = word ? UiAnswerFromWord(*word) : 0;
    return HasButton(style, id) ? id : UiDefaultAnswer(style);
}

std::optional<std::string> CliUi::AskText(const std::string& title, const std::string& prompt,
                                          const std::string&) {
    WriteLine(UiBoxLine(title, prompt) + "\n");
    auto word = NextAnswerWord();
    if (!word || UiAnswerFromWord(*word) == IDCANCEL) return std::nullopt;
    return word;
}

std::optional<std::string> CliUi::ChooseFile(const UiFileRequest& req) {
    return AskText(req.title.empty() ? "File" : req.title, req.startDir, req.startDir);
}

void CliUi::ConsoleBytes(const char* data, size_t len) {
    // Unbuffered so a pipe or terminal shows the target as it speaks.
    while (len > 0) {
        ssize_t n = write(STDOUT_FILENO, data, len);
        if (n <= 0) return;
        data += n;
        len -= static_cast<size_t>(n);
    }
}

void CliUi::SetClipboard(const std::string& text) {
    std::lock_guard l(mu_);
    clipboard_ = text;
    haveClipboard_ = true;
}

std::optional<std::string> CliUi::GetClipboard() {
    std::lock_guard l(mu_);
    if (!haveClipboard_) return std::nullopt;
    return clipboard_;
}

bool CliUi::OpenUrl(const std::string& urlOrPath) {
    WriteLine("[open] " + urlOrPath + "\n");
    return true;
}

// A list question names its entries, so an answer list can pick one.
std::optional<std::string> CliUi::AskQuestion(const UiQuestion& q) {
    std::string prompt = q.prompt;
    if (q.kind == UiQuestion::List) {
        prompt += " (";
        for (size_t i = 0; i < q.items.size(); i++) prompt += (i ? "|" : "") + q.items[i];
        prompt += ")";
    }
    return AskText(q.title, prompt, q.initial);
}

// The terminal's bell: a terminal has no tone generator of its own.
void CliUi::Beep(int, int) {
    if (write(STDERR_FILENO, "\a", 1) < 0) {}
}

void CliUi::Quit(int status) {
    std::lock_guard l(mu_);
    if (!quit_) status_ = status;
    quit_ = true;
    cv_.notify_all();
}

std::optional<int> CliUi::WaitForQuit(std::chrono::milliseconds timeout) {
    std::unique_lock l(mu_);
    if (!cv_.wait_for(l, timeout, [this] { return quit_; })) return std::nullopt;
    return status_;
}
