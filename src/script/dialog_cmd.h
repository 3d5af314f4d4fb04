// The DIALOG script command: message boxes and questions put to the user,
// the answer left in a shell variable.
#pragma once

// Installs DIALOG in the runner's command table.
void DialogCmdInit();
