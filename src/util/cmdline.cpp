#include "util/cmdline.h"

#include <cctype>
#include <cstring>

thread_local int script_optind = 1;
thread_local char* script_optarg = nullptr;
namespace {
thread_local int g_optpos = 0;  // position inside a group like -abc
}  // namespace

bool SplitArgs(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0, n = line.size();
    while (true) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) i++;
        if (i >= n) return true;
        if (static_cast<int>(words.size()) == kMaxArgs) return false;
        std::string word;
        bool quoted = false;
        for (; i < n; i++) {
            char c = line[i];
            if (c == '\\' && i + 1 < n && line[i + 1] == '"') {
                word += '"';
                i++;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (!quoted && (c == ' ' || c == '\t')) {
                break;
            } else {
                word += c;
            }
        }
        if (quoted) return false;
        words.push_back(std::move(word));
    }
}

std::vector<char*> ArgvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return argv;
}

void script_getopt_reset() {
    script_optind = 1;
    script_optarg = nullptr;
    g_optpos = 0;
}

int script_getopt(int argc, char** argv, const char* optstring) {
    script_optarg = nullptr;
    const char* name = argc > 0 && argv[0] ? argv[0] : "";
    if (g_optpos == 0) {
        if (script_optind >= argc) return -1;
        const char* arg = argv[script_optind];
        if (arg[0] != '-' || arg[1] == 0) return -1;
        if (std::strcmp(arg, "--") == 0) {
            script_optind++;
            return -1;
        }
        // "-5" is a negative number unless 5 is an option letter.
        if (std::isdigit(static_cast<unsigned char>(arg[1])) && !std::strchr(optstring, arg[1]))
            return -1;
        g_optpos = 1;
    }
    const char* arg = argv[script_optind];
    char c = arg[g_optpos++];
    const char* letter = c != ':' ? std::strchr(optstring, c) : nullptr;
    bool last = arg[g_optpos] == 0;
    if (!letter) {
        script_error("Illegal '%s' option: %c.\n", name, c);
        if (last) { script_optind++; g_optpos = 0; }
        return '?';
    }
    if (letter[1] != ':') {
        if (last) { script_optind++; g_optpos = 0; }
        return c;
    }
    // Takes a value: the rest of this word, or the next word.
    if (!last) {
        script_optarg = const_cast<char*>(arg + g_optpos);
        script_optind++;
    } else if (script_optind + 1 < argc) {
        script_optarg = argv[script_optind + 1];
        script_optind += 2;
    } else {
        script_error("Option '%c' of '%s' requires argument.\n", c, name);
        script_optind++;
        g_optpos = 0;
        return '?';
    }
    g_optpos = 0;
    return c;
}
