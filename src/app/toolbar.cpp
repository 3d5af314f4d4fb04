#include "app/toolbar.h"
#include "util/cmdids.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <thread>

#include "util/commands.h"
#include "app/oxel.h"
#include "backend/backend.h"
#include "config/configrecord.h"
#include "app/buttons.h"
#include "console/capture.h"
#include "log/srvrtrace.h"
#include "platform/ui.h"
#include "script/scripting.h"

extern char** environ;

namespace {

// Online pages have no local fallback.
constexpr const char* kProjectSite = "https://oxel.example.org";

const std::vector<MenuItemDef> kLayout = {
    {475, "&File", "&New", false},
    {400, "&File", "&Open...", false},
    {401, "&File", "&Save", false},
    {402, "&File", "Save &As...", false},
    {0, "&File", "", false},
    {448, "&File", "&Edit Config", false},
    {484, "&File", "&Validate...", false},
    {0, "&File", "", false},
    {403, "&File", "E&xit", false},

    {432, "&Edit", "&Paste", false},
    {477, "&Edit", "Paste With &Newline", false},
    {0, "&Edit", "", false},
    {429, "&Edit", "&Copy Screen Buffer", false},
    {438, "&Edit", "Copy Screen &Only", false},
    {466, "&Edit", "Edit Screen &Buffer", false},
    {467, "&Edit", "Edit Screen On&ly", false},
    {430, "&Edit", "&Editor", false},
    {0, "&Edit", "", false},
    {487, "&Edit", "Clear Con&sole", false},
    {435, "&Edit", "Clear &Trace", false},

    {442, "&View", "&ToolBar", true},
    {443, "&View", "&FuncKeys", true},
    {459, "&View", "&Buttons", true},
    {445, "&View", "&StatusBar", true},
    {444, "&View", "S&ysTrace", true},
    {0, "&View", "", false},
    {473, "&View", "&ComPortControl...", false},

    {488, "&Config", "&Configuration...", false},
    {404, "&Config/&Backend", "&COM Port...", true},
    {449, "&Config/&Backend", "&Telnet...", true},
    {457, "&Config/&Backend", "&Plink...", true},
    {450, "&Config/&Backend", "&Moncmd...", true},
    {465, "&Config/&Environment", "&Set...", false},
    {458, "&Config/&Environment", "&Display", false},
    {480, "&Config/Console &Font", "&Set Font...", false},
    {481, "&Config/Console &Font", "&Restore Default", false},
    {0, "&Config", "", false},
    {405, "&Config", "T&imestamp...", false},
    {460, "&Config", "&Buttons...", false},
    {408, "&Config", "&Function Keys...", false},
    {406, "&Config", "&Miscellaneous...", false},
    {433, "&Config", "System &Trace...", false},
    {0, "&Config", "", false},
    {474, "&Config", "&RtBtnIsPaste", true},
    {482, "&Config", "Read&only", true},

    {407, "&Logging", "&Standard...", false},
    {440, "&Logging", "&LongTerm...", false},
    {462, "&Logging", "Insert &Tag...", false},
    {0, "&Logging", "", false},
    {472, "&Logging", "&OmitHeader", true},
    {485, "&Logging", "&NoWarn", true},

    {409, "&Scripts", "&Run...", false},
    {410, "&Scripts", "&Halt", false},
    {453, "&Scripts", "Res&ume", false},
    {452, "&Scripts", "&Pause", false},
    {454, "&Scripts", "&Step", false},
    {0, "&Scripts", "", false},
    {468, "&Scripts", "&Catch...", false},
    {469, "&Scripts", "&Fkey2Script...", false},
    {0, "&Scripts", "", false},
    {411, "&Scripts", "&Edit...", false},
    {412, "&Scripts", "&New...", false},

    {413, "Se&rvers", "&FTP...", false},
    {414, "Se&rvers", "T&FTP...", false},
    {415, "Se&rvers", "&DHCP...", false},
    {478, "Se&rvers", "&HTTP...", false},
    {439, "Se&rvers", "&Syslog...", false},
    {416, "Se&rvers", "&Telnet...", false},
    {463, "Se&rvers", "&Moncmd...", false},
    {470, "Se&rvers", "T&unnel...", false},

    {417, "&Transfer", "&Xmodem...", false},
    {479, "&Transfer", "&Ymodem...", false},
    {418, "&Transfer", "&TFTP...", false},
    {419, "&Transfer", "&File...", false},
    {441, "&Transfer", "&Binary...", false},
    {486, "&Transfer", "Te&xt...", false},

    {427, "&Xamo", "&Backup Xamo FS...", false},
    {428, "&Xamo", "&Moncmd", false},
    {455, "&Xamo", "&Edit XamoFS File...", false},

    {420, "&Help", "&Contents", false},
    {421, "&Help", "&Overview", false},
    {422, "&Help", "&Scripts", false},
    {423, "&Help", "Se&rvers", false},
    {425, "&Help", "&Menu Items", false},
    {424, "&Help", "&Ascii", false},
    {446, "&Help", "&What's new", false},
    {0, "&Help", "", false},
    {471, "&Help", "&Latest Online Docs", false},
    {476, "&Help", "&Get Latest Version", false},
    {483, "&Help", "[un]&Subscribe", false},
    {0, "&Help", "", false},
    {426, "&Help", "&About Oxel...", false},
};

const std::vector<int> kToolBar = {950, 951, 952, 958, 957, 956, 0, 953, 954, 955, 0, 959, 960, 961, 962};

struct HelpTopic {
    int id;
    const char* page;   // under INSTALLDIR/htmlhelp, or a path on the project site
    bool online;
};
const HelpTopic kHelp[] = {
    {420, "Index.htm", false},      {421, "Topic1.htm", false},  {422, "Topic8.htm", false},
    {423, "Topic15.htm", false},    {424, "Topic2.htm", false},  {425, "Topic22.htm", false},
    {446, "WhatsNew.htm", false},   {471, "/docs/", true},       {476, "/download/", true},
    {483, "/subscribe/", true},
};

std::mutex g_helpMu;
bool g_helpFailedOnce = false;

void ToggleKey(CfgInt& key, int id) {
    key = !key;
    ui().MenuCheck(id, key != 0);
    ui().Relayout();
}

// The desktop's commands yield to a module that registered the same id.
bool Registered(int id) {
    for (const CommandEntry& e : CommandTable())
        if (e.id == id) return true;
    return false;
}

void Own(CommandEntry e) {
    if (!Registered(e.id)) CommandRegister(std::move(e));
}

void RegisterOwn() {
    Own({CMD_FILE_NEW, "&File", "&New", [] { StartSecondCopy(); }});
    Own({CMD_FILE_VALIDATE, "&File", "&Validate...", [] { ui().ShowDialog("File Check: MD5SUM/CRC32..."); }});
    Own({CMD_FILE_EXIT, "&File", "E&xit", [] { RequestShutdown(0); }});
    for (int id : {CMD_VIEW_TOOLBAR, CMD_VIEW_BUTTONS, CMD_VIEW_FUNCKEYS, CMD_VIEW_STATUSBAR})
        Own({id, "&View", "", [id] { ViewToggle(id); }, true});
    Own({CMD_TB_FUNCKEYS, "", "Toggle state (presence) of function key window",
         [] { ViewToggle(CMD_VIEW_FUNCKEYS); }});
    Own({CMD_CFG_MAIN, "&Config", "", [] { ui().ShowDialog("Oxel Configuration"); }});
    Own({CMD_CFG_BUTTONS, "&Config", "", [] { ui().ShowDialog(kButtonsDialog); }});
    Own({CMD_CFG_FKEYS, "&Config", "", [] { ui().ShowDialog(kFkeysDialog); }});
    Own({CMD_CFG_MISC, "&Config", "", [] { ui().ShowDialog("Miscellaneous Configuration"); }});
    Own({478, "Se&rvers", "", [] { ui().ShowDialog("HTTP Server..."); }});
    Own({CMD_FKEY2SCRIPT, "&Scripts", "", [] { Fkey2ScriptMenu(); }});
    Own({CMD_ABOUT, "&Help", "", [] { ui().ShowDialog("About Oxel"); }});
    Own({CMD_XAMO_MONCMD, "&Xamo", "&Moncmd", [] { run_script("moncmd.scr", nullptr); }});
    for (const HelpTopic& h : kHelp) Own({h.id, "&Help", "", [id = h.id] { HelpOpen(id); }});
    if (!Registered(429)) CaptureRegisterCommands();
}

}  // namespace

