// The SOCKET and TCP script commands: a table of four named TCP or UDP
// sockets a script opens, writes, reads and closes, and a one-shot TCP sender.
#pragma once

#include <string>

// Installs SOCKET and TCP in the runner's command table.
void SocketCmdInit();
// Closes every socket of the table (shutdown, tests).
void SocketCloseAll();
