// Drives oxel-cli (or any program) as a separate process for e2e tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct ProcResult {
    int status = -1;        // exit status, or 128+signal, or -1 on timeout
    std::string out, err;
};

// A running child with pipes to its standard input, output and error.
class Proc {
public:
    // env entries "NAME=value" are added to (and override) the environment.
    Proc(const std::string& program, const std::vector<std::string>& args,
         const std::vector<std::string>& env = {});
    ~Proc();  // kills a child still running

    void Write(const std::string& bytes);
    void CloseStdin();
    // Reads what is available until pred(out) holds or timeoutMs passes.
    bool WaitOutput(const std::string& needle, int timeoutMs);
    bool WaitError(const std::string& needle, int timeoutMs);
    void Signal(int sig);
    // Waits for the exit (reading all output); -1 on timeout.
    int Wait(int timeoutMs);
    std::string Out();
    std::string Err();
    pid_t pid() const { return pid_; }

private:
    void Pump(int timeoutMs);
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    int status_ = -1;
    bool exited_ = false;
    std::string outBuf_, errBuf_;
};

// Runs to completion with the given standard input.
ProcResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}, const std::string& input = "",
                      int timeoutMs = 20000);
// oxel-cli from the build, with OXEL_HOME set to home unless env names one.
ProcResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                  const std::string& input = "", int timeoutMs = 20000);
std::string CliPath();
// The source tree (documentation the tests read, fixtures).
std::string SourceDir();

// A fresh temporary directory, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    void Write(const std::string& name, const std::string& content) const;
    std::string Read(const std::string& name) const;

private:
    std::string path_;
};
