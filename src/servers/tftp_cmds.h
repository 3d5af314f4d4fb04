// The TFTP and NEWMON script commands.
#pragma once

// Installs the two handlers in the script runner's table.
void TftpCmdsInit();

int cmd_tftp(int argc, char** argv);
int cmd_newmon(int argc, char** argv);
