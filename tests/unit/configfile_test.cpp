#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "util/commands.h"
#include "app/oxel.h"
#include "app/filemenu.h"
#include "config/configfile.h"
#include "config/configrecord.h"
#include "fake_ui.h"
#include "proc.h"
#include "config/shellvar.h"

namespace {

constexpr unsigned kLineBox = MB_OKCANCEL | MB_ICONEXCLAMATION | MB_SYSTEMMODAL;

void ForEachKey(const std::function<void(KeyType, const ConfigKey&)>& fn) {
    size_t n = 0;
    const ConfigKeyTable* tables = ConfigTables(&n);
    for (size_t t = 0; t < n; t++)
        for (size_t i = 0; i < tables[t].count; i++) fn(tables[t].type, tables[t].keys[i]);
}

std::vector<unsigned char> Snapshot() {
    std::vector<unsigned char> bytes(sizeof g_cfg);
    std::memcpy(bytes.data(), &g_cfg, sizeof g_cfg);
    return bytes;
}

size_t FieldSize(KeyType type, const ConfigKey& key) {
    switch (type) {
    case KeyType::Byte: return 1;
    case KeyType::Word16: return 2;
    case KeyType::String: return key.capacity;
    default: return 4;
    }
}

size_t Offset(const ConfigKey& key) {
    return static_cast<size_t>(static_cast<const char*>(key.field) - reinterpret_cast<const char*>(&g_cfg));
}

// A different value for every key, each string at its longest, numbers of
// every sign; chosen so that the load-time adjustments leave them alone.
void SetEveryKeyToNonDefault() {
    int i = 0;
    ForEachKey([&](KeyType type, const ConfigKey& key) {
        ++i;
        if (!key.field) return;
        switch (type) {
        case KeyType::Boolean: {
            auto* b = static_cast<int32_t*>(key.field);
            *b = !*b;
            break;
        }
        case KeyType::Byte: *static_cast<uint8_t*>(key.field) = static_cast<uint8_t>(0x80 + i); break;
        case KeyType::Word16: *static_cast<uint16_t*>(key.field) = static_cast<uint16_t>(60000 + i); break;
        case KeyType::Decimal32:
            *static_cast<int32_t*>(key.field) = i % 2 ? -1000 * i : 2000000000 + i;
            break;
        case KeyType::Hex32: *static_cast<uint32_t*>(key.field) = 0xDEADBEEF; break;
        case KeyType::Signed32: *static_cast<int32_t*>(key.field) = i % 2 ? -123456 - i : 0x7fff0000 + i; break;
        case KeyType::String: {
            // Quotes inside, blanks, '#', tabs: all survive; only line breaks do not.
            // Longest: quotes included, below the capacity and at most 2048.
            size_t len = std::min<size_t>(key.capacity - 3, 2046);
            std::string text = std::string(key.name) + " \"q\" #\t";
            while (text.size() < len) text += static_cast<char>('a' + text.size() % 26);
            text.resize(len);
            ConfigSetString(static_cast<char*>(key.field), key.capacity, text.c_str());
            break;
        }
        }
    });
    // Values the adjustments would change: every backend-enabled key is now
    // TRUE, so the telnet backend wins; flow control without conflicting bits;
    // a saved window position is never negative.
    g_cfg.BACKEND = 2;
    g_cfg.FLOWCTRL = 0x14;
    g_cfg.TOPLEFT_X = 100;
    g_cfg.TOPLEFT_Y = 200;
}

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override {
        SetInstallDir(dir.path());
        std::filesystem::create_directory(dir.File("config"));
        ConfigInitDefaults();
        ConfigSetSessionOnlyBackend(false);
    }
    void TearDown() override { ConfigSetSessionOnlyBackend(false); }

    // A text configuration file: the header mark, then the given lines.
    std::string WriteCfg(const std::string& name, const std::vector<std::string>& lines) {
        std::string text = "########\n";
        for (const auto& l : lines) text += l + "\n";
        dir.Write(name, text);
        return dir.File(name);
    }

    std::vector<std::string> Files() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    FakeUi fake;
    TempDir dir;
};

