// Splitting a command line into words, and the option parser every script
// command (and the program's own command line) uses.
#pragma once

#include <string>
#include <vector>

constexpr int kMaxArgs = 32;

// Words are separated by blanks and tabs; "..." keeps blanks and joins with
// adjacent text (ab"c d"e is one word); \" is a literal quote anywhere.
// False on an unclosed quote or a 33rd word.
bool SplitArgs(const std::string& line, std::vector<std::string>& words);

// argv-style view of words (pointers into the strings; valid while they live).
std::vector<char*> ArgvOf(std::vector<std::string>& words);

// Option parser state. Kept per thread: commands run on the script thread and
// on server threads at once, and one command must not move another's position.
extern thread_local int script_optind;
extern thread_local char* script_optarg;
void script_getopt_reset();
// Returns the option letter, '?' on an error (the command's error text is
// set), or -1 when the options end.
int script_getopt(int argc, char** argv, const char* optstring);

// The running command's error text, kept per thread (commands run on the
// script thread and on server threads at once). script_error replaces any
// earlier text.
void script_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string ScriptErrorText();
void ScriptErrorClear();
