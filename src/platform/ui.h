// The one seam between the core and a window system. The core never includes a
// toolkit header; it reaches the user only through the Ui installed with UiSet.
// Three faces implement it: the Qt desktop, the terminal/no-terminal cli, and
// the recording fake used by the tests.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Message box styles and answers keep the values users' scripts have always
// seen (the DIALOG command and remote requests report them as numbers).
enum UiBoxStyle : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_ABORTRETRYIGNORE = 0x2,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_TYPEMASK = 0xF,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_ICONMASK = 0xF0,
    MB_SYSTEMMODAL = 0x1000,
    MB_MODELESS = 0x2000,   // the main window stays usable while the box is open
};

enum UiAnswer : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDABORT = 3,
    IDRETRY = 4,
    IDIGNORE = 5,
    IDYES = 6,
    IDNO = 7,
};

// What a file chooser is for.
struct UiFileRequest {
    bool save = false;          // save dialog (else open)
    bool folder = false;        // choose a directory
    std::string title;
    std::string startDir;       // directory or file to start at
    std::string filter;         // e.g. "Oxel config files (*.ct)"
};

// A question of the DIALOG command that asks for text.
struct UiQuestion {
    enum Kind { Text, Hidden, List, File } kind = Text;
    std::string title;                  // the window's title
    std::string prompt;                 // the question
    std::string initial;                // preset answer
    std::vector<std::string> items;     // List: the entries to choose from
    int x = -1, y = -1, width = -1, height = -1;  // -1: the face decides
};

// A bitmap for the viewer window: rows top first, 3 bytes (R, G, B) or, for
// gray8, 1 byte per pixel.
struct UiBitmap {
    std::string title;
    int width = 0, height = 0;
    bool gray8 = false;
    std::vector<unsigned char> pixels;
    int x = -1, y = -1, viewWidth = -1, viewHeight = -1;
};

// The window-state changes a script can ask for.
enum class UiWindowState { Restore, Minimise, Raise };

// The first button of a style: what an unattended face answers.
int UiDefaultAnswer(unsigned style);

class Ui {
public:
    virtual ~Ui() = default;

    // Questions. May be called from any thread; the caller blocks until the
    // user answers. Returns one of UiAnswer.
    virtual int MessageBox(unsigned style, const std::string& title, const std::string& text) = 0;
    // A question that asks for a line of text; nullopt when cancelled.
    virtual std::optional<std::string> AskText(const std::string& title, const std::string& prompt,
                                               const std::string& initial) = 0;
    virtual std::optional<std::string> ChooseFile(const UiFileRequest& req) = 0;
    // The DIALOG command's text questions; nullopt when cancelled. A face
    // without its own dialogs asks through AskText.
    virtual std::optional<std::string> AskQuestion(const UiQuestion& q) {
        return AskText(q.title, q.prompt, q.initial);
    }

    // Fire-and-forget notifications; safe from any thread.
    virtual void SetTitle(const std::string& title) = 0;
    virtual void StatusRefresh() = 0;                       // re-read the status texts
    virtual void MenuEnable(int commandId, bool enabled) = 0;
    virtual void MenuCheck(int commandId, bool checked) = 0;
    virtual void TraceText(const std::string& text) = 0;    // whole trace pane text
    virtual void TraceCaption(const std::string& caption) = 0;
    virtual void Relayout() = 0;                            // bands or panes shown/hidden
    virtual void SetWindowPos(int x, int y) = 0;
    virtual int VirtualScreenWidth() = 0;

    // Console display: every byte handed to the emulator or the plain writer
    // (and console_printf text), unchanged; and "rows changed, repaint soon".
    virtual void ConsoleBytes(const char* data, size_t len) = 0;
    virtual void ConsoleInvalidate() = 0;

    virtual void SetClipboard(const std::string& text) = 0;
    virtual std::optional<std::string> GetClipboard() = 0;
    // Open a URL or file with the desktop's handler. Returns false on failure.
    virtual bool OpenUrl(const std::string& urlOrPath) = 0;

    // Desktop dialogs are opened by name; a face without the dialog returns false.
    virtual bool ShowDialog(const std::string& name) = 0;
    // A dialog the caller waits for: 1 accepted, 0 cancelled, -1 when this
    // face has no such dialog (a terminal goes on without it).
    virtual int RunDialog(const std::string& name) { return -1; }

    // A tone of freqHz for ms (the call may return before it ends).
    virtual void Beep(int freqHz, int ms) {}
    virtual void SetWindowState(UiWindowState state) {}
    // Shows a bitmap in a viewer window titled bitmap.title (replace: in the
    // open viewer of that title). 1 shown, 0 when the face has no viewer, -1
    // when replace names no open viewer.
    virtual int ShowBitmap(const UiBitmap& bitmap, bool replace) { return 0; }

    // End the front end's loop; the program then exits with this status.
    virtual void Quit(int status) = 0;
};

// Answers every question with its first button and shows nothing: what the
// core sees before a face is installed, and a base for faces (benchmarks,
// tools) that care about only a few of the calls.
class QuietUi : public Ui {
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

// The installed face. Never null after UiSet; before it, a silent default.
Ui& ui();
void UiSet(Ui* face);

// Convenience: "[TITLE] TEXT" with CR and LF escaped, as the cli writes boxes.
std::string UiBoxLine(const std::string& title, const std::string& text);
// Parse an answer word (OK, CANCEL, YES, NO, RETRY, ABORT, IGNORE); 0 if none.
int UiAnswerFromWord(const std::string& word);