TEST_F(ConfigFile, EveryKeyRoundTrips) {
    auto defaults = Snapshot();
    SetEveryKeyToNonDefault();
    auto before = Snapshot();
    ForEachKey([&](KeyType type, const ConfigKey& key) {
        if (!key.field) return;
        size_t off = Offset(key);
        EXPECT_NE(std::memcmp(&before[off], &defaults[off], FieldSize(type, key)), 0) << key.name;
    });

    std::string path = dir.File("all.ct");
    ASSERT_EQ(ConfigSave(path.c_str()), 1);
    EXPECT_STREQ(g_cfg.LAST_CFG_FILE, path.c_str());

    ConfigInitDefaults();
    ASSERT_EQ(ConfigLoad(path.c_str()), 1);
    EXPECT_TRUE(fake.Boxes().empty()) << fake.Boxes()[0].text;
    auto after = Snapshot();
    ForEachKey([&](KeyType type, const ConfigKey& key) {
        if (!key.field) return;
        size_t off = Offset(key);
        EXPECT_EQ(std::memcmp(&before[off], &after[off], FieldSize(type, key)), 0) << key.name;
    });
    EXPECT_EQ(std::memcmp(before.data(), after.data(), before.size()), 0);
    EXPECT_EQ(ConfigCurrentPath(), path);
}