const std::vector<MenuItemDef>& MainMenuLayout() { return kLayout; }

int MainMenuIndex(int id) {
    for (size_t i = 0; i < kLayout.size(); ++i)
        if (kLayout[i].id == id && id != 0) return static_cast<int>(i);
    return -1;
}

const std::vector<int>& ToolBarLayout() { return kToolBar; }

bool ToolBarIsIndicator(int id) { return id >= CMD_TB_DCD && id <= CMD_TB_RI; }

std::string ToolBarToolTip(int id) {
    switch (id) {
    case 953: return "Toggle state (presence) of function key window";
    case 954: return g_cfg.TSTAMP_ENABLED ? "Disable timestamping" : "Enable timestamping";
    case 955: return g_cfg.LOGGING_ENABLED ? "Disable standard logging" : "Enable standard logging";
    default: break;
    }
    return BackendToolTip(id);
}

void MainCommandsInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterOwn();
        ButtonsInit();
    });
    std::vector<CommandEntry> have = CommandTable();
    auto registered = [&](int id) {
        for (const auto& e : have)
            if (e.id == id) return true;
        return false;
    };
    // Commands whose owner is not in this build: shown, and answered with
    // "not available" by the face (their entry runs nothing).
    for (const MenuItemDef& m : kLayout)
        if (m.id != 0 && !registered(m.id)) CommandRegister({m.id, m.menu, m.text, nullptr, m.checkable});
    for (int id : kToolBar)
        if (id != 0 && !registered(id)) CommandRegister({id, "", ToolBarToolTip(id), nullptr, ToolBarIsIndicator(id)});
}

