#include "backend/moncmdc.h"
#include "util/cmdids.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "util/commands.h"
#include "platform/report.h"
#include "util/utils.h"
#include "backend/backend.h"
#include "config/configfile.h"
#include "config/configrecord.h"
#include "console/screenbuf.h"
#include "log/logging.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/ui.h"

namespace {

constexpr size_t kLineCap = 256;

std::mutex g_lineMu;
char g_line[kLineCap];
size_t g_lineLen = 0;

void TimeoutLine(bool received) {
    TracePrintf(TRC_MONCMD, "%s",
                received ? "timeout, command received but not completed." : "timeout, command not received.");
}

}  // namespace

int MoncmdOpen() {
    BackendMarkConnected(true);
    return 1;
}

int MoncmdReopen() { return 1; }

int MoncmdClose() {
    BackendMarkConnected(false);
    return 1;
}

int MoncmdWrite(const char* data, size_t len) { return MoncmdLineEdit(data, len); }

int MoncmdLineEdit(const char* data, size_t len) {
    std::lock_guard l(g_lineMu);
    for (size_t i = 0; i < len; ++i) {
        char c = data[i];
        if (g_lineLen > kLineCap - 2) {
            g_lineLen = 0;
            TracePrintf(TRC_MONCMD, "Line overflow, command aborted.");
            return 0;
        }
        if (c == '\b') {
            if (g_lineLen) {
                --g_lineLen;
                ConsoleWritePlain("\b \b", 3);
            }
        } else if (c == '\r' || c == '\n') {
            g_line[g_lineLen] = 0;
            console_printf("\r\n");
            if (g_lineLen)
                MoncmdExchange(g_cfg.BACKENT_MONCMD_SYS, g_line, g_cfg.BACKEND_MONCMD_PORT,
                               g_cfg.BACKEND_MONCMD_WAIT, true);
            console_printf("MONCMD:");
            g_lineLen = 0;
        } else {
            g_line[g_lineLen++] = c;
            ConsoleWritePlain(&c, 1);
        }
    }
    return 1;
}

int MoncmdExchange(const char* host, const char* message, uint16_t port, int polls, bool print) {
    in_addr addr{};
    if (!NetResolveIPv4(host, &addr)) {
        TracePrintf(TRC_MONCMD, "gethostbyname failed");
        return -1;
    }
    int fd = NetUdpSocket();
    if (fd < 0) {
        TracePrintf(TRC_MONCMD, "socket failed");
        return -1;
    }
    TracePrintf(TRC_MONCMD, "Sending <%s> to %s...", message, host);
    sockaddr_in to = NetAddress(addr, port);
    if (sendto(fd, message, std::strlen(message) + 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
        NetClose(fd);
        TracePrintf(TRC_MONCMD, "sendto failed");
        return -1;
    }
    if (polls <= 0) {
        NetClose(fd);
        return 0;
    }
    bool received = false;
    int countdown = polls;
    char buf[1025];
    for (;;) {
        int waiting = NetPending(fd);
        if (waiting < 0) TracePrintf(TRC_MONCMD, "ioctlsocket error");
        if (waiting > 0) {
            ssize_t n = recv(fd, buf, 1024, 0);
            if (n == 1 && buf[0] == 0) {
                NetClose(fd);
                return 0;
            }
            if (n == 0 || (n < 0 && errno == EINTR)) {
                NetClose(fd);
                TimeoutLine(received);
                return -1;
            }
            if (n > 0) {
                countdown = polls;
                received = true;
                buf[n] = 0;
                size_t textLen = strnlen(buf, static_cast<size_t>(n));
                if (print) {
                    LogWrite(buf, textLen);
                    ConsoleWritePlain(buf, textLen);
                }
                size_t traceLen = textLen;
                if (traceLen && buf[traceLen - 1] == '\n') --traceLen;
                TracePrintf(TRC_MONCMD, "%.*s", static_cast<int>(traceLen), buf);
            }
            continue;
        }
        if (countdown == 0) {
            NetClose(fd);
            TimeoutLine(received);
            return 0;
        }
        hiresSleep(10);
        --countdown;
    }
}

std::string MoncmdStatusText() {
    char buf[160];
    std::snprintf(buf, sizeof buf, "MONCMD %s:%d%s", g_cfg.BACKENT_MONCMD_SYS, g_cfg.BACKEND_MONCMD_PORT.get(),
                  g_cfg.CONSOLE_READONLY.get() ? " (readonly)" : "");
    return buf;
}

std::string MoncmdConfigText() {
    if (!g_cfg.BACKENT_MONCMD_SYS[0]) return {};
    return std::string(g_cfg.BACKENT_MONCMD_SYS) + ":" + std::to_string(g_cfg.BACKEND_MONCMD_PORT);
}

int MoncmdConfigApply(const std::string& hostPort, const std::string& wait) {
    std::string text = hostPort.substr(0, 64);
    auto colon = text.find(':');
    CFG_SET_STRING(g_cfg.BACKENT_MONCMD_SYS, text.substr(0, colon).c_str());
    if (colon != std::string::npos) {
        auto port = ParseUnsigned(text.c_str() + colon + 1, false);
        if (port && *port <= 65535) g_cfg.BACKEND_MONCMD_PORT = static_cast<uint16_t>(*port);
    }
    g_cfg.BACKEND_MONCMD_WAIT = ParseSignedLoose(wait.c_str());
    if (g_cfg.BACKEND != 3) {
        CloseConnection();
        BackendMarkConnected(true);
    }
    g_cfg.BACKEND = 3;
    g_cfg.BACKEND_MONCMD_ENABLED = 1;
    ui().MenuCheck(CMD_MONCMD_BACKEND, true);
    ConfigSetSessionOnlyBackend(false);
    CommandDispatch(CMD_CLEAR_CONSOLE);
    console_printf("MONCMD:");
    return 1;
}