TEST_F(ConfigFile, WrittenForm) {
    g_cfg.LOCALECHO = 1;
    g_cfg.PARITY = 2;
    g_cfg.TRACEFLAGS = 0x41;
    g_cfg.COMPORT = 1025;
    g_cfg.TEXT_COLOR = -5;
    CFG_SET_STRING(g_cfg.EDITOR, "gedit");
    ASSERT_EQ(ConfigSave(dir.File("w.ct").c_str()), 1);
    std::string text = dir.Read("w.ct");
    EXPECT_EQ(text.rfind("###################################################\n#\n"
                         "# Oxel configuration file\n"
                         "# Oxel assumes this file is machine generated.\n"
                         "# If you don't know what you're doing, don't touch!\n"
                         "#\n"
                         "LOCALECHO                TRUE\n"
                         "LOCALECHOACH             FALSE\n",
                         0),
              0u);
    for (const char* line : {"\nPARITY                   0x02\n", "\nTELNET_PORT              8200\n",
                             "\nCOMPORT                  1025\n", "\nTRACEFLAGS               0x00000041\n",
                             "\nEDITOR                   \"gedit\"\n", "\nTEXT_COLOR               -5\n",
                             "\nTOPLEFT_X                0\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    // Keys appear in write order (decimal before hexadecimal), INSTALL_DIR never.
    EXPECT_LT(text.find("\nCOMPORTALT "), text.find("\nTRACEFLAGS "));
    EXPECT_LT(text.find("\nTRACEFLAGS "), text.find("\nEDITOR "));
    EXPECT_LT(text.find("\nDHCP_BOOTFILE "), text.find("\nBAUDRATE "));
    EXPECT_EQ(text.find("INSTALL_DIR"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6 + 245);
}

struct LineCase {
    std::vector<std::string> lines;
    std::vector<std::string> boxes;  // "title|text", title "@" for the file's path
    std::function<bool()> check;
};

TEST_F(ConfigFile, LinesAndTheirErrors) {
    std::string pw63(63, 'p'), pw62(62, 'p');
    std::string huge(2047, 'h');  // 2049 with the quotes
    const LineCase cases[] = {
        {{"TABSTOP"}, {"@|Configfile error at line 2: no space"}, [] { return g_cfg.TABSTOP == 8; }},
        {{"TABSTOP \t "}, {"@|Configfile error at line 2: no value"}, [] { return g_cfg.TABSTOP == 8; }},
        {{" TABSTOP 4"}, {"@|Configfile error at line 2: no name"}, [] { return g_cfg.TABSTOP == 8; }},
        {{""}, {"@|Configfile error at line 2: no space"}, nullptr},
        {{"NOSUCHKEY 1"}, {"@|Configfile error at line 2: invalid name 'NOSUCHKEY'"}, nullptr},
        {{"tabstop 4"}, {"@|Configfile error at line 2: invalid name 'tabstop'"}, nullptr},
        {{"EDITOR vim"}, {"@|Configfile error at line 2: invalid name 'EDITOR'"},
         [] { return std::string(g_cfg.EDITOR) != "vim"; }},
        {{"EDITOR \"vim"}, {"@|Configfile error at line 2: invalid name 'EDITOR'"}, nullptr},
        {{"TELNET_PASSWORD \"" + pw63 + "\""},
         {"Config|Value '" + pw63 + "' too long", "@|Configfile error at line 2: invalid name 'TELNET_PASSWORD'"},
         [] { return g_cfg.TELNET_PASSWORD[0] == 0; }},
        {{"TELNET_PASSWORD \"" + pw62 + "\""}, {}, [=] { return g_cfg.TELNET_PASSWORD == pw62; }},
        {{"BUTTON_LABEL_1 \"" + std::string(31, 'L') + "\""}, {},
         [] { return std::strlen(g_cfg.BUTTON_LABEL[0]) == 31; }},
        {{"FKEY_1 \"" + huge + "\""},
         // The box shows the value's start and always its verdict.
         {"Config|Value '\"" + huge.substr(0, 1023) + "...' too big",
          "@|Configfile error at line 2: invalid name 'FKEY_1'"},
         [] { return g_cfg.FKEY[0][0] == 0; }},
        {{"LAST_SCRIPTNAME \"" + std::string(2046, 's') + "\""}, {},
         [] { return std::strlen(g_cfg.LAST_SCRIPTNAME) == 2046; }},
        {{"AUTOWRAP true"}, {}, [] { return g_cfg.AUTOWRAP == 0; }},
        {{"LOCALECHO TRUE"}, {}, [] { return g_cfg.LOCALECHO == 1; }},
        {{"COMPORT 0x0A"}, {}, [] { return g_cfg.COMPORT == 10; }},
        {{"COMPORT 010"}, {}, [] { return g_cfg.COMPORT == 8; }},
        {{"COMPORT junk"}, {}, [] { return g_cfg.COMPORT == 0; }},
        {{"BYTESIZE 0x107"}, {}, [] { return g_cfg.BYTESIZE == 7; }},
        {{"HTTPSRVR_PORT 65616"}, {}, [] { return g_cfg.HTTPSRVR_PORT == 80; }},
        {{"TOPLEFT_X -20"}, {}, [] { return g_cfg.TOPLEFT_X == -20; }},
        {{"TEXT_COLOR -0x10"}, {}, [] { return g_cfg.TEXT_COLOR == -16; }},
        {{"TITLEBAR\t\"My  board \"  "}, {"@|Configfile error at line 2: invalid name 'TITLEBAR'"}, nullptr},
        {{"TITLEBAR\t\"My  board \""}, {}, [] { return std::string(g_cfg.TITLEBAR) == "My  board "; }},
        {{"TABSTOP 3", "TABSTOP 5"}, {}, [] { return g_cfg.TABSTOP == 5; }},
        {{"LOGGING_FD 3", "HIRES_TIMING TRUE", "# comment", "#"}, {}, nullptr},
        {{"INSTALL_DIR \"/elsewhere\""}, {}, [] { return InstallDir() != "/elsewhere"; }},
        {{"TABSTOP 4\r", "EDITOR \"vi\"\r"}, {}, [] { return g_cfg.TABSTOP == 4 && !std::strcmp(g_cfg.EDITOR, "vi"); }},
        {{std::string("EDITOR \"v\0i\"", 12)}, {"@|Configfile error at line 2: invalid name 'EDITOR'"}, nullptr},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines[0].substr(0, 60));
        ConfigInitDefaults();
        fake.Reset();
        std::string path = WriteCfg("case" + std::to_string(n++) + ".ct", c.lines);
        EXPECT_EQ(ConfigLoad(path.c_str()), 1);
        auto boxes = fake.Boxes();
        ASSERT_EQ(boxes.size(), c.boxes.size());
        for (size_t i = 0; i < boxes.size(); i++) {
            auto bar = c.boxes[i].find('|');
            std::string title = c.boxes[i].substr(0, bar), text = c.boxes[i].substr(bar + 1);
            if (title == "@") {
                EXPECT_EQ(boxes[i].title, path);
                EXPECT_EQ(boxes[i].style, kLineBox);
            } else {
                EXPECT_EQ(boxes[i].title, title);
            }
            EXPECT_EQ(boxes[i].text, text.substr(0, 2047));
        }
        if (c.check) {
            EXPECT_TRUE(c.check());
        }
    }
}

TEST_F(ConfigFile, IgnoredNamesChangeNothing) {
    std::string plain = WriteCfg("plain.ct", {});
    ASSERT_EQ(ConfigLoad(plain.c_str()), 1);
    auto reference = Snapshot();
    ConfigInitDefaults();
    std::string ignored = WriteCfg("ignored.ct", {"INSTALL_DIR \"/elsewhere\"", "LOGGING_FD 7", "HIRES_TIMING TRUE"});
    ASSERT_EQ(ConfigLoad(ignored.c_str()), 1);
    EXPECT_EQ(std::memcmp(reference.data(), Snapshot().data(), reference.size()), 0);
    EXPECT_TRUE(fake.Boxes().empty());
}

TEST_F(ConfigFile, CancelStopsTheLoadKeepingEarlierKeys) {
    std::string path = WriteCfg("c.ct", {"CONSOLE_COLS 100", "BAD", "CONSOLE_ROWS 50", "ALSO BAD", "TABSTOP 4"});
    fake.Answer(IDOK);
    fake.Answer(IDCANCEL);
    EXPECT_EQ(ConfigLoad(path.c_str()), 0);
    EXPECT_EQ(g_cfg.CONSOLE_COLS, 100);
    EXPECT_EQ(g_cfg.CONSOLE_ROWS, 50);
    EXPECT_EQ(g_cfg.TABSTOP, 8);
    EXPECT_EQ(fake.Boxes().size(), 2u);
    EXPECT_FALSE(ConfigWasLoaded() && ConfigCurrentPath() == path);

    ConfigInitDefaults();
    fake.Reset();
    fake.Answer(IDCANCEL);
    EXPECT_EQ(ConfigLoad(path.c_str()), 0);
    EXPECT_EQ(g_cfg.CONSOLE_COLS, 100);
    EXPECT_EQ(g_cfg.CONSOLE_ROWS, 40);
}

TEST_F(ConfigFile, LoadTimeAdjustments) {
    struct Case {
        std::vector<std::string> lines;
        std::function<bool()> check;
    };
    const Case cases[] = {
        {{"BACKEND_TELNET_ENABLED TRUE", "BACKEND 1"}, [] { return g_cfg.BACKEND == 2; }},
        {{"BACKEND_TELNET_ENABLED TRUE", "BACKEND_MONCMD_ENABLED TRUE", "BACKEND 4"}, [] { return g_cfg.BACKEND == 2; }},
        {{"BACKEND_MONCMD_ENABLED TRUE", "BACKEND_COMPORT_ENABLED TRUE"}, [] { return g_cfg.BACKEND == 3; }},
        {{"BACKEND_COMPORT_ENABLED TRUE", "BACKEND_PLINK_ENABLED TRUE", "BACKEND 4"}, [] { return g_cfg.BACKEND == 1; }},
        {{"BACKEND_PLINK_ENABLED TRUE", "BACKEND 1"}, [] { return g_cfg.BACKEND == 4; }},
        {{"BACKEND 3"}, [] { return g_cfg.BACKEND == 3; }},
        {{"TABSTOP 4"}, [] { return g_cfg.BACKEND == 1; }},
        {{"FLOWCTRL 0x09"}, [] { return g_cfg.FLOWCTRL == 0x08; }},
        {{"FLOWCTRL 0x12"}, [] { return g_cfg.FLOWCTRL == 0x10; }},
        {{"FLOWCTRL 0x1f"}, [] { return g_cfg.FLOWCTRL == 0x1c; }},
        {{"FLOWCTRL 0x03"}, [] { return g_cfg.FLOWCTRL == 0x03; }},
        {{"LTLOG_PREFIX \"\""}, [] { return std::string(g_cfg.LTLOG_PREFIX) == "oxelLog"; }},
        {{"TABSTOP 4"}, [] { return std::string(g_cfg.LTLOG_PREFIX) == "oxelLog"; }},
        {{"LTLOG_PREFIX \"bench\""}, [] { return std::string(g_cfg.LTLOG_PREFIX) == "bench"; }},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines[0]);
        ConfigInitDefaults();
        std::string path = WriteCfg("adj" + std::to_string(n++) + ".ct", c.lines);
        EXPECT_EQ(ConfigLoad(path.c_str()), 1);
        EXPECT_TRUE(c.check());
    }

    // Trace categories are only added by loading.
    ConfigInitDefaults();
    g_cfg.TRACEFLAGS = 0x41;
    std::string path = WriteCfg("trace.ct", {"TRACEFLAGS 0x00000002"});
    ASSERT_EQ(ConfigLoad(path.c_str()), 1);
    EXPECT_EQ(g_cfg.TRACEFLAGS, 0x43u);
    path = WriteCfg("trace0.ct", {"TRACEFLAGS 0"});
    ASSERT_EQ(ConfigLoad(path.c_str()), 1);
    EXPECT_EQ(g_cfg.TRACEFLAGS, 0x43u);

    // The title follows TITLEBAR and the status bar is refreshed.
    fake.Reset();
    path = WriteCfg("title.ct", {"TITLEBAR \"Board 7\""});
    ASSERT_EQ(ConfigLoad(path.c_str()), 1);
    EXPECT_EQ(fake.Title(), "Board 7");
    EXPECT_GE(fake.StatusRefreshes(), 1);
}

TEST_F(ConfigFile, EnvironmentLines) {
    std::string path = WriteCfg("env.ct", {"ENVIRONMENT \"PROMPT my board> \"", "ENVIRONMENT \"TARGET 10.0.0.7\"",
                                           "ENVIRONMENT \"NOSPACE\"", "ENVIRONMENT plain value"});
    ASSERT_EQ(ConfigLoad(path.c_str()), 1);
    EXPECT_EQ(shell_getenv("PROMPT").value_or("<unset>"), "my board> ");
    EXPECT_EQ(shell_getenv("TARGET").value_or("<unset>"), "10.0.0.7");
    auto boxes = fake.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Configfile error at line 4: invalid name 'ENVIRONMENT'");
    EXPECT_EQ(boxes[1].text, "Configfile error at line 5: invalid name 'ENVIRONMENT'");

    fake.Reset();
    std::string big = "ENVIRONMENT \"BIG " + std::string(2045, 'b') + "\"";  // 2051 with the quotes
    path = WriteCfg("envbig.ct", {big});
    ASSERT_EQ(ConfigLoad(path.c_str()), 1);
    ASSERT_EQ(fake.Boxes().size(), 2u);
    EXPECT_EQ(fake.Boxes()[0].title, "Config");
    EXPECT_EQ(fake.Boxes()[0].text.rfind("Value '\"BIG bbb", 0), 0u);
    EXPECT_FALSE(shell_getenv("BIG"));
    shell_setenv("PROMPT", "");
    shell_setenv("TARGET", "");
}

TEST_F(ConfigFile, EnvironmentRoundTrip) {
    shell_setenv("CFGT_PROMPT", "uboot> ");
    shell_export("CFGT_PROMPT", true);
    shell_setenv("CFGT_SECRET", "hunter2");
    shell_export("CFGT_SECRET", true);
    shell_hide("CFGT_SECRET", true);
    shell_setenv("CFGT_LOCAL", "x");
    bool storeReady = false;
    for (const auto& [name, value] : shell_exported()) storeReady |= name == "CFGT_PROMPT";
    if (!storeReady) {
        for (const char* v : {"CFGT_PROMPT", "CFGT_SECRET", "CFGT_LOCAL"}) shell_setenv(v, "");
        GTEST_SKIP() << "the shell variable store does not keep export flags yet";
    }
    std::string path = dir.File("env.ct");
    ASSERT_EQ(ConfigSave(path.c_str()), 1);
    std::string text = dir.Read("env.ct");
    EXPECT_NE(text.find("\nENVIRONMENT              \"CFGT_PROMPT uboot> \"\n"), std::string::npos);
    EXPECT_EQ(text.find("CFGT_SECRET"), std::string::npos);
    EXPECT_EQ(text.find("CFGT_LOCAL"), std::string::npos);

    for (const char* v : {"CFGT_PROMPT", "CFGT_SECRET", "CFGT_LOCAL"}) shell_setenv(v, "");
    ASSERT_EQ(ConfigLoad(path.c_str()), 1);
    EXPECT_EQ(shell_getenv("CFGT_PROMPT").value_or(""), "uboot> ");
    bool exported = false;
    for (const auto& [name, value] : shell_exported()) exported |= name == "CFGT_PROMPT";
    EXPECT_TRUE(exported);
    shell_setenv("CFGT_PROMPT", "");
}

std::string Image(uint32_t version, size_t size) {
    std::string s(size, '\0');
    for (int i = 0; i < 4 && static_cast<size_t>(i) < size; i++) s[i] = static_cast<char>(version >> (8 * i));
    return s;
}

TEST_F(ConfigFile, BadInputIsRefusedClearly) {
    std::string garbage;
    for (int i = 0; i < 5000; i++) garbage += static_cast<char>((i * 7919 + 13) & 0xff);
    const std::string newFormat = "New configuration file format|Rev-4 (and later) Oxel uses an ASCII configuration "
                                  "file. Future saves will convert this configfile to the newer ASCII format.";
    const struct {
        const char* name;
        std::string content;
        std::vector<std::string> boxes;
    } cases[] = {
        {"empty.ct", "", {"ERROR|Invalid config file."}},
        {"short.ct", "###", {"ERROR|Invalid config file."}},
        {"garbage.ct", garbage, {newFormat, "ERROR|Invalid config file."}},
        {"v0800.ct", Image(0x07770800, 52232), {newFormat, "ERROR|Invalid config file."}},
        {"vsmall.ct", Image(0x07770000 + 4000, 4000), {newFormat, "ERROR|Invalid config file."}},
        {"vbig.ct", Image(0x07770000 + 60000, 60000), {newFormat, "ERROR|Invalid config file (too big)."}},
        {"vwrong.ct", Image(0x12345678, 100), {newFormat, "ERROR|Invalid config file."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConfigInitDefaults();
        g_cfg.TABSTOP = 3;
        auto before = Snapshot();
        fake.Reset();
        dir.Write(c.name, c.content);
        EXPECT_EQ(ConfigLoad(dir.File(c.name).c_str()), 0);
        EXPECT_EQ(std::memcmp(before.data(), Snapshot().data(), before.size()), 0);
        auto boxes = fake.Boxes();
        ASSERT_EQ(boxes.size(), c.boxes.size());
        for (size_t i = 0; i < boxes.size(); i++)
            EXPECT_EQ(boxes[i].title + "|" + boxes[i].text, c.boxes[i]);
    }
}

TEST_F(ConfigFile, MissingDirectoryOrSpecialFile) {
    mkfifo(dir.File("fifo.ct").c_str(), 0600);
    std::filesystem::create_directory(dir.File("adir.ct"));
    const struct {
        std::string name;
        std::string expectText;
    } cases[] = {
        {dir.File("nothere.ct"), "No such file or directory"},
        {"nothere.ct", "No such file or directory"},
        {dir.File("adir.ct"), "Is a directory"},
        {dir.path(), "Is a directory"},
        {dir.File("fifo.ct"), dir.File("fifo.ct") + ": not a regular file"},
        {"", "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConfigInitDefaults();
        auto before = Snapshot();
        fake.Reset();
        EXPECT_EQ(ConfigLoad(c.name.c_str()), 0);
        EXPECT_EQ(std::memcmp(before.data(), Snapshot().data(), before.size()), 0);
        ASSERT_EQ(fake.Boxes().size(), 1u);
        EXPECT_EQ(fake.Boxes()[0].title.rfind("ERROR (configfile ", 0), 0u);
        EXPECT_EQ(fake.Boxes()[0].text, c.expectText);
    }

    fake.Reset();
    EXPECT_EQ(ConfigLoad("NULL"), 1);
    EXPECT_TRUE(fake.Boxes().empty());
}

TEST_F(ConfigFile, RelativeNameIsFoundInTheConfigDirectory) {
    std::ofstream(dir.File("config/bench.ct")) << "########\nTABSTOP 6\n";
    ASSERT_EQ(ConfigLoad("bench.ct"), 1);
    EXPECT_EQ(g_cfg.TABSTOP, 6);
    EXPECT_EQ(ConfigCurrentPath(), dir.File("config/bench.ct"));
}

// A line far longer than any value is read to its end and refused as one
// line: no piece of it is taken for a further line, wherever a reader with a
// fixed buffer would have cut it.
std::string LongLineWithKeysAtCuts(size_t size) {
    std::string line(size, 'x');
    const std::string key = "TABSTOP 9 ";
    for (size_t step : {1024u, 2047u, 4095u})
        for (size_t at = step; at + key.size() < size; at += step) line.replace(at, key.size(), key);
    return line;
}

TEST_F(ConfigFile, HundredMegabyteLine) {
    const size_t mb100 = 100u << 20;
    {
        std::ofstream f(dir.File("long.ct"), std::ios::binary);
        f << "########\nTABSTOP 5\nFKEY_1 \"" << LongLineWithKeysAtCuts(mb100) << "\"\nCONSOLE_ROWS 33\n";
    }
    EXPECT_EQ(ConfigLoad(dir.File("long.ct").c_str()), 1);
    std::filesystem::remove(dir.File("long.ct"));
    EXPECT_EQ(g_cfg.TABSTOP, 5);
    EXPECT_EQ(g_cfg.CONSOLE_ROWS, 33);
    EXPECT_EQ(g_cfg.FKEY[0][0], 0);
    auto boxes = fake.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].title, "Config");
    EXPECT_EQ(boxes[0].text.rfind("Value '\"xxx", 0), 0u);
    EXPECT_EQ(boxes[1].text, "Configfile error at line 3: invalid name 'FKEY_1'");

    fake.Reset();
    ConfigInitDefaults();
    {
        std::ofstream f(dir.File("one.ct"), std::ios::binary);
        f << "########\nCONSOLE_COLS ";
        std::string chunk(1 << 20, '7');
        for (size_t i = 0; i < mb100 >> 20; i++) f << chunk;
    }
    EXPECT_EQ(ConfigLoad(dir.File("one.ct").c_str()), 1);
    EXPECT_EQ(g_cfg.CONSOLE_COLS, 80);
    ASSERT_EQ(fake.Boxes().size(), 2u);
    EXPECT_EQ(fake.Boxes()[0].title, "Config");
    EXPECT_EQ(fake.Boxes()[1].text, "Configfile error at line 2: invalid name 'CONSOLE_COLS'");

    // Cancel on the line's error fails the load.
    fake.Reset();
    fake.Answer(IDOK);
    fake.Answer(IDCANCEL);
    EXPECT_EQ(ConfigLoad(dir.File("one.ct").c_str()), 0);
}

TEST_F(ConfigFile, SaveNamesTheFileDotCt) {
    std::filesystem::create_directory(dir.File("v1.2"));
    const struct { std::string given, written; } cases[] = {
        {"plain", "plain.ct"},
        {"board.txt", "board.ct"},
        {"board.tar.gz", "board.ct"},
        {"board.ct", "board.ct"},
        {"v1.2/board", "v1.2/board.ct"},
        {"v1.2/board.x", "v1.2/board.ct"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(ConfigCtName(dir.File(c.given)), dir.File(c.written));
        ASSERT_EQ(ConfigSave(dir.File(c.given).c_str()), 1);
        EXPECT_TRUE(std::filesystem::is_regular_file(dir.File(c.written)));
        EXPECT_EQ(std::string(g_cfg.LAST_CFG_FILE), dir.File(c.written));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("plain")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("board.txt")));
}

TEST_F(ConfigFile, SaveAskingForTheName) {
    // Cancelled or empty choice: nothing written.
    fake.AnswerFile(std::nullopt);
    EXPECT_EQ(ConfigSave(nullptr), 0);
    fake.AnswerFile(std::string());
    EXPECT_EQ(ConfigSave(""), 0);
    EXPECT_EQ(Files(), (std::vector<std::string>{"config"}));

    fake.AnswerFile(dir.File("mine"));
    ASSERT_EQ(ConfigSave(nullptr), 1);
    EXPECT_TRUE(fake.Boxes().empty());
    std::string first = dir.Read("mine.ct");

    // An existing file chosen in the dialog: asked; Cancel keeps it.
    g_cfg.TABSTOP = 3;
    fake.AnswerFile(dir.File("mine.ct"));
    fake.Answer(IDCANCEL);
    EXPECT_EQ(ConfigSave(nullptr), 0);
    ASSERT_EQ(fake.Boxes().size(), 1u);
    EXPECT_EQ(fake.Boxes()[0].title, dir.File("mine.ct"));
    EXPECT_EQ(fake.Boxes()[0].text, "File exists, overwrite?");
    EXPECT_EQ(fake.Boxes()[0].style & MB_TYPEMASK, unsigned(MB_OKCANCEL));
    EXPECT_EQ(dir.Read("mine.ct"), first);

    fake.Reset();
    fake.AnswerFile(dir.File("mine.ct"));
    fake.Answer(IDOK);
    EXPECT_EQ(ConfigSave(nullptr), 1);
    EXPECT_NE(dir.Read("mine.ct").find("\nTABSTOP                  3\n"), std::string::npos);

    // A name from the caller replaces silently.
    fake.Reset();
    g_cfg.TABSTOP = 4;
    EXPECT_EQ(ConfigSave(dir.File("mine.ct").c_str()), 1);
    EXPECT_TRUE(fake.Boxes().empty());
    EXPECT_NE(dir.Read("mine.ct").find("\nTABSTOP                  4\n"), std::string::npos);
    EXPECT_EQ(Files(), (std::vector<std::string>{"config", "mine.ct"}));
}

TEST_F(ConfigFile, FailedSaveLeavesNothingAndSaysSo) {
    ASSERT_EQ(ConfigSave(dir.File("keep.ct").c_str()), 1);
    std::string old = dir.Read("keep.ct");
    std::string lastBefore = g_cfg.LAST_CFG_FILE;
    std::filesystem::create_directory(dir.File("taken.ct"));
    for (const std::string& target : {dir.File("no/such/dir/x.ct"), dir.File("taken.ct")}) {
        SCOPED_TRACE(target);
        fake.Reset();
        EXPECT_EQ(ConfigSave(target.c_str()), 0);
        ASSERT_EQ(fake.Boxes().size(), 1u);
        EXPECT_EQ(fake.Boxes()[0].title.rfind("ERROR (configfile ", 0), 0u);
        EXPECT_EQ(std::string(g_cfg.LAST_CFG_FILE), lastBefore);
    }
    EXPECT_EQ(dir.Read("keep.ct"), old);
    EXPECT_EQ(Files(), (std::vector<std::string>{"config", "keep.ct", "taken.ct"}));
}

TEST_F(ConfigFile, SessionOnlyBackendAndWindowPosition) {
    g_cfg.BACKEND = 2;
    g_cfg.COMPORT = 5;
    g_cfg.BACKEND_TELNET_ENABLED = 1;
    g_cfg.BACKEND_COMPORT_ENABLED = 0;
    g_cfg.TOPLEFT_X = -16777215;
    g_cfg.TOPLEFT_Y = -16777216;
    ConfigSetSessionOnlyBackend(true);
    ASSERT_EQ(ConfigSave(dir.File("s.ct").c_str()), 1);
    EXPECT_EQ(g_cfg.BACKEND, 2);  // the live record keeps the session's backend
    EXPECT_EQ(g_cfg.COMPORT, 5);
    EXPECT_EQ(g_cfg.BACKEND_TELNET_ENABLED, 1);

    ConfigInitDefaults();
    ASSERT_EQ(ConfigLoad(dir.File("s.ct").c_str()), 1);
    EXPECT_EQ(g_cfg.BACKEND, 1);
    EXPECT_EQ(g_cfg.COMPORT, 0);
    EXPECT_EQ(g_cfg.BACKEND_COMPORT_ENABLED, 1);
    EXPECT_EQ(g_cfg.BACKEND_TELNET_ENABLED, 0);
    EXPECT_EQ(g_cfg.TOPLEFT_X, 0);
    EXPECT_EQ(g_cfg.TOPLEFT_Y, -16777216);

    ConfigSetSessionOnlyBackend(false);
    g_cfg.BACKEND_TELNET_ENABLED = 1;
    ASSERT_EQ(ConfigSave(dir.File("s.ct").c_str()), 1);
    ConfigInitDefaults();
    ASSERT_EQ(ConfigLoad(dir.File("s.ct").c_str()), 1);
    EXPECT_EQ(g_cfg.BACKEND, 2);
}

TEST_F(ConfigFile, LineBreakInAValueNeverBecomesAKey) {
    CFG_SET_STRING(g_cfg.BUTTON[0], "one\nBACKEND 4\rtwo");
    ASSERT_EQ(ConfigSave(dir.File("nl.ct").c_str()), 1);
    ConfigInitDefaults();
    ASSERT_EQ(ConfigLoad(dir.File("nl.ct").c_str()), 1);
    EXPECT_TRUE(fake.Boxes().empty());
    EXPECT_EQ(g_cfg.BACKEND, 1);
    EXPECT_STREQ(g_cfg.BUTTON[0], "one BACKEND 4 two");
}

TEST_F(ConfigFile, FileMenuCommands) {
    static bool once = (FileMenuInit(), true);
    (void)once;
    int reinitialised = 0;
    CommandRegister({998, "", "", [&] { reinitialised++; }});
    std::vector<int> ids;
    for (const auto& e : CommandTable())
        if (e.menu == "&File") ids.push_back(e.id);
    for (int id : {400, 401, 402, 448}) EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end()) << id;

    // Save with LAST_CFG_FILE naming the config directory asks for a name.
    CFG_SET_STRING(g_cfg.LAST_CFG_FILE, dir.File("config").c_str());
    fake.AnswerFile(dir.File("config/first"));
    CommandDispatch(401);
    EXPECT_TRUE(std::filesystem::exists(dir.File("config/first.ct")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("config.ct")));

    // Save As makes the chosen file current and enables Edit Config.
    g_cfg.TABSTOP = 7;
    fake.AnswerFile(dir.File("config/second.ct"));
    CommandDispatch(402);
    EXPECT_STREQ(g_cfg.LAST_CFG_FILE, dir.File("config/second.ct").c_str());
    EXPECT_NE(std::find(fake.menuEnabled.begin(), fake.menuEnabled.end(), std::make_pair(448, true)),
              fake.menuEnabled.end());

    // Save writes the current file without asking.
    g_cfg.TABSTOP = 6;
    fake.Reset();
    CommandDispatch(401);
    EXPECT_TRUE(fake.Boxes().empty());
    EXPECT_NE(dir.Read("config/second.ct").find("\nTABSTOP                  6\n"), std::string::npos);

    // Open resets to the defaults, reads defcfg.ct, then the chosen file, and
    // re-runs the initialisation.
    dir.Write("defcfg.ct", "########\nCONSOLE_COLS 132\nTABSTOP 2\n");
    g_cfg.LOCALECHO = 1;
    fake.AnswerFile(dir.File("config/second.ct"));
    CommandDispatch(400);
    EXPECT_EQ(reinitialised, 1);
    EXPECT_EQ(g_cfg.LOCALECHO, 0);
    EXPECT_EQ(g_cfg.CONSOLE_COLS, 80);  // the chosen file's saved value wins
    EXPECT_EQ(g_cfg.TABSTOP, 6);
    EXPECT_STREQ(g_cfg.LAST_CFG_FILE, dir.File("config/second.ct").c_str());

    // Open cancelled: nothing changes.
    g_cfg.LOCALECHO = 1;
    CommandDispatch(400);
    EXPECT_EQ(reinitialised, 1);
    EXPECT_EQ(g_cfg.LOCALECHO, 1);
    CommandRegister({998, "", "", [] {}});
}

}  // namespace
