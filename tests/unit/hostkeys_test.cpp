#include <gtest/gtest.h>

#include <string>

#include "console/hostkeys.h"

namespace {

TEST(HostKeys, FunctionKeySequences) {
    struct { std::string bytes; int fkey; size_t length; } cases[] = {
        {"\x1bOP", 1, 3},        {"\x1bOS", 4, 3},         {"\x1b[[A", 1, 4},      {"\x1b[[E", 5, 4},
        {"\x1b[15~", 5, 5},      {"\x1b[17~", 6, 5},       {"\x1b[21~", 10, 5},    {"\x1b[24~x", 12, 5},
        {"\x1b[15;2~", 5, 7},    {"\x1b[1;5Q", 2, 6},      {"\x1b[11~", 1, 5},
        // Not function keys: arrows, cut short, unknown numbers, plain text.
        {"\x1b[A", 0, 0},        {"\x1bO", 0, 0},          {"\x1b[15", 0, 0},      {"\x1b[16~", 0, 0},
        {"\x1b[[Z", 0, 0},       {"\x1b[1;5", 0, 0},       {"abc", 0, 0},          {"\x1b[99999999~", 0, 0},
        {"\x1b[;~", 0, 0},       {"", 0, 0},
    };
    for (const auto& c : cases) {
        HostKey k = ScanHostKey(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(k.fkey, c.fkey) << testing::PrintToString(c.bytes);
        EXPECT_EQ(k.length, c.length) << testing::PrintToString(c.bytes);
    }
}

}  // namespace
