// The shell variable store: process-wide named strings with exported and
// hidden flags. Safe from any thread; lookups return copies.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

int ShellVarInit();
std::optional<std::string> shell_getenv(const char* name);
int shell_setenv(const char* name, const char* value);
int shell_unsetenv(const char* name);
int shell_sprintf(const char* name, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int shell_export(const char* name, bool on);
int shell_hide(const char* name, bool on);
int shell_list();
// Exported, not hidden variables in list order (what a saved configuration keeps).
std::vector<std::pair<std::string, std::string>> shell_exported();
