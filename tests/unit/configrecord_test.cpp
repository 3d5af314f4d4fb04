#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "app/oxel.h"
#include "config/configrecord.h"

TEST(ConfigRecord, TablesHoldEveryKeyOnceInWriteOrder) {
    size_t n = 0;
    const ConfigKeyTable* tables = ConfigTables(&n);
    ASSERT_EQ(n, 7u);
    const struct { KeyType type; size_t count; const char* first; const char* last; } want[] = {
        {KeyType::Boolean, 96, "LOCALECHO", "CFG_DIFF_OFF"},
        {KeyType::Byte, 4, "BYTESIZE", "STOPBITS"},
        {KeyType::Word16, 7, "BACKEND_TELNET_PORT", "WEBSOCSRVR_PORT"},
        {KeyType::Decimal32, 18, "TABSTOP", "COMPORTALT"},
        {KeyType::Hex32, 1, "TRACEFLAGS", "TRACEFLAGS"},
        {KeyType::String, 92, "EDITOR", "INSTALL_DIR"},
        {KeyType::Signed32, 28, "BAUDRATE", "FKEY_COLOR_9"},
    };
    std::set<std::string> names;
    for (size_t t = 0; t < n; t++) {
        EXPECT_EQ(tables[t].type, want[t].type) << t;
        ASSERT_EQ(tables[t].count, want[t].count) << t;
        EXPECT_STREQ(tables[t].keys[0].name, want[t].first);
        EXPECT_STREQ(tables[t].keys[tables[t].count - 1].name, want[t].last);
        for (size_t i = 0; i < tables[t].count; i++) names.insert(tables[t].keys[i].name);
    }
    EXPECT_EQ(names.size(), 246u);
    EXPECT_EQ(ConfigKeyCount(), 246u);

    size_t r = 0;
    const ConfigKeyTable* const* order = ConfigReadOrder(&r);
    const KeyType readTypes[] = {KeyType::Boolean, KeyType::Byte, KeyType::Word16, KeyType::Hex32,
                                 KeyType::Decimal32, KeyType::String, KeyType::Signed32};
    ASSERT_EQ(r, 7u);
    for (size_t i = 0; i < r; i++) EXPECT_EQ(order[i]->type, readTypes[i]) << i;
}

TEST(ConfigRecord, NamesCapacitiesAndFields) {
    const struct { const char* name; KeyType type; size_t capacity; const void* field; } cases[] = {
        {"BACKENT_TELNET_SYS", KeyType::String, 65, g_cfg.BACKENT_TELNET_SYS},
        {"BACKENT_MONCMD_SYS", KeyType::String, 65, g_cfg.BACKENT_MONCMD_SYS},
        {"BACKENT_PLINK_ARGS", KeyType::String, 65, g_cfg.BACKENT_PLINK_ARGS},
        {"EDITOR", KeyType::String, 129, g_cfg.EDITOR},
        {"FONTINFO", KeyType::String, 2050, g_cfg.FONTINFO},
        {"TELNET_PASSWORD", KeyType::String, 65, g_cfg.TELNET_PASSWORD},
        {"TELNET_WELCOME", KeyType::String, 129, g_cfg.TELNET_WELCOME},
        {"BUTTON_LABEL_16", KeyType::String, 34, g_cfg.BUTTON_LABEL[15]},
        {"BUTTON_1", KeyType::String, 1025, g_cfg.BUTTON[0]},
        {"FKEY_12", KeyType::String, 1025, g_cfg.FKEY[11]},
        {"FKEY2_LABEL", KeyType::String, 34, g_cfg.FKEY_LABEL[0]},
        {"FKEY9_LABEL", KeyType::String, 34, g_cfg.FKEY_LABEL[7]},
        {"DHCP_GATEWAY", KeyType::String, 64, g_cfg.DHCP_GATEWAY},
        {"INSTALL_DIR", KeyType::String, 2049, nullptr},
        {"FKEY12_SCRIPT", KeyType::Boolean, 0, &g_cfg.FKEY_SCRIPT[11]},
        {"BTN16_SCRIPT", KeyType::Boolean, 0, &g_cfg.BTN_SCRIPT[15]},
        {"FKEY_COLOR_2", KeyType::Signed32, 0, &g_cfg.FKEY_COLOR[0]},
        {"BUTTON_COLOR_16", KeyType::Signed32, 0, &g_cfg.BUTTON_COLOR[15]},
        {"TRACEFLAGS", KeyType::Hex32, 0, &g_cfg.TRACEFLAGS},
    };
    for (const auto& c : cases) {
        KeyType type{};
        const ConfigKey* key = ConfigFindKey(c.name, &type);
        ASSERT_NE(key, nullptr) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(key->field, c.field) << c.name;
        if (c.type == KeyType::String) {
            EXPECT_EQ(key->capacity, c.capacity) << c.name;
        }
    }
    EXPECT_EQ(ConfigFindKey("BACKEND_TELNET_SYS", nullptr), nullptr);
    EXPECT_EQ(ConfigFindKey("tabstop", nullptr), nullptr);  // names are case-sensitive
}

