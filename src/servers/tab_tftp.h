// The TFTP pane: the server's transfer log, a fixed number of lines, newest
// last. Every line is also copied to the system trace under TFTP.
#pragma once

#include <string>

constexpr int kTftpPaneLines = 128;
// The longest pane line; longer messages are cut.
constexpr size_t kTftpPaneLineMax = 255;

// Appends "\r\n<stamp>: message", the message cut at its first line end.
void TftpPaneLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The whole pane text, oldest line first.
std::string TftpPaneText();
// Back to the empty lines it starts with.
void TftpPaneClear();
