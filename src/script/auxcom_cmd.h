// AUXCOM: up to eight auxiliary serial ports a script opens, writes and closes
// beside the backend.
#pragma once

constexpr int kAuxcomSlots = 8;

int cmd_auxcom(int argc, char** argv);
// Closes every auxiliary port (program end).
void AuxcomCloseAll();
