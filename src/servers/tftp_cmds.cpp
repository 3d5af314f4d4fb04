#include "servers/tftp_cmds.h"

#include <strings.h>
#include <sys/stat.h>

#include <string>

#include "console/screenbuf.h"
#include "platform/report.h"
#include "util/utils.h"
#include "backend/moncmdc.h"
#include "util/cmdline.h"
#include "script/scripting.h"
#include "servers/tftpclient.h"
#include "servers/tftpsrvr.h"

namespace {

bool Is(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// TFTP SRVRSETUP off | TFTP SRVRSETUP on on|off DIR.
int ServerSetup(int nargs, char** args) {
    if (Is(args[1], "off")) {
        if (nargs != 2) return -3;
        TftpSrvrStop();
        return 0;
    }
    if (!Is(args[1], "on")) return -2;
    if (nargs != 4) return -3;
    if (!Is(args[2], "on") && !Is(args[2], "off")) return -2;
    return TftpSrvrSetup(Is(args[2], "on"), args[3]) ? 0 : -1;
}

bool ParseSeconds(const char* text, uint32_t& out) {
    auto v = ParseUnsigned(text);
    if (!v || *v > 86400) return false;
    out = *v;
    return true;
}

struct NewmonArgs {
    std::string ram = "$APPRAMBASE", flash = "$BOOTROMBASE";
    int bank = -1;
    bool unlock = false, verbose = false;
    uint32_t port = 777, wait = 10;
};

int NewmonOptions(int argc, char** argv, NewmonArgs& a) {
    for (int opt; (opt = script_getopt(argc, argv, "A:B:b:p:uvw:")) != -1;) {
        switch (opt) {
        case 'A': a.ram = script_optarg; break;
        case 'B': a.flash = script_optarg; break;
        case 'b': {
            auto v = ParseUnsigned(script_optarg);
            if (!v || *v > 255) return -2;
            a.bank = static_cast<int>(*v);
            break;
        }
        case 'p': {
            auto v = ParseUnsigned(script_optarg);
            if (!v || *v < 1 || *v > 65535) return -2;
            a.port = *v;
            break;
        }
        case 'u': a.unlock = true; break;
        case 'v': a.verbose = true; break;
        case 'w':
            if (!ParseSeconds(script_optarg, a.wait)) return -2;
            break;
        default: return -2;
        }
    }
    return 0;
}

// The target is named as for TFTP ("host" or "host:port"); the port is the
// TFTP server's, the monitor commands go to the host.
std::string HostOf(const char* target) {
    std::string host = target;
    size_t colon = host.find(':');
    if (colon != std::string::npos) host.resize(colon);
    return host;
}

int Moncmd(const char* target, const NewmonArgs& a, const std::string& command) {
    if (a.verbose) console_printf("NEWMON: %s\r\n", command.c_str());
    return MoncmdExchange(HostOf(target).c_str(), command.c_str(), static_cast<uint16_t>(a.port), static_cast<int>(a.wait * 100),
                          a.verbose);
}

}  // namespace

int cmd_tftp(int argc, char** argv) {
    int retries = 0;
    bool verbose = false;
    for (int opt; (opt = script_getopt(argc, argv, "r:v")) != -1;) {
        switch (opt) {
        case 'r': {
            auto v = ParseUnsigned(script_optarg);
            if (!v || *v > 1000) return -2;
            retries = static_cast<int>(*v);
            break;
        }
        case 'v': verbose = true; break;
        default: return -2;
        }
    }
    int nargs = argc - script_optind;
    char** args = argv + script_optind;
    if (nargs >= 2 && Is(args[0], "SRVRSETUP")) return ServerSetup(nargs, args);
    if (nargs != 5) return -3;
    if (verbose)
        console_printf("\r\nTFTP %s: sys=%s,src=%s,dest=%s,mode=%s\r\n", args[1], args[0], args[2], args[3], args[4]);
    int rc = tftpc(args[0], args[1], args[2], args[3], args[4], retries);
    if (rc < 0) {
        OxelMessageBox("TFTPC", "Failed %d", rc);
        return -1;
    }
    return 0;
}

int cmd_newmon(int argc, char** argv) {
    NewmonArgs a;
    if (int rc = NewmonOptions(argc, argv, a)) return rc;
    int nargs = argc - script_optind;
    char** args = argv + script_optind;
    if (nargs != 2) return -3;
    const char* ip = args[0];
    const char* file = args[1];
    struct stat st{};
    if (stat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
        OxelMessageBox("NEWMON", "File not found: %s\n", file);
        return -1;
    }
    if (Moncmd(ip, a, "version") < 0) return -1;
    if (a.verbose) console_printf("NEWMON: tftp put %s %s\r\n", file, a.ram.c_str());
    if (tftpc(ip, "put", file, a.ram.c_str(), "octet", 0) < 0) return -1;
    if (a.bank >= 0 && Moncmd(ip, a, "flash bank " + std::to_string(a.bank)) < 0) return -1;
    if (a.unlock && Moncmd(ip, a, "flash unlock") < 0) return -1;
    if (Moncmd(ip, a, "flash opw") < 0) return -1;
    std::string ewrite = "flash ewrite " + a.flash + " " + a.ram + " " + std::to_string(st.st_size);
    return Moncmd(ip, a, ewrite) < 0 ? -1 : 0;
}

void TftpCmdsInit() {
    ScriptSetHandler("TFTP", cmd_tftp);
    ScriptSetHandler("NEWMON", cmd_newmon);
}
