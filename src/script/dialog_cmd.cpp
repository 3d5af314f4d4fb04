#include "script/dialog_cmd.h"

#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

#include "console/screenbuf.h"
#include "platform/report.h"
#include "util/utils.h"
#include "platform/ui.h"
#include "util/cmdline.h"
#include "script/scripting.h"
#include "config/shellvar.h"

#define OXEL_MODULE "dialog_cmd"

namespace {

constexpr size_t kQuestionMax = 511;
constexpr size_t kAnswerMax = 127;
constexpr size_t kTitleMax = 127;
constexpr size_t kVarMax = 126;
constexpr size_t kListMax = 24;
constexpr int kEmptyAnswerTries = 3;

// The message-box types: their style and the words of their buttons.
const struct {
    const char* type;
    unsigned style;
} kBoxes[] = {
    {"OK", MB_OK},
    {"OK_CANCEL", MB_OKCANCEL},
    {"RETRY_CANCEL", MB_RETRYCANCEL},
    {"YES_NO", MB_YESNO},
    {"YES_NO_CANCEL", MB_YESNOCANCEL},
    {"ABORT_RETRY_IGNORE", MB_ABORTRETRYIGNORE},
};

// The question types: their kind, window title and error-box title.
const struct {
    const char* type;
    UiQuestion::Kind kind;
    const char* title;
    const char* errorTitle;
} kQuestions[] = {
    {"Q_AND_A", UiQuestion::Text, "Oxel Q & A dialog...", "Q_AND_A Error:"},
    {"PQ_AND_A", UiQuestion::Hidden, "Oxel Private Q & A dialog...", "PQ_AND_A Error:"},
    {"DDLIST", UiQuestion::List, "Oxel DropDown dialog...", "DDLIST Error:"},
    {"GET_FILE", UiQuestion::File, "Oxel GetFile dialog...", "GET_FILE Error:"},
};

const char* AnswerWord(int id) {
    switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "CANCEL";
    case IDABORT: return "ABORT";
    case IDRETRY: return "RETRY";
    case IDIGNORE: return "IGNORE";
    case IDYES: return "YES";
    case IDNO: return "NO";
    default: return "CANCEL";
    }
}

struct DialogArgs {
    std::string var = "DIALOG";
    std::string title;
    bool titled = false, modeless = false;
    int x = -1, y = -1, w = -1, h = -1;
};

int ParseOptions(int argc, char** argv, DialogArgs& a) {
    for (int c; (c = script_getopt(argc, argv, "h:mr:t:w:x:y:")) != -1;) {
        if (c == 'm') {
            a.modeless = true;
        } else if (c == 'r') {
            if (std::strlen(script_optarg) > kVarMax || !*script_optarg) return -2;
            a.var = script_optarg;
        } else if (c == 't') {
            if (std::strlen(script_optarg) > kTitleMax) {
                OxelMessageBox("ERROR", "Title text too long");
                return -1;
            }
            a.title = script_optarg;
            a.titled = true;
        } else if (c == 'h' || c == 'w' || c == 'x' || c == 'y') {
            auto v = ParseSigned(script_optarg);
            if (!v || *v < 0) return -2;
            (c == 'h' ? a.h : c == 'w' ? a.w : c == 'x' ? a.x : a.y) = *v;
        } else {
            return -2;
        }
    }
    return 0;
}

// Asks until a non-empty answer comes (a face that keeps answering nothing
// gives up after a few tries rather than asking for ever).
std::optional<std::string> Ask(const UiQuestion& q, bool needAnswer) {
    for (int i = 0; i < kEmptyAnswerTries; i++) {
        auto answer = ui().AskQuestion(q);
        if (!answer || !answer->empty() || !needAnswer) return answer;
        OxelMessageBox("QandA", "Must specify answer");
    }
    return std::nullopt;
}

int cmd_dialog(int argc, char** argv) {
    DialogArgs a;
    if (int rc = ParseOptions(argc, argv, a); rc != 0) return rc;
    int n = argc - script_optind;
    if (n < 2) return -3;
    const char* type = argv[script_optind];
    std::string question = ExpandEscapes(std::string(argv[script_optind + 1]));
    if (question.size() > kQuestionMax) {
        OxelMessageBox("ERROR", "Question text too long");
        return -1;
    }
    const char* answer = n >= 3 ? argv[script_optind + 2] : "";
    for (const auto& b : kBoxes) {
        if (strcasecmp(type, b.type) != 0) continue;
        shell_setenv(a.var.c_str(), "-?-");
        unsigned style = b.style | (a.modeless ? static_cast<unsigned>(MB_MODELESS) : 0u);
        int id = ui().MessageBox(style, a.titled ? a.title : "DIALOG", question);
        shell_setenv(a.var.c_str(), AnswerWord(id));
        return 0;
    }
    for (const auto& k : kQuestions) {
        if (strcasecmp(type, k.type) != 0) continue;
        if (a.modeless) {
            OxelMessageBox(k.errorTitle, "Modeless option invalid for this dialog.\n");
            return -1;
        }
        UiQuestion q;
        q.kind = k.kind;
        q.title = a.titled ? a.title : k.title;
        q.prompt = question;
        q.x = a.x, q.y = a.y, q.width = a.w, q.height = a.h;
        if (k.kind == UiQuestion::List) {
            for (int i = script_optind + 2; i < argc; i++) q.items.push_back(argv[i]);
            if (q.items.size() > kListMax) {
                script_error("Too many args.\n");
                return -3;
            }
        } else if (n > 3) {
            return -3;
        } else if (std::strlen(answer) > kAnswerMax) {
            OxelMessageBox("ERROR", "Answer text too long");
            return -1;
        } else {
            q.initial = answer;
        }
        shell_setenv(a.var.c_str(), "-?-");
        auto reply = Ask(q, k.kind == UiQuestion::Text || k.kind == UiQuestion::Hidden);
        if (!reply) {
            shell_unsetenv(a.var.c_str());
            script_error("%s: no answer", k.type);
            return -1;
        }
        shell_setenv(a.var.c_str(), reply->c_str());
        if (k.kind == UiQuestion::Hidden && a.var != "DIALOG") shell_hide(a.var.c_str(), true);
        return 0;
    }
    return -2;
}

}  // namespace

void DialogCmdInit() { ScriptSetHandler("DIALOG", cmd_dialog); }
