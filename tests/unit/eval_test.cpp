// The expression evaluators, seen through SET as a script sees them: the
// stored value, or the one "Expression Evaluator Error" box and no change.
#include <gtest/gtest.h>

#include "fake_ui.h"
#include "script/eval.h"
#include "script/scripting.h"
#include "config/shellvar.h"

namespace {

struct Case {
    const char* line;
    const char* value;  // X afterwards; null: unchanged and the error below
    const char* error;
};

class EvalTest : public ::testing::Test {
protected:
    void SetUp() override { InitScripting(); }
    FakeUi ui;
};

}  // namespace

TEST_F(EvalTest, SetExpressionTable) {
    const Case cases[] = {
        {"SET X=7/2", "3", nullptr},
        {"SET X=-7/2", "2147483644", nullptr},
        {"SET X=0-7/2", "-3", nullptr},
        {"SET X=0-1", "-1", nullptr},
        {"SET X=1<4", "16", nullptr},
        {"SET X=256>4", "16", nullptr},
        {"SET X=1<33", "2", nullptr},            // shift count modulo 32
        {"SET X=2^10", "1024", nullptr},
        {"SET X=2^0", "1", nullptr},
        {"SET X=2^31", "-2147483648", nullptr},
        {"SET X=2^32", "0", nullptr},            // wraps modulo 2^32
        {"SET X=3^(0-1)", "1", nullptr},         // negative count gives 1
        {"SET X=7%3", "1", nullptr},
        {"SET X=12&10", "8", nullptr},
        {"SET X=12|3", "15", nullptr},
        {"SET X=~0", "-1", nullptr},
        {"SET X=1+2*3", "7", nullptr},
        {"SET X=(1+2)*3", "9", nullptr},
        {"SET X=1.9", "1", nullptr},
        {"SET X=hex8(255)", "000000ff", nullptr},
        {"SET X=hex(255)", "0xff", nullptr},
        {"SET X=hex0(255)", "ff", nullptr},
        {"SET X=hex2(10)", "0a", nullptr},
        {"SET X=hex4(10)", "000a", nullptr},
        {"SET X=hex(10)+1", "0xb", nullptr},
        {"SET X=1+hex(10)", "0xb", nullptr},
        {"SET X=0XFF", "255", nullptr},
        {"SET X=abs(0-5)", "5", nullptr},
        {"SET X=\" 1 + 2 \"", "3", nullptr},
        {"SET X=4294967296", "0", nullptr},      // literals wrap like every operation
        {"SET X=1234567890123456789012345678901", "242641973", nullptr},  // 31 digits: accepted, wrapped
        {"SET X=12345678901234567890123456789012", nullptr, "Syntax error"}, // 32 digits
        {"SET X=--5", nullptr, "Syntax error"},
        {"SET X=1>>2", nullptr, "Syntax error"},
        {"SET X=1$", nullptr, "Syntax error"},
        {"SET X=(1+2", nullptr, "Unbalanced parenthesis"},
        {"SET X=5/0", nullptr, "Attempted division by zero"},
        {"SET X=5%0", nullptr, "Attempted division by zero"},
        {"SET X=1 2", nullptr, nullptr},         // four words: a variable named X=1
        {"SET X=\"1 2\"", nullptr, "Reference to unknown variable"},
        {"SET X=2^3^2", nullptr, "Reference to unknown variable"},
        {"SET X=nosuch+1", nullptr, "Reference to unknown variable"},
        {"SET X=count+1", nullptr, "Reference to unknown variable"},  // COUNT is not count
        {"SET X=foo(1)", nullptr, "Unrecognised function"},
        {"SET X=abs(1,2)", nullptr, "Wrong number of arguments to funtion"},
        {"SET X=rand(1)", nullptr, "Wrong number of arguments to funtion"},
        {"SET X=abs(1,2,3,4,5)", nullptr, "Unbalanced parenthesis"},
        {"SET X=()", nullptr, "No args specified for function"},
        {"SET X=abs(,1)", nullptr, "No args specified for function"},
        {"SET X=\"  \"", nullptr, "Empty expression"},
        {"SET X=(abcdefghijklmnop=1)", nullptr, "Syntax error"},  // target of 16 characters
        {"SET -f X=1/3", "0.333333", nullptr},
        {"SET -f X=trunc(2.7)", "2", nullptr},
        {"SET -f X=round(2.5)", "3.000000", nullptr},
        {"SET -f X=fabs(0-2.5)", "2.500000", nullptr},
        {"SET -f X=1.5^2", "2.250000", nullptr},
        {"SET -f X=-1.5", "-1.500000", nullptr},
        {"SET -f X=0x10", nullptr, "Syntax error"},
        {"SET -f X=1/0", nullptr, "Attempted division by zero"},
        {"SET -f X=1%2", nullptr, "Reference to unknown variable"},
        {"SET -f X=1&2", nullptr, "Reference to unknown variable"},
        {"SET -f X=round(1,2)", nullptr, "Wrong number of arguments to funtion"},
        {"SET -f X=hex(1)", nullptr, "Unrecognised function"},
    };
    for (const auto& c : cases) {
        ui.Reset();
        shell_setenv("X", "old");
        shell_setenv("COUNT", "1");
        int rc = docmd(c.line);
        auto x = shell_getenv("X");
        auto boxes = ui.Boxes();
        if (c.value) {
            EXPECT_EQ(rc, 0) << c.line;
            EXPECT_EQ(x.value_or("<none>"), c.value) << c.line;
            EXPECT_TRUE(boxes.empty()) << c.line << ": " << (boxes.empty() ? "" : boxes[0].text);
        } else if (c.error) {
            EXPECT_EQ(rc, -1) << c.line;
            EXPECT_EQ(x.value_or("<none>"), "old") << c.line;
            ASSERT_EQ(boxes.size(), 1u) << c.line;
            EXPECT_EQ(boxes[0].title, "Expression Evaluator Error") << c.line;
            EXPECT_EQ(boxes[0].text, c.error) << c.line;
        }
    }
    shell_setenv("X=1", nullptr);
    shell_setenv("COUNT", nullptr);
}

