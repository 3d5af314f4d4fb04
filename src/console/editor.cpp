#include "console/editor.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/report.h"
#include "config/configrecord.h"

extern char** environ;

namespace {

constexpr const char* kDesktopOpener = "xdg-open";

// Runs argv detached in its own session with no terminal input, and reaps it
// on a small thread so no zombie stays behind. Returns 0 or an errno value.
int SpawnDetached(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&attr);
    // The editor must not read our terminal nor write into the console stream.
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &fa, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return rc;
    std::thread([pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {}
    }).detach();
    return 0;
}

}  // namespace

int StartEditor(const std::string& path) {
    std::string editor(g_cfg.EDITOR, strnlen(g_cfg.EDITOR, sizeof g_cfg.EDITOR));
    bool desktop = editor.empty() || editor == kDesktopOpener;
    if (desktop) editor = kDesktopOpener;
    std::vector<std::string> args{editor};
    if (!path.empty()) {
        args.push_back(path);
    } else if (desktop) {
        // The desktop opener needs something to open.
        OxelMessageBox("EDITOR ERROR", "%s failed: %s", editor.c_str(), "no file to open");
        return 0;
    }
    int rc = SpawnDetached(args);
    if (rc == 0) return 1;
    const char* why = std::strerror(rc);
    if (why && *why)
        OxelMessageBox("EDITOR ERROR", "%s failed: %s", editor.c_str(), why);
    else
        OxelMessageBox("EDITOR ERROR", "%s failed", editor.c_str());
    return 0;
}
