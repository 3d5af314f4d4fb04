// The program's command line as a user meets it: exit statuses, the boxes on
// standard error, and a clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "proc.h"

namespace {

// Start-up ends with this note on the console when -H is given: a sign that
// the program is up and running its loop.
const char* kReady = "NOTE: tmp-debug-function enabled\r\n";

std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        names.insert(e.path().string());
    return names;
}

TEST(CommandLine, RefusedBeforeAnyWindow) {
    TempDir home;
    std::vector<std::string> many(32, "word");
    struct { std::vector<std::string> args; const char* err; } cases[] = {
        {{"-D", "FOO"}, "[COMMAND LINE ERROR] -D requires equality\n"},
        {{"-O", "x"}, "[COMMAND LINE ERROR] Invalid option.\n"},
        {{"-q"}, "[COMMAND LINE ERROR] Invalid option.\n"},
        {{"-R"}, "[COMMAND LINE ERROR] Invalid option.\n"},
        {{"-C", "-5"}, "[COMMAND LINE ERROR] Invalid option.\n"},
        {{"one.ct", "two.ct"}, "[COMMAND LINE ERROR] Invalid argument count\n"},
        {{"-C", "80", "one.ct", "two.ct"}, "[COMMAND LINE ERROR] Invalid argument count\n"},
        {many, "[CMDLINE ERROR] Could not process argument list.\n"},
        {{"-h"}, "[COMMAND LINE ERROR] Invalid option.\n"},
        {{"-v"}, "[COMMAND LINE ERROR] Invalid option.\n"},
        {{"-b"}, "[COMMAND LINE ERROR] Invalid option.\n"},
        {{"-b", "fast"}, "[COMMAND LINE ERROR] Invalid option.\n"},
        {{"-b", "-5"}, "[COMMAND LINE ERROR] Invalid option.\n"},
        {{"-s"}, "[COMMAND LINE ERROR] Invalid option.\n"},
        {{"--helpme"}, "[COMMAND LINE ERROR] Invalid option.\n"},
    };
    for (const auto& c : cases) {
        ProcResult r = RunCli(c.args, {"OXEL_HOME=" + home.path()});
        EXPECT_EQ(r.status, 64) << c.args[0];
        EXPECT_EQ(r.err, c.err) << c.args[0];
        EXPECT_EQ(r.out, "") << c.args[0];
    }
}

TEST(CommandLine, HelpAndVersionAnswerAndEnd) {
    TempDir home;
    ProcResult v = RunCli({"--version"}, {"OXEL_HOME=" + home.path()});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, "Oxel " OXEL_TEST_VERSION "\n");
    EXPECT_EQ(v.err, "");
    ProcResult h = RunCli({"-C", "80", "--help"}, {"OXEL_HOME=" + home.path()});
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.err, "");
    EXPECT_EQ(h.out.rfind("Oxel " OXEL_TEST_VERSION "\nUsage: oxel-cli", 0), 0u) << h.out;
    // Every option and environment variable is explained.
    for (const char* word : {"-b RATE", "-s SCRIPT", "-A n", "-C n", "-R n", "-D VAR=value", "-d file", "-h n",
                             "-H ", "--list", "--help", "--version", "device", "OXEL_HOME", "OXEL_ANSWERS",
                             "OXEL_SCREEN_DUMP", "64", "Ctrl-] ?"})
        EXPECT_NE(h.out.find(word), std::string::npos) << word;
}

TEST(CommandLine, AcceptedRunsUntilSigterm) {
    TempDir home;
    std::string trace = home.File("trace.log");
    struct { std::vector<std::string> args; std::string out; } cases[] = {
        {{}, ""},
        {{"-C", "100", "-R", "50"}, ""},
        {{"-A", "2", "-D", "PROMPT=> "}, ""},
        {{"-d", trace}, ""},
        {{"-h", "18", "-w", "9"}, "OrigCharHeight: 0, Forced: 18\r\nOrigCharWidth: 0, Forced: 9\r\n"},
        {{"-D", "EMPTY="}, ""},
        {{"--", "-C"}, ""},   // "--" ends the options: "-C" is the file name
    };
    for (auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "-H");
        // A missing configuration file ends the start; give "-C" one in the last case.
        if (args.back() == "-C") {
            std::filesystem::create_directories(home.File("config"));
            home.Write("config/-C", "###################################################\n");
        }
        Proc p(CliPath(), args, {"OXEL_HOME=" + home.path(), "OXEL_ANSWERS="});
        std::string label = args.size() > 1 ? args[1] : "(none)";
        ASSERT_TRUE(p.WaitOutput(kReady, 20000)) << label << "\n" << p.Err();
        p.Signal(SIGTERM);
        EXPECT_EQ(p.Wait(20000), 0) << label;
        EXPECT_EQ(p.Out(), c.out + kReady) << label;
        EXPECT_EQ(p.Err(), "") << label;
    }
    // -d created the trace copy file.
    EXPECT_TRUE(std::filesystem::is_regular_file(trace));
}

