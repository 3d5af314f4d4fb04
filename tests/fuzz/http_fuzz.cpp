// libFuzzer target for the HTTP server's parsers: the request, the path
// rule, REST queries, credentials, the cross-site check and the includes.
// Build (clang):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/http_fuzz.cpp src/servers/httpparse.cpp -lcrypto -o http_fuzz
// The input is a request; from its first "\n\n" on, the rest is also used
// as a page with includes ("a.html" is that page again).
#include <cstddef>
#include <cstdint>
#include <string>

#include "servers/httpparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    HttpRequest r = HttpParseRequest(in);
    HttpSafeName(r.name);
    int why = 0;
    HttpContentType(r.name, &why);
    if (r.rest) HttpParseRest(r.name.substr(5));
    std::string token;
    HttpAuthApproved(in, "user", "pswd", &token);
    HttpSiteRefusal(in, 80, {"localhost", "127.0.0.1"}, true);
    size_t split = in.find("\n\n");
    std::string page = split == std::string::npos ? in : in.substr(split + 2);
    SsiSource src;
    src.title = [] { return std::string("T"); };
    // One includable file (the page itself), so that loops are met without
    // every input growing to the size limit.
    src.readFile = [&page](const std::string& n) -> std::optional<std::string> {
        if (n == "a.html") return page;
        return std::nullopt;
    };
    src.value = [](SsiValueKind, const std::string& n) { return n.size() % 2 ? n : std::string(); };
    SsiExpand(page, src);
    return 0;
}
