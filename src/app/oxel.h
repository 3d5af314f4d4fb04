// The application frame: start-up, the shared reporting services and the one
// program-exit routine.
#pragma once

#include <string>

class Ui;

// Start-up: installs the face, parses the command line, allocates the screen
// buffer, starts the script engine and runs the initialisation command 999
// (configuration, shell variables, servers, backend, start-up script).
// Returns -1 when the front end should run its loop, else the exit status to
// end with at once (command-line errors: 0).
int OxelStart(int argc, char** argv, Ui& face);
// Orderly shutdown after the front end's loop ended: logs closed, script
// halted, backend disconnected, servers stopped.
void OxelShutdown();

// Brings the menu's ticks and greyed items in line with the configuration;
// for a face that builds its menus after start-up.
void OxelSyncMenus();

// The initialisation command is main-window command 999 (at start) and 998:
// File -> Open loads the chosen file, records it in LAST_CFG_FILE and then
// dispatches 998, which redoes everything after the load.

// The program directory (OXEL_HOME, else the executable's directory).
std::string InstallDir();
void SetInstallDir(const std::string& dir);

// The current configuration file name ("" = none): from the command line, or
// LAST_CFG_FILE when 998 runs after File -> Open.
std::string CurrentConfigFile();
void SetCurrentConfigFile(const std::string& name);

// Command-line results the console and the desktop face read.
int BufferRows();               // -R, default 1200
int BufferCols();               // -C, default 250
int ForcedCharHeight();         // -h, -1 when not forced
int ForcedCharWidth();          // -w, -1 when not forced
bool TmpDebugFunction();        // -H
// The face reports the console font's measured cell size (for the -h/-w notes).
void SetMeasuredCharSize(int width, int height);

// True between the end of start-up and the start of shutdown; console output
// is discarded while it is false.
bool FrameInitialised();
void SetFrameInitialised(bool on);

// The one-second frame tick, delivered by the front end on its UI thread.
void OxelFrameTick();

// Error report: file name without extension, line, text. Shown in a box, or
// on the console when the shell variable SHOW_LASTERROR_TO_CONSOLE exists.
void ErrorReport(const char* file, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
#define ERROR_REPORT(...) ErrorReport(OXEL_MODULE, __LINE__, __VA_ARGS__)
// Error report for a given system error code.
void ErrorReportCode(int code, const char* text);

// Message box with an OK button; returns the formatted length.
int OxelMessageBox(const char* title, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Message box of a given style; returns the button pressed.
int OxelMessageBoxStyle(unsigned style, const char* title, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Writes to the console without VT100 processing, after the standard log.
// Returns the length, or -1 when memory is short.
int console_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The one exit routine every fatal path calls. Does not return.
[[noreturn]] void ProgramExit(int code);
// The face's own last step on every exit path (the cli's screen dump).
void SetExitHook(void (*fn)());
// Asks the front end to end its loop with this status (signal, EXIT OXEL);
// the front end then calls OxelShutdown.
void RequestShutdown(int code);
