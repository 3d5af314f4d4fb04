// The main window's commands as the user meets them: the menu layout (every
// command of the main window in its menu, in order), the tool bar and its
// tool-tips, and the commands the desktop itself owns (view toggles, help,
// About, File -> New/Validate/Exit, capture and key commands).
#pragma once

#include <string>
#include <vector>

#include "util/cmdids.h"


// One menu item; a separator has id 0 and an empty text.
struct MenuItemDef {
    int id;
    const char* menu;       // "&File", submenus as "&Config/&Backend"
    const char* text;
    bool checkable;
};
// Every main-window command with a menu item, in menu order.
const std::vector<MenuItemDef>& MainMenuLayout();
// Position of a command in MainMenuLayout, -1 when it has none.
int MainMenuIndex(int id);

// The tool bar, left to right (0 separates groups).
const std::vector<int>& ToolBarLayout();
// The tool-tip of a tool-bar button for the current state.
std::string ToolBarToolTip(int id);
// True for the modem-line indicators (shown, not pressed).
bool ToolBarIsIndicator(int id);

// Registers the desktop's commands, and every other command of the layout
// that no module has registered (it stays in the menu and, when chosen, the
// status bar says it is not available). Owners registering later replace
// their entry. Safe to call more than once.
void MainCommandsInit();

// View -> ToolBar/Buttons/FuncKeys/StatusBar: flip the key, check the item,
// lay the window out again.
void ViewToggle(int id);

// Help: opens a topic page (command id of a help item); the first local
// failure shows the documented message once per run.
void HelpOpen(int id);
// Help topic page for a command, "" for the online ones.
std::string HelpPagePath(int id);
void HelpResetForTest();

// File -> New: a second copy of the program.
int StartSecondCopy();
