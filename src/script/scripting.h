// The script runner and single command lines.
#pragma once

// Executes one command line: 0, or -1 "Command failed", -2 "Parameter error",
// -3 "Incorrect number of arguments", -4 "Command line did not parse
// properly", -5 "Command not found", or the handler's own code.
int docmd(const char* line);
// Starts a script (name, optional start tag); 1 started, 0 failed.
int run_script(const char* name, const char* tag);
void script_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void InitScripting();
// Bytes received from the target, offered to a waiting script.
void script_receive(const char* data, int count);
void script_halt();
bool ScriptRunning();

// Script command handlers get the split words (argv[0] is the command name)
// and return 0 or a negative result code. Command modules install their
// handlers by name in the runner's table at start-up.
using ScriptCmdHandler = int (*)(int argc, char** argv);
void ScriptSetHandler(const char* name, ScriptCmdHandler handler);

// What the target-interaction commands need from the runner.
#include <cstddef>
#include <string>
// Waits on the wake event for ticks x 10 ms (0: no limit); 1 when the event
// ended the wait (prompt match or Halt), 0 on time-out.
int script_sleep(int ticks);
// RECV idleline: 1 when quietMs passed without data, 0 when limitMs (0: no
// limit beyond one quiet period) passed while data kept coming.
int script_wait_quiet(int quietMs, int limitMs);
void recvBlockInit(int size, bool noWrap);
// The receive block, oldest byte first; returns the count.
int recvBlockRead(std::string& out);
// The prompt pattern that ends a wait (len bytes, may hold NULs); null clears.
void script_set_prompt(const char* pattern, size_t len);
// RECV: flags (1 copy the block to RECVBLOCK at the match, 2 as hex, 4 empty
// it after reading) and the count mode (any count bytes end the wait; 0 off).
void script_recv_mode(int flags, int count);
