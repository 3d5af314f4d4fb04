// Main-window commands: every menu item, tool-bar button and accelerator is a
// numbered command with an owner. Modules register their commands in their
// own init functions; the desktop face builds its menus from this table and
// every face dispatches through CommandDispatch.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct CommandEntry {
    int id;
    std::string menu;       // top-level menu, e.g. "&File"; submenus as "&Config/&Environment"
    std::string text;       // item text, e.g. "&Open..."; empty for commands without an item
    std::function<void()> run;
    bool checkable = false;
};

void CommandRegister(CommandEntry entry);
// Runs the command; false when no module owns it (the status bar says so).
bool CommandDispatch(int id);
std::vector<CommandEntry> CommandTable();
// The text shown for a chosen command whose owner is not built.
constexpr const char* kNotAvailable = "not available in this build";
