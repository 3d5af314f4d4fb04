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
#include <string>
// The error text set by the last command on this thread.
std::string ScriptErrorText();
// Waits until no script runs; false on time-out.
bool ScriptWaitIdle(int timeoutMs);
// Waits on the wake event for ticks x 10 ms (0: no limit). 1 when the event
// (a prompt match, Halt, shutdown) ended the wait, 0 on time-out.
int script_sleep(unsigned ticks);
// Waits until nothing was received for quietMs, or limitMs passed while data
// kept coming (0: no limit). 1 quiet, 0 limit reached or halted.
int script_wait_quiet(unsigned quietMs, unsigned limitMs);
void recvBlockInit(int size, bool noWrap);
// Copies the block, oldest byte first; returns the number of bytes.
int recvBlockRead(std::string& dest);
// RECV's flags for one command: 1 copy the block to RECVBLOCK at a match,
// 2 as hexadecimal, 4 empty the block after reading. Cleared by docmd.
void ScriptSetRecvFlags(int flags);
// The prompt pattern ("." matches any character); null clears it.
void ScriptSetPattern(const char* pattern);
// RECV's count mode: bytes matched exactly, or (bytes empty) any count bytes.
void ScriptSetPatternCount(const std::string& bytes, int count);
