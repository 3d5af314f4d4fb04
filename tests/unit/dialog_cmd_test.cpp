// DIALOG through the runner: the box types, the questions, the limits.
#include <gtest/gtest.h>

#include "config/shellvar.h"
#include "script_run.h"

namespace {

TEST(DialogCmd, BoxTypesGiveTheirButtonWords) {
    ScriptHome h;
    struct {
        const char* type;
        int answer;
        unsigned style;
        const char* word;
    } cases[] = {
        {"OK", IDOK, MB_OK, "OK"},
        {"ok_cancel", IDCANCEL, MB_OKCANCEL, "CANCEL"},
        {"RETRY_CANCEL", IDRETRY, MB_RETRYCANCEL, "RETRY"},
        {"YES_NO", IDNO, MB_YESNO, "NO"},
        {"YES_NO_CANCEL", IDYES, MB_YESNOCANCEL, "YES"},
        {"ABORT_RETRY_IGNORE", IDIGNORE, MB_ABORTRETRYIGNORE, "IGNORE"},
    };
    for (const auto& c : cases) {
        h.ui.Reset();
        h.ui.AnswerTitle("Pick", c.answer);
        EXPECT_EQ(h.Run(std::string("DIALOG -t Pick ") + c.type + " \"Line\\tone\"\n"), "") << c.type;
        ASSERT_FALSE(h.Boxes().empty());
        EXPECT_EQ(h.Boxes()[0].style, c.style);
        EXPECT_EQ(h.Boxes()[0].text, "Line\tone");
        EXPECT_EQ(h.Var("DIALOG"), c.word) << c.type;
    }
    EXPECT_EQ(h.Run("DIALOG SOMETHING x\n"), "Parameter error\n");
    EXPECT_EQ(h.Run("DIALOG OK\n"), "Incorrect number of arguments\n");
}

TEST(DialogCmd, QuestionsAndTheirAnswers) {
    ScriptHome h;
    h.ui.Reset();
    h.ui.AnswerText("rev2");
    EXPECT_EQ(h.Run("DIALOG -r BOARD Q_AND_A \"Which board?\" rev1\n"), "");
    EXPECT_EQ(h.Var("BOARD"), "rev2");
    auto q = h.ui.Questions();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].title, "Oxel Q & A dialog...");
    EXPECT_EQ(q[0].initial, "rev1");
    EXPECT_EQ(q[0].kind, UiQuestion::Text);

    // PQ_AND_A hides a named variable from the listing, not DIALOG itself.
    h.ui.AnswerText("s3cret");
    EXPECT_EQ(h.Run("DIALOG -r PASSWD PQ_AND_A Password:\n"), "");
    EXPECT_EQ(h.Var("PASSWD"), "s3cret");
    EXPECT_TRUE(shell_flags("PASSWD") & SHELLVAR_HIDDEN);
    h.ui.AnswerText("open");
    EXPECT_EQ(h.Run("DIALOG PQ_AND_A Password:\n"), "");
    EXPECT_FALSE(shell_flags("DIALOG") & SHELLVAR_HIDDEN);
    EXPECT_EQ(h.ui.Questions()[0].kind, UiQuestion::Hidden);

    h.ui.AnswerText("b");
    EXPECT_EQ(h.Run("DIALOG DDLIST Choose a b c\n"), "");
    EXPECT_EQ(h.Var("DIALOG"), "b");
    EXPECT_EQ(h.ui.Questions()[0].items, (std::vector<std::string>{"a", "b", "c"}));

    // An empty answer is asked again.
    h.ui.AnswerText("");
    h.ui.AnswerText("x");
    EXPECT_EQ(h.Run("DIALOG Q_AND_A Name?\n"), "");
    EXPECT_EQ(h.Var("DIALOG"), "x");
    bool told = false;
    for (const auto& b : h.Boxes()) told |= b.title == "QandA" && b.text == "Must specify answer";
    EXPECT_TRUE(told);

    // Cancelled: the variable goes, the command fails.
    EXPECT_EQ(h.Run("DIALOG GET_FILE File?\n"), "GET_FILE: no answer\n");
    EXPECT_EQ(h.Var("DIALOG"), "<unset>");
}

TEST(DialogCmd, LimitsAndModelessQuestions) {
    ScriptHome h;
    struct {
        std::string script, boxTitle, boxText, error;
    } cases[] = {
        {"DIALOG OK " + std::string(511, 'q'), "", "", ""},
        {"DIALOG OK " + std::string(512, 'q'), "ERROR", "Question text too long", "Command failed\n"},
        {"DIALOG OK q " + std::string(127, 'a'), "", "", ""},
        {"DIALOG Q_AND_A q " + std::string(128, 'a'), "ERROR", "Answer text too long", "Command failed\n"},
        {"DIALOG -t " + std::string(128, 't') + " OK q", "ERROR", "Title text too long", "Command failed\n"},
        {"DIALOG -r " + std::string(127, 'r') + " OK q", "", "", "Parameter error\n"},
        {"DIALOG -m Q_AND_A q", "Q_AND_A Error:", "Modeless option invalid for this dialog.\n", "Command failed\n"},
        {"DIALOG -m DDLIST q a", "DDLIST Error:", "Modeless option invalid for this dialog.\n", "Command failed\n"},
        {"DIALOG -m OK q", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(h.Run(c.script + "\n"), c.error) << c.script.substr(0, 30);
        if (c.boxTitle.empty()) continue;
        ASSERT_FALSE(h.Boxes().empty());
        EXPECT_EQ(h.Boxes()[0].title, c.boxTitle);
        EXPECT_EQ(h.Boxes()[0].text, c.boxText);
    }
    EXPECT_EQ(h.Run("DIALOG -m YES_NO q\n"), "");
    ASSERT_EQ(h.Boxes().size(), 1u);
    EXPECT_EQ(h.Boxes()[0].style, MB_YESNO | MB_MODELESS);
    std::string many = "DIALOG DDLIST q";
    for (int i = 0; i < 25; i++) many += " e" + std::to_string(i);
    EXPECT_EQ(h.Run(many + "\n"), "Too many args.\n\n");
}

}  // namespace
