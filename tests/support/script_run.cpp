#include "script_run.h"

#include <sys/stat.h>

#include "console/screenbuf.h"
#include "platform/report.h"
#include "script/scripting.h"
#include "config/shellvar.h"

ScriptHome::ScriptHome() {
    mkdir((home.path() + "/scripts").c_str(), 0755);
    SetInstallDir(home.path());
    SetFrameInitialised(true);
    InitScripting();
}

std::string ScriptHome::Run(const std::string& text, const std::string& name) {
    ui.ClearRecorded();
    home.Write("scripts/" + name, text);
    if (!run_script(name.c_str(), nullptr)) return "<not started>";
    if (!ScriptWaitIdle(30000)) return "<still running>";
    for (const auto& b : ui.Boxes()) {
        if (b.title != "Script Execution Error") continue;
        size_t at = b.text.find("Error: ");
        return at == std::string::npos ? b.text : b.text.substr(at + 7);
    }
    return "";
}

std::string ScriptHome::Var(const char* name) { return shell_getenv(name).value_or("<unset>"); }
