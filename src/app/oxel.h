// The application frame: start-up, the shared reporting services and the one
// program-exit routine.
#pragma once

#include <string>

#include "platform/report.h"

class Ui;

// What the front end is: oxel-cli is a terminal face (Ctrl-] controls; a -s
// script ends the run); unattended when its standard input is no terminal.
struct FaceTraits {
    bool terminal = false;
    bool unattended = false;
};

// Start-up: installs the face, parses the command line, allocates the screen
// buffer, starts the script engine and runs the initialisation command 999
// (configuration, shell variables, servers, backend, start-up script).
// Returns -1 when the front end should run its loop, else the exit status to
// end with at once (--help, --version: 0; command-line errors: 64).
int OxelStart(int argc, char** argv, Ui& face, FaceTraits traits = {});
// Orderly shutdown after the front end's loop ended: logs closed, script
// halted, backend disconnected, servers stopped.
void OxelShutdown();

// Brings the menu's ticks and greyed items in line with the configuration;
// for a face that builds its menus after start-up.
void OxelSyncMenus();

// The initialisation command is main-window command 999 (at start) and 998:
// File -> Open loads the chosen file, records it in LAST_CFG_FILE and then
// dispatches 998, which redoes everything after the load.

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

// The version of this build ("1.0").
const char* OxelVersion();

// The one-second frame tick, delivered by the front end on its UI thread.
void OxelFrameTick();

