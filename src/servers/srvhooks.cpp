#include "servers/srvhooks.h"

#include <string>

#include "platform/ui.h"

namespace {

void BoxReport(const char* file, int line, const char* text) {
    ui().MessageBox(MB_OK | MB_ICONERROR | MB_SYSTEMMODAL,
                    "ERROR (" + std::string(file) + " " + std::to_string(line) + ")", text);
}
void Box(const char* title, const char* text) { ui().MessageBox(MB_OK | MB_SYSTEMMODAL, title, text); }
void Refresh() { ui().StatusRefresh(); }

ServerHooks g_hooks{BoxReport, Box, Refresh};

}  // namespace

ServerHooks& ServerHooksRef() { return g_hooks; }
