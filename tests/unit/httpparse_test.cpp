// The HTTP server's request rules, path rule, REST queries, credentials,
// cross-site checks and server-side includes, fed directly.
#include "servers/httpparse.h"

#include <gtest/gtest.h>

#include <map>

namespace {

TEST(HttpParse, RequestLineGivesMethodNameVersionAndKeepAlive) {
    struct Case {
        const char* request;
        HttpMethod method;
        const char* name;
        const char* reply;
        bool keepAlive;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", HTTP_GET, "index.html", "HTTP/1.1", false},
        {"GET /a/b.png HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", HTTP_GET, "a/b.png", "HTTP/1.1", true},
        {"HEAD /x.html HTTP/0.9\r\n\r\n", HTTP_HEAD, "x.html", "HTTP/0.9", false},
        {"GET /page.html\r\n", HTTP_GET, "page.html", "HTTP/0.9", false},
        {"POST /form HTTP/1.1\r\n\r\n", HTTP_POST, "form", "HTTP/1.1", false},
        {"GET //etc/passwd HTTP/1.1\r\n\r\n", HTTP_GET, "etc/passwd", "HTTP/1.1", false},
        {"GET /f.zip?version-id=7 HTTP/1.1\r\n\r\n", HTTP_GET, "f.zip", "HTTP/1.1", false},
        {"get / HTTP/1.1\r\n\r\n", HTTP_UNKNOWN, "", "HTTP/1.1", false},
        {"PUT /x HTTP/1.1\r\n\r\n", HTTP_UNKNOWN, "", "HTTP/1.1", false},
    };
    for (const Case& c : cases) {
        HttpRequest r = HttpParseRequest(c.request);
        EXPECT_EQ(r.method, c.method) << c.request;
        EXPECT_EQ(r.name, c.name) << c.request;
        EXPECT_EQ(r.replyVersion, c.reply) << c.request;
        EXPECT_EQ(r.keepAlive, c.keepAlive) << c.request;
    }
    EXPECT_TRUE(HttpParseRequest("GET /OXEL?BUTTON=3 HTTP/1.1\r\n\r\n").rest);
    EXPECT_EQ(HttpParseRequest(std::string("GET /") + std::string(300, 'a') + " HTTP/1.1\r\n\r\n").name.size(),
              kHttpNameMax);
}

TEST(HttpParse, NoNameLeavesTheHomeDirectory) {
    const char* refused[] = {"../etc/passwd", "%2e%2e/etc/passwd", ".%2e/x", "..%2fetc", "a/../../b",
                             "/etc/passwd", "%2fetc/passwd", "x%00.html", "a\\..\\b", "a%5c..%5cb",
                             "a//b", "./x", "dir/", "%zz", "%2"};
    for (const char* n : refused) EXPECT_FALSE(HttpSafeName(n)) << n;
    EXPECT_EQ(HttpSafeName("index.html"), "index.html");
    EXPECT_EQ(HttpSafeName("xterm/xterm.js?v=2"), "xterm/xterm.js");
    EXPECT_EQ(HttpSafeName("my%20page.html"), "my page.html");
    EXPECT_EQ(HttpSafeName("a..b.txt"), "a..b.txt");
    EXPECT_EQ(HttpSafeName("?x=1"), "index.html");
}

TEST(HttpParse, ContentTypesByExtension) {
    struct Case {
        const char* name;
        const char* line;
        int why;
    } cases[] = {
        {"a.HTML", "Content-Type: text/html\r\n", 0},       {"a.htm", "Content-Type: text/html\r\n", 0},
        {"a.jpeg", "Content-Type: image/jpeg\r\n", 0},      {"a.pptx", "Content-Type: application/vnd.ms-powerpoint\r\n", 0},
        {"a.ico", "Content-Type: image/gif\r\n", 0},        {"a.class", "Content-Type: application/octet-stream\r\n", 0},
        {"x/y.js", "Content-Type: text/javascript\r\n", 0}, {"README", "", 1},
        {"a.b/README", "", 1},                             {"a.xyz", "", 2},
    };
    for (const Case& c : cases) {
        int why = -1;
        EXPECT_EQ(HttpContentType(c.name, &why), c.line) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
    }
}

TEST(HttpParse, RestQueryFirstKnownNameWinsAndValuesAreEscaped) {
    RestRequest r = HttpParseRest("X=1&BUTTON=3&FKEY=2");
    EXPECT_EQ(r.kind, REST_BUTTON);
    EXPECT_EQ(r.value, "3");
    EXPECT_EQ(HttpParseRest("fkey=2").kind, REST_NONE);
    r = HttpParseRest("SCRCMD=SET+X%3D%27a%5Cb%27%0A");
    EXPECT_EQ(r.kind, REST_SCRCMD);
    EXPECT_EQ(r.value, "SET X=\\'a\\\\b\\'\\n");
    EXPECT_EQ(RestDecodeValue(std::string(400, 'v')).size(), kRestValueMax);
}

TEST(HttpParse, BasicCredentials) {
    auto req = [](const std::string& creds) {
        return "GET / HTTP/1.1\r\nAuthorization: Basic " + Base64Encode(creds.data(), creds.size()) + "\r\n\r\n";
    };
    std::string token;
    EXPECT_TRUE(HttpAuthApproved(req("anyone:secret"), "", "secret", &token));
    EXPECT_TRUE(HttpAuthApproved(req("bob:secret"), "bob", "secret", &token));
    EXPECT_FALSE(HttpAuthApproved(req("eve:secret"), "bob", "secret", &token));
    EXPECT_FALSE(HttpAuthApproved(req("bob:wrong"), "bob", "secret", &token));
    EXPECT_FALSE(HttpAuthApproved(req("nocolon"), "", "secret", &token));
    EXPECT_FALSE(HttpAuthApproved(req(std::string(80, 'x') + ":secret"), "", "secret", &token));
    EXPECT_FALSE(HttpAuthApproved("GET / HTTP/1.1\r\nAuthorization: Basic !!!!\r\n\r\n", "", "s", &token));
    EXPECT_FALSE(HttpAuthApproved("GET / HTTP/1.1\r\n\r\n", "", "secret", &token));
    EXPECT_EQ(Base64Decode("YWJj", 64), "abc");
    EXPECT_EQ(Base64Decode("YWI=", 64), "ab");
    EXPECT_FALSE(Base64Decode("YW=I", 64));
}

TEST(HttpParse, BrowsersCrossSiteRequestsAreRefused) {
    const std::vector<std::string> local = {"localhost", "127.0.0.1", "benchpc"};
    struct Case {
        const char* headers;
        bool rest;
        bool refused;
    } cases[] = {
        {"", true, false},
        {"Host: 127.0.0.1:8080\r\n", true, false},
        {"Host: BenchPC\r\nOrigin: http://benchpc:8080\r\n", true, false},
        {"Host: 127.0.0.1:8080\r\nOrigin: http://evil.example\r\n", true, true},
        {"Host: 127.0.0.1:8080\r\nOrigin: http://127.0.0.1:9999\r\n", true, true},
        {"Host: 127.0.0.1:8080\r\nOrigin: null\r\n", true, true},
        {"Host: 127.0.0.1:8080\r\nOrigin: http://evil.example\r\n", false, false},
        {"Host: 127.0.0.1:8080\r\nSec-Fetch-Site: cross-site\r\n", false, true},
        {"Host: 127.0.0.1:8080\r\nSec-Fetch-Site: same-origin\r\n", true, false},
        {"Host: rebound.evil.example:8080\r\n", false, true},
    };
    for (const Case& c : cases) {
        std::string req = std::string("GET /OXEL?BUTTON=1 HTTP/1.1\r\n") + c.headers + "\r\n";
        EXPECT_EQ(HttpSiteRefusal(req, 8080, local, c.rest) != nullptr, c.refused) << c.headers;
    }
}

SsiSource Source(const std::map<std::string, std::string>& files) {
    SsiSource s;
    s.title = [] { return std::string("Bench 7"); };
    s.readFile = [files](const std::string& n) -> std::optional<std::string> {
        auto it = files.find(n);
        if (it == files.end()) return std::nullopt;
        return it->second;
    };
    s.value = [](SsiValueKind k, const std::string& n) -> std::string {
        if (k == SSI_ECHO && n == "BOARD") return "imx8";
        if (k == SSI_FLBL && n == "2") return "Reset";
        if (k == SSI_BLBL && n == "16") return "Power";
        return "";
    };
    return s;
}

TEST(HttpParse, ServerSideIncludes) {
    SsiSource src = Source({{"self.html", "S<!--#include virtual=\"self.html\"-->"},
                            {"a.html", "A<!--#include virtual=\"b.html\"-->"},
                            {"b.html", "B<!--#include virtual=\"a.html\"-->"},
                            {"part.html", "[<!--#echo:${BOARD}-->]"}});
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"<!--#echo: ${NOPE:none} -->", " none "},
        {"<!--#echo:${NOPE}-->", "NOPE"},
        {"<!--#echo:$x${BOARD:y}-->", "$ximx8"},
        {"<t><!--#title--></t>", "<t>Bench 7</t>"},
        {"<!--#flbl ${2:F2} ${3:F3}-->|<!--#blbl ${16}-->", " Reset F3| Power"},
        {"x<!--#include virtual=\"part.html\"-->y", "x[imx8]y"},
        {"<!--#include virtual=\"gone.html\"-->", "[include not found: gone.html]"},
        {"<!--#include virtual=\"../etc/passwd\"-->", "[include refused: ../etc/passwd]"},
        {"<!--#include virtual=\"self.html\"-->", "S[include loop: self.html]"},
        {"<!--#include virtual=\"a.html\"-->", "AB[include loop: a.html]"},
        {"<!--#include virtual=part.html-->z", "<!--#include virtual=part.html-->z"},
        {"a<!--#bogus-->b<!--#title-->", "a<!--#bogus-->b<!--#title-->"},
        {"open <!--#title without end", "open <!--#title without end"},
    };
    for (const Case& c : cases) EXPECT_EQ(SsiExpand(c.in, src), c.out) << c.in;
}

TEST(HttpParse, IncludesThatMultiplyStopAtTheSizeLimit) {
    std::string fan;
    for (int i = 0; i < 20; ++i) fan += "<!--#include virtual=\"big.html\"-->";
    SsiSource src = Source({{"big.html", std::string(1 << 20, 'x') + fan}});
    std::string out = SsiExpand(fan, src);
    EXPECT_LE(out.size(), kSsiOutputMax + 64);
    EXPECT_NE(out.find("[page too large]"), std::string::npos);
}

}  // namespace
