// MONCMD backend (BACKEND 3): each typed line goes as one UDP datagram to a
// target's command monitor, whose answer datagrams are printed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

int MoncmdOpen();       // sets `connected`; 1
int MoncmdReopen();     // 1
int MoncmdClose();      // clears `connected`; 1
// The backend's write: MoncmdLineEdit.
int MoncmdWrite(const char* data, size_t len);

// Collects typed bytes into a line (at most 255 bytes; the next byte aborts
// the line); CR or LF sends it with MoncmdExchange. 1, or 0 on an overflow.
int MoncmdLineEdit(const char* data, size_t len);

// Sends message plus its NUL to host:port as one datagram and, unless polls
// is 0, prints each answer datagram until a one-NUL-byte datagram ends the
// exchange; polls of 10 ms without an answer give up. 0 or -1.
int MoncmdExchange(const char* host, const char* message, uint16_t port, int polls, bool print);

// Status-bar text: "MONCMD host:port", plus " (readonly)".
std::string MoncmdStatusText();

// The "Moncmd Backend Config..." dialog: its field ("host:port", empty when
// no host) and its OK.
std::string MoncmdConfigText();
int MoncmdConfigApply(const std::string& hostPort, const std::string& wait);