TEST_F(EvalTest, AssignmentInsideAndRemoval) {
    EXPECT_EQ(docmd("SET X=(y=5)+1"), 0);
    EXPECT_EQ(shell_getenv("X").value_or(""), "6");
    EXPECT_EQ(shell_getenv("y").value_or(""), "5");
    EXPECT_EQ(docmd("SET X=y="), 0);
    EXPECT_EQ(shell_getenv("X").value_or(""), "0");
    EXPECT_FALSE(shell_getenv("y"));
    // An assignment stores the unsigned form; reading it back saturates.
    EXPECT_EQ(docmd("SET X=(z=0-1)"), 0);
    EXPECT_EQ(shell_getenv("z").value_or(""), "4294967295");
    EXPECT_EQ(docmd("SET X=z"), 0);
    EXPECT_EQ(shell_getenv("X").value_or(""), "2147483647");
    EXPECT_EQ(docmd("SET -f X=(w=1/4)*2"), 0);
    EXPECT_EQ(shell_getenv("w").value_or(""), "0.250000");
    EXPECT_EQ(shell_getenv("X").value_or(""), "0.500000");
    // Variables read with their prefix: hexadecimal and octal.
    shell_setenv("h", "0x10");
    shell_setenv("o", "010");
    EXPECT_EQ(docmd("SET X=h+o"), 0);
    EXPECT_EQ(shell_getenv("X").value_or(""), "24");
    EXPECT_TRUE(ui.Boxes().empty());
    for (const char* v : {"X", "z", "w", "h", "o"}) shell_setenv(v, nullptr);
}

TEST_F(EvalTest, RandomRanges) {
    for (int i = 0; i < 50; i++) {
        std::string t;
        uint32_t v = 0;
        ASSERT_EQ(EvalInteger("rand()", t, &v), 0);
        EXPECT_LE(v, 0xFFFFFu);
        double d = 0;
        ASSERT_EQ(EvalFloat("rand()", t, &d), 0);
        EXPECT_GE(d, -2147483648.0);
        EXPECT_LE(d, 2147483647.0);
    }
}

TEST_F(EvalTest, DeepNestingIsRefusedNotOverflowed) {
    std::string deep(1000, '(');
    deep += "1";
    deep += std::string(1000, ')');
    std::string t;
    EXPECT_EQ(EvalInteger(deep, t), EVAL_SYNTAX);
    std::string ok = std::string(50, '(') + "2" + std::string(50, ')');
    EXPECT_EQ(EvalInteger(ok, t), 0);
    EXPECT_EQ(t, "2");
}

TEST_F(EvalTest, ArbitraryInputNeverBreaksTheEvaluator) {
    // Random expressions over the evaluator's own alphabet: each one either
    // evaluates or raises exactly one error.
    const char alphabet[] = "0123456789abcxyz+-*/%^(),=&|<>~ .";
    unsigned state = 12345;
    auto next = [&] { return state = state * 1103515245u + 12345u, (state >> 16) & 0x7fff; };
    for (int i = 0; i < 3000; i++) {
        std::string expr;
        int len = 1 + static_cast<int>(next() % 40);
        for (int k = 0; k < len; k++) expr += alphabet[next() % (sizeof alphabet - 1)];
        ui.Reset();
        std::string t;
        int err = (i % 2 ? EvalFloat(expr, t) : EvalInteger(expr, t));
        EXPECT_EQ(ui.Boxes().size(), err ? 1u : 0u) << expr;
    }
    for (const char* v : {"a", "b", "c", "x", "y", "z"}) shell_setenv(v, nullptr);
}
