// SIGINT and SIGTERM end the run in order, through the same shutdown as a
// closed window: a dedicated thread turns the signal into RequestShutdown(0); a second signal ends a shutdown that hangs.
#pragma once

// Call first thing in main, before any other thread starts.
void ShutdownOnSignals();
