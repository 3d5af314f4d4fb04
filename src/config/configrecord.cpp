#include "config/configrecord.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/report.h"

ConfigRecord g_cfg;

namespace {

struct Tables {
    std::deque<std::string> names;  // stable storage for the numbered names
    std::vector<ConfigKey> keys[7];
    ConfigKeyTable tables[7];
    const ConfigKeyTable* readOrder[7];
};

const char* Numbered(Tables& t, const char* fmt, int n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, n);
    t.names.emplace_back(buf);
    return t.names.back().c_str();
}

#define K(field) ConfigKey{#field, &g_cfg.field, 0}
#define S(field) ConfigKey{#field, g_cfg.field, sizeof g_cfg.field}

void AddBooleans(Tables& t) {
    auto& v = t.keys[0];
    v = {K(LOCALECHO), K(LOCALECHOACH), K(NEWLINE), K(AUTOWRAP), K(USE_CN_RECEIVE),
         K(DISPLAY_ERRORS), K(APPEND_CR), K(APPEND_LF), K(ENTER_IS_CRLF), K(DROP_NON_PRINTABLES),
         K(NOBEEP), K(CTRLV_IS_PASTE), K(DTR_STATE), K(RTS_STATE), K(HEXMODE_WITH_SPACE),
         K(ASCIICODEDHEX_ENTRYMODE), K(INLINE_SIGNALING), K(CONSOLE_READONLY), K(LINEMODE),
         K(USRDEFBAUD), K(COMPORT_PASSTHROUGH), K(ROWALIGN_ENABLED), K(XMODEM_AUTOSIZE),
         K(TSTAMP_CUSTOM), K(TSTAMP_ENABLED), K(TSTAMP_LOCAL_ONLY), K(TSTAMP_AT_TOGGLE),
         K(TELNET_ENABLED), K(TELNET_READONLY), K(TELNET_READONLYABO), K(TELNET_CLIENT_IAC),
         K(BACKEND_PLINK_ENABLED), K(BACKEND_TELNET_ENABLED), K(BACKEND_MONCMD_ENABLED),
         K(BACKEND_COMPORT_ENABLED), K(BACKEND_TELNET_AUTORESTART), K(BACKEND_TELNET_LINEMODE),
         K(LOGGING_ENABLED), K(LOGGING_APPEND), K(LOGGING_DOSMODE), K(LOGGING_OMITHDR),
         K(LOGGING_NOWARNING), K(LOG_NON_PRINTABLES), K(LTLOG_ENABLED),
         K(COMPORT_AUTORECONNECT)};
    for (int i = 0; i < 12; i++)
        v.push_back({Numbered(t, "FKEY%d_SCRIPT", i + 1), &g_cfg.FKEY_SCRIPT[i], 0});
    for (int i = 0; i < 16; i++)
        v.push_back({Numbered(t, "BTN%d_SCRIPT", i + 1), &g_cfg.BTN_SCRIPT[i], 0});
    for (auto k : {K(FTPSRVR_ENABLED), K(FTP_RELATIVE_ONLY), K(SYSLOG_TOLOG_ENABLED),
                   K(SYSLOGSRVR_ENABLED), K(SYSLOGSRVR_TOCONSOLE), K(TFTPSRVR_ENABLED),
                   K(TFTP_RELATIVE_ONLY), K(DHCPSRVR_ENABLED), K(DHCP_CFGFILE_MODE),
                   K(HTTPSRVR_ENABLED), K(HTTP_RELATIVE_ONLY), K(TRACE_VISIBLE),
                   K(TOOLBAR_VISIBLE), K(STATUSBAR_VISIBLE), K(FUNCKEYS_VISIBLE),
                   K(BUTTONS_VISIBLE), K(MONCMDSRVR_ENABLED), K(CTRL_BUTTONS_VISIBLE),
                   K(TRACE_TSTAMP_ENABLE), K(VT100_EMULATION), K(CHAR_ATTRIBUTES),
                   K(RIGHT_BTTN_PASTE), K(CFG_DIFF_OFF)})
        v.push_back(k);
}

