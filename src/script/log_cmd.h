// The LOG script command.
#pragma once

int cmd_log(int argc, char** argv);
