// Function-key and button presses that remote clients ask for (REST
// requests, WebSocket messages). The keys and buttons live above the
// servers, so start-up installs the press operations here; until then a
// press does nothing.
#pragma once

constexpr int kRemoteFkeys = 12;     // F1..F12
constexpr int kRemoteButtons = 16;   // buttons 1..16

using RemotePressFn = int (*)(int n);
void RemotePressInstall(RemotePressFn fkey, RemotePressFn button);
// 1 when something was done, as the press operations answer.
int RemotePressFkey(int n);
int RemotePressButton(int n);