TEST(ConfigRecord, DefaultsAfterReset) {
    SetInstallDir("/opt/oxel");
    std::memset(&g_cfg, 0x5a, sizeof g_cfg);
    ConfigInitDefaults();
    const ConfigRecord& c = g_cfg;
    EXPECT_EQ(c.CONSOLE_COLS, 80);
    EXPECT_EQ(c.CONSOLE_ROWS, 40);
    EXPECT_EQ(c.BAUDRATE, 19200);
    EXPECT_EQ(c.BYTESIZE, 8);
    EXPECT_EQ(c.FLOWCTRL, 0x08);
    EXPECT_EQ(c.TABSTOP, 8);
    EXPECT_EQ(c.DELAY_BETWEEN_CHARS, 2);
    EXPECT_EQ(c.BACKEND, 1);
    EXPECT_EQ(c.TOPLEFT_X, -1);
    EXPECT_EQ(c.TOPLEFT_Y, -1);
    EXPECT_EQ(c.VSCROLL_BUFSIZ, 32768);
    EXPECT_EQ(c.TELNET_PORT, 8200);
    EXPECT_EQ(c.WEBSOCSRVR_PORT, 50080);
    EXPECT_EQ(c.TRACEFLAGS, 0u);
    EXPECT_EQ(c.AUTOWRAP, 1);
    EXPECT_EQ(c.LOCALECHO, 0);
    for (int i = 0; i < 16; i++) {
        EXPECT_EQ(std::string(c.BUTTON_LABEL[i]), "--B" + std::to_string(i + 1) + "--");
        EXPECT_EQ(c.BUTTON_COLOR[i], kButtonFaceColor);
        EXPECT_STREQ(c.BUTTON[i], "");
    }
    for (int i = 0; i < 8; i++) EXPECT_EQ(c.FKEY_COLOR[i], kButtonFaceColor);
    EXPECT_STREQ(c.FONTINFO, "0,0,0,0");
    EXPECT_STREQ(c.LAST_CFG_FILE, "/opt/oxel/config");
    EXPECT_STREQ(c.HTTP_START_DIR, "/opt/oxel/http");
    EXPECT_STREQ(c.TELNET_WELCOME, "\\n\\n*** Oxel Telnet Server ***\\n\\n");
    EXPECT_STREQ(c.LTLOG_PREFIX, "");  // filled in by loading
    EXPECT_EQ(c.TEXT_COLOR, 0);
}

TEST(ConfigRecord, SetStringCutsAtCapacity) {
    ConfigInitDefaults();
    std::string longText(100, 'x');
    CFG_SET_STRING(g_cfg.BUTTON_LABEL[0], longText.c_str());
    EXPECT_EQ(std::strlen(g_cfg.BUTTON_LABEL[0]), sizeof g_cfg.BUTTON_LABEL[0] - 1);
    EXPECT_EQ(g_cfg.BUTTON_LABEL[1][0], '-');  // the neighbour is untouched
}
