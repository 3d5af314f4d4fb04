// The shell variable store: process-wide named strings with exported and
// hidden flags. Safe from any thread; lookups return copies.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/report.h"   // kSvnRevision


// Flag bits of a variable.
enum : int { SHELLVAR_EXPORTED = 1, SHELLVAR_HIDDEN = 2 };

// Gives the store its first free entry and sets SVNREV; variables already set
// stay (the command line's -D ones come before the script engine starts).
// 0, or -1 after a message box when memory is exhausted.
int ShellVarInit();
// Removes every variable and frees every entry (a fresh store).
void ShellVarClear();

// THISSCRIPTDIR, THISSCRIPTNAME and OXEL_BACKEND are computed at each lookup
// and never stored.
std::optional<std::string> shell_getenv(const char* name);
// 0, or -1 for a read-only name (script_error says why), an empty name or no memory.
// A null or empty value removes the variable.
int shell_setenv(const char* name, const char* value);
// 0, or -1 when there is no such variable.
int shell_unsetenv(const char* name);
// Formats the value, then shell_setenv; the length, or -1.
int shell_sprintf(const char* name, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// 1 when the variable exists (flag changed), else 0.
int shell_export(const char* name, bool on);
int shell_hide(const char* name, bool on);
// Flags of a variable, -1 when it does not exist.
int shell_flags(const char* name);
// The listing of every variable as the console shows it; returns the
// number of variables.
int ShellListText(std::string& text);
// Exported, not hidden variables in list order (what a saved configuration keeps).
std::vector<std::pair<std::string, std::string>> shell_exported();

// The script runner names the script running at its deepest level (null or
// empty: none); THISSCRIPTDIR and THISSCRIPTNAME are computed from it.
void ShellSetScriptPath(const char* path);

// What OK in the "Set Environment Variable..." dialog does: with a non-empty
// name, set the variable and its exported flag. 1 done, 0 nothing to do.
int ShellSetFromDialog(const std::string& name, const std::string& value, bool exported);

// After the configuration is read: INSTALLDIR, MYIP, MYNETMASK, MYGATEWAYIP and
// WEBSOCPORT.
void ShellSetSystemVars();
// WEBSOCPORT from the configuration; again whenever the server settings change.
void ShellSetWebsocPort();
// The host's address: MYIP when set, else looked up and stored as MYIP.
std::optional<std::string> ShellHostAddress();
