#include "config/configfile.h"

int ConfigLoad(const char*) { return 1; }
int ConfigSave(const char*) { return 0; }
void ConfigFileInit() {}
void ConfigSetSessionOnlyBackend(bool) {}
