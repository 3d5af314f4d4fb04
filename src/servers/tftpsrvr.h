// The TFTP server: one thread, one UDP socket, up to 16 transfers at a time,
// serving files from and storing files into TFTP_START_DIR.
#pragma once

#include <cstdint>
#include <string>

constexpr int kTftpSlots = 16;

// Starts the server when TFTPSRVR_ENABLED is set (port: the shell variable
// TFTPSRVR_PORT, else 69; 0 picks a free port). 1 running, 0 not (a failed
// start clears TFTPSRVR_ENABLED).
int TftpSrvrStart();
// Stops a running server: clears TFTPSRVR_ENABLED, ends the thread.
void TftpSrvrStop();
bool TftpSrvrRunning();
// The port the running server is bound to, 0 when stopped.
uint16_t TftpSrvrPort();

// The TFTP script command's SRVRSETUP on: dir must exist and be shorter than
// 2048 characters; it becomes TFTP_START_DIR, relativeOnly TFTP_RELATIVE_ONLY,
// and the server starts if it is not running. 1, or 0 on failure.
int TftpSrvrSetup(bool relativeOnly, const char* dir);

// The "TFTP Server..." dialog's Apply/Ok. 0 when the directory does not
// exist (the box has been shown and nothing changed), else 1.
int TftpSrvrApply(bool enabled, bool relativeOnly, const std::string& dir);
// "Totals: rcvd=%d, sent=%d".
std::string TftpSrvrTotalsText();
// "Status: %d pkts\n" while a transfer runs, else "Status: Idle".
std::string TftpSrvrStatusText();
// Packets of the running transfers, -1 when none runs.
long TftpSrvrPkts();

// Registers the menu command of the dialog.
void TftpSrvrInit();
