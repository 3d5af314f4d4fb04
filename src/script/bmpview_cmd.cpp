#include "script/bmpview_cmd.h"

#include <strings.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

#include "util/utils.h"
#include "util/cmdline.h"
#include "script/scripting.h"

#define OXEL_MODULE "bmpview_cmd"

namespace {

constexpr int kMaxSide = 16384;
constexpr size_t kMaxFile = 256u << 20;

uint32_t Le32(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 | static_cast<uint8_t>(b[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
uint16_t Le16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

std::optional<UiBitmap> Fail(std::string* error, const char* why) {
    if (error) *error = why;
    return std::nullopt;
}

// One pixel of a row as R, G, B.
void Pixel(const std::string& b, size_t row, int x, int bpp, size_t palette, int colours, unsigned char* rgb) {
    if (bpp >= 24) {
        size_t at = row + static_cast<size_t>(x) * (bpp / 8);
        rgb[0] = static_cast<unsigned char>(b[at + 2]);
        rgb[1] = static_cast<unsigned char>(b[at + 1]);
        rgb[2] = static_cast<unsigned char>(b[at]);
        return;
    }
    size_t bit = static_cast<size_t>(x) * bpp;
    unsigned byte = static_cast<uint8_t>(b[row + bit / 8]);
    unsigned idx = (byte >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
    if (static_cast<int>(idx) >= colours) idx = 0;
    size_t at = palette + idx * 4;
    rgb[0] = static_cast<unsigned char>(b[at + 2]);
    rgb[1] = static_cast<unsigned char>(b[at + 1]);
    rgb[2] = static_cast<unsigned char>(b[at]);
}

bool ReadAll(const char* path, std::string& out) {
    struct stat st {};
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return !in.bad() && out.size() <= kMaxFile;
}

struct ViewArgs {
    std::string title, target, mode;
    int w = -1, h = -1, x = -1, y = -1, stride = 0;
    bool bottomUp = false;
};

int ParseView(int argc, char** argv, ViewArgs& a) {
    for (int c; (c = script_getopt(argc, argv, "h:l:m:R:rt:T:w:")) != -1;) {
        switch (c) {
        case 't': a.title = script_optarg; break;
        case 'T': a.target = script_optarg; break;
        case 'm': a.mode = script_optarg; break;
        case 'r': a.bottomUp = true; break;
        case 'l':
            if (std::sscanf(script_optarg, "%d,%d", &a.x, &a.y) != 2) return -2;
            break;
        case 'h':
        case 'w':
        case 'R': {
            auto v = ParseSigned(script_optarg);
            if (!v || *v < 1 || *v > kMaxSide * 4) return -2;
            (c == 'h' ? a.h : c == 'w' ? a.w : a.stride) = *v;
            break;
        }
        default: return -2;
        }
    }
    if (!a.mode.empty() && strcasecmp(a.mode.c_str(), "gray8") != 0) return -2;
    return argc - script_optind == 1 ? 0 : -3;
}

int cmd_bmpview(int argc, char** argv) {
    ViewArgs a;
    if (int rc = ParseView(argc, argv, a); rc != 0) return rc;
    const char* path = argv[script_optind];
    std::string bytes, why;
    if (!ReadAll(path, bytes)) {
        script_error("Can't open file");
        return -1;
    }
    std::optional<UiBitmap> bmp;
    if (!a.mode.empty()) {
        if (a.w < 1 || a.h < 1) return -2;
        bmp = Gray8Decode(bytes, a.w, a.h, a.stride, a.bottomUp, &why);
    } else {
        bmp = BmpDecode(bytes, &why);
    }
    if (!bmp) {
        script_error("%s: %s", path, why.c_str());
        return -1;
    }
    bmp->title = !a.target.empty() ? a.target : !a.title.empty() ? a.title : path;
    bmp->x = a.x, bmp->y = a.y;
    if (a.mode.empty()) bmp->viewWidth = a.w, bmp->viewHeight = a.h;
    int shown = ui().ShowBitmap(*bmp, !a.target.empty());
    if (shown == 0) {
        script_error("BMPVIEW: the bitmap viewer is %s", "not available in this build");
        return -1;
    }
    if (shown < 0) {
        script_error("Title doesn't exist");
        return -1;
    }
    return 0;
}

}  // namespace

std::optional<UiBitmap> BmpDecode(const std::string& b, std::string* error) {
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return Fail(error, "not a bitmap file");
    uint32_t dataAt = Le32(b, 10), infoSize = Le32(b, 14);
    if (infoSize < 40 || 14 + static_cast<size_t>(infoSize) > b.size()) return Fail(error, "bad bitmap header");
    int32_t width = static_cast<int32_t>(Le32(b, 18)), height = static_cast<int32_t>(Le32(b, 22));
    int bpp = Le16(b, 28);
    uint32_t compression = Le32(b, 30), used = Le32(b, 46);
    bool topDown = height < 0;
    if (topDown) height = height == INT32_MIN ? 0 : -height;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return Fail(error, "bad bitmap size");
    if (compression != 0 && !(compression == 3 && bpp == 32)) return Fail(error, "compressed bitmaps are not shown");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return Fail(error, "unsupported bits per pixel");
    int colours = bpp <= 8 ? static_cast<int>(used ? std::min<uint32_t>(used, 1u << bpp) : 1u << bpp) : 0;
    size_t palette = 14 + infoSize;
    if (palette + static_cast<size_t>(colours) * 4 > b.size()) return Fail(error, "bitmap palette cut short");
    size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
    if (dataAt > b.size() || stride * static_cast<size_t>(height) > b.size() - dataAt)
        return Fail(error, "bitmap data cut short");
    UiBitmap out;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; y++) {
        size_t row = dataAt + stride * static_cast<size_t>(topDown ? y : height - 1 - y);
        for (int x = 0; x < width; x++)
            Pixel(b, row, x, bpp, palette, colours, &out.pixels[(static_cast<size_t>(y) * width + x) * 3]);
    }
    return out;
}

std::optional<UiBitmap> Gray8Decode(const std::string& b, int width, int height, int stride, bool bottomUp,
                                    std::string* error) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return Fail(error, "bad frame size");
    size_t s = stride > 0 ? static_cast<size_t>(stride) : static_cast<size_t>(width);
    if (s < static_cast<size_t>(width)) return Fail(error, "row stride shorter than the width");
    if (s * (height - 1) + width > b.size()) return Fail(error, "frame data cut short");
    UiBitmap out;
    out.width = width;
    out.height = height;
    out.gray8 = true;
    out.pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; y++) {
        size_t row = s * static_cast<size_t>(bottomUp ? height - 1 - y : y);
        std::memcpy(&out.pixels[static_cast<size_t>(y) * width], b.data() + row, static_cast<size_t>(width));
    }
    return out;
}

void BmpviewCmdInit() { ScriptSetHandler("BMPVIEW", cmd_bmpview); }
