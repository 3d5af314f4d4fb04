// Script commands on the program's own window, console and servers: TITLE,
// CLS, CONFIG, SENDINPUT, SRVRSETUP.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Installs this module's handlers in the runner's command table.
void WindowCmdsInit();

// What the server modules fill in at start-up; until then the commands that
// reach them say "not available in this build".
struct ServerCmdHooks {
    // TITLE -t: the telnet server's banner (null: the default banner).
    void (*setTelnetBanner)(const char* text);
    // SRVRSETUP DHCP: the words after "DHCP"; 0 or a result code.
    int (*dhcpSetup)(int argc, char** argv);
};
ServerCmdHooks& ServerCmdHooksRef();

// A colour name of CLS (black red green yellow blue magenta cyan white) as
// 0x00BBGGRR.
std::optional<uint32_t> ColourByName(const char* name);
// CONFIG's periods: minutes, or MIN:SEC; seconds, or nullopt when malformed.
std::optional<int> ParsePeriod(const char* text);
