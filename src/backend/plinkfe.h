// Child-process backend (ssh, a shell, or a command line).
#pragma once
#include <cstddef>
int PlinkOpen();
int ClosePlinkConnection();
int PlinkWrite(const char* data, size_t len);
