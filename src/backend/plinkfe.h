// Child-process backend (BACKEND 4, "plink" in the configuration): the user's
// login shell ("CMD"), a command line ("SHELL:..."), or the ssh client.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// PlinkStart: builds the command from BACKENT_PLINK_ARGS, checks the client
// (PLINKVERIFY), starts the child on a pseudo-terminal and its reader. 1 or 0.
int PlinkOpen();
int ClosePlinkConnection();
// Writes to the child's input; notices a child that has ended. 1.
int PlinkWrite(const char* data, size_t len);
bool PlinkRunning();

// Status-bar text: "PLINK args", plus " (readonly)".
std::string PlinkStatusText();

// The command a configuration value starts: the program's arguments and
// whether it is a local shell ("shell mode"). Empty argv when the external
// client is not found on PATH.
struct PlinkCommand {
    std::vector<std::string> argv;
    std::string exePath;    // what runs (argv[0] may be a login-shell name)
    bool shellMode = false;
};
PlinkCommand PlinkBuildCommand(const std::string& args);

// The external client ("ssh" on PATH); empty when it is not there.
std::string PlinkClientPath();

// The "PLINK Backend Config..." dialog: its check on opening (shows "Can't
// find executable" and returns false when the client is missing) and its OK.
bool PlinkConfigCanOpen();
int PlinkConfigApply(const std::string& args);
