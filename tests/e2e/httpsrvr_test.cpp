// The HTTP server end to end: oxel-cli on a pseudo-terminal board, curl and
// plain sockets on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "platform/net.h"
#include "web_bench.h"

namespace {

const char kNotFound[] =
    "<HTML><HEAD><TITLE>SYSTEM ERROR</TITLE></HEAD><BODY><H1>NOT FOUND</H1>The requested object does not exist "
    "on this server.</BODY></HTML>\r\n";

// curl's status code for a request.
std::string Status(WebBench& b, const std::string& path, std::vector<std::string> extra = {}) {
    extra.insert(extra.end(), {"-o", "/dev/null", "-w", "%{http_code}", b.Url(path)});
    return WebBench::Curl(extra).out;
}

// Sends bytes on a fresh connection and collects the reply until the server
// closes (or the time is up).
std::string Raw(const WebBench& b, const std::string& request, int ms = 15000) {
    in_addr lo{};
    NetResolveIPv4("127.0.0.1", &lo);
    int fd = NetConnectTcp(NetAddress(lo, b.http), 5000);
    if (fd < 0) return "<no connection>";
    NetSendAll(fd, request.data(), request.size());
    std::string got;
    char buf[4096];
    while (NetWaitReadable(fd, ms) == 1) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    NetClose(fd);
    return got;
}

TEST(HttpServer, ServesFilesWithTheirTypesAndSaysWhatIsMissing) {
    WebBench b;
    const std::string index = "<HTML><HEAD><TITLE>bench</TITLE></HEAD><BODY>index</BODY></HTML>";
    b.Page("index.html", index);
    b.Page("logo.png", "\x89PNG fake");
    ASSERT_TRUE(b.Start());
    ProcResult r = WebBench::Curl({"-i", b.Url("/")});
    EXPECT_NE(r.out.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Content-Type: text/html\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("\r\n\r\n<HTML><HEAD><TITLE>bench</TITLE>"), std::string::npos);
    r = WebBench::Curl({"-i", b.Url("/logo.png")});
    EXPECT_NE(r.out.find("Content-Type: image/png\r\n"), std::string::npos) << r.out;
    r = WebBench::Curl({"-i", b.Url("/missing.html")});
    EXPECT_NE(r.out.find("HTTP/1.1 404 Not Found\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Content-length: 137\r\n\r\n" + std::string(kNotFound)), std::string::npos) << r.out;
    // HEAD: the GET's status line and headers, no body.
    r = WebBench::Curl({"-I", b.Url("/index.html")});
    EXPECT_EQ(r.out.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Content-Length: " + std::to_string(index.size()) + "\r\n"), std::string::npos) << r.out;
    // Without "HTTP/" the status line says HTTP/0.9.
    EXPECT_EQ(Raw(b, "GET /index.html\r\n").rfind("HTTP/0.9 200 OK\r\n", 0), 0u);
    EXPECT_EQ(Raw(b, "HEAD /index.html\r\n"), "<HEAD><TITLE>bench</TITLE></HEAD>");
}

TEST(HttpServer, RestRequestsPressButtonsAndKeysAndRunLines) {
    WebBench b;
    b.Page("var.html", "X=<!--#echo:${RESTVAR:unset}-->");
    ASSERT_TRUE(b.Start({"BUTTON_3 \"b3go\\r\"", "FKEY_2 \"f2go\\r\""}));
    ASSERT_TRUE(b.BoardConnected());
    EXPECT_EQ(Status(b, "/OXEL?BUTTON=3"), "202");
    EXPECT_TRUE(b.board.Expect("b3go\r"));
    EXPECT_EQ(Status(b, "/OXEL?FKEY=2"), "202");
    EXPECT_TRUE(b.board.Expect("f2go\r"));
    const struct {
        const char* path;
        const char* code;
    } refused[] = {{"/OXEL?FKEY=1", "400"}, {"/OXEL?BUTTON=17", "400"}, {"/OXEL?NOPE=1", "400"},
                   {"/OXEL?SCRCMD=NOSUCHCOMMAND", "400"}};
    for (const auto& c : refused) EXPECT_EQ(Status(b, c.path), c.code) << c.path;
    EXPECT_EQ(Status(b, "/OXEL?SCRCMD=SET+RESTVAR+green"), "202");
    EXPECT_EQ(WebBench::Curl({b.Url("/var.html")}).out, "X=green");
}

TEST(HttpServer, RemoteExitEndsTheProgramInOrder) {
    WebBench b;
    ASSERT_TRUE(b.Start());
    EXPECT_EQ(Status(b, "/OXEL?SCRCMD=EXIT+OXEL"), "202");
    EXPECT_EQ(b.cli->Wait(15000), 2);
}

TEST(HttpServer, PasswordAloneLetsAnyUserIn) {
    WebBench b;
    b.Page("index.html", "secret page");
    ASSERT_TRUE(b.Start({"HTTP_AUTH_PSWD \"pw7\""}));
    EXPECT_EQ(Status(b, "/", {"-u", "anyone:pw7"}), "200");
    EXPECT_EQ(Status(b, "/", {"-u", "bob:pw7"}), "200");
    EXPECT_EQ(Status(b, "/", {"-u", "bob:wrong"}), "401");
    ProcResult r = WebBench::Curl({"-i", b.Url("/")});
    EXPECT_NE(r.out.find("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"ias\"\r\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("secret page"), std::string::npos);
    EXPECT_EQ(Status(b, "/OXEL?BUTTON=1"), "202");   // REST requests are not asked for credentials
}

TEST(HttpServer, IncludesEchoLabelsAndStopOnLoops) {
    WebBench b;
    b.Page("echo.html", "[<!--#echo: ${NOPE:none} -->][<!--#blbl ${3}-->][<!--#flbl ${2:F2}-->]");
    b.Page("self.html", "S<!--#include virtual=\"self.html\"-->");
    b.Page("a.html", "A<!--#include virtual=\"b.html\"-->");
    b.Page("b.html", "B<!--#include virtual=\"a.html\"-->");
    ASSERT_TRUE(b.Start({"BUTTON_LABEL_3 \"Boot\""}));
    EXPECT_EQ(WebBench::Curl({b.Url("/echo.html")}).out, "[ none ][ Boot][ F2]");
    EXPECT_EQ(WebBench::Curl({b.Url("/self.html")}).out, "S[include loop: self.html]");
    EXPECT_EQ(WebBench::Curl({b.Url("/a.html")}).out, "AB[include loop: a.html]");
}

TEST(HttpServer, NoRequestReachesAFileOutsideTheHome) {
    WebBench b;
    b.dir.Write("secret.txt", "TOP SECRET");
    b.Page("index.html", "home page");
    b.Page("peek.html", "<!--#include virtual=\"../secret.txt\"-->");
    ASSERT_EQ(symlink(b.dir.path().c_str(), (b.Home() + "/up").c_str()), 0);
    ASSERT_TRUE(b.Start());
    const char* attempts[] = {"/../secret.txt", "/%2e%2e/secret.txt", "/.%2e/secret.txt", "/..%2fsecret.txt",
                              "/%2e%2e%2fsecret.txt", "//etc/passwd", "/x%00.html", "/..\\secret.txt",
                              "/up/secret.txt", "/%2fetc%2fpasswd", "/./index.html/../../secret.txt"};
    for (const char* path : attempts) {
        ProcResult r = WebBench::Curl({"--path-as-is", "-w", "\n%{http_code}", b.Url(path)});
        std::string code = r.out.substr(r.out.size() - 3);
        EXPECT_TRUE(code == "403" || code == "404") << path << " -> " << r.out;
        EXPECT_EQ(r.out.find("TOP SECRET"), std::string::npos) << path;
        EXPECT_EQ(r.out.find("root:"), std::string::npos) << path;
    }
    EXPECT_EQ(WebBench::Curl({b.Url("/peek.html")}).out, "[include refused: ../secret.txt]");
}

TEST(HttpServer, BrowsersCrossSiteRequestsGetForbidden) {
    WebBench b;
    ASSERT_TRUE(b.Start());
    const std::string own = "Origin: http://127.0.0.1:" + std::to_string(b.http);
    const struct {
        std::string header;
        const char* code;
    } cases[] = {
        {"Origin: http://evil.example", "403"},
        {"Sec-Fetch-Site: cross-site", "403"},
        {"Host: rebound.evil.example", "403"},
        {own, "202"},
        {"Sec-Fetch-Site: same-origin", "202"},
        {"X-Nothing: 1", "202"},
    };
    for (const auto& c : cases) EXPECT_EQ(Status(b, "/OXEL?BUTTON=1", {"-H", c.header}), c.code) << c.header;
}

TEST(HttpServer, RequestsAreBoundedInSizeAndTime) {
    WebBench b;
    b.Page("index.html", "ok");
    ASSERT_TRUE(b.Start());
    std::string longRequest = "GET /" + std::string(3000, 'a') + " HTTP/1.1\r\n\r\n";
    EXPECT_EQ(Raw(b, longRequest).rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u);
    // Headers without an end: the connection is closed, not held.
    EXPECT_EQ(Raw(b, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n", 20000), "");
    // Two requests on one kept-alive connection are both answered.
    std::string two = Raw(b, "GET / HTTP/1.1\r\nConnection: keep-alive\r\n\r\nGET /index.html HTTP/1.1\r\n\r\n");
    EXPECT_EQ(two, "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\nok"
                   "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\nok");
}

}  // namespace
