// The DHCP/BOOTP server: fixed addresses for known bench targets, from a
// configuration file or the dialog's single-client fields. No leases, no
// address pool.
#pragma once

#include <cstdint>
#include <string>

// Builds the client table from DHCP_CFGFILE_MODE's source, showing every
// box; the entry count, or -1 (the old table is kept).
int DhcpsrvrLoadTable();
// When DHCPSRVR_ENABLED is set: loads the table and starts the receiver if
// none runs. A failure clears the key. 1 running, 0 not.
int DhcpsrvrStart();
// Ends the receiver, closes the socket and clears DHCPSRVR_ENABLED.
void DhcpsrvrStop();
bool DhcpsrvrRunning();
uint16_t DhcpsrvrPort();   // the port bound, 0 when stopped; DHCPSRVR_PORT picks it (default 67, 0 any)

struct DhcpDialogFields {
    bool enabled = false, fileMode = false;
    std::string cfgFile, mac, clientIp, serverIp, netmask, gateway, bootFile;
};
// "DHCP Server Configuration..." Ok: 1 when the dialog may close.
int DhcpsrvrDialogApply(const DhcpDialogFields& f);
// "New": writes the commented template to path and makes it the cfg file; 1/0.
int DhcpsrvrNewCfgFile(const std::string& path);
// "Edit": opens the cfg file in the editor; 1/0 after a box.
int DhcpsrvrEditCfgFile(const std::string& path);
// Registers SRVRSETUP.
void DhcpsrvrCmdsInit();
