#include "script/auxcom_cmd.h"

int cmd_auxcom(int, char**) { return -5; }
void AuxcomCloseAll() {}
