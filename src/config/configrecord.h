// The one configuration record and its seven typed key tables.
// Every saved setting is a field here, named exactly as its key. String keys
// are char arrays of the key's capacity so that limits stay visible and a
// reader on another thread never sees freed memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// A numeric key. Reader threads use these while the window or a script
// changes them, so every load and store is atomic; otherwise it reads and
// assigns like the plain number it holds (printf-style calls take .get()).
template <typename T>
class CfgNum {
public:
    CfgNum() noexcept : v_(T()) {}
    explicit CfgNum(T v) noexcept : v_(v) {}
    CfgNum(const CfgNum& o) noexcept : v_(o.get()) {}
    CfgNum& operator=(const CfgNum& o) noexcept {
        set(o.get());
        return *this;
    }
    CfgNum& operator=(T v) noexcept {
        set(v);
        return *this;
    }
    CfgNum& operator&=(T v) noexcept {
        v_.fetch_and(v, std::memory_order_relaxed);
        return *this;
    }
    CfgNum& operator|=(T v) noexcept {
        v_.fetch_or(v, std::memory_order_relaxed);
        return *this;
    }
    CfgNum& operator+=(T v) noexcept {
        v_.fetch_add(v, std::memory_order_relaxed);
        return *this;
    }
    CfgNum& operator-=(T v) noexcept {
        v_.fetch_sub(v, std::memory_order_relaxed);
        return *this;
    }
    operator T() const noexcept { return get(); }
    T get() const noexcept { return v_.load(std::memory_order_relaxed); }
    void set(T v) noexcept { v_.store(v, std::memory_order_relaxed); }

private:
    std::atomic<T> v_;
};
using CfgInt = CfgNum<int32_t>;
using CfgByte = CfgNum<uint8_t>;
using CfgWord = CfgNum<uint16_t>;
using CfgHex = CfgNum<uint32_t>;

struct ConfigRecord {
    // Boolean keys: 32-bit, 1 or 0.
    CfgInt LOCALECHO, LOCALECHOACH, NEWLINE, AUTOWRAP, USE_CN_RECEIVE, DISPLAY_ERRORS;
    CfgInt APPEND_CR, APPEND_LF, ENTER_IS_CRLF, DROP_NON_PRINTABLES, NOBEEP, CTRLV_IS_PASTE;
    CfgInt DTR_STATE, RTS_STATE, HEXMODE_WITH_SPACE, ASCIICODEDHEX_ENTRYMODE, INLINE_SIGNALING;
    CfgInt CONSOLE_READONLY, LINEMODE, USRDEFBAUD, COMPORT_PASSTHROUGH, ROWALIGN_ENABLED;
    CfgInt XMODEM_AUTOSIZE, TSTAMP_CUSTOM, TSTAMP_ENABLED, TSTAMP_LOCAL_ONLY, TSTAMP_AT_TOGGLE;
    CfgInt TELNET_ENABLED, TELNET_READONLY, TELNET_READONLYABO, TELNET_CLIENT_IAC;
    CfgInt BACKEND_PLINK_ENABLED, BACKEND_TELNET_ENABLED, BACKEND_MONCMD_ENABLED;
    CfgInt BACKEND_COMPORT_ENABLED, BACKEND_TELNET_AUTORESTART, BACKEND_TELNET_LINEMODE;
    CfgInt LOGGING_ENABLED, LOGGING_APPEND, LOGGING_DOSMODE, LOGGING_OMITHDR, LOGGING_NOWARNING;
    CfgInt LOG_NON_PRINTABLES, LTLOG_ENABLED, COMPORT_AUTORECONNECT;
    CfgInt FKEY_SCRIPT[12];   // FKEY1_SCRIPT .. FKEY12_SCRIPT
    CfgInt BTN_SCRIPT[16];    // BTN1_SCRIPT .. BTN16_SCRIPT
    CfgInt FTPSRVR_ENABLED, FTP_RELATIVE_ONLY, SYSLOG_TOLOG_ENABLED, SYSLOGSRVR_ENABLED;
    CfgInt SYSLOGSRVR_TOCONSOLE, TFTPSRVR_ENABLED, TFTP_RELATIVE_ONLY, DHCPSRVR_ENABLED;
    CfgInt DHCP_CFGFILE_MODE, HTTPSRVR_ENABLED, HTTP_RELATIVE_ONLY, TRACE_VISIBLE;
    CfgInt TOOLBAR_VISIBLE, STATUSBAR_VISIBLE, FUNCKEYS_VISIBLE, BUTTONS_VISIBLE;
    CfgInt MONCMDSRVR_ENABLED, CTRL_BUTTONS_VISIBLE, TRACE_TSTAMP_ENABLE, VT100_EMULATION;
    CfgInt CHAR_ATTRIBUTES, RIGHT_BTTN_PASTE, CFG_DIFF_OFF;

    // Byte keys.
    CfgByte BYTESIZE, FLOWCTRL, PARITY, STOPBITS;

    // 16-bit keys.
    CfgWord BACKEND_TELNET_PORT, BACKEND_MONCMD_PORT, TELNET_PORT, SYSLOGSRVR_PORT;
    CfgWord MONCMDSRVR_PORT, HTTPSRVR_PORT, WEBSOCSRVR_PORT;

