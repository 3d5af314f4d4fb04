// Reading and writing configuration files (".ct").
#pragma once

#include <string>

// 1 loaded, 0 failed. "NULL" loads nothing and succeeds. A relative name that
// does not exist as given is looked up in the "config" directory of the
// program directory. Keys read before a failure stay in force.
int ConfigLoad(const char* name);
// 1 saved, 0 failed or cancelled. Null or empty name asks for one; a name
// given by the caller replaces an existing file without asking.
int ConfigSave(const char* name);
// Registers the File menu's Open, Save, Save As and Edit Config.
// The file chooser's title and filter for configuration files.
constexpr const char* kConfigFileFilter = "Oxel config files (*.ct)";
constexpr const char* kConfigFilePrompt = "Cfg File:";
// A string key's text (its array need not end in NUL).
std::string ConfigString(const char* field, size_t cap);
// The session-only backend flag (see ConfigSave): set at start when the
// loaded configuration has the COM-port backend with port NONE; the backend
// dialogs clear it. While set, saves record the start-up backend.
void ConfigSetSessionOnlyBackend(bool on);
bool ConfigSessionOnlyBackend();
// The path of the last file loaded or saved successfully (empty before).
std::string ConfigCurrentPath();
// Set by a successful load / save.
bool ConfigWasLoaded();
bool ConfigWasSaved();
// The configuration file's extension applied as saving does: a name not
// ending in ".ct" loses everything from its file-name part's first "." and
// gets ".ct".
std::string ConfigCtName(const std::string& name);
