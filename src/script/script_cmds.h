// Target-interaction script commands (SEND, RECV, CATCH, REGEX, STRING, ECHO,
// COMPORT, CONNECT, AUXCOM, MONCMD, LOG).
#pragma once
// Installs this module's handlers in the runner's command table.
void ScriptCmdsInit();
