// Reading and writing configuration files (".ct").
#pragma once

// 1 loaded, 0 failed. "NULL" loads nothing and succeeds.
int ConfigLoad(const char* name);
// 1 saved, 0 failed or cancelled. Null or empty name asks for one.
int ConfigSave(const char* name);
// Registers the File menu's Open, Save, Save As and Edit Config.
void ConfigFileInit();
// The session-only backend flag (see ConfigSave): set at start when the
// loaded configuration has the COM-port backend with port NONE.
void ConfigSetSessionOnlyBackend(bool on);
