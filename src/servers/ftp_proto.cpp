#include "servers/ftp_proto.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace {

struct Reply {
    int code;
    const char* text;
};
const Reply kReplies[] = {
    {125, "Data conn already open; transfer starting"},
    {150, "File status okay; opening data connection"},
    {200, "Okay"},
    {213, "File status"},
    {215, "UNIX Type: L8"},
    {220, "FTP server ready"},
    {221, "Goodbye"},
    {226, "Transaction succeeded, closing data conn"},
    {230, "User logged in"},
    {250, "Requested file action ok, completed"},
    {257, "\"/\" is current directory."},
    {331, "Password required"},
    {421, "Server busy, try later"},
    {425, "Can't open data connection"},
    {426, "Transaction aborted, closing data conn"},
    {451, "Action aborted, local error in processing"},
    {452, "Insufficient storage space"},
    {500, "Syntax error, command unrecognized"},
    {501, "Syntax error in parameter or argument"},
    {502, "Command not implemented"},
    {504, "Command not implemented for parameter"},
    {530, "Not logged in"},
    {550, "File not found"},
};

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) out.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string Trimmed(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// Applies name's components to base; false when ".." would climb above floor
// components of base.
bool Walk(std::vector<std::string>& base, size_t floor, const std::vector<std::string>& name) {
    for (const std::string& c : name) {
        if (c == ".") continue;
        if (c == "..") {
            if (base.size() <= floor) return false;
            base.pop_back();
            continue;
        }
        base.push_back(c);
    }
    return true;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

}  // namespace

FtpCommand FtpParseCommand(const std::string& line) {
    FtpCommand c;
    const size_t blank = line.find(' ');
    c.verb = line.substr(0, std::min<size_t>(blank, 4));
    for (char& ch : c.verb) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (blank != std::string::npos) c.arg = line.substr(blank + 1);
    return c;
}

std::optional<FtpHostPort> FtpParsePort(const std::string& arg) {
    unsigned v[6];
    int used = 0;
    if (std::sscanf(arg.c_str(), "%3u,%3u,%3u,%3u,%3u,%3u%n", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &used) != 6 ||
        static_cast<size_t>(used) != arg.size())
        return std::nullopt;
    for (unsigned x : v)
        if (x > 255) return std::nullopt;
    FtpHostPort hp;
    auto* b = reinterpret_cast<uint8_t*>(&hp.addr);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v[i]);
    hp.port = static_cast<uint16_t>(v[4] << 8 | v[5]);
    return hp;
}

std::optional<std::string> FtpResolve(const std::string& root, const std::string& cwd, const std::string& name,
                                      bool relativeOnly) {
    std::string n = name;
    for (char& c : n) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return std::nullopt;
        if (c == '\\') c = '/';
    }
    std::vector<std::string> rootParts = Components(root);
    if (!n.empty() && n[0] == '/') {
        if (!relativeOnly) {
            std::vector<std::string> parts;
            if (!Walk(parts, 0, Components(n))) return std::nullopt;
            return Join(parts);
        }
        // With relative paths only, "/" is the top of the tree.
        std::vector<std::string> parts = rootParts;
        if (!Walk(parts, rootParts.size(), Components(n))) return std::nullopt;
        return Join(parts);
    }
    std::vector<std::string> parts = Components(cwd);
    // A relative name never climbs above the start directory; with relative
    // paths off the session may have moved elsewhere by an absolute name,
    // and then it may not climb above that directory.
    const bool belowRoot =
        parts.size() >= rootParts.size() && std::equal(rootParts.begin(), rootParts.end(), parts.begin());
    if (!Walk(parts, belowRoot ? rootParts.size() : parts.size(), Components(n))) return std::nullopt;
    return Join(parts);
}

std::string FtpShownDir(const std::string& root, const std::string& cwd) {
    const std::string r = Trimmed(root), c = Trimmed(cwd);
    if (c == r) return "/";
    if (c.compare(0, r.size(), r) == 0 && (r == "/" || c[r.size()] == '/')) return r == "/" ? c : c.substr(r.size());
    return c;
}

const char* FtpReplyText(int code) {
    for (const Reply& r : kReplies)
        if (r.code == code) return r.text;
    return nullptr;
}
