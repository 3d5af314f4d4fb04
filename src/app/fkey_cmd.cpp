#include "app/fkey_cmd.h"

#include <strings.h>

#include <cstdio>
#include <string>

#include "app/buttons.h"
#include "config/configrecord.h"
#include "config/shellvar.h"
#include "script/scripting.h"
#include "util/cmdline.h"
#include "util/utils.h"

namespace {

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// "color=R,G,B" as three components.
bool ParseRgb(const char* text, int rgb[3]) {
    if (strncasecmp(text, "color=", 6) != 0) return false;
    return std::sscanf(text + 6, "%d,%d,%d", &rgb[0], &rgb[1], &rgb[2]) == 3;
}

int FkeyDefine(bool button, bool script, int n, int words, char** w) {
    int limit = button ? kButtonCount : 9;
    if (n < 1 || n > limit) return -2;
    if (words == 2 && (Is(w[1], "enable") || Is(w[1], "disable"))) {
        SetPressEnabled(button, n, Is(w[1], "enable"));
        return 0;
    }
    int rgb[3];
    if (words == 2 && ParseRgb(w[1], rgb)) {
        if (!button) {
            if (n < 2) return -2;
            g_cfg.FKEY_COLOR[n - 2] = rgb[0] | rgb[1] << 8 | rgb[2] << 16;
            ButtonsRefreshHeaders();
            return 0;
        }
        return SetHeaderColour(n, rgb[0], rgb[1], rgb[2]) ? 0 : -2;
    }
    if (words != 1 && words != 3) return -3;
    const char* label = words == 3 ? w[1] : "";
    const char* text = words == 3 ? w[2] : "";
    if (button) {
        CFG_SET_STRING(g_cfg.BUTTON[n - 1], text);
        g_cfg.BTN_SCRIPT[n - 1] = script;
        SetLabel(true, n, label);
        return 0;
    }
    if (n == 1) {
        CFG_SET_STRING(g_cfg.FKEY[0], text);
        g_cfg.FKEY_SCRIPT[0] = script;
        return 0;
    }
    SetFkey(n, text, label, script);
    return 0;
}

int cmd_fkey(int argc, char** argv) {
    bool button = false, count = false, script = false;
    for (int c; (c = script_getopt(argc, argv, "bcs")) != -1;) {
        if (c == 'b') button = true;
        else if (c == 'c') count = true;
        else if (c == 's') script = true;
        else return -2;
    }
    int words = argc - script_optind;
    if (words < 1) return -3;
    auto n = ParseSigned(argv[script_optind]);
    if (!n) return -2;
    if (count) {
        int limit = button ? kButtonCount : kFkeyCount;
        if (words != 1 || *n < 1 || *n > limit) {
            shell_unsetenv("FKEY");
            return -2;
        }
        uint32_t presses = button ? ButtonPressCount(*n) : FkeyPressCount(*n);
        shell_setenv("FKEY", std::to_string(presses).c_str());
        return 0;
    }
    return FkeyDefine(button, script, *n, words, argv + script_optind);
}

}  // namespace

void FkeyCmdInit() { ScriptSetHandler("FKEY", cmd_fkey); }
