// MONCMD backend: command lines as UDP datagrams to a target monitor.
#pragma once
#include <cstddef>
int MoncmdOpen();
int MoncmdReopen();
int MoncmdClose();
int MoncmdWrite(const char* data, size_t len);
