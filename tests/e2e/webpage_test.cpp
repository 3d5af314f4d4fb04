// The web console page in a real browser: headless Chromium (Debian's
// chromium package) opens the page Oxel serves, shows the board's output in
// its terminal widget and types a line that reaches the board. The
// screenshot is kept in the build directory's test-artifacts/.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "web_bench.h"

namespace {

const char kTerminalText[] =
    "(() => { const b = oxelTerm.buffer.active; let s = ''; for (let i = 0; i < b.length; i++) "
    "s += b.getLine(i).translateToString(true) + '\\n'; return s; })()";

struct Browser {
    Proc proc;
    size_t results = 0;
    Browser(const std::string& url, const std::string& profile)
        : proc("/usr/bin/python3", {SourceDir() + "/tests/support/browser_driver.py", url, profile}) {}
    // The JSON text of a JavaScript expression's value.
    std::string Eval(const std::string& js) {
        proc.Write("eval " + js + "\n");
        ++results;
        size_t at = std::string::npos;
        for (int i = 0; i < 200; ++i) {
            std::string out = proc.Out();
            size_t count = 0;
            for (size_t p = out.find("RESULT "); p != std::string::npos; p = out.find("RESULT ", p + 1)) {
                ++count;
                at = p;
            }
            if (count >= results) return out.substr(at + 7, out.find('\n', at) - at - 7);
            proc.WaitOutput("\n<never>", 50);
        }
        return "";
    }
    // Polls until the expression's value contains needle.
    bool EvalUntil(const std::string& js, const std::string& needle, int tries = 100) {
        for (int i = 0; i < tries; ++i) {
            if (Eval(js).find(needle) != std::string::npos) return true;
            proc.WaitOutput("\n<never>", 100);
        }
        return false;
    }
};

TEST(WebConsolePage, ChromiumShowsTheBoardAndTypesToIt) {
    if (access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "chromium is not installed (apt-get install chromium)";
    WebBench b;
    RunProgram("/bin/cp", {"-r", SourceDir() + "/home/http/.", b.Home()});
    ASSERT_TRUE(b.Start({"BUTTON_LABEL_3 \"Boot\"", "FKEY2_LABEL \"Reset\""}));
    ASSERT_TRUE(b.BoardConnected());
    Browser web(b.Url("/"), b.dir.File("profile"));
    ASSERT_TRUE(web.proc.WaitOutput("READY", 90000)) << web.proc.Err();
    ASSERT_TRUE(web.EvalUntil("document.getElementById('state').textContent", "connected")) << web.proc.Out();
    EXPECT_EQ(web.Eval("document.querySelector('[data-btn=\"3\"]').textContent"), "\"Boot\"");
    EXPECT_EQ(web.Eval("document.querySelector('[data-fkey=\"2\"]').textContent"), "\"Reset\"");
    b.board.Send("\x1b[1;32mU-Boot 2026.01 (bench)\x1b[0m\r\nboard login: ");
    EXPECT_TRUE(web.EvalUntil(kTerminalText, "U-Boot 2026.01 (bench)")) << web.Eval(kTerminalText);
    web.proc.Write("type uname -a\n");
    ASSERT_TRUE(web.proc.WaitOutput("TYPED", 20000));
    EXPECT_TRUE(b.board.Expect("uname -a\r", 15000));
    b.board.Send("root\r\nLinux bench 6.1.0 armv7l\r\n# ");
    EXPECT_TRUE(web.EvalUntil(kTerminalText, "Linux bench 6.1.0 armv7l"));
    // The build directory is where oxel-cli is.
    const std::string cli = CliPath();
    const std::string dir = cli.substr(0, cli.rfind('/')) + "/test-artifacts";
    mkdir(dir.c_str(), 0755);
    web.proc.Write("shot " + dir + "/web_console.png\n");
    EXPECT_TRUE(web.proc.WaitOutput("SHOT", 20000));
    struct stat st{};
    EXPECT_EQ(stat((dir + "/web_console.png").c_str(), &st), 0);
    EXPECT_GT(st.st_size, 1000);
    web.proc.CloseStdin();
    web.proc.Wait(30000);
}

}  // namespace
