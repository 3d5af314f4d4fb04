#include "servers/tftp_proto.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::vector<uint8_t> B(const std::string& s) { return {s.begin(), s.end()}; }

TEST(TftpPath, NamesBelowTheDirectoryAndRefusals) {
    struct Case {
        const char* name;
        bool relativeOnly;
        const char* want;  // null: refused
    } cases[] = {
        {"img.bin", false, "/srv/tftp/img.bin"},
        {"boot/img", true, "/srv/tftp/boot/img"},
        {"/boot/img", true, "/srv/tftp/boot/img"},
        {"/boot/img", false, "/boot/img"},
        {"\\boot\\img", true, "/srv/tftp/boot/img"},
        {"a/./b", true, "/srv/tftp/a/./b"},
        {"..x/y..", true, "/srv/tftp/..x/y.."},
        {"../x", true, nullptr},
        {"a/../../x", true, nullptr},
        {"..", true, nullptr},
        {"a/..", false, nullptr},
        {"/etc/../x", false, nullptr},
        {"..\\x", true, nullptr},
        {"a\x01" "b", true, nullptr},
        {"a\x7f", true, nullptr},
        {"", true, nullptr},
    };
    for (const auto& c : cases) {
        auto got = TftpLocalPath("/srv/tftp", c.name, c.relativeOnly);
        if (c.want) {
            ASSERT_TRUE(got) << c.name;
            EXPECT_EQ(*got, c.want) << c.name;
        } else {
            EXPECT_FALSE(got) << c.name;
        }
    }
    EXPECT_EQ(TftpLocalPath("/srv/", "/x", true).value_or(""), "/srv/x");
    EXPECT_TRUE(TftpLocalPath("/d", std::string(249, 'a'), true));
    EXPECT_FALSE(TftpLocalPath("/d", std::string(250, 'a'), true));
}

TEST(TftpBlksize, ClampedToTheRangeAndTheBuffer) {
    struct Case {
        const char* value;
        int want;  // 0: option ignored
    } cases[] = {
        {"512", 512}, {"1468", 1468}, {"8", 8}, {"7", 0}, {"0", 0}, {"65464", 65464},
        {"65465", 65464}, {"1099511627776", 65464}, {"99999999999999999999999999", 65464},
        {"-1", 0}, {"12x", 0}, {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(TftpClampBlksize(c.value, kTftpMaxBlksize).value_or(0), c.want) << c.value;
    EXPECT_EQ(TftpClampBlksize("4096", 2044).value_or(0), 2044);
}

TEST(TftpRequest, ParsesFileModeAndOptions) {
    TftpRequest rq;
    auto p = B(std::string("\0\1boot.img\0octet\0tsize\0" "0\0blksize\0" "1468\0", 38));
    ASSERT_TRUE(TftpParseRequest(p.data(), p.size(), rq));
    EXPECT_EQ(rq.opcode, TFTP_RRQ);
    EXPECT_EQ(rq.file, "boot.img");
    EXPECT_EQ(rq.mode, "octet");
    ASSERT_EQ(rq.options.size(), 2u);
    EXPECT_EQ(rq.options[1].name, "blksize");
    EXPECT_EQ(rq.options[1].value, "1468");
}

TEST(TftpRequest, MalformedAndOddRequests) {
    struct Case {
        std::string bytes;
        bool ok;
        size_t options;
    } cases[] = {
        {std::string("\0\1name", 6), false, 0},                       // no NULs
        {std::string("\0\1name\0octet", 12), false, 0},               // mode without its NUL
        {std::string("\0\1\0octet\0", 9), false, 0},                  // empty name
        {std::string("\0\3name\0octet\0", 13), false, 0},             // not a request
        {std::string("\0\2name\0octet\0blksize\0", 21), true, 0},     // odd option count
        {std::string("\0\2name\0octet\0a\0b\0c", 19), true, 1},
    };
    for (const auto& c : cases) {
        TftpRequest rq;
        auto p = B(c.bytes);
        EXPECT_EQ(TftpParseRequest(p.data(), p.size(), rq), c.ok) << c.bytes.size();
        EXPECT_EQ(rq.options.size(), c.options);
    }
    std::string many("\0\1f\0octet\0", 10);
    for (int i = 0; i < 300; ++i) many += std::string("a\0b\0", 4);
    TftpRequest rq;
    auto p = B(many);
    ASSERT_TRUE(TftpParseRequest(p.data(), p.size(), rq));
    EXPECT_EQ(rq.options.size(), kTftpMaxOptions);
}

TEST(TftpPackets, BuildAndParseRoundTrip) {
    auto e = TftpBuildError(1, "File not found");
    uint16_t code = 0;
    std::string text;
    ASSERT_TRUE(TftpParseError(e.data(), e.size(), code, text));
    EXPECT_EQ(code, 1);
    EXPECT_EQ(text, "File not found");
    // Text without its NUL ends at the packet's end.
    std::vector<uint8_t> bare = {0, 5, 0, 2, 'n', 'o'};
    ASSERT_TRUE(TftpParseError(bare.data(), bare.size(), code, text));
    EXPECT_EQ(text, "no");
    auto o = TftpBuildOack({{"tsize", "1024"}, {"blksize", "1468"}});
    EXPECT_EQ(std::string(o.begin(), o.end()), std::string("\0\6tsize\0" "1024\0blksize\0" "1468\0", 26));
    auto back = TftpParseOack(o.data(), o.size());
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].value, "1024");
    EXPECT_EQ(TftpOpcodeOf(o.data(), 1), 0);
    EXPECT_FALSE(TftpNumberOf(o.data(), 3));
}

TEST(TftpBlocks, RollOverPast65535) {
    EXPECT_EQ(TftpUnwrapBlock(0, 65536), 65536);
    EXPECT_EQ(TftpUnwrapBlock(1, 65537), 65537);
    EXPECT_EQ(TftpUnwrapBlock(65535, 65536), 65535);
    EXPECT_EQ(TftpUnwrapBlock(5, 3), 5);
    EXPECT_EQ(TftpUnwrapBlock(2, 131074), 131074);
}

}  // namespace
