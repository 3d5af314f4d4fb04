#include "app/wiring.h"

#include <string>

#include "app/buttons.h"
#include "app/statusbar.h"
#include "backend/backend.h"
#include "backend/oxeltunnel.h"
#include "backend/plinkfe.h"
#include "backend/telnetc.h"
#include "config/configrecord.h"
#include "config/shellvar.h"
#include "console/rxpath.h"
#include "console/screenbuf.h"
#include "log/logging.h"
#include "log/srvrtrace.h"
#include "platform/report.h"
#include "script/catchstr.h"
#include "script/inactivity.h"
#include "script/scripting.h"
#include "servers/loccmd.h"
#include "servers/remotepress.h"
#include "servers/telnetd.h"
#include "servers/tftpclient.h"
#include "servers/tftpsrvr.h"
#include "servers/websocsrvr.h"
#include "util/cmdids.h"
#include "util/commands.h"
#include "app/statusbar.h"
#include "xfer/avrloader.h"
#include "xfer/xmodem.h"

namespace {

RxHooks Consumers() {
    return RxHooks{
        AvrLoaderActive,  AvrLoaderBytes,   XmodemReceiving,  XmodemReceiveBytes,
        ActivitySeen,     TunnelCopy,       script_receive,   script_wake,
        LogBinaryCapture, TelnetdBroadcast, TimestampInsert,  LogWrite,
        WebsocBroadcast,  CatchActive,      CatchFeedByte,    BackendWrite,
        BackendReply,     BackendConnected, BackendLostConnection, ReopenConnection,
    };
}

// The error report's console form, when the user asked for it.
bool ReportOnConsole(const std::string& caption, const std::string& sys) {
    if (!shell_getenv("SHOW_LASTERROR_TO_CONSOLE")) return false;
    // The system text carries its own line end, as the console form expects.
    if (sys.empty()) console_printf("###...\r\n%s\r\n###\r\n", caption.c_str());
    else console_printf("###...\r\n%s\r\n%s###\r\n", caption.c_str(), (sys + "\r\n").c_str());
    return true;
}

void ClosePlinkAtExit() {
    if (g_cfg.BACKEND == 4) ClosePlinkConnection();
}

void StartScript(const char* name) { run_script(name, nullptr); }

void ToggleTimestamps() {
    std::string marker = TimestampToggle();
    if (!marker.empty()) ConsoleWritePlain(marker.data(), marker.size());
}

}  // namespace

void AppWireHooks() {
    RxHooksInstall(Consumers());
    SetErrorReportRoutes({TelnetdBroadcast, ReportOnConsole});
    TelnetSetRestartScriptHook(StartScript);
    StatusSourcesRef().telnetClients = TelnetdClientCount;
    RemotePressInstall(PressFkey, PressButton);
    CommandRegister({CMD_TB_TIMESTAMP, "", "", ToggleTimestamps});
    StatusSourcesRef().tftpPkts = TftpStatusPkts;
    static bool stepsAdded = false;
    if (!stepsAdded) {
        stepsAdded = true;
        ProgramExitAddStep([] { SetFrameInitialised(false); });
        ProgramExitAddStep(LogShutdown);
        ProgramExitAddStep(TraceCloseFile);
        ProgramExitAddStep(TftpSrvrStop);
        ProgramExitAddStep(ClosePlinkAtExit);
    }
}
