// The script runner, single command lines (docmd), the receive block that
// scripts see the target's output through, and the Scripts menu.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "util/cmdline.h"

// Executes one command line: 0, or -1 "Command failed", -2 "Parameter error",
// -3 "Incorrect number of arguments", -4 "Command line did not parse
// properly", -5 "Command not found", or the handler's own code.
int docmd(const char* line);
// A command line from another thread (a button, a remote request) runs on
// the script thread. ScriptRunLine waits up to timeoutMs (0: no limit) and
// returns docmd's result, or -1 with a trace line when it did not run in
// time; on the script thread it runs at once. ScriptPostLine does not wait.
int ScriptRunLine(const char* line, int timeoutMs);
void ScriptPostLine(const std::string& line);
// Starts a script (name, optional start tag); 1 started (or, nested, has
// run), 0 failed. Names are looked up in InstallDir()/scripts unless they
// begin with "/"; "name@tag" starts at a tag; ".lua" runs as Lua.
int run_script(const char* name, const char* tag);
// Runs a script on the script thread and then, there, calls done: passed is
// false when it could not start or a command in it (or in a script it ran)
// failed and stopped it. For runs that end with their script (-s).
void RunScriptThen(const std::string& name, std::function<void(bool passed)> done);
// Where run_script looks for a name: as given when it begins with "/", else
// under InstallDir()/scripts.
std::string ScriptPath(const std::string& name);
// Runs one script line: traces it, runs docmd and, on failure, shows the
// "Script Execution Error" box and stops the level (ctx may be null).
struct RunContext;
int script_exec_line(const char* line, int lineNumber, RunContext* ctx);

// Builds the command table, registers the Scripts menu commands, resets the
// evaluator and sets up the receive block (256 bytes, wrapping).
void InitScripting();
// Halts any script and waits (briefly) for the runner to go idle; every wait
// of the script commands ends at once.
void ScriptShutdown();

bool ScriptRunning();
// True while Halt is ending the running script (long waits give up then).
bool ScriptHalting();
// The same as a flag a wait can watch (EVENT, SOCKET, a Lua script's hook).
const std::atomic<bool>* ScriptHaltFlag();
// The IF tests isip and ismac.
bool ScriptIsIp(const char* text);
bool ScriptIsMac(const char* text);
int ScriptDepth();
// Waits until no script runs; false on time-out.
bool ScriptWaitIdle(int timeoutMs);
// The Scripts menu operations.
void script_halt();
void script_pause();
void script_resume();
void script_step();
// The SCRIPT_DEBUG flag (Run dialog "Debug On"): a Yes/No/Cancel box per line.
void ScriptSetDebug(bool on);
bool ScriptDebug();
// The Scripts menu's New: asks for a file, creates it with a header, opens it.
void OpenNewScript();

// Script command handlers get the split words (argv[0] is the command name)
// and return 0 or a negative result code. Command modules install their
// handlers by name in the runner's table at start-up; a name without a
// handler fails with "not available in this build".
using ScriptCmdHandler = int (*)(int argc, char** argv);
void ScriptSetHandler(const char* name, ScriptCmdHandler handler);

// ---- Target output seen by scripts ----

// Every chunk received from the target. Returns 1 when the prompt pattern
// matched; the receive path then calls script_wake() once the chunk has
// been shown.
int script_receive(const char* data, int count);
void script_wake();
// Waits on the wake event for ticks x 10 ms (0: no limit). 1 when the event
// (a prompt match, Halt, shutdown) ended the wait, 0 on time-out.
int script_sleep(unsigned ticks);
// Waits until nothing was received for quietMs, or limitMs passed while data
// kept coming (0: one quiet period). 1 quiet, 0 limit reached or halted.
int script_wait_quiet(unsigned quietMs, unsigned limitMs);

// The receive block: a ring of size bytes (filled with 'x'); no-wrap drops
// bytes once it is full.
void recvBlockInit(int size, bool noWrap);
// Copies the block, oldest byte first; returns the number of bytes.
int recvBlockRead(std::string& dest);
// RECV's flags for one command: 1 copy the block to RECVBLOCK at a match,
// 2 as hexadecimal, 4 empty the block after reading. Cleared by docmd.
void ScriptSetRecvFlags(int flags);
int ScriptRecvFlags();
// The prompt pattern ("." matches any character); null clears it.
void ScriptSetPattern(const char* pattern);
// RECV's count mode: bytes matched exactly, or (bytes empty) any count bytes.
void ScriptSetPatternCount(const std::string& bytes, int count);
// RECVBLOCK's text for the block: "%02x" per byte (hex), else NUL as "<0>".
std::string RecvBlockText(bool hex);
