#include <gtest/gtest.h>

#include "util/cmdline.h"

TEST(SplitArgs, Table) {
    struct { const char* line; bool ok; std::vector<std::string> words; } cases[] = {
        {"ECHO \"a b\"", true, {"ECHO", "a b"}},
        {"ab\"c d\"e", true, {"abc de"}},
        {"say \\\"hi\\\"", true, {"say", "\"hi\""}},
        {"  tabs\tand  blanks ", true, {"tabs", "and", "blanks"}},
        {"ECHO \"open", false, {}},
        {"", true, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> w;
        EXPECT_EQ(SplitArgs(c.line, w), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(w, c.words) << c.line;
        }
    }
}

TEST(SplitArgs, ThirtyTwoWordsButNotThirtyThree) {
    std::string line = "CMD";
    for (int i = 1; i < 32; i++) line += " w";
    std::vector<std::string> w;
    EXPECT_TRUE(SplitArgs(line, w));
    EXPECT_EQ(w.size(), 32u);
    EXPECT_FALSE(SplitArgs(line + " w", w));
}

namespace {
std::string Parse(std::vector<std::string> words, const char* opts, std::string* rest) {
    auto argv = ArgvOf(words);
    script_getopt_reset();
    std::string seen;
    int c;
    while ((c = script_getopt(static_cast<int>(words.size()), argv.data(), opts)) != -1) {
        seen += static_cast<char>(c);
        if (script_optarg) seen += std::string("=") + script_optarg + ";";
    }
    for (size_t i = script_optind; i < words.size(); i++) *rest += words[i] + " ";
    return seen;
}
}  // namespace

TEST(Getopt, Table) {
    struct { std::vector<std::string> words; const char* opts; const char* seen; const char* rest; } cases[] = {
        {{"SEND", "-cn", "x"}, "cnt:", "cn", "x "},
        {{"SEND", "-t5", "x"}, "cnt:", "t=5;", "x "},
        {{"SEND", "-t", "5", "x"}, "cnt:", "t=5;", "x "},
        {{"SET", "-5"}, "cnt:", "", "-5 "},
        {{"SET", "--", "-c"}, "cnt:", "", "-c "},
        {{"SET", "-", "x"}, "cnt:", "", "- x "},
        {{"SEND", "-q"}, "cnt:", "?", ""},
        {{"SEND", "-t"}, "cnt:", "?", ""},
    };
    for (const auto& c : cases) {
        std::string rest;
        std::string seen = Parse(c.words, c.opts, &rest);
        EXPECT_EQ(seen, c.seen) << c.words[1];
        EXPECT_EQ(rest, c.rest) << c.words[1];
    }
}
