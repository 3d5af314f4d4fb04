#include "script/auxcom_cmd.h"

#include <strings.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "util/utils.h"
#include "backend/comport.h"
#include "log/srvrtrace.h"
#include "platform/clock.h"
#include "platform/serial.h"
#include "util/cmdline.h"
#include "script/script_cmds.h"
#include "script/scripting.h"
#include "config/shellvar.h"

namespace {

constexpr size_t kWriteMax = 128;
constexpr size_t kLineMax = 127;

// One open auxiliary port. A WRITE waiting for its prompt holds a reference,
// so a CLOSE meanwhile ends that wait instead of pulling the port away.
struct AuxPort {
    int number = 0;
    SerialPort* port = nullptr;
    bool dtr = false;
    std::atomic<bool> closed{false};
    ~AuxPort() {
        if (port) serial().close(port);
    }
};

std::mutex g_mu;
std::shared_ptr<AuxPort> g_slots[kAuxcomSlots];

std::shared_ptr<AuxPort> Find(int number) {
    std::lock_guard l(g_mu);
    for (auto& s : g_slots)
        if (s && s->number == number) return s;
    return nullptr;
}

SerialLine LineFor(int baud, int dataBits, int parity, int stopBits, int flow, bool dtr) {
    SerialLine line;
    line.baud = baud;
    line.dataBits = dataBits;
    line.parity = parity;
    line.stopBits = stopBits;
    line.dtrControl = (flow & 0x01) ? LINE_HANDSHAKE : dtr ? LINE_ENABLE : LINE_DISABLE;
    line.dsrOutFlow = (flow & 0x01) != 0;
    line.rtsControl = (flow & 0x02) ? LINE_HANDSHAKE : LINE_DISABLE;
    line.ctsOutFlow = (flow & 0x02) != 0;
    line.xonXoff = (flow & 0x04) != 0;
    return line;
}

int PortArg(const char* text, int* number) {
    auto v = ParseUnsigned(text);
    if (!v || *v < 1 || *v > 1023) return -2;
    *number = static_cast<int>(*v);
    return 0;
}

int Open(int nargs, char** args, bool verbose) {
    if (nargs != 7 && nargs != 8) return -3;
    int number = 0;
    if (PortArg(args[1], &number)) return -2;
    auto baud = ParseUnsigned(args[2]);
    auto bits = ParseUnsigned(args[3]);
    auto parity = ParseParity(args[4]);
    auto stop = ParseStopBits(args[5]);
    auto flow = ParseFlow(args[6]);
    if (!baud || *baud < 1 || *baud > 0x7fffffff || !bits || !parity || !stop || !flow) return -2;
    bool raiseDtr = nargs == 8 && std::strcmp(args[7], "1") == 0;

    std::lock_guard l(g_mu);
    std::shared_ptr<AuxPort>* free = nullptr;
    for (auto& s : g_slots) {
        if (s && s->number == number) {
            script_error("AUXCOM port %d already assigned.", number);
            return -1;
        }
        if (!s && !free) free = &s;
    }
    if (!free) {
        script_error("Max AUXCOM ports assigned.");
        return -1;
    }
    std::string path = ComDevicePath(number);
    int err = 0;
    SerialPort* port = path.empty() ? nullptr : serial().open(path.c_str(), &err);
    if (!port) {
        script_error("AUXCOM port COM%d, failed to open.", number);
        return -1;
    }
    auto aux = std::make_shared<AuxPort>();
    aux->number = number;
    aux->port = port;
    aux->dtr = raiseDtr;
    TracePrintf(TRC_SCRIPT, "port=%d, baud=%d, datawidth=%d, parity=%d,stopbits=%d,flow=%d", number,
                static_cast<int>(*baud), static_cast<int>(*bits), *parity, *stop, *flow);
    SerialLine line = LineFor(static_cast<int>(*baud), static_cast<int>(*bits), *parity, *stop, *flow, raiseDtr);
    if (*bits < 5 || *bits > 8 || !serial().setLine(port, &line)) {
        script_error("AUXCOM port COM%d, setup failure.", number);
        return -1;  // aux closes the port
    }
    if (verbose) TracePrintf(TRC_SCRIPT, "AUXCOM COM%d open on %s", number, path.c_str());
    *free = aux;
    return 0;
}

// Reads until the prompt arrived (1), the limit passed or the script was
// halted (0), or the read failed (-1). Each received line goes to AUXLASTLINE.
int ReadForPrompt(AuxPort& aux, const std::string& prompt, int limitMs) {
    std::string line, tail;
    uint64_t start = ClockTickMs();
    for (;;) {
        char buf[64];
        long n = aux.closed ? -1 : serial().read(aux.port, buf, sizeof buf);
        if (n < 0) return -1;
        for (long i = 0; i < n; i++) {
            char c = buf[i];
            if (c == '\r' || c == '\n') {
                if (!line.empty()) shell_setenv("AUXLASTLINE", line.c_str());
                line.clear();
            } else if (line.size() < kLineMax) {
                line += c;
            }
            tail += c;
            if (tail.size() > prompt.size()) tail.erase(0, tail.size() - prompt.size());
            if (tail == prompt) return 1;
        }
        if (n > 0) continue;
        if (limitMs > 0 && ClockTickMs() - start >= static_cast<uint64_t>(limitMs)) return 0;
        // The wake event ends this pause only on Halt or shutdown (no pattern is set).
        if (script_sleep(1)) return 0;
    }
}

int Write(int nargs, char** args, const char* prompt, const char* limit) {
    if (nargs != 3) return -3;
    int number = 0;
    if (PortArg(args[1], &number)) return -2;
    char buf[kWriteMax];
    int len = ExpandEscapes(args[2], std::strlen(args[2]), buf, sizeof buf);
    if (len < 0) return -2;
    int limitMs = 0;
    if (limit) {
        auto v = ParseUnsigned(limit);
        if (!v || *v > 86400) return -2;
        limitMs = static_cast<int>(*v) * 1000;
    }
    auto aux = Find(number);
    if (!aux) {
        script_error("AUXCOM port %d not assigned.", number);
        return -1;
    }
    bool wait = prompt && *prompt;
    // Stale input goes before the write, so that a quick answer is not lost.
    if (wait) serial().purge(aux->port);
    if (len > 0 && serial().write(aux->port, buf, static_cast<size_t>(len)) != len) {
        script_error("AUXCOM port %d write failed.", number);
        return -1;
    }
    if (!wait) return 0;
    ScriptSetPattern(nullptr);
    int got = ReadForPrompt(*aux, prompt, limitMs);
    if (got < 0) {
        script_error("AuxCom readfile failed");
        return -1;
    }
    shell_setenv("SCR_TIMEOUT", got ? "FALSE" : "TRUE");
    return 0;
}

int ModemOrClose(int nargs, char** args) {
    if (nargs != 2) return -3;
    int number = 0;
    if (PortArg(args[1], &number)) return -2;
    const char* op = args[0];
    std::shared_ptr<AuxPort> aux;
    {
        std::lock_guard l(g_mu);
        for (auto& s : g_slots) {
            if (!s || s->number != number) continue;
            aux = s;
            if (strcasecmp(op, "CLOSE") == 0) {
                s->closed = true;
                s.reset();
            }
        }
    }
    if (!aux) {
        script_error("AUXCOM port %d not assigned.", number);
        return -1;
    }
    // Pseudo-terminals have no modem lines: a refused line change is not an error.
    if (strcasecmp(op, "DTRSET") == 0 || strcasecmp(op, "DTRCLR") == 0) {
        aux->dtr = strcasecmp(op, "DTRSET") == 0;
        serial().setDtr(aux->port, aux->dtr);
    } else if (strcasecmp(op, "RTSSET") == 0 || strcasecmp(op, "RTSCLR") == 0) {
        serial().setRts(aux->port, strcasecmp(op, "RTSSET") == 0);
    }
    return 0;
}

}  // namespace

int cmd_auxcom(int argc, char** argv) {
    const char* prompt = nullptr;
    const char* limit = nullptr;
    bool verbose = false;
    shell_unsetenv("SCR_TIMEOUT");
    for (int opt; (opt = script_getopt(argc, argv, "p:t:v")) != -1;) {
        switch (opt) {
        case 'p': prompt = script_optarg; break;
        case 't': limit = script_optarg; break;
        case 'v': verbose = true; break;
        default: return -2;
        }
    }
    int nargs = argc - script_optind;
    char** args = argv + script_optind;
    if (nargs < 1) return -3;
    const char* op = args[0];
    if (strcasecmp(op, "OPEN") == 0) return Open(nargs, args, verbose);
    if (strcasecmp(op, "WRITE") == 0) return Write(nargs, args, prompt, limit);
    for (const char* name : {"CLOSE", "DTRSET", "DTRCLR", "RTSSET", "RTSCLR"})
        if (strcasecmp(op, name) == 0) return ModemOrClose(nargs, args);
    return -2;
}

void AuxcomCloseAll() {
    std::lock_guard l(g_mu);
    for (auto& s : g_slots) {
        if (s) s->closed = true;
        s.reset();
    }
}
