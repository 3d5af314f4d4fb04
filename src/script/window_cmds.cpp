#include "script/window_cmds.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "util/commands.h"
#include "console/screenbuf.h"
#include "platform/report.h"
#include "util/utils.h"
#include "script/inactivity.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "log/srvrtrace.h"
#include "platform/netinfo.h"
#include "platform/ui.h"
#include "platform/xinput.h"
#include "util/cmdline.h"
#include "script/scripting.h"
#include "config/shellvar.h"

#define OXEL_MODULE "window_cmds"

namespace {

constexpr size_t kBannerMax = 127;
constexpr size_t kPeriodScriptMax = 2047;
constexpr size_t kSendInputMax = 128;

ServerCmdHooks g_hooks{nullptr, nullptr};

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// ---- TITLE ----------------------------------------------------------------

int cmd_title(int argc, char** argv) {
    bool telnet = false;
    for (int c; (c = script_getopt(argc, argv, "t")) != -1;) {
        if (c == 't') telnet = true;
        else return -2;
    }
    int n = argc - script_optind;
    if (n > 1) return -3;
    const char* text = n ? argv[script_optind] : nullptr;
    if (telnet) {
        if (!g_hooks.setTelnetBanner) {
            script_error("TITLE -t: telnet server %s", kNotAvailable);
            return -1;
        }
        if (!text || std::strlen(text) <= kBannerMax) g_hooks.setTelnetBanner(text);
        return 0;
    }
    ui().SetTitle(text ? text : std::string(g_cfg.TITLEBAR, strnlen(g_cfg.TITLEBAR, sizeof g_cfg.TITLEBAR)));
    return 0;
}

// ---- CLS ------------------------------------------------------------------

struct SavedColours {
    bool saved = false;
    uint32_t fg = 0, bg = 0;
};
SavedColours g_rgb, g_bkgnd;

std::optional<uint32_t> ColourValue(const char* text) {
    auto v = ParseUnsigned(text);
    if (!v || *v > 0xFFFFFF) return std::nullopt;
    return *v;
}

int ClsColour(const char* arg) {
    uint32_t fg = ConsoleCurrentFg(), bg = ConsoleCurrentBg();
    const char* eq = std::strchr(arg, '=');
    std::string key = eq ? std::string(arg, eq) : arg;
    const char* val = eq ? eq + 1 : "";
    if (Is(arg, "rgbsave")) {
        g_rgb = {true, fg, bg};
        return 0;
    }
    if (Is(arg, "rgbrestore")) {
        if (!g_rgb.saved) {
            script_error("Must save prior to restore.\n");
            return -1;
        }
        ConsoleSetCurrentColours(g_rgb.fg, g_rgb.bg);
        return 0;
    }
    std::optional<uint32_t> colour;
    if (Is(key.c_str(), "bkgd")) {
        colour = Is(val, "off") ? std::optional(ConsoleBackgroundColour()) : ColourByName(val);
        if (!colour) return -2;
        bg = *colour;
    } else if (Is(key.c_str(), "text")) {
        if (Is(val, "reset")) fg = ConsoleTextColour(), bg = ConsoleBackgroundColour();
        else if (Is(val, "invert")) std::swap(fg, bg);
        else if ((colour = ColourByName(val))) fg = *colour;
        else return -2;
    } else if (Is(key.c_str(), "fontrgb") || Is(key.c_str(), "scrnrgb")) {
        if (!(colour = ColourValue(val))) return -2;
        (Is(key.c_str(), "fontrgb") ? fg : bg) = *colour;
    } else {
        return -2;
    }
    ConsoleSetPerCellColours(true);
    ConsoleSetCurrentColours(fg, bg);
    return 0;
}

int cmd_cls(int argc, char** argv) {
    bool trace = false;
    for (int c; (c = script_getopt(argc, argv, "t")) != -1;) {
        if (c == 't') trace = true;
        else return -2;
    }
    int n = argc - script_optind;
    if (trace) {
        if (n) return -3;
        TraceClear();
        return 0;
    }
    if (n == 0) {
        ConsoleClear();
        return 0;
    }
    for (int i = script_optind; i < argc; i++)
        if (int rc = ClsColour(argv[i]); rc != 0) return rc;
    return 0;
}

// ---- CONFIG ---------------------------------------------------------------

bool IsTrue(const char* v) { return Is(v, "true"); }

int ConfigAchin(int n, char** w) {
    if (n != 3) return -2;
    bool on = IsTrue(w[2]);
    static const struct {
        const char* name;
        int mode;
    } modes[] = {{"all", 1}, {"notcrlf", 2}, {"nonprintables", 3}};
    if (Is(w[1], "space")) {
        g_cfg.HEXMODE_WITH_SPACE = on;
        return 0;
    }
    for (const auto& m : modes)
        if (Is(w[1], m.name)) {
            g_cfg.HEXMODE = on ? m.mode : 0;
            return 0;
        }
    return -2;
}

// The script of a keepalive or inactivity setting, at most kPeriodScriptMax.
int ConfigPeriod(int n, char** w, bool verbose) {
    if (n < 2 || n > 3) return -2;
    bool keepalive = Is(w[0], "keepalive");
    auto secs = ParsePeriod(w[1]);
    if (!secs) {
        if (keepalive && w[1][0] == '-') {
            script_error("Keepalive interval cannot be negative");
            return -1;
        }
        return -2;
    }
    const char* script = n == 3 ? w[2] : nullptr;
    if (script && std::strlen(script) > kPeriodScriptMax) {
        script_error(keepalive ? "Keepalive script name too long" : "Inactivity script name too long");
        return -1;
    }
    if (keepalive) {
        if (*secs == 0) {
            StopKeepalive();
            if (verbose) console_printf("Keepalive disabled.\r\n");
            return 0;
        }
        if (!script) {
            script_error("Keepalive non-zero interval requires a script");
            return -1;
        }
        if (SetKeepalive(script, *secs) != 0) return -1;
        if (verbose) console_printf("Keepalive period: %d seconds with %s\r\n", *secs, script);
        return 0;
    }
    if (script && Is(script, "noscript")) script = nullptr;
    if (SetInactivityScript(script) != 0) return -1;
    SetInactivityTimeout(*secs);
    if (verbose) console_printf("Inactivity timeout: %d seconds with %s\r\n", *secs, script ? script : "no script");
    return 0;
}

int ConfigColour(int n, char** w) {
    if (n == 2 && Is(w[1], "bkgnd_save")) {
        g_bkgnd = {true, 0, ConsoleBackgroundColour()};
        return 0;
    }
    if (n == 2 && Is(w[1], "bkgnd_restore")) {
        if (!g_bkgnd.saved) {
            script_error("Restore requires prior save\r\n");
            return -1;
        }
        g_cfg.BACKGROUND_COLOR = static_cast<int32_t>(g_bkgnd.bg);
    } else if (n == 5) {
        int32_t rgb[3];
        for (int i = 0; i < 3; i++) {
            auto v = ParseSigned(w[2 + i]);
            if (!v || *v < 0 || *v > 255) return -2;
            rgb[i] = *v;
        }
        int32_t colour = rgb[0] | rgb[1] << 8 | rgb[2] << 16;
        if (Is(w[1], "text")) g_cfg.TEXT_COLOR = colour;
        else if (Is(w[1], "alttext")) g_cfg.TEXT_COLOR_ALT = colour;
        else if (Is(w[1], "bkgnd")) g_cfg.BACKGROUND_COLOR = colour;
        else return -2;
    } else {
        return -2;
    }
    ConsoleApplyConfig();
    ui().ConsoleInvalidate();
    return 0;
}

// "\r\nList of recognized network interfaces:\r\n" and the gateways.
int ConfigNicinfo() {
    console_printf("\r\nList of recognized network interfaces:\r\n");
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_CANONNAME;
    addrinfo* res = nullptr;
    if (getaddrinfo(host, "http", &hints, &res) == 0) {
        int i = 1;
        for (addrinfo* a = res; a; a = a->ai_next, i++) {
            char ip[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr, ip, sizeof ip);
            if (a->ai_canonname) console_printf("  %d) %s: %s\r\n", i, a->ai_canonname, ip);
            else console_printf("  %d) %s\r\n", i, ip);
        }
        freeaddrinfo(res);
    }
    console_printf("\r\nList of gateways:\r\n");
    if (access("/proc/net/route", R_OK) != 0) {
        OxelMessageBox("gatewayinfo", "Unexpected error!");
        return 0;
    }
    std::string myip = shell_getenv("MYIP").value_or("");
    auto routes = NetRoutes();
    for (size_t i = 0; i < routes.size(); i++) {
        if (routes[i].dest != "0.0.0.0") continue;
        bool mine = myip.size() >= 4 && routes[i].gateway.compare(0, 4, myip, 0, 4) == 0;
        console_printf(mine ? "  %d) %s *\r\n" : "  %d) %s\r\n", static_cast<int>(i), routes[i].gateway.c_str());
    }
    return 0;
}

int ConfigForm(int n, char** w, bool verbose) {
    const char* what = w[0];
    if (Is(what, "achin")) return ConfigAchin(n, w);
    if (Is(what, "keepalive") || Is(what, "inactivity")) return ConfigPeriod(n, w, verbose);
    if (Is(what, "color")) return ConfigColour(n, w);
    if (Is(what, "nicinfo")) return n == 1 ? ConfigNicinfo() : -2;
    if (n == 2 && Is(what, "timestamp") && (Is(w[1], "enable") || Is(w[1], "disable"))) {
        g_cfg.TSTAMP_ENABLED = Is(w[1], "enable");
        ui().StatusRefresh();
        return 0;
    }
    if (n == 2 && Is(what, "dbc")) {
        auto ms = ParseSigned(w[1]);
        if (!ms || *ms < 0) return -2;
        shell_setenv("CONFIG", std::to_string(g_cfg.DELAY_BETWEEN_CHARS).c_str());
        g_cfg.DELAY_BETWEEN_CHARS = *ms;
        return 0;
    }
    if (n == 2 && Is(what, "trace") && (Is(w[1], "on") || Is(w[1], "off"))) {
        bool on = Is(w[1], "on");
        g_cfg.TRACEFLAGS = on ? static_cast<uint32_t>(TRC_SCRIPT) : 0u;
        g_cfg.TRACE_VISIBLE = on;
        ui().MenuCheck(444, on);
        ui().Relayout();
        return 0;
    }
    static const struct {
        const char* name;
        UiWindowState state;
    } states[] = {{"restore", UiWindowState::Restore},
                  {"minimize", UiWindowState::Minimise},
                  {"bringtofront", UiWindowState::Raise}};
    for (const auto& s : states)
        if (n == 1 && Is(what, s.name)) {
            ui().SetWindowState(s.state);
            return 0;
        }
    return -2;
}

int cmd_config(int argc, char** argv) {
    bool verbose = false;
    for (int c; (c = script_getopt(argc, argv, "v")) != -1;) {
        if (c == 'v') verbose = true;
        else return -2;
    }
    int n = argc - script_optind;
    if (n < 1) return -2;
    return ConfigForm(n, argv + script_optind, verbose);
}

// ---- SENDINPUT ------------------------------------------------------------

int cmd_sendinput(int argc, char** argv) {
    XTypeRequest req;
    for (int c; (c = script_getopt(argc, argv, "AbCd:f:mMStv")) != -1;) {
        switch (c) {
        case 'A': req.alt = true; break;
        case 'C': req.ctrl = true; break;
        case 'S': req.shift = true; break;
        case 'b': req.lower = true; break;
        case 't': req.terminate = true; break;
        case 'm': req.minimise = true; break;
        case 'M': req.maximise = true; break;
        case 'v': break;  // X always types through the keyboard layout
        case 'd': {
            auto ms = ParseSigned(script_optarg);
            if (!ms || *ms < 0) return -2;
            req.delayMs = *ms;
            break;
        }
        case 'f': {
            // CLASS,TITLE with "NULL" for either; no comma: a title alone.
            std::string window = script_optarg;
            size_t comma = window.find(',');
            req.find = true;
            req.cls = comma == std::string::npos ? "" : window.substr(0, comma);
            req.title = comma == std::string::npos ? window : window.substr(comma + 1);
            if (req.cls == "NULL") req.cls.clear();
            if (req.title == "NULL") req.title.clear();
            break;
        }
        default: return -2;
        }
    }
    if (argc - script_optind > 1) return -3;
    if (argc - script_optind == 1) {
        req.haveText = true;
        req.text = ExpandEscapes(std::string(argv[script_optind]));
        if (req.text.size() > kSendInputMax) return -2;
    }
    std::string error;
    if (XTypeInto(req, &error) != 0) {
        script_error("%s", error.c_str());
        return -1;
    }
    return 0;
}

// ---- SRVRSETUP ------------------------------------------------------------

int cmd_srvrsetup(int argc, char** argv) {
    for (int c; (c = script_getopt(argc, argv, "v")) != -1;)
        if (c == '?') return -2;
    if (argc - script_optind < 1) return -3;
    const char* server = argv[script_optind];
    if (Is(server, "DHCP")) {
        if (!g_hooks.dhcpSetup) {
            script_error("SRVRSETUP DHCP: DHCP server %s", kNotAvailable);
            return -1;
        }
        return g_hooks.dhcpSetup(argc - script_optind - 1, argv + script_optind + 1);
    }
    if (Is(server, "TFTP")) OxelMessageBox("SRVRSETUP", "Use 'TFTP SRVRSETUP' for this.");
    else OxelMessageBox("SRVRSETUP", "No support for %s at this time.", server);
    return -1;
}

struct CmdEntry {
    const char* name;
    ScriptCmdHandler handler;
};

const CmdEntry kCommands[] = {
    {"CLS", cmd_cls},             {"CONFIG", cmd_config},       {"SENDINPUT", cmd_sendinput},
    {"SRVRSETUP", cmd_srvrsetup}, {"TITLE", cmd_title},
};

}  // namespace

