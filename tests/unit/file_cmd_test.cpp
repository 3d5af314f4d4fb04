// The FILE command through the runner, on real files, and httpget against a
// real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>

#include "platform/net.h"
#include "script/file_cmd.h"
#include "config/shellvar.h"
#include "script_run.h"

namespace {

const char kFixture[] = "alpha beta  gamma\r\none,two,,four\r\n\r\nlast line here\r\n";

class FileCmd : public ::testing::Test {
protected:
    void SetUp() override { h.home.Write("fx.txt", kFixture); }
    std::string P(const char* name) { return h.home.File(name); }
    ScriptHome h;
};

TEST_F(FileCmd, LookupsOnAFixture) {
    struct {
        std::string script, var, want;
    } cases[] = {
        {"FILE token " + P("fx.txt") + " 3 1", "FILE", "gamma"},
        {"FILE token " + P("fx.txt") + " 4 1", "FILE", "_END_OF_LINE_"},
        {"FILE token " + P("fx.txt") + " 3 2 ,", "FILE", "_EMPTY_TOKEN_"},
        {"FILE token " + P("fx.txt") + " 4 2 ,", "FILE", "four"},
        {"FILE token " + P("fx.txt") + " 1 9", "FILE", "_END_OF_FILE_"},
        {"FILE -V T token " + P("fx.txt") + " 2 4", "T", "line"},
        {"FILE line " + P("fx.txt") + " 4", "FILE", "last line here"},
        {"FILE -V X line " + P("fx.txt") + " 5", "FILE", "_END_OF_FILE_"},
        {"FILE lntot " + P("fx.txt"), "FILE", "4"},
        {"FILE strstr " + P("fx.txt") + " line", "LINE", "4"},
        {"FILE strstr " + P("fx.txt") + " e 2", "LINE", "2"},
        {"FILE fstat " + P("fx.txt"), "FILE", "FILE"},
        {"FILE fstat " + h.home.path(), "FILE", "DIR"},
        {"FILE fstat " + P("none"), "FILE", "NULL"},
        {"FILE size " + P("fx.txt"), "FILE", std::to_string(sizeof kFixture - 1)},
        {"FILE size " + P("none"), "FILE", "NULL"},
        {"FILE basename /a/b\\\\c.txt", "FILE", "c.txt"},
    };
    for (const auto& c : cases) {
        shell_unsetenv(c.var.c_str());
        EXPECT_EQ(h.Run(c.script + "\n"), "") << c.script;
        EXPECT_EQ(h.Var(c.var.c_str()), c.want) << c.script;
    }
    EXPECT_EQ(h.Run("FILE strstr " + P("fx.txt") + " zebra\n"), "");
    EXPECT_EQ(h.Var("FILE"), "NO");
    EXPECT_EQ(h.Var("LINE"), "<unset>");
    EXPECT_EQ(h.Run("FILE basename plain\n"), "");
    EXPECT_EQ(h.Var("FILE"), "<unset>");
}

TEST_F(FileCmd, ChecksumsMatchTheReferenceTools) {
    std::string data;
    for (int i = 0; i < 5000; i++) data += static_cast<char>(i * 7);
    h.home.Write("bin", data);
    EXPECT_EQ(h.Run("FILE md5 " + P("bin") + "\nFILE -V C crc " + P("bin") + "\n"), "");
    auto md5 = RunProgram("/usr/bin/md5sum", {P("bin")});
    ASSERT_EQ(md5.status, 0);
    EXPECT_EQ(h.Var("FILE"), md5.out.substr(0, 32));
    EXPECT_NE(h.ui.Console().find("MD5sum " + P("bin") + ": " + md5.out.substr(0, 32) + "\r\n"), std::string::npos);
    char want[16];
    std::snprintf(want, sizeof want, "0x%08lx",
                  crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    EXPECT_EQ(h.Var("C"), want);
}

TEST_F(FileCmd, BadPathsFailClearly) {
    mkdir(P("dir").c_str(), 0755);
    h.home.Write("secret", "x");
    chmod(P("secret").c_str(), 0);
    bool root = geteuid() == 0;  // root reads anything
    struct {
        std::string script, error;
    } cases[] = {
        {"FILE md5 " + P("none"), P("none") + " can't be opened.\n\n"},
        {"FILE md5 " + P("dir"), P("dir") + " can't be opened.\n\n"},
        {"FILE crc " + P("none"), P("none") + ": open failed.\n"},
        {"FILE hexdump " + P("none"), P("none") + ": open failed.\n"},
        {"FILE hexdump " + P("dir"), P("dir") + ": stat failed.\n"},
        {"FILE lntot " + P("none"), P("none") + ": not found.\n"},
        {"FILE token " + P("dir") + " 1 1", P("dir") + ": not found.\n"},
        {"FILE d2u " + P("none"), P("none") + ": fopen failed.\n"},
        {"FILE rmdir " + P("none"), P("none") + ": rmdir failed.\n"},
        {"FILE mkdir " + P("dir"), P("dir") + ": mkdir failed.\n"},
        {"FILE appendv " + P("app") + " NO_SUCH_VAR_X", "NO_SUCH_VAR_X: no such variable exists.\n"},
        {"FILE token " + P("fx.txt") + " 1 1 ab", "Parameter error\n"},
        {"FILE frobnicate x", "Unrecognized 'file' command: frobnicate\n"},
        {"FILE copy " + P("dir") + " " + P("copy"), P("dir") + ": open failed.\n"},
        {"FILE mktemp " + std::string(1100, 'p'), std::string(1100, 'p') + ": too big.\n"},
        // Opens, but every read fails (even for root).
        {"FILE md5 /proc/self/mem", "/proc/self/mem can't be opened.\n\n"},
        {"FILE crc /proc/self/mem", "/proc/self/mem: open failed.\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(h.Run(c.script + "\n"), c.error) << c.script;
    if (!root) {
        EXPECT_EQ(h.Run("FILE md5 " + P("secret") + "\n"), P("secret") + " can't be opened.\n\n");
    }
    EXPECT_NE(access(P("copy").c_str(), F_OK), 0);  // nothing half-written
}

TEST_F(FileCmd, LineEndsRoundTripAndFilesChange) {
    EXPECT_EQ(h.Run("FILE d2u " + P("fx.txt") + "\n"), "");
    EXPECT_EQ(h.home.Read("fx.txt"), "alpha beta  gamma\none,two,,four\n\nlast line here\n");
    EXPECT_EQ(h.Run("FILE u2d " + P("fx.txt") + "\n"), "");
    EXPECT_EQ(h.home.Read("fx.txt"), kFixture);
    EXPECT_EQ(h.Run("FILE copy " + P("fx.txt") + " " + P("c.txt") + "\nFILE move " + P("c.txt") + " " + P("m.txt") +
                    "\n"),
              "");
    EXPECT_EQ(h.home.Read("m.txt"), kFixture);
    EXPECT_NE(access(P("c.txt").c_str(), F_OK), 0);
    shell_setenv("VAL", "v1");
    EXPECT_EQ(h.Run("FILE append " + P("a") + " one\nFILE appendf " + P("a") + " \"t\\x41b\\n\"\nFILE appendv " +
                    P("a") + " VAL\nFILE delete " + P("m.txt") + "\n"),
              "");
    EXPECT_EQ(h.home.Read("a"), "one\ntAb\nv1");
    EXPECT_NE(access(P("m.txt").c_str(), F_OK), 0);
    EXPECT_EQ(h.Run("FILE mktemp " + P("tmp") + "\n"), "");
    EXPECT_EQ(h.Var("FILE").rfind(P("tmp"), 0), 0u);
    EXPECT_EQ(h.Var("FILE").size(), P("tmp").size() + 6);
}

TEST_F(FileCmd, KnownPathsFollowXdg) {
    setenv("XDG_CONFIG_HOME", P("cfg").c_str(), 1);
    setenv("XDG_DATA_HOME", P("data").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", "/etc/one:/etc/two", 1);
    mkdir(P("cfg").c_str(), 0755);
    h.home.Write("cfg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n");
    EXPECT_EQ(h.Run("FILE known_path_test\n"), "");
    EXPECT_EQ(h.Var("APPDATA"), P("cfg"));
    EXPECT_EQ(h.Var("LOCAL_APPDATA"), P("data"));
    EXPECT_EQ(h.Var("COMMON_APPDATA"), "/etc/one");
    EXPECT_EQ(h.Var("COMMON_DOCUMENTS"), std::string(getenv("HOME")) + "/Docs");
    EXPECT_EQ(h.ui.Console().rfind("Known Paths...\r\n", 0), 0u);
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CONFIG_DIRS"}) unsetenv(v);
}

TEST_F(FileCmd, DirectorySearch) {
    h.home.Write("a1.log", "");
    h.home.Write("a2.log", "");
    EXPECT_EQ(h.Run("FILE first " + P("*.log") + "\nSET one $FILE\nFILE next\nSET two $FILE\nFILE next\n"), "");
    EXPECT_EQ(h.Var("one"), "a1.log");
    EXPECT_EQ(h.Var("two"), "a2.log");
    EXPECT_EQ(h.Var("FILE"), "<unset>");
    shell_setenv("FILE", "stale");
    EXPECT_EQ(h.Run("FILE first " + P("*.nomatch") + "\n"), "");
    EXPECT_EQ(h.Var("FILE"), "<unset>");
}

TEST_F(FileCmd, HexdumpAndWhat) {
    std::string text = HexdumpText("0123456789abcdefXY\n");
    EXPECT_EQ(text,
              "  Offset:   Hex:                                                Ascii:\r\n"
              "  000000:   30 31 32 33 34 35 36 37   38 39 61 62 63 64 65 66   0123456789abcdef\r\n"
              "  000010:   58 59 0a                                            XY.\r\n");
    h.home.Write("v.bin", std::string("xx@(#)tool 1.2\0yy@(#)lib 3>", 27));
    EXPECT_EQ(h.Run("FILE what " + P("v.bin") + "\nFILE hexdump " + P("fx.txt") + " 4 0x6\n"), "");
    EXPECT_NE(h.ui.Console().find("\ttool 1.2\r\n\tlib 3\r\n"), std::string::npos);
    EXPECT_NE(h.ui.Console().find("  000000:   62 65 74 61"), std::string::npos);
}

TEST(FileHttp, UrlsAndHeaders) {
    struct {
        const char* url;
        int error;
        const char* host;
        int port;
        const char* path;
    } cases[] = {
        {"http://h/p", 0, "h", 80, "/p"},
        {"http://10.0.0.1:8080/a/b?c", 0, "10.0.0.1", 8080, "/a/b?c"},
        {"http://host", 2, "", 80, ""},
        {"ftp://h/", 1, "", 80, ""},
        {"http://h:99999/", 5, "", 80, ""},
    };
    for (const auto& c : cases) {
        HttpUrl u = HttpParseUrl(c.url);
        EXPECT_EQ(u.error, c.error) << c.url;
        EXPECT_EQ(u.host, c.host) << c.url;
        if (!c.error) {
            EXPECT_EQ(u.port, c.port);
            EXPECT_EQ(u.path, c.path);
        }
    }
    EXPECT_EQ(HttpParseUrl("http://h/" + std::string(200, 'x')).error, 4);
    EXPECT_EQ(HttpHeaderEnd("HTTP/1.0 200 OK\r\nA: b\r\n\r\nbody"), 25u);
    EXPECT_EQ(HttpHeaderEnd("HTTP/1.0 200 OK\r\n"), std::string::npos);
    EXPECT_EQ(HttpStatus("HTTP/1.0 404 File not found\r\n"), 404);
    EXPECT_EQ(HttpStatus("HTTP/1.1 200 OK\r\nContent-Length: 404\r\n"), 200);
}

// python3 -m http.server on a free loopback port, serving dir.
struct HttpServer {
    explicit HttpServer(const std::string& dir) {
        int fd = NetListenTcp(0, true);
        port = NetLocalPort(fd);
        NetClose(fd);
        proc = std::make_unique<Proc>("/usr/bin/python3", std::vector<std::string>{"-u", "-m", "http.server", "--bind", "127.0.0.1",
                                                                            "--directory", dir, std::to_string(port)});
        ready = proc->WaitOutput("Serving HTTP", 10000) || proc->WaitError("Serving HTTP", 100);
    }
    uint16_t port = 0;
    bool ready = false;
    std::unique_ptr<Proc> proc;
};

TEST(FileHttp, HttpgetFetchesFromALocalServer) {
    ScriptHome h;
    std::string body;
    for (int i = 0; i < 3000; i++) body += static_cast<char>('a' + i % 26);
    mkdir(h.home.File("www").c_str(), 0755);
    h.home.Write("www/page.txt", body);
    HttpServer srv(h.home.File("www"));
    ASSERT_TRUE(srv.ready) << srv.proc->Err();
    std::string base = "http://127.0.0.1:" + std::to_string(srv.port);
    EXPECT_EQ(h.Run("FILE httpget " + base + "/page.txt " + h.home.File("got.txt") + "\n"), "");
    EXPECT_EQ(h.Var("FILE"), "3000");
    EXPECT_EQ(h.home.Read("got.txt"), body);
    EXPECT_EQ(h.Run("FILE httpget " + base + "/missing.txt " + h.home.File("miss.txt") + "\n"),
              "HTTP file (/missing.txt) not found\n");
    EXPECT_NE(access(h.home.File("miss.txt").c_str(), F_OK), 0);
    EXPECT_EQ(h.Run("FILE httpget " + base + "/missing.txt\n"), "");
    EXPECT_EQ(h.Run("FILE httpget ftp://x/\n"), "Parameter error\n");
    EXPECT_EQ(h.Run("FILE httpget http://127.0.0.1:" + std::to_string(srv.port) + "\n"), "Command failed\n");
    EXPECT_EQ(h.Boxes()[0].title, "HTTP error");
}

}  // namespace
