// Hand-off to the external editor.
#pragma once

#include <string>

// Starts the editor named by EDITOR on path (no file when path is empty),
// without waiting for it. An empty EDITOR or "xdg-open" uses the desktop's
// handler for the file. Returns 1 when started, else 0 after telling the user
// ("EDITOR ERROR").
int StartEditor(const std::string& path);
