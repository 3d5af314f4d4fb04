// The shared reporting services every layer uses: message boxes, the error
// report, the program directory and the one program-exit routine. Higher
// layers reach down into these; where a report must reach up (the copy to
// telnet clients, the console form, the steps of an orderly exit) start-up
// registers the route here.
#pragma once

#include <cstddef>
#include <string>

// The build number the error report and SVNREV carry.
constexpr int kSvnRevision = 1437;

// The program directory (OXEL_HOME, else the executable's directory).
std::string InstallDir();
void SetInstallDir(const std::string& dir);

// Error report: file name without extension, line, text. Shown in a box, or
// through the console route when that route takes it.
void ErrorReport(const char* file, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
#define ERROR_REPORT(...) ErrorReport(OXEL_MODULE, __LINE__, __VA_ARGS__)
// Error report for a given system error code.
void ErrorReportCode(int code, const char* text);

// Where an error report goes besides its box. remote gets the framed text for
// remote users; console returns true when it showed the report itself (then
// no box appears). Either may be null.
struct ErrorReportRoutes {
    void (*remote)(const char* text, size_t len);
    bool (*console)(const std::string& caption, const std::string& systemText);
};
void SetErrorReportRoutes(ErrorReportRoutes routes);

// Message box with an OK button; returns the formatted length. A text longer
// than the box holds is cut in its arguments, never in the format's words.
int OxelMessageBox(const char* title, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Message box of a given style; returns the button pressed.
int OxelMessageBoxStyle(unsigned style, const char* title, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// While a thread holds a NoWaitScope (the received-data path does, for the
// whole delivery) nothing may wait for the user: boxes are queued and shown
// by the report thread, and questions get their negative answer (No, else
// Cancel, else OK) with a trace of what was not asked.
struct NoWaitScope {
    NoWaitScope();
    ~NoWaitScope();
    NoWaitScope(const NoWaitScope&) = delete;
    NoWaitScope& operator=(const NoWaitScope&) = delete;
};
bool InNoWaitScope();
// Shows a box from the report thread; never blocks.
void PostMessageBox(unsigned style, const std::string& title, const std::string& text);
// Waits up to ms for posted boxes to be answered (shutdown, tests).
bool FlushPostedBoxes(int ms);

// The one exit routine every fatal path calls: runs the registered exit steps
// in the order they were registered, then ends the process. Does not return.
[[noreturn]] void ProgramExit(int code);
void ProgramExitAddStep(void (*step)());
// Asks the front end to end its loop with this status (signal, EXIT OXEL);
// the front end then runs the orderly shutdown.
void RequestShutdown(int code);
