// The FILE script command: file and directory operations, checksums, text
// lookups, the directory search and a small HTTP client.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Installs FILE in the runner's command table.
void FileCmdInit();

// hexdump's text for bytes shown from offset 0 (the rows count from the
// first byte shown).
std::string HexdumpText(const std::string& bytes);

// token's result for one line: token tnum (from 1) separated by white space,
// or by delim when given; "_END_OF_LINE_" past the last token,
// "_EMPTY_TOKEN_" for an empty one between two delimiters.
std::string LineToken(const std::string& line, int tnum, std::optional<char> delim);

// Line ending conversion: CR LF to LF (toUnix) or LF to CR LF.
std::string ConvertLineEnds(const std::string& text, bool toUnix);

// The "@(#)" version marks of a file's bytes, each up to a NUL, quote,
// line end, '>' or backslash.
std::vector<std::string> WhatMarks(const std::string& bytes);

// httpget's URL: "http://HOST[:PORT]/PATH". Empty host on failure; error
// says which rule failed (1 not http, 2 no path, 3 host too long, 4 path
// too long, 5 bad port).
struct HttpUrl {
    std::string host;
    int port = 80;
    std::string path;
    int error = 0;
};
HttpUrl HttpParseUrl(const std::string& url);
// Where a reply's header ends: the index after four CR or LF bytes in a row,
// or npos while the header goes on.
size_t HttpHeaderEnd(const std::string& bytes);
// The status code of a reply's header ("HTTP/1.1 404 ..."), 0 when none.
int HttpStatus(const std::string& header);
