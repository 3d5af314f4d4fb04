// The TFTP client: one transfer at a time, used by the "TFTP Client..."
// dialog, the TFTP script command, NEWMON and the file-of-files batch.
#pragma once

#include <cstdint>
#include <string>

// One transfer. server: host or dotted address, optionally ":port" (69).
// op: "get" (remote source -> local destination) or "put" (local source ->
// remote destination). mode is sent as given; bytes are never changed.
// retries: timeouts tolerated, 0 meaning 5. Returns 0, or -1 on failure.
// TFTPC_ERRNO and TFTPC_ERRMSG hold a server's ERROR.
int tftpc(const char* server, const char* op, const char* src, const char* dst, const char* mode, int retries);

// The dialog's session options: trace every packet, send tsize with puts.
void TftpClientSetTrace(bool on);
void TftpClientSetTsize(bool on);
// Ends the running transfer at its next wait ("Transaction cancelled").
void TftpClientCancel();

// Progress of the running transfer for the dialog and the status bar.
struct TftpClientProgress {
    bool busy = false;
    long pkts = 0;
    int64_t bytes = 0;      // moved so far
    int64_t size = -1;      // the whole file when known (puts)
};
TftpClientProgress TftpClientProgressNow();
// Packets of the running client transfer, else of the server's, else -1.
long TftpStatusPkts();

// The dialog's worker: one transfer (put when send, else get) of the three
// fields stored in TFTPC_SRVR, TFTPC_SRCFILE and TFTPC_DSTFILE, or with fof
// the file-of-files named by the source field. 1 started, 0 when a worker
// already runs.
int TftpClient(bool send, bool ascii, bool fof);
bool TftpClientWorkerRunning();
// Cancels and joins the worker (dialog Close, shutdown).
void TftpClientWorkerStop();

// The file-of-files batch: SEND/RECV lines run through tftpc on TFTPC_SRVR.
// 0, or -1 when a line or a transfer failed.
int TftpRunFof(const char* listFile, const char* mode);

// Registers the menu command of the dialog.
void TftpClientInit();
