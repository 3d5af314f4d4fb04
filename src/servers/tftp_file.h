// Files a TFTP transfer writes: the bytes go to a temporary file beside the
// destination, which takes the destination's name only when the transfer
// completes, so a failed or abandoned transfer never leaves a half-written
// file under that name (nor loses the one that was there).
#pragma once

#include <string>

// Creates the temporary file in path's directory; its descriptor, or -1
// (errno set). tmp receives its name.
int TftpTempCreate(const std::string& path, std::string& tmp);
// Closes fd and renames tmp to path; 1, or 0 (tmp removed) on failure.
int TftpTempCommit(int& fd, const std::string& tmp, const std::string& path);
// Closes fd and removes tmp.
void TftpTempDiscard(int& fd, std::string& tmp);
