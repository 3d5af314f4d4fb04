// Command-line expansion ($NAME, ${NAME}, %SYM, %{SYM}), the symbol file and
// the SET command.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The command line's buffer size; an expanded line must stay below it.
constexpr size_t kCmdLineSize = 2048;

// Expands the line in place. 0, or -1 after a "Script Error" box.
int cmdline_expand(std::string& line);

// Looks a symbol up in the file named by SYMFILE. A missing file or symbol
// shows a "getsym()" box; no SYMFILE fails silently.
std::optional<std::string> GetSym(const std::string& symbol);
// Buffer form: the value copied into buffer (cut to size), or null.
const char* getsym(const char* symbol, char* buffer, size_t size);

// The SET command handler.
int SetCmd(int argc, char** argv);

// Prints the shell-variable table to the console; returns the number of
// variables.
int shell_list();
// Registers Config -> Environment -> Set and Display.
void ShellVarMenuInit();
