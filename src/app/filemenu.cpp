// The File menu: open, save, save as, and the configuration in the editor.
#include "app/filemenu.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "backend/backend.h"
#include "config/configfile.h"
#include "config/configrecord.h"
#include "console/editor.h"
#include "platform/report.h"
#include "platform/ui.h"
#include "servers/tftpsrvr.h"
#include "util/cmdids.h"
#include "util/commands.h"

namespace {

bool IsDirectory(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void FileOpen() {
    UiFileRequest req;
    req.title = kConfigFilePrompt;
    req.filter = kConfigFileFilter;
    std::string last = ConfigString(g_cfg.LAST_CFG_FILE, sizeof g_cfg.LAST_CFG_FILE);
    if (last.empty()) req.startDir = InstallDir() + "/scripts";
    else if (last[0] == '/') req.startDir = last;
    else req.startDir = InstallDir() + "/config/" + last;
    auto chosen = ui().ChooseFile(req);
    if (!chosen || chosen->empty()) return;
    CloseConnection();
    TftpSrvrStop();
    ConfigInitDefaults();
    std::string def = InstallDir() + "/defcfg.ct";
    if (access(def.c_str(), F_OK) == 0) ConfigLoad(def.c_str());
    if (ConfigLoad(chosen->c_str())) {
        CFG_SET_STRING(g_cfg.LAST_CFG_FILE, ConfigCurrentPath().c_str());
        ui().MenuEnable(CMD_EDIT_CONFIG, true);
    }
    CommandDispatch(CMD_REINIT);
}

void FileSave() {
    std::string last = ConfigString(g_cfg.LAST_CFG_FILE, sizeof g_cfg.LAST_CFG_FILE);
    // The default names the config directory, not a file: ask instead of
    // writing "config.ct" beside it.
    if (last.empty() || IsDirectory(last)) ConfigSave(nullptr);
    else ConfigSave(last.c_str());
}

void FileSaveAs() {
    if (ConfigSave(nullptr)) ui().MenuEnable(CMD_EDIT_CONFIG, true);
}

void FileEditConfig() { StartEditor(ConfigString(g_cfg.LAST_CFG_FILE, sizeof g_cfg.LAST_CFG_FILE)); }

}  // namespace

void FileMenuInit() {
    CommandRegister({CMD_FILE_OPEN, "&File", "&Open...", FileOpen});
    CommandRegister({CMD_FILE_SAVE, "&File", "&Save", FileSave});
    CommandRegister({CMD_FILE_SAVEAS, "&File", "Save &As...", FileSaveAs});
    CommandRegister({CMD_EDIT_CONFIG, "&File", "&Edit Config", FileEditConfig});
}