void AddNumbers(Tables& t) {
    t.keys[1] = {K(BYTESIZE), K(FLOWCTRL), K(PARITY), K(STOPBITS)};
    t.keys[2] = {K(BACKEND_TELNET_PORT), K(BACKEND_MONCMD_PORT), K(TELNET_PORT),
                 K(SYSLOGSRVR_PORT), K(MONCMDSRVR_PORT), K(HTTPSRVR_PORT), K(WEBSOCSRVR_PORT)};
    t.keys[3] = {K(TABSTOP), K(DELAY_BETWEEN_CHARS), K(TSTAMP_FORMAT_IDX), K(LTLOG_PURGESIZE),
                 K(TRACE_ROWS), K(CONSOLE_ROWS), K(CONSOLE_COLS), K(INACTIVITY_TIMEOUT),
                 K(KEEPALIVE_TIMEOUT), K(HEXMODE), K(BACKEND_MONCMD_WAIT), K(ACH_CSUM_METHOD),
                 K(TOPLEFT_X), K(TOPLEFT_Y), K(BACKEND), K(VSCROLL_BUFSIZ), K(COMPORT),
                 K(COMPORTALT)};
    t.keys[4] = {K(TRACEFLAGS)};
    auto& s = t.keys[6];
    s = {K(BAUDRATE), K(TEXT_COLOR), K(TEXT_COLOR_ALT), K(BACKGROUND_COLOR)};
    for (int i = 0; i < 16; i++)
        s.push_back({Numbered(t, "BUTTON_COLOR_%d", i + 1), &g_cfg.BUTTON_COLOR[i], 0});
    for (int i = 0; i < 8; i++)
        s.push_back({Numbered(t, "FKEY_COLOR_%d", i + 2), &g_cfg.FKEY_COLOR[i], 0});
}

void AddStrings(Tables& t) {
    auto& v = t.keys[5];
    v = {S(EDITOR), S(FONTINFO), S(TITLEBAR), S(STARTUP_MSG), S(STARTUP_SCRIPT),
         S(LAST_CFG_FILE), S(LAST_SCRIPTNAME), S(TSTAMP_CUSTOM_FORMAT), S(KEEPALIVE_SCRIPT),
         S(INACTIVITY_SCRIPT), S(TELNET_PASSWORD), S(TELNET_WELCOME), S(BACKENT_TELNET_SYS),
         S(BACKENT_MONCMD_SYS), S(BACKENT_PLINK_ARGS)};
    for (int i = 0; i < 16; i++)
        v.push_back({Numbered(t, "BUTTON_LABEL_%d", i + 1), g_cfg.BUTTON_LABEL[i],
                     sizeof g_cfg.BUTTON_LABEL[i]});
    for (int i = 0; i < 16; i++)
        v.push_back({Numbered(t, "BUTTON_%d", i + 1), g_cfg.BUTTON[i], sizeof g_cfg.BUTTON[i]});
    for (int i = 0; i < 12; i++)
        v.push_back({Numbered(t, "FKEY_%d", i + 1), g_cfg.FKEY[i], sizeof g_cfg.FKEY[i]});
    for (int i = 0; i < 8; i++)
        v.push_back({Numbered(t, "FKEY%d_LABEL", i + 2), g_cfg.FKEY_LABEL[i],
                     sizeof g_cfg.FKEY_LABEL[i]});
    for (auto k : {S(LOGGING_FILENAME), S(LOGGING_TAG), S(FTP_START_DIR), S(FTP_PASSWORD),
                   S(TFTP_START_DIR), S(TFTPC_SRVR), S(TFTPC_SRCFILE), S(TFTPC_DSTFILE),
                   S(HTTP_START_DIR), S(HTTP_AUTH_USER), S(HTTP_AUTH_PSWD), S(XMODEM_CMD),
                   S(XMODEM_FILE), S(YFS_BACKUP_LIST), S(YFS_BACKUP_IPADDR), S(LTLOG_DIR),
                   S(LTLOG_PREFIX), S(DHCP_CFG_FILE), S(DHCP_CLIENT_MAC), S(DHCP_CLIENT_IP),
                   S(DHCP_SRVR_IP), S(DHCP_NETMASK), S(DHCP_GATEWAY), S(DHCP_BOOTFILE)})
        v.push_back(k);
    v.push_back({"INSTALL_DIR", nullptr, 2049});  // accepted, ignored
}

#undef K
#undef S

Tables& AllTables() {
    static Tables* t = [] {
        auto* t = new Tables;
        AddBooleans(*t);
        AddNumbers(*t);
        AddStrings(*t);
        const KeyType types[7] = {KeyType::Boolean, KeyType::Byte, KeyType::Word16,
                                  KeyType::Decimal32, KeyType::Hex32, KeyType::String,
                                  KeyType::Signed32};
        for (int i = 0; i < 7; i++) t->tables[i] = {types[i], t->keys[i].data(), t->keys[i].size()};
        const int order[7] = {0, 1, 2, 4, 3, 5, 6};
        for (int i = 0; i < 7; i++) t->readOrder[i] = &t->tables[order[i]];
        return t;
    }();
    return *t;
}

std::string HomeDir() {
    const char* h = std::getenv("HOME");
    return h && *h ? h : "/";
}

}  // namespace

