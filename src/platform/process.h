// Child processes on a pseudo-terminal or on pipes: start, read the output,
// write the input, notice the end, terminate. Used by the child-process
// backend, the SYSTEM command and host commands.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "util/worker.h"   // JoinThreadWithin, for the modules that run readers

struct SpawnOptions {
    bool pty = true;            // else pipes: stdin, and stdout+stderr together
    // Pseudo-terminal line settings (ignored with pipes).
    bool ptyEcho = true;        // the terminal echoes what is written to the child
    bool ptyIgnoreCr = false;   // CR written to the child is dropped (CR LF gives one line)
    bool ptyOutCrLf = true;     // the child's LF reaches us as CR LF
    unsigned short rows = 24, cols = 80;
    std::string exePath;        // the program to run; empty: argv[0] looked up on PATH
    std::vector<std::string> env;   // "NAME=value" added to (or replacing in) the environment
    std::string dir;            // working directory; empty: unchanged
};

struct ChildProcess {
    pid_t pid = -1;
    int outFd = -1;             // the child's output (the pty master with a pty)
    int inFd = -1;              // the child's input (the same descriptor with a pty)
    int wakeR = -1, wakeW = -1; // ends a ProcRead wait
    bool pty = false;
    bool reaped = false;
    int exitCode = -1;          // valid once reaped: status, or 128 + signal
};

// Full path of an executable found on PATH (a name with "/" is checked as
// given); empty when none.
std::string ProcFindOnPath(const std::string& name);

// Starts argv. 1 started, 0 failed (errno set; nothing is left open).
int ProcSpawn(const std::vector<std::string>& argv, const SpawnOptions& opt, ChildProcess* child);

// Reads what the child printed, waiting for it: the count, 0 at its end (or
// after ProcInterrupt), -1 on a failure.
int ProcRead(ChildProcess& child, void* buf, size_t len);
// Ends a ProcRead wait on another thread; it returns 0.
void ProcInterrupt(ChildProcess& child);

// Writes all bytes to the child's input (blocking). The count, or -1.
int ProcWrite(ChildProcess& child, const void* data, size_t len);

// 1 the child has ended (exitCode set), 0 still running, -1 cannot tell.
int ProcExited(ChildProcess& child);

// Terminates a running child (hang-up and terminate, then kill after a short
// grace), reaps it and closes every descriptor. Any reader must have left.
void ProcClose(ChildProcess& child);
