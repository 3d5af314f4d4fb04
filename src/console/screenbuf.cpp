#include "console/screenbuf.h"

#include "app/oxel.h"
#include "platform/ui.h"

int ConsoleInit(int, int) { return 1; }

int ConsoleWritePlain(const char* data, size_t len) {
    if (!FrameInitialised()) return 0;
    ui().ConsoleBytes(data, len);
    return 1;
}
