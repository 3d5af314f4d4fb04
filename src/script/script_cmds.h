// Target-interaction script commands (SEND, RECV, CATCH, REGEX, STRING, ECHO,
// COMPORT, CONNECT, AUXCOM, MONCMD, LOG).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "script/scripting.h"

// Installs this module's handlers in the runner's command table.
void ScriptCmdsInit();
// This module's handler of a command name (any case); null when not ours.
ScriptCmdHandler ScriptCmdsFind(const char* name);

// The time reference that SEND -T (and TIME -s) note and TIME -e reads.
void ScriptTimeRefSet(uint64_t tickMs);
uint64_t ScriptTimeRef();

// SEND's bytes: arg (null: none) after the send-text escapes and then eol, or
// with hex the bytes the hex text gives followed by the checksum. 0, or -2
// for bad hex, a missing hex argument or text beyond 2048 bytes.
int SendBuildBytes(const char* arg, bool hex, const char* eol, const char* csumName, std::string& out);

// Hex text to bytes: an even number of digits 0-9, a-f, A-F.
std::optional<std::string> HexToBytes(const std::string& hex);

// RECV blkcpy formats: 'a' two hex digits per byte, 'A' CR as "C" and LF as
// "L", anything else NUL as "<0>".
std::string RecvBlockFormat(const std::string& raw, char format);

// STRING: 0 with the result (nullopt: the variable stays removed), -2 for
// an unknown operation or a bad number, -3 when ARG is missing.
int StringOperation(const char* op, const std::string& text, const char* arg, bool hexInput,
                    std::optional<std::string>& result);

// ECHO text building.
std::string EchoEscapes(const std::string& in, bool* stopHere);
std::string EchoSpacing(const std::string& in, int every, const std::string& insert, bool before);
std::string EchoCentre(const std::string& in, int cols);

// Serial settings as CONNECT and AUXCOM OPEN name them (any case): parity
// NONE ODD EVEN MARK SPACE -> 0-4, stop bits "1" "1.5" "2" -> 0-2, flow NONE
// DTRDSR RTSCTS XONXOFF -> the FLOWCTRL bits 0, 0x01, 0x02, 0x04.
std::optional<int> ParseParity(const char* text);
std::optional<int> ParseStopBits(const char* text);
std::optional<int> ParseFlow(const char* text);

int cmd_send(int argc, char** argv);
int cmd_recv(int argc, char** argv);
int cmd_catch(int argc, char** argv);
int cmd_regex(int argc, char** argv);
int cmd_string(int argc, char** argv);
int cmd_echo(int argc, char** argv);
int cmd_comport(int argc, char** argv);
int cmd_connect(int argc, char** argv);
int cmd_moncmd(int argc, char** argv);
