// The HTTP server's pure pieces: the request reader's rules, the path rule,
// content types, REST queries, Basic credentials, the cross-site checks and
// the server-side includes. Bytes in, results out; no sockets, no globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t kHttpRequestMax = 2047;   // one request's header, CR LF CR LF included
constexpr size_t kHttpNameMax = 127;
constexpr size_t kHttpVersionMax = 32;
constexpr size_t kRestValueMax = 255;
constexpr int kSsiDepthMax = 8;
constexpr size_t kSsiOutputMax = 16u << 20;   // what one page may grow to

enum HttpMethod { HTTP_UNKNOWN = 0, HTTP_GET, HTTP_HEAD, HTTP_POST };
// Trace names by method: "???", "GET", "HEAD", "POST".
const char* HttpMethodName(HttpMethod m);

struct HttpRequest {
    HttpMethod method = HTTP_UNKNOWN;   // HTTP_UNKNOWN: the request does not parse
    bool keepAlive = false;
    int version = 1;                    // 1 = 0.9, 2 = 1.1
    std::string versionText;            // what followed "HTTP/" ... up to 32 characters
    std::string replyVersion = "HTTP/0.9";
    std::string name;                   // the resource name as requested
    bool rest = false;                  // the name begins with "OXEL?"
};
HttpRequest HttpParseRequest(std::string_view request);

// Offset just past the first CR LF CR LF, or npos.
size_t HttpHeaderEnd(std::string_view text);
// A header's value (name compared without regard to case, blanks trimmed).
std::optional<std::string> HttpHeader(std::string_view request, std::string_view name);

// The resource name as a path relative to the home directory: the query
// (from "?") dropped, %XX decoded. Refused (nullopt) when the result is
// empty, absolute, or holds a NUL, a backslash, or an empty, "." or ".."
// segment: no name may reach outside the home directory.
std::optional<std::string> HttpSafeName(std::string_view name);

// The content-type header line for a name, "" when none applies; *why is
// then 1 (no extension) or 2 (unknown extension), else 0.
std::string HttpContentType(std::string_view name, int* why);

enum RestKind { REST_NONE, REST_SCRCMD, REST_BUTTON, REST_FKEY };
struct RestRequest {
    RestKind kind = REST_NONE;
    std::string value;   // decoded
};
// The query after "OXEL?": the first known name present wins.
RestRequest HttpParseRest(std::string_view query);
// "+" -> blank, %XX -> byte, then LF, quote and backslash written as escapes;
// at most 255 characters.
std::string RestDecodeValue(std::string_view raw);

// Standard Base64 ("+", "/", "=" padding).
std::string Base64Encode(const void* data, size_t len);
// nullopt when the text is not Base64 or decodes to more than maxOut bytes.
std::optional<std::string> Base64Decode(std::string_view text, size_t maxOut);

// Basic authorization: *token gets the encoded credentials for the trace.
// A set user must match the name, a set password the password.
bool HttpAuthApproved(std::string_view request, const std::string& user, const std::string& pswd,
                      std::string* token);

// Refusal of requests a browser makes for another site: a Host that is not
// one of localNames (lower case; DNS rebinding), "Sec-Fetch-Site:
// cross-site", or (checkOrigin) an Origin other than http://<local name>:httpPort.
// Returns the reason, or nullptr when the request may be served. Requests
// without those headers (curl, boards, scripts) pass.
const char* HttpSiteRefusal(std::string_view request, uint16_t httpPort,
                            const std::vector<std::string>& localNames, bool checkOrigin);

// Server-side includes of ".html" pages.
enum SsiValueKind { SSI_ECHO, SSI_FLBL, SSI_BLBL };
struct SsiSource {
    std::function<std::string()> title;
    // An included file's bytes by safe relative name; nullopt when unreadable.
    std::function<std::optional<std::string>(const std::string&)> readFile;
    // The value for ${NAME}: "" when unknown or empty.
    std::function<std::string(SsiValueKind, const std::string&)> value;
};
// name is the page's own (safe) name: a page never includes itself.
std::string SsiExpand(std::string_view text, const SsiSource& src, const std::string& name = "");