TEST(CommandLine, MissingConfigurationEndsWithStatusOne) {
    TempDir home;
    std::string missing = home.File("nowhere.ct");
    ProcResult r = RunCli({missing}, {"OXEL_HOME=" + home.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
}

// A configured port whose device does not exist: OK goes on without a port,
// Cancel ends the start with status 1.
TEST(CommandLine, PortNotFoundAsksFirst) {
    TempDir home;
    std::filesystem::create_directory(home.File("config"));
    home.Write("config/com42.ct",
               "###################################################\n#\n"
               "COMPORT                  42\n");
    const std::string box =
        "[Connection failed] COM42 not found on this system.\\nUse Config->Backend to reconfigure.\n";
    std::vector<std::string> env = {"OXEL_HOME=" + home.path(), "OXEL_ANSWERS=cancel"};
    ProcResult r = RunCli({"-H", "-D", "COMDEV_42=" + home.File("no-such-tty"), "com42.ct"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, box);

    Proc p(CliPath(), {"-H", "-D", "COMDEV_42=" + home.File("no-such-tty"), "com42.ct"},
           {"OXEL_HOME=" + home.path(), "OXEL_ANSWERS=ok"});
    ASSERT_TRUE(p.WaitOutput(kReady, 20000)) << p.Err();
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(20000), 0);
    EXPECT_EQ(p.Err(), box);
}

// oxel-cli delivers the one-second frame tick: an inactivity timeout of three
// seconds runs its course.
TEST(CommandLine, FrameTickDrivesTheInactivityTimeout) {
    TempDir home;
    home.Write("idle.ct",
               "###################################################\n#\n"
               "INACTIVITY_TIMEOUT       3\n");
    Proc p(CliPath(), {"-H", home.File("idle.ct")}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(p.WaitOutput("* open a new Oxel session.              *\r\n", 20000)) << p.Out();
    EXPECT_NE(p.Out().find("* Dropping backend connection now...    *\r\n"), std::string::npos);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(20000), 0);
}

TEST(CommandLine, SigintStopsToo) {
    TempDir home;
    Proc p(CliPath(), {"-H"}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(p.WaitOutput(kReady, 20000));
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(20000), 0);
}

// Started with a configuration file and stopped with SIGTERM: status 0, no
// file left in the working or program directory, no process left behind.
TEST(CommandLine, ConfigurationRunLeavesNothingBehind) {
    TempDir home, work;
    std::filesystem::create_directory(home.File("config"));
    home.Write("config/bench.ct",
               "###################################################\n#\n"
               "# Oxel configuration file\n#\n"
               "COMPORT                  1025\n");
    auto homeBefore = Listing(home.path());
    auto workBefore = Listing(work.path());
    std::string cmd = "cd '" + work.path() + "' && exec '" + CliPath() + "' -H bench.ct";
    Proc p("/bin/sh", {"-c", cmd}, {"OXEL_HOME=" + home.path()});
    ASSERT_TRUE(p.WaitOutput(kReady, 20000)) << p.Err();
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(20000), 0);
    EXPECT_EQ(p.Err(), "");
    EXPECT_EQ(Listing(home.path()), homeBefore);
    EXPECT_EQ(Listing(work.path()), workBefore);
    // The child led its own process group; nothing of it may remain.
    errno = 0;
    EXPECT_EQ(kill(-p.pid(), 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(CommandLine, AnswersComeFromTheEnvironment) {
    TempDir home;
    // Two servers enabled: the start-up question is answered No from
    // OXEL_ANSWERS; the second box is the notice that follows.
    home.Write("srv.ct",
               "###################################################\n#\n"
               "MONCMDSRVR_ENABLED       TRUE\n"
               "TFTPSRVR_ENABLED         TRUE\n");
    Proc p(CliPath(), {"-H", home.File("srv.ct")},
           {"OXEL_HOME=" + home.path(), "OXEL_ANSWERS=no"});
    if (!p.WaitOutput(kReady, 20000)) FAIL() << p.Err();
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(20000), 0);
    EXPECT_EQ(p.Err(),
              "[MONCMD TFTP Server auto-startup warning] Ok to allow servers to start up?\n"
              "[All previously enabled servers disabled] To avoid this warning next time, save "
              "current configuration\n");
}

}  // namespace
