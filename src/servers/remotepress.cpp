#include "servers/remotepress.h"

#include <atomic>

namespace {
int NoPress(int) { return 0; }
std::atomic<RemotePressFn> g_fkey{NoPress};
std::atomic<RemotePressFn> g_button{NoPress};
}  // namespace

void RemotePressInstall(RemotePressFn fkey, RemotePressFn button) {
    g_fkey = fkey ? fkey : NoPress;
    g_button = button ? button : NoPress;
}

int RemotePressFkey(int n) { return g_fkey.load()(n); }
int RemotePressButton(int n) { return g_button.load()(n); }
