// The LOG script command: the standard log from scripts, and the console
// output switch.
#include "script/log_cmd.h"
#include "util/cmdids.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "config/configrecord.h"
#include "console/rxpath.h"
#include "log/logging.h"
#include "platform/ui.h"
#include "util/cmdline.h"
#include "util/utils.h"

namespace {

int LogUsage(int code) {
    script_error("Usage: LOG [-d 0|1] [-n 0|1] {screenon|screenoff|trunc|off|on FILE|append FILE|tag TEXT}\n");
    return code;
}

}  // namespace

int cmd_log(int argc, char** argv) {
    script_getopt_reset();
    bool dos = false, raw = false, bad = false;
    for (int c; (c = script_getopt(argc, argv, "d:n:")) != -1;) {
        if (c == 'd') dos = ParseSigned(script_optarg).value_or(0) == 1;
        else if (c == 'n') raw = ParseSigned(script_optarg).value_or(0) == 1;
        else bad = true;
    }
    g_cfg.LOGGING_DOSMODE = dos;
    g_cfg.LOG_NON_PRINTABLES = raw;
    if (bad) return -2;
    const int nargs = argc - script_optind;
    char** args = argv + script_optind;
    if (nargs == 1) {
        const char* w = args[0];
        if (!strcasecmp(w, "screenoff")) RxSetScreenOutput(false);
        else if (!strcasecmp(w, "screenon")) RxSetScreenOutput(true);
        else if (!strcasecmp(w, "trunc")) return LogIsOpen() && LogTruncate() ? 0 : -1;
        else if (!strcasecmp(w, "off")) {
            g_cfg.LOGGING_APPEND = 0;
            g_cfg.LOGGING_ENABLED = 0;
            LogClose();
            ui().MenuCheck(CMD_TB_LOG, false);
        } else
            return LogUsage(-2);
        return 0;
    }
    if (nargs == 2) {
        const char* w = args[0];
        if (!strcasecmp(w, "tag")) {
            std::string tag(args[1], strnlen(args[1], kLogTagMax));
            LogInsertTag(tag.c_str());
            return 0;
        }
        const bool on = !strcasecmp(w, "on"), append = !strcasecmp(w, "append");
        if (!on && !append) {
            script_error("LOG arg 2 must be 'on' or 'append'");
            return -2;
        }
        if (std::strlen(args[1]) > kLogFileNameMax) {
            script_error("Value '%s' too long", args[1]);
            return -2;
        }
        g_cfg.LOGGING_APPEND = append;
        CFG_SET_STRING(g_cfg.LOGGING_FILENAME, args[1]);
        LogClose();
        return LogOpen() ? 0 : -1;
    }
    return LogUsage(-3);
}
