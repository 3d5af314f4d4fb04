// The FTP server: one client host at a time reaches a directory tree of
// this machine, passive or active, with a store to "TFTP:host:name" passed
// on to that host by TFTP.
#pragma once

#include <cstdint>
#include <string>

// Starts the listener when FTPSRVR_ENABLED is set (port: the shell variable
// FTPSRVR_PORT, default 21, 0 picks a free port); a failed start clears the
// key. 1/0.
int FtpsrvrStart();
// Closes the listener and every session, waiting for their threads.
void FtpsrvrStop();
bool FtpsrvrRunning();
uint16_t FtpsrvrPort();

// Largest file a STOR keeps (FTPSRVR_MAX_STORE bytes overrides it).
constexpr uint64_t kFtpDefaultMaxStore = 256ull << 20;

// "FTP Server Configuration..." Ok.
void FtpsrvrDialogApply(bool enabled, bool relativeOnly, const std::string& password, const std::string& startDir);
