// BMPVIEW: bitmap and gray8 decoding, and the command through the runner.
#include <gtest/gtest.h>

#include "script/bmpview_cmd.h"
#include "script_run.h"

namespace {

void Le(std::string& b, uint32_t v, int n) {
    for (int i = 0; i < n; i++) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A bitmap file of the given depth and rows (as stored, padded by the caller).
std::string Bmp(int w, int h, int bpp, const std::string& palette, const std::string& data) {
    std::string b = "BM";
    Le(b, static_cast<uint32_t>(54 + palette.size() + data.size()), 4);
    Le(b, 0, 4);
    Le(b, static_cast<uint32_t>(54 + palette.size()), 4);
    Le(b, 40, 4);
    Le(b, static_cast<uint32_t>(w), 4);
    Le(b, static_cast<uint32_t>(h), 4);
    Le(b, 1, 2);
    Le(b, static_cast<uint32_t>(bpp), 2);
    for (int i = 0; i < 4; i++) Le(b, 0, 4);  // compression, size, resolution
    Le(b, static_cast<uint32_t>(palette.size() / 4), 4);  // colours used
    Le(b, 0, 4);
    return b + palette + data;
}

TEST(Bmpview, DecodesDepthsBottomUp) {
    // 2x2, 24 bits: bottom row blue, white; top row red, green (BGR, rows padded to 8).
    std::string rows = std::string("\xff\x00\x00\xff\xff\xff\x00\x00", 8) + std::string("\x00\x00\xff\x00\xff\x00\x00\x00", 8);
    std::string err;
    auto b = BmpDecode(Bmp(2, 2, 24, "", rows), &err);
    ASSERT_TRUE(b) << err;
    std::vector<unsigned char> want = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    EXPECT_EQ(b->pixels, want);
    // 8 bits with a two-entry palette.
    std::string pal("\x00\x00\x00\x00\x10\x20\x30\x00", 8);
    auto p = BmpDecode(Bmp(1, 1, 8, pal, std::string("\x01\x00\x00\x00", 4)), &err);
    ASSERT_TRUE(p) << err;
    EXPECT_EQ(p->pixels, (std::vector<unsigned char>{0x30, 0x20, 0x10}));
}

TEST(Bmpview, RefusesBrokenFiles) {
    std::string good = Bmp(2, 2, 24, "", std::string(16, '\0'));
    struct {
        std::string bytes, why;
    } cases[] = {
        {"", "not a bitmap file"},
        {"PK" + good.substr(2), "not a bitmap file"},
        {good.substr(0, good.size() - 1), "bitmap data cut short"},
        {Bmp(0, 2, 24, "", std::string(16, '\0')), "bad bitmap size"},
        {Bmp(2, 2, 16, "", std::string(16, '\0')), "unsupported bits per pixel"},
    };
    for (const auto& c : cases) {
        std::string err;
        EXPECT_FALSE(BmpDecode(c.bytes, &err));
        EXPECT_EQ(err, c.why);
    }
    std::string err;
    EXPECT_FALSE(Gray8Decode("abc", 2, 2, 0, false, &err));
    EXPECT_EQ(err, "frame data cut short");
    auto g = Gray8Decode("abXcd", 2, 2, 3, true, &err);
    ASSERT_TRUE(g);
    EXPECT_EQ(std::string(g->pixels.begin(), g->pixels.end()), "cdab");
}

TEST(Bmpview, CommandShowsTheViewer) {
    ScriptHome h;
    h.home.Write("pic.bmp", Bmp(2, 2, 24, "", std::string(16, '\x7f')));
    h.home.Write("frame.raw", std::string(12, '\x40'));
    EXPECT_EQ(h.Run("BMPVIEW -t Camera -l 10,20 " + h.home.File("pic.bmp") + "\n"), "");
    EXPECT_EQ(h.Run("BMPVIEW -T Camera -m gray8 -w 4 -h 3 " + h.home.File("frame.raw") + "\n"), "");
    auto shown = h.ui.Bitmaps();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].title, "Camera");
    EXPECT_EQ(shown[0].x, 10);
    EXPECT_TRUE(shown[1].gray8);
    EXPECT_EQ(shown[1].pixels.size(), 12u);
    struct {
        std::string script, error;
    } cases[] = {
        {"BMPVIEW -T Nobody " + h.home.File("pic.bmp"), "Title doesn't exist\n"},
        {"BMPVIEW " + h.home.File("none.bmp"), "Can't open file\n"},
        {"BMPVIEW " + h.home.path(), "Can't open file\n"},
        {"BMPVIEW " + h.home.File("frame.raw"), h.home.File("frame.raw") + ": not a bitmap file\n"},
        {"BMPVIEW -m gray8 " + h.home.File("frame.raw"), "Parameter error\n"},
        {"BMPVIEW -m rgb565 -w 1 -h 1 " + h.home.File("frame.raw"), "Parameter error\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(h.Run(c.script + "\n"), c.error) << c.script;
}

}  // namespace
