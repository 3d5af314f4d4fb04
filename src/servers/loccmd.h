// Local commands of the telnet server: after Ctrl-P at the start of a line a
// client types one line that runs on this workstation: "?", one of the
// "Oxel" functions, or a host program whose output is sent back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "servers/telnetd.h"

constexpr size_t kLocalLineMax = 127;
// A host command that runs longer than this is ended (60 s unless set).
void LocalCmdSetLimitMs(int ms);

// The client side of one exchange, supplied by the telnet server.
struct LocalCmdClient {
    std::function<int()> readByte;                      // next byte, -1: connection gone
    std::function<void(const std::string&)> send;      // bytes as they are
    std::function<bool()> gone;                         // closed or server stopping
    std::string peer;                                   // dotted address
    int port = 0;
};

// The exchange: returns the bytes sent for a host command, 0 for the other
// lines, a negative number on failure (-1 the connection, -6 a line too long).
int doLocalCmd(LocalCmdClient& c);

// Line entry, byte by byte (telnet commands and NUL are skipped).
struct LocalLine {
    TelnetInput telnet;
    std::string text;
};
enum class LineStep { More, Echo, Erase, Done, TooLong };
LineStep LocalLineByte(LocalLine& line, uint8_t b);

// What the line asks for.
enum class LocalKind { Empty, Version, Function, Host };
LocalKind LocalLineKind(const std::string& line);
// The function names, in table order.
std::vector<std::string> LocalFunctionNames();
// Lone LFs in a host program's output as CR LF; prevCr carries the last byte
// across pieces.
std::string HostOutputCrLf(const char* data, size_t len, bool& prevCr);

// Runs one script command line for a remote user (local command scrcmd, the
// MONCMD server): the single place that decides on which thread it runs.
int RemoteDocmd(const char* line);

