#include <gtest/gtest.h>

#include "util/utils.h"

TEST(Escapes, Table) {
    struct { const char* in; std::string out; } cases[] = {
        {"abc\\r", "abc\r"},
        {"\\x1b[A", "\x1b[A"},
        {"\\q", "\\q"},
        {"a\\\\b", "a\\b"},
        {"\\b\\n\\t", "\b\n\t"},
        {"\\x4", "\\x4"},
        {"\\xZZ", "\\xZZ"},
        {"end\\", "end\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(ExpandEscapes(std::string(c.in)), c.out) << c.in;
}

TEST(Escapes, OutputLimitNeverOverflows) {
    char out[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(ExpandEscapes("abc", 3, out, 3), 3);
    EXPECT_EQ(out[3], '#');
    EXPECT_EQ(ExpandEscapes("abcd", 4, out, 3), -1);
}

TEST(Numbers, BaseFromPrefix) {
    EXPECT_EQ(ParseUnsigned("0x1F"), 31u);
    EXPECT_EQ(ParseUnsigned("017"), 15u);
    EXPECT_EQ(ParseUnsigned("42"), 42u);
    EXPECT_FALSE(ParseUnsigned("12x"));
    EXPECT_FALSE(ParseUnsigned(""));
    EXPECT_EQ(ParseUnsignedLoose("12x"), 12u);
    EXPECT_EQ(ParseSigned("-0x10"), -16);
}

TEST(Digests, KnownVectors) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Md5Hex("abc", 3), "900150983cd24fb0d6963f7d28e17f72");
}
