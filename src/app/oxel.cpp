#include "app/oxel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "util/commands.h"
#include "app/filemenu.h"
#include "app/statusbar.h"
#include "app/toolbar.h"
#include "app/wiring.h"
#include "util/cmdids.h"
#include "util/utils.h"
#include "backend/backend.h"
#include "backend/comport.h"
#include "script/inactivity.h"
#include "backend/plinkfe.h"
#include "backend/telnetc.h"
#include "config/configfile.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "log/logging.h"
#include "log/srvrtrace.h"
#include "platform/ui.h"
#include "util/cmdline.h"
#include "script/script_cmds.h"
#include "script/expand.h"
#include "script/scripting.h"
#include "config/shellvar.h"
#include "servers/moncmdsrvr.h"
#include "servers/syslogsrvr.h"
#include "servers/dhcpsrvr.h"
#include "servers/ftpsrvr.h"
#include "servers/telnetd.h"
#include "xfer/filexfer.h"
#include "xfer/xmodem.h"
#include "servers/tftp_cmds.h"
#include "servers/tftpclient.h"
#include "servers/tftpsrvr.h"
#include "servers/httpsrvr.h"

#define OXEL_MODULE "oxel"

namespace {

// What the command line decided, for the whole run.
struct FrameOptions {
    int bufferRows = 1200;
    int bufferCols = 250;
    int forcedHeight = -1;
    int forcedWidth = -1;
    bool tmpDebug = false;
    bool altGiven = false;      // -A or -a
    int altPort = 0;
    int altPassthrough = 0;
    int baudRate = 0;           // -b, 0 when not given
    std::string script;         // -s
    bool listPorts = false;     // --list
};

// A device named on the command line instead of a configuration file.
struct QuickStart {
    std::string device;         // "" when a configuration file (or none) was named
    int rate = 115200;
};

std::mutex g_mu;                // guards the strings below
std::string g_configFile;
std::string g_configPath;       // where the named file was loaded from ("" = nothing loaded)
FrameOptions g_opt;
FaceTraits g_face;
QuickStart g_quick;
std::atomic<int> g_measuredWidth{0}, g_measuredHeight{0};
std::atomic<bool> g_initialised{false};


bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The base name: the part after the last "/" or "\".
std::string BaseName(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// ---- Command line -------------------------------------------------------

// Command-line errors end with the usage-error status, so that a script or a
// CI job that calls the program with a wrong option does not go on as if it
// had run.
constexpr int kUsageStatus = 64;

int CommandLineError(const char* title, const char* text) {
    OxelMessageBox(title, "%s", text);
    return kUsageStatus;
}

const char kUsage[] =
    "Usage: oxel-cli [options] [configfile | device]\n"
    "       oxel     [options] [configfile | device]\n"
    "\n"
    "  device            a serial device (/dev/ttyUSB0, /dev/serial/by-id/...):\n"
    "                    opened at once, 8N1 at the -b rate, no configuration needed\n"
    "  configfile        a configuration to load after defcfg.ct (looked for in\n"
    "                    the home's config folder when not found as given)\n"
    "  -b RATE           the device's baud rate (default 115200)\n"
    "  -s SCRIPT         runs SCRIPT after start-up; oxel-cli then ends with the\n"
    "                    script: 0 ran to its end, 1 a command failed,\n"
    "                    2 EXIT OXEL, 99 EXIT OXELREMOTE\n"
    "  -A n | -a n       COM port n as the alternate port, with | without pass-through\n"
    "  -C n, -R n        screen-buffer columns (250) and rows (1200)\n"
    "  -D VAR=value      sets a shell variable before the configuration is read\n"
    "  -d file           copies the system trace to file\n"
    "  -h n, -w n        forces the console character height, width in pixels\n"
    "  -H                start-up ends with a debugging note\n"
    "  --list            lists the serial ports and ends\n"
    "  --help            this text\n"
    "  --version         the program's version\n"
    "  --                ends the options\n"
    "\n"
    "Environment: OXEL_HOME (the program's home), OXEL_ANSWERS (oxel-cli: answers\n"
    "to questions, comma-separated), OXEL_SCREEN_DUMP (oxel-cli: screen written\n"
    "to this file at exit).\n"
    "Exit status: 0 normal end, 1 fatal error or failed script, 2 EXIT OXEL,\n"
    "99 EXIT OXELREMOTE, 64 command-line error.\n"
    "In oxel-cli, Ctrl-] ? lists the live controls.\n";

// The words that are whole long options, taken out of the option words
// (before "--"); the rest go to the letter parser, which refuses any other
// "--word".
struct LongOptions {
    bool help = false, version = false, list = false;
};

LongOptions TakeLongOptions(std::vector<std::string>& words) {
    LongOptions lo;
    const struct { const char* name; bool LongOptions::*flag; } known[] = {
        {"--help", &LongOptions::help}, {"--version", &LongOptions::version}, {"--list", &LongOptions::list},
    };
    for (size_t i = 1; i < words.size() && words[i] != "--";) {
        bool taken = false;
        for (const auto& k : known)
            if (words[i] == k.name) {
                lo.*k.flag = true;
                taken = true;
            }
        if (taken) words.erase(words.begin() + static_cast<long>(i));
        else ++i;
    }
    return lo;
}

// A -s name found from the current directory is taken from there (the shell
// user means ./job.scr); any other name is looked up like a RUN name.
std::string ScriptNameFromCommandLine(const std::string& name) {
    if (name[0] == '/' || !IsRegularFile(name)) return name;
    std::error_code ec;
    auto full = std::filesystem::absolute(name, ec);
    return ec ? name : full.lexically_normal().string();
}

// -1 parsed (the run goes on), else the status to end with at once: 0 after
// --help or --version, kUsageStatus after an error (the box has been shown).
int ParseCommandLine(int argc, char** argv) {
    std::vector<std::string> words{"Oxel"};
    for (int i = 1; i < argc; i++) words.emplace_back(argv[i] ? argv[i] : "");
    if (static_cast<int>(words.size()) > kMaxArgs)
        return CommandLineError("CMDLINE ERROR", "Could not process argument list.");
    LongOptions lo = TakeLongOptions(words);
    if (lo.help || lo.version) {
        std::printf("Oxel %s\n%s", OxelVersion(), lo.help ? kUsage : "");
        std::fflush(stdout);
        return 0;
    }
    std::vector<char*> av = ArgvOf(words);
    const int n = static_cast<int>(words.size());
    FrameOptions opt;
    opt.listPorts = lo.list;
    script_getopt_reset();
    // Options may also follow the file or device (oxel-cli /dev/ttyUSB0 -b 9600);
    // after "--" every word is a name.
    std::vector<std::string> names;
    for (;;) {
        const int before = script_optind;
        // O is listed so that the parser accepts its argument; it is refused below.
        int c = script_getopt(n, av.data(), "A:a:b:C:R:D:d:h:w:HO:s:");
        if (c == -1) {
            bool dashDash = script_optind == before + 1 && words[static_cast<size_t>(before)] == "--";
            int from = script_optind;
            int to = dashDash ? n : std::min(from + 1, n);
            for (int i = from; i < to; i++) names.push_back(words[static_cast<size_t>(i)]);
            script_optind = to;
            if (to >= n) break;
            continue;
        }
        const char* arg = script_optarg ? script_optarg : "";
        switch (c) {
        case 'A':
        case 'a':
            opt.altGiven = true;
            opt.altPort = ParseSignedLoose(arg);
            opt.altPassthrough = c == 'A';
            g_cfg.COMPORTALT = opt.altPort;
            g_cfg.COMPORT_PASSTHROUGH = opt.altPassthrough;
            break;
        case 'b':
        {
            auto rate = ParseUnsigned(arg);
            if (!rate || *rate < 1 || *rate > INT_MAX) return CommandLineError("COMMAND LINE ERROR", "Invalid option.");
            opt.baudRate = static_cast<int>(*rate);
            break;
        }
        case 'C': opt.bufferCols = ParseSignedLoose(arg); break;
        case 'R': opt.bufferRows = ParseSignedLoose(arg); break;
        case 'D': {
            const char* eq = std::strchr(arg, '=');
            if (!eq) return CommandLineError("COMMAND LINE ERROR", "-D requires equality");
            std::string name(arg, static_cast<size_t>(eq - arg));
            shell_setenv(name.c_str(), eq + 1);
            break;
        }
        case 'd':
            TraceOpenFile(arg);
            g_cfg.TRACEFLAGS = static_cast<uint32_t>(-65);  // every category but DEBUG
            break;
        case 'h': opt.forcedHeight = ParseSignedLoose(arg); break;
        case 'w': opt.forcedWidth = ParseSignedLoose(arg); break;
        case 'H': opt.tmpDebug = true; break;
        case 's':
            if (!*arg) return CommandLineError("COMMAND LINE ERROR", "Invalid option.");
            opt.script = ScriptNameFromCommandLine(arg);
            break;
        default: return CommandLineError("COMMAND LINE ERROR", "Invalid option.");
        }
    }
    // A buffer of no cells, or of more cells than an int counts, cannot be
    // allocated or indexed: refuse it here rather than fail later.
    if (opt.bufferRows < 1 || opt.bufferCols < 1 ||
        static_cast<long long>(opt.bufferRows) * opt.bufferCols > INT_MAX)
        return CommandLineError("COMMAND LINE ERROR", "Invalid option.");
    if (names.size() > 1) return CommandLineError("COMMAND LINE ERROR", "Invalid argument count");
    {
        std::lock_guard l(g_mu);
        g_configFile = names.empty() ? std::string{} : names[0];
    }
    g_opt = opt;
    return -1;
}

// ---- Initialisation command (999 at start, 998 after File -> Open) --------

bool IsCharDevice(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// The quick-start form: the named device as the COM port, 8 data bits, no
// parity, one stop bit, at the -b rate; everything else from defcfg.ct.
void QuickStartSettings() {
    g_cfg.BACKEND = 1;
    g_cfg.COMPORT = ComPortForDevice(g_quick.device);
    g_cfg.BAUDRATE = g_quick.rate;
    g_cfg.BYTESIZE = 8;
    g_cfg.PARITY = 0;
    g_cfg.STOPBITS = 0;
}

// Step 1. At start: defcfg.ct, then the named file. After File -> Open the
// menu command has loaded the chosen file (and recorded it in LAST_CFG_FILE)
// before asking for 998. Then the variables that follow from the configuration.
void LoadConfiguration(int cmd) {
    if (cmd == CMD_INIT) {
        std::string defcfg = InstallDir() + "/defcfg.ct";
        if (FileExists(defcfg) && !ConfigLoad(defcfg.c_str())) ProgramExit(1);
        std::string name = CurrentConfigFile(), path;
        if (IsDirectory(name)) {
            CFG_SET_STRING(g_cfg.LAST_CFG_FILE, name.c_str());
            name.clear();
        }
        // With no usable configuration named, the desktop asks for one;
        // Cancel ends the program. A terminal goes on with the defaults.
        if (IsCharDevice(name)) {
            g_quick = {name, g_opt.baudRate ? g_opt.baudRate : 115200};
            QuickStartSettings();
            name.clear();
        } else if (name.empty() && ui().RunDialog("Oxel Configuration") == 0) {
            ProgramExit(1);
        }
        if (!name.empty()) {
            if (!ConfigLoad(name.c_str())) ProgramExit(1);
            if (name != "NULL") path = ConfigCurrentPath();
            if (!path.empty()) CFG_SET_STRING(g_cfg.LAST_CFG_FILE, path.c_str());
        }
        std::lock_guard l(g_mu);
        g_configPath = path;
    } else {
        std::string last = g_cfg.LAST_CFG_FILE;
        if (!IsRegularFile(last)) last.clear();
        std::lock_guard l(g_mu);
        g_configFile = g_configPath = last;
    }
    if (g_cfg.BACKEND < 1 || g_cfg.BACKEND > 4) g_cfg.BACKEND = 1;
    if (cmd == CMD_INIT) {
        // A saved configuration always carries COMPORTALT; the command line
        // still decides for this run.
        if (g_opt.altGiven) {
            g_cfg.COMPORTALT = g_opt.altPort;
            g_cfg.COMPORT_PASSTHROUGH = g_opt.altPassthrough;
        }
        ConfigSetSessionOnlyBackend(g_cfg.BACKEND == 1 && g_cfg.COMPORT == 0);
    }
    ShellSetSystemVars();
    ConsoleApplyConfig();   // tab stop, colours, ring size from the loaded file
}

// Step 5.
std::string WindowTitle() {
    std::string name, path;
    {
        std::lock_guard l(g_mu);
        name = g_configFile;
        path = g_configPath;
    }
    if (name.empty() || path.empty()) return g_cfg.TITLEBAR;
    if (std::strcmp(g_cfg.TITLEBAR, "Oxel") != 0) return g_cfg.TITLEBAR;
    std::string base = BaseName(name);
    if (base.size() >= 3 && base.compare(base.size() - 3, 3, ".ct") == 0) base.resize(base.size() - 3);
    return "Oxel [" + base + "]:";
}

bool BeginsWithText(const char* s) { return *s && !std::isspace(static_cast<unsigned char>(*s)); }

// Step 7: placement after sizing.
void PlaceWindow() {
    ui().Relayout();
    int x = g_cfg.TOPLEFT_X, y = g_cfg.TOPLEFT_Y;
    if (x == -1 || y == -1) return;
    if (x > ui().VirtualScreenWidth()) {
        OxelMessageBox("PositionWindow", "Configured window position is offscreen");
        x = 0;
    }
    ui().SetWindowPos(x, y);
}

// Step 10: the servers other than telnet start only after the user agrees.
void ServerStartQuestion() {
    struct { CfgInt* enabled; const char* name; } servers[] = {
        {&g_cfg.MONCMDSRVR_ENABLED, "MONCMD "}, {&g_cfg.DHCPSRVR_ENABLED, "DHCP "},
        {&g_cfg.SYSLOGSRVR_ENABLED, "SYSLOG "}, {&g_cfg.TFTPSRVR_ENABLED, "TFTP "},
        {&g_cfg.FTPSRVR_ENABLED, "FTP "},       {&g_cfg.HTTPSRVR_ENABLED, "HTTP "},
    };
    std::string title;
    for (const auto& s : servers)
        if (*s.enabled) title += s.name;
    if (title.empty()) return;
    title += "Server auto-startup warning";
    if (OxelMessageBoxStyle(MB_YESNO | MB_ICONEXCLAMATION, title.c_str(),
                            "Ok to allow servers to start up?") == IDYES) {
        // Start order: MONCMD, TFTP, SYSLOG, FTP, DHCP, HTTP (each only if enabled).
        MoncmdsrvrStart();
        TftpSrvrStart();
        SyslogsrvrStart();
        FtpsrvrStart();
        DhcpsrvrStart();
        HttpStartFromConfig();
        return;
    }
    for (const auto& s : servers) *s.enabled = 0;
    TraceRefreshCaption();
    OxelMessageBox("All previously enabled servers disabled",
                   "To avoid this warning next time, save current configuration");
}

// Step 11's menu part: the backend's tick and the items that need a
// configuration file, a paused script or the COM port.
void SyncBackendMenus() {
    const struct { int backend, id; } backends[] = {
        {1, CMD_COMPORT_BACKEND}, {2, CMD_TELNET_BACKEND}, {3, CMD_MONCMD_BACKEND}, {4, CMD_PLINK_BACKEND},
    };
    for (const auto& b : backends) ui().MenuCheck(b.id, g_cfg.BACKEND == b.backend);
    ui().MenuEnable(CMD_EDIT_CONFIG, !CurrentConfigFile().empty());
    for (int id : {CMD_SCRIPT_STEP, CMD_SCRIPT_HALT, CMD_SCRIPT_PAUSE, CMD_SCRIPT_RESUME})
        ui().MenuEnable(id, false);
    ui().MenuEnable(CMD_XMODEM, g_cfg.BACKEND == 1);
}

// Step 11: connect, and the answers to a failed connection.
void ConnectBackend() {
    errno = 0;
    if (OpenConnection()) return;
    int err = errno;
    int port = g_cfg.COMPORT;
    if (!g_quick.device.empty()) {
        OxelMessageBox("Connection failed", "%s: %s", g_quick.device.c_str(), std::strerror(err));
        ProgramExit(1);
    }
    if (port == 1026) {
        OxelMessageBox("Connection failed", "No COM ports available.\n");
        ProgramExit(1);
    }
    if (err == ENOENT) {
        g_cfg.COMPORT = 0;
        if (OxelMessageBoxStyle(MB_OKCANCEL | MB_ICONEXCLAMATION, "Connection failed",
                                "COM%d not found on this system.\nUse Config->Backend to reconfigure.",
                                port) != IDOK)
            ProgramExit(1);
    } else if (err == EACCES || err == EBUSY) {
        if (OxelMessageBoxStyle(MB_OKCANCEL | MB_ICONEXCLAMATION, "Connection failed",
                                "COM%d in use by some other process.\n", port) != IDOK)
            ProgramExit(1);
    } else {
        errno = err;
        ERROR_REPORT("COM%d connection failed", port);
        ProgramExit(1);
    }
    ui().StatusRefresh();
}

// Step 13.
void SyncMenuChecks() {
    const struct { int id; int32_t value; } checks[] = {
        {CMD_OMITHDR, g_cfg.LOGGING_OMITHDR},   {CMD_NOWARN, g_cfg.LOGGING_NOWARNING},
        {CMD_VIEW_BUTTONS, g_cfg.BUTTONS_VISIBLE},   {CMD_VIEW_FUNCKEYS, g_cfg.FUNCKEYS_VISIBLE},
        {CMD_VIEW_STATUSBAR, g_cfg.STATUSBAR_VISIBLE}, {CMD_VIEW_TOOLBAR, g_cfg.TOOLBAR_VISIBLE},
        {CMD_VIEW_SYSTRACE, g_cfg.TRACE_VISIBLE},    {CMD_RTBTNPASTE, g_cfg.RIGHT_BTTN_PASTE},
        {CMD_READONLY, g_cfg.CONSOLE_READONLY},
    };
    for (const auto& c : checks) ui().MenuCheck(c.id, c.value != 0);
}

// The end of a -s script ends a terminal run: 0 when it ran to its end, 1
// when it failed (its box is on standard error). EXIT OXEL asked for its own
// status first, and the first status asked for wins.
void EndRunWithScript(bool passed) { RequestShutdown(passed ? 0 : 1); }

// With nobody at the keyboard a failed start-up script ends the run, so that
// an unattended job never waits for a key that will not come.
void EndRunIfFailed(bool passed) {
    if (!passed) RequestShutdown(1);
}

// Step 12 at start: the configuration's start-up script, then -s.
void StartScripts() {
    const bool startup = BeginsWithText(g_cfg.STARTUP_SCRIPT);
    if (startup && g_face.terminal && g_face.unattended && g_opt.script.empty())
        RunScriptThen(g_cfg.STARTUP_SCRIPT, EndRunIfFailed);
    else if (startup)
        run_script(g_cfg.STARTUP_SCRIPT, nullptr);
    if (g_opt.script.empty()) return;
    if (g_face.terminal) RunScriptThen(g_opt.script, EndRunWithScript);
    else run_script(g_opt.script.c_str(), nullptr);
}

void Initialise(int cmd) {
    LoadConfiguration(cmd);                                      // 1
    if (cmd == CMD_INIT) TimerStart();                           // 3
    ui().SetTitle(WindowTitle());                                // 5
    if (BeginsWithText(g_cfg.STARTUP_MSG)) {                     // 6
        std::string title = "Oxel: " + BaseName(CurrentConfigFile());
        OxelMessageBox(title.c_str(), "%s", g_cfg.STARTUP_MSG);
    }
    PlaceWindow();                                               // 7
    LogStartup();                                                // 8 (long-term too)
    if (g_cfg.TELNET_ENABLED) TelnetdStart(g_cfg.TELNET_PORT);   // 9
    ServerStartQuestion();                                       // 10
    SyncBackendMenus();                                          // 11
    ConnectBackend();
    if (cmd == CMD_INIT) StartScripts();                         // 12
    else if (BeginsWithText(g_cfg.STARTUP_SCRIPT)) run_script(g_cfg.STARTUP_SCRIPT, nullptr);
    SyncMenuChecks();                                            // 13
    SetFrameInitialised(true);                                   // 14
    ConsoleShowHeld();   // what the start-up script printed meanwhile
    ui().Relayout();
    ui().StatusRefresh();
    if (g_opt.forcedHeight != -1)                                // 15
        console_printf("OrigCharHeight: %d, Forced: %d\r\n", g_measuredHeight.load(), g_opt.forcedHeight);
    if (g_opt.forcedWidth != -1)
        console_printf("OrigCharWidth: %d, Forced: %d\r\n", g_measuredWidth.load(), g_opt.forcedWidth);
    if (g_opt.tmpDebug) console_printf("NOTE: tmp-debug-function enabled\r\n");
    if (!g_quick.device.empty() && BackendConnected())
        console_printf("Connected to %s at %d 8N1%s\r\n", g_quick.device.c_str(), g_quick.rate,
                       g_face.terminal ? " (Ctrl-] ? for help)" : "");
}

// The servers' menu commands.
void ServersInit() {
    CommandRegister({CMD_SRV_TELNET, "Se&rvers", "&Telnet...", [] { ui().ShowDialog("Telnet Server Config..."); }});
    CommandRegister({CMD_SRV_MONCMD, "Se&rvers", "&Moncmd...", [] { ui().ShowDialog("MONCMD Server..."); }});
    CommandRegister({CMD_SRV_FTP, "Se&rvers", "&FTP...", [] { ui().ShowDialog("FTP Server Configuration..."); }});
    CommandRegister({CMD_SRV_DHCP, "Se&rvers", "&DHCP...", [] { ui().ShowDialog("DHCP Server Configuration..."); }});
    CommandRegister({CMD_SRV_SYSLOG, "Se&rvers", "&Syslog...", [] { ui().ShowDialog("SYSLOG Server..."); }});
    TelnetdInit();
}

}  // namespace

std::string CurrentConfigFile() {
    std::lock_guard l(g_mu);
    return g_configFile;
}

void SetCurrentConfigFile(const std::string& name) {
    std::lock_guard l(g_mu);
    g_configFile = name;
    g_configPath = name;
}

int BufferRows() { return g_opt.bufferRows; }
int BufferCols() { return g_opt.bufferCols; }
int ForcedCharHeight() { return g_opt.forcedHeight; }
int ForcedCharWidth() { return g_opt.forcedWidth; }
bool TmpDebugFunction() { return g_opt.tmpDebug; }

void SetMeasuredCharSize(int width, int height) {
    g_measuredWidth = width;
    g_measuredHeight = height;
}

void OxelFrameTick() {
    TimerTick();
    ComBreakIndicatorTick();
}

int OxelStart(int argc, char** argv, Ui& face, FaceTraits traits) {
    UiSet(&face);
    g_face = traits;
    ComSetTerminalFace(traits.terminal);
    g_quick = QuickStart{};
    AppWireHooks();
    SetFrameInitialised(false);
    g_opt = FrameOptions{};
    // 1-2: the store first, so that INSTALLDIR and -D have somewhere to go.
    ShellVarInit();
    SetInstallDir("");   // from OXEL_HOME or the executable, at first use
    shell_setenv("INSTALLDIR", InstallDir().c_str());
    TraceInit();
    ConfigInitDefaults();
    CFG_SET_STRING(g_cfg.TITLEBAR, "Oxel");
    // 3-4.
    if (int status = ParseCommandLine(argc, argv); status >= 0) return status;
    if (g_opt.listPorts) {
        for (const std::string& line : ComListing()) std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        return 0;
    }
    if (!ConsoleInit(g_opt.bufferRows, g_opt.bufferCols)) return 0;
    // 5.
    InitScripting();
    ScriptCmdsInit();
    XmodemInit();
    FileXferInit();
    StatusSourcesRef().xmodemPkts = XmodemPacketCount;
    StatusSourcesRef().fsendBytes = FileXferByteCount;
    TftpCmdsInit();
    DhcpsrvrCmdsInit();
    TftpSrvrInit();
    TftpClientInit();
    LogInit();
    BackendInit();
    NetBackendsInit();
    ServersInit();
    CommandRegister({CMD_INIT, "", "", [] { Initialise(CMD_INIT); }});
    CommandRegister({CMD_REINIT, "", "", [] { Initialise(CMD_REINIT); }});
    ShellVarMenuInit();
    FileMenuInit();
    MainCommandsInit();
    // 8-9.
    face.SetTitle(g_cfg.TITLEBAR);
    CommandDispatch(CMD_INIT);
    return -1;
}

const char* OxelVersion() { return OXEL_VERSION; }

void OxelSyncMenus() {
    SyncBackendMenus();
    SyncMenuChecks();
}

void OxelShutdown() {
    SetFrameInitialised(false);
    LogShutdown();
    // A script may be waiting for a transfer: end the transfer first.
    XmodemShutdown();
    FileXferShutdown();
    ScriptShutdown();
    TftpClientWorkerStop();
    TftpSrvrStop();
    TelnetdStop();
    MoncmdsrvrStop();
    SyslogsrvrStop();
    DhcpsrvrStop();
    FtpsrvrStop();
    if (g_cfg.BACKEND == 4) ClosePlinkConnection();
    if (BackendConnected()) CloseConnection();
    HttpStop();
    TraceShutdown();
    std::fflush(nullptr);
}