    // Decimal 32-bit keys.
    CfgInt TABSTOP, DELAY_BETWEEN_CHARS, TSTAMP_FORMAT_IDX, LTLOG_PURGESIZE, TRACE_ROWS;
    CfgInt CONSOLE_ROWS, CONSOLE_COLS, INACTIVITY_TIMEOUT, KEEPALIVE_TIMEOUT, HEXMODE;
    CfgInt BACKEND_MONCMD_WAIT, ACH_CSUM_METHOD, TOPLEFT_X, TOPLEFT_Y, BACKEND;
    CfgInt VSCROLL_BUFSIZ, COMPORT, COMPORTALT;

    // Hexadecimal 32-bit key.
    CfgHex TRACEFLAGS;

    // String keys, each with its capacity (terminating NUL included).
    char EDITOR[129];
    char FONTINFO[2050];
    char TITLEBAR[2049];
    char STARTUP_MSG[2049];
    char STARTUP_SCRIPT[2049];
    char LAST_CFG_FILE[2049];
    char LAST_SCRIPTNAME[2049];
    char TSTAMP_CUSTOM_FORMAT[2049];
    char KEEPALIVE_SCRIPT[2049];
    char INACTIVITY_SCRIPT[2049];
    char TELNET_PASSWORD[65];
    char TELNET_WELCOME[129];
    char BACKENT_TELNET_SYS[65];   // "BACKENT": the spelling files carry
    char BACKENT_MONCMD_SYS[65];
    char BACKENT_PLINK_ARGS[65];
    char BUTTON_LABEL[16][34];     // BUTTON_LABEL_1 .. _16
    char BUTTON[16][1025];         // BUTTON_1 .. _16
    char FKEY[12][1025];           // FKEY_1 .. _12
    char FKEY_LABEL[8][34];        // FKEY2_LABEL .. FKEY9_LABEL
    char LOGGING_FILENAME[2049];
    char LOGGING_TAG[2049];
    char FTP_START_DIR[2049];
    char FTP_PASSWORD[2049];
    char TFTP_START_DIR[2049];
    char TFTPC_SRVR[2049];
    char TFTPC_SRCFILE[2049];
    char TFTPC_DSTFILE[2049];
    char HTTP_START_DIR[2049];
    char HTTP_AUTH_USER[2049];
    char HTTP_AUTH_PSWD[2049];
    char XMODEM_CMD[2049];
    char XMODEM_FILE[2049];
    char YFS_BACKUP_LIST[2049];
    char YFS_BACKUP_IPADDR[2049];
    char LTLOG_DIR[2049];
    char LTLOG_PREFIX[2049];
    char DHCP_CFG_FILE[2049];
    char DHCP_CLIENT_MAC[64];
    char DHCP_CLIENT_IP[64];
    char DHCP_SRVR_IP[64];
    char DHCP_NETMASK[64];
    char DHCP_GATEWAY[64];
    char DHCP_BOOTFILE[2049];

    // Signed 32-bit keys. Colours are 0x00BBGGRR, 0 meaning the system colour.
    CfgInt BAUDRATE, TEXT_COLOR, TEXT_COLOR_ALT, BACKGROUND_COLOR;
    CfgInt BUTTON_COLOR[16];      // BUTTON_COLOR_1 .. _16
    CfgInt FKEY_COLOR[8];         // FKEY_COLOR_2 .. _9
};

// The record, for the whole run.
extern ConfigRecord g_cfg;

// The system's button-face colour, the default of every button and key colour.
constexpr int32_t kButtonFaceColor = 0x00F0F0F0;

// Key tables. Each entry names its destination in g_cfg (null: accepted and
// ignored). Tables are listed in write order; ConfigReadOrder gives the order
// in which a line is offered to them.
enum class KeyType { Boolean, Byte, Word16, Decimal32, Hex32, String, Signed32 };

struct ConfigKey {
    const char* name;
    void* field;        // int32_t*, uint8_t*, uint16_t*, uint32_t* or char*
    size_t capacity;    // strings only
};

struct ConfigKeyTable {
    KeyType type;
    const ConfigKey* keys;
    size_t count;
};

// The seven tables in write order: boolean, byte, 16-bit, decimal, hex, string, signed.
const ConfigKeyTable* ConfigTables(size_t* count);
// Read order: boolean, byte, 16-bit, hex, decimal, string, signed.
const ConfigKeyTable* const* ConfigReadOrder(size_t* count);
// Looks a key up across all tables; null when unknown.
const ConfigKey* ConfigFindKey(const char* name, KeyType* type);
size_t ConfigKeyCount();

// Clears the record and sets every built-in default.
void ConfigInitDefaults();
void ConfigSetDefaults(ConfigRecord& rec);

// String keys are written and read by other threads under the record's lock:
// ConfigSetString copies text in (cut at the key's capacity), ConfigGetString
// copies it out. Code on the window's thread may read the arrays directly.
void ConfigSetString(char* field, size_t capacity, const char* text);
std::string ConfigGetString(const char* field, size_t capacity);
#define CFG_GET_STRING(field) ConfigGetString((field), sizeof(field))
// The record's lock, for a change of several keys at once or a whole record.
std::recursive_mutex& ConfigMutex();
// Replaces the whole record (a file loaded into a copy) under the lock.
void ConfigReplace(const ConfigRecord& rec);
#define CFG_SET_STRING(field, text) ConfigSetString((field), sizeof(field), (text))
