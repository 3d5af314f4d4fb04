// The bound socket of a UDP server (MONCMD, SYSLOG, DHCP): one place that
// reads the bind-address shell variable and explains a failed bind.
#pragma once

#include <cstdint>

struct UdpServerSpec {
    const char* title;       // "MONCMD SERVER": the boxes and error reports
    const char* bindVar;     // shell variable naming the address, e.g. "MONCMDSRVR_BIND_ADDR"
    uint32_t traceCategory;  // where a bad bind address is traced
    int receiveQueue = 0;    // SO_RCVBUF to ask for, 0 = the default
};

// The socket bound on port, or -1 after the failure has been reported:
// "TITLE socket()", box "port N in use", box "port N needs privileges...",
// or "TITLE bind()".
int UdpServerOpen(const UdpServerSpec& server, uint16_t port);
