// The File menu's configuration commands.
#pragma once

// Registers File -> Open, Save, Save As and Edit Config.
void FileMenuInit();
