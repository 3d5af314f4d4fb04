// Runs small scripts through the real runner and command table, for the
// command modules' tests.
#pragma once

#include <string>
#include <vector>

#include "fake_ui.h"
#include "proc.h"

class ScriptHome {
public:
    // A fresh INSTALLDIR with a scripts folder; the command table built.
    ScriptHome();
    // Runs text as a script to its end (queued answers stay queued): the "Error: ..." text of the
    // "Script Execution Error" box it showed, or "" when it ran cleanly.
    std::string Run(const std::string& text, const std::string& name = "t.scr");
    // Every box shown since the last Run.
    std::vector<FakeBox> Boxes() { return ui.Boxes(); }
    std::string Var(const char* name);
    FakeUi ui;
    TempDir home;
};
