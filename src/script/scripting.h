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
// Wakes a script waiting for received data (after the block was displayed).
void script_wake();
void script_halt();
bool ScriptRunning();

// Script command handlers get the split words (argv[0] is the command name)
// and return 0 or a negative result code. Command modules install their
// handlers by name in the runner's table at start-up.
using ScriptCmdHandler = int (*)(int argc, char** argv);
void ScriptSetHandler(const char* name, ScriptCmdHandler handler);
