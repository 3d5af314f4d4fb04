// Host script commands: SYSTEM, SHELLEXEC, TIME, EVENT, SLEEP, BEEP, CD, WOL.
#pragma once

#include <string>

// Installs this module's handlers in the runner's command table.
void HostCmdsInit();

// TIME's format: ":msec" becomes ":" and three digits of the milliseconds;
// the rest is a strftime format.
std::string TimeFormat(const std::string& format, int millis);

// The 102-byte wake-up datagram for a MAC written as six hex pairs joined all
// by ":" or all by "-"; empty when the MAC is misformed.
std::string WolPacket(const std::string& mac);
