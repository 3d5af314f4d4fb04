// FTP control-connection text and names, read without touching anything
// outside: command lines, PORT arguments, the path rule, the reply table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

constexpr size_t kFtpMaxLine = 256;

struct FtpCommand {
    std::string verb;   // the first four characters, upper-cased
    std::string arg;    // after the first blank
};
// One line without its line end (a CR before the LF is cut by the caller).
FtpCommand FtpParseCommand(const std::string& line);

// "h1,h2,h3,h4,p1,p2": the address (network order) and port, or nullopt.
struct FtpHostPort {
    uint32_t addr = 0;
    uint16_t port = 0;
};
std::optional<FtpHostPort> FtpParsePort(const std::string& arg);

// The host path a client's name stands for. root is the start directory,
// cwd the session's directory (always at or below root when relativeOnly).
// Backslashes count as "/", "." and ".." are resolved by name. Refused
// (nullopt): a control byte, or a name that would leave root, unless
// relativeOnly is off and the name is absolute (then it is used as given).
std::optional<std::string> FtpResolve(const std::string& root, const std::string& cwd, const std::string& name,
                                      bool relativeOnly);
// What PWD shows for cwd: "/" and the part below root when cwd lies below it.
std::string FtpShownDir(const std::string& root, const std::string& cwd);

// The text of a table reply, null for a code not in the table.
const char* FtpReplyText(int code);