ServerCmdHooks& ServerCmdHooksRef() { return g_hooks; }

std::optional<uint32_t> ColourByName(const char* name) {
    static const struct {
        const char* name;
        uint32_t bgr;
    } colours[] = {{"black", 0x000000}, {"red", 0x0000FF},     {"green", 0x00FF00}, {"yellow", 0x00FFFF},
                   {"blue", 0xFF0000},  {"magenta", 0xFF00FF}, {"cyan", 0xFFFF00},  {"white", 0xFFFFFF}};
    for (const auto& c : colours)
        if (Is(name, c.name)) return c.bgr;
    return std::nullopt;
}

std::optional<int> ParsePeriod(const char* text) {
    const char* colon = std::strchr(text, ':');
    if (!colon) {
        auto m = ParseSigned(text);
        if (!m || *m < 0 || *m > 35791394) return std::nullopt;
        return *m * 60;
    }
    auto m = ParseSigned(std::string(text, colon).c_str());
    auto s = ParseSigned(colon + 1);
    if (!m || !s || *m < 0 || *s < 0 || *s > 59 || *m > 35791393) return std::nullopt;
    return *m * 60 + *s;
}

void WindowCmdsInit() {
    for (const auto& c : kCommands) ScriptSetHandler(c.name, c.handler);
}
