#include "platform/cli/cli_console.h"

void CliStartInput() {}
void CliAtExit() {}