const ConfigKeyTable* ConfigTables(size_t* count) {
    *count = 7;
    return AllTables().tables;
}

const ConfigKeyTable* const* ConfigReadOrder(size_t* count) {
    *count = 7;
    return AllTables().readOrder;
}

const ConfigKey* ConfigFindKey(const char* name, KeyType* type) {
    for (const auto& table : AllTables().tables)
        for (size_t i = 0; i < table.count; i++)
            if (std::strcmp(table.keys[i].name, name) == 0) {
                if (type) *type = table.type;
                return &table.keys[i];
            }
    return nullptr;
}

size_t ConfigKeyCount() {
    size_t n = 0;
    for (const auto& table : AllTables().tables) n += table.count;
    return n;
}

std::recursive_mutex& ConfigMutex() {
    static std::recursive_mutex* mu = new std::recursive_mutex;
    return *mu;
}

void ConfigSetString(char* field, size_t capacity, const char* text) {
    if (!field || capacity == 0) return;
    std::lock_guard l(ConfigMutex());
    std::snprintf(field, capacity, "%s", text ? text : "");
}

std::string ConfigGetString(const char* field, size_t capacity) {
    std::lock_guard l(ConfigMutex());
    return std::string(field, strnlen(field, capacity));
}

void ConfigReplace(const ConfigRecord& rec) {
    if (&rec == &g_cfg) return;
    std::lock_guard l(ConfigMutex());
    g_cfg = rec;
}

void ConfigInitDefaults() {
    auto fresh = std::make_unique<ConfigRecord>();
    ConfigSetDefaults(*fresh);
    ConfigReplace(*fresh);
}

void ConfigSetDefaults(ConfigRecord& c) {
    AllTables();
    c.AUTOWRAP = c.USE_CN_RECEIVE = c.DISPLAY_ERRORS = c.CTRLV_IS_PASTE = 1;
    c.DTR_STATE = c.TSTAMP_LOCAL_ONLY = c.TELNET_CLIENT_IAC = c.DHCP_CFGFILE_MODE = 1;
    c.TOOLBAR_VISIBLE = c.STATUSBAR_VISIBLE = c.FUNCKEYS_VISIBLE = c.BUTTONS_VISIBLE = 1;
    c.CTRL_BUTTONS_VISIBLE = c.TRACE_TSTAMP_ENABLE = c.VT100_EMULATION = 1;

    c.BYTESIZE = 0x08;
    c.FLOWCTRL = 0x08;

    c.BACKEND_TELNET_PORT = 8200;
    c.BACKEND_MONCMD_PORT = 777;
    c.TELNET_PORT = 8200;
    c.SYSLOGSRVR_PORT = 514;
    c.MONCMDSRVR_PORT = 777;
    c.HTTPSRVR_PORT = 80;
    c.WEBSOCSRVR_PORT = 50080;

    c.TABSTOP = 8;
    c.DELAY_BETWEEN_CHARS = 2;
    c.LTLOG_PURGESIZE = 50;
    c.TRACE_ROWS = 10;
    c.CONSOLE_ROWS = 40;
    c.CONSOLE_COLS = 80;
    c.BACKEND_MONCMD_WAIT = 10;
    c.TOPLEFT_X = c.TOPLEFT_Y = -1;
    c.BACKEND = 1;
    c.VSCROLL_BUFSIZ = 32768;

    // On Linux the desktop's own handler opens files, unless EDITOR names a program.
    CFG_SET_STRING(c.EDITOR, "xdg-open");
    CFG_SET_STRING(c.FONTINFO, "0,0,0,0");
    CFG_SET_STRING(c.TITLEBAR, "Oxel: bench console for firmware engineers");
    const std::string install = InstallDir();
    CFG_SET_STRING(c.LAST_CFG_FILE, (install + "/config").c_str());
    CFG_SET_STRING(c.TELNET_WELCOME, "\\n\\n*** Oxel Telnet Server ***\\n\\n");
    for (int i = 0; i < 16; i++) {
        std::snprintf(c.BUTTON_LABEL[i], sizeof c.BUTTON_LABEL[i], "--B%d--", i + 1);
        c.BUTTON_COLOR[i] = kButtonFaceColor;
    }
    for (int i = 0; i < 8; i++) c.FKEY_COLOR[i] = kButtonFaceColor;
    // A drive root makes no sense here: serve the user's home until configured.
    CFG_SET_STRING(c.FTP_START_DIR, HomeDir().c_str());
    CFG_SET_STRING(c.TFTP_START_DIR, HomeDir().c_str());
    CFG_SET_STRING(c.HTTP_START_DIR, (install + "/http").c_str());

    c.BAUDRATE = 19200;
}