void ViewToggle(int id) {
    switch (id) {
    case CMD_VIEW_TOOLBAR: ToggleKey(g_cfg.TOOLBAR_VISIBLE, id); break;
    case CMD_VIEW_BUTTONS: ToggleKey(g_cfg.BUTTONS_VISIBLE, id); break;
    case CMD_VIEW_FUNCKEYS: ToggleKey(g_cfg.FUNCKEYS_VISIBLE, id); break;
    case CMD_VIEW_STATUSBAR: ToggleKey(g_cfg.STATUSBAR_VISIBLE, id); break;
    default: break;
    }
}

std::string HelpPagePath(int id) {
    for (const HelpTopic& h : kHelp)
        if (h.id == id) return h.online ? "" : InstallDir() + "/htmlhelp/" + h.page;
    return {};
}

void HelpOpen(int id) {
    for (const HelpTopic& h : kHelp) {
        if (h.id != id) continue;
        if (h.online) {
            ui().OpenUrl(std::string(kProjectSite) + h.page);
            return;
        }
        std::string path = HelpPagePath(id);
        if (access(path.c_str(), R_OK) == 0 && ui().OpenUrl(path)) return;
        bool first;
        {
            std::lock_guard l(g_helpMu);
            first = !g_helpFailedOnce;
            g_helpFailedOnce = true;
        }
        // There is no older help format to fall back to: after the one
        // message, a failure leaves a trace line naming the page.
        if (first) OxelMessageBox("Failed to access web pages.", "NOTE: Local help not up to date.");
        else TracePrintf(TRC_ALWAYS, "Help page %s could not be opened", path.c_str());
        return;
    }
}

void HelpResetForTest() {
    std::lock_guard l(g_helpMu);
    g_helpFailedOnce = false;
}

int StartSecondCopy() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        OxelMessageBoxStyle(MB_OK | MB_ICONERROR, "ERROR", "Oxel startup failed: %s", std::strerror(errno));
        return 0;
    }
    self[n] = 0;
    char* argv[] = {self, nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, self, nullptr, nullptr, argv, environ);
    if (rc != 0) {
        OxelMessageBoxStyle(MB_OK | MB_ICONERROR, "ERROR", "Oxel startup failed: %s", std::strerror(rc));
        return 0;
    }
    std::thread([pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    }).detach();
    return 1;
}
