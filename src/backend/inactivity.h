// Inactivity timeout and keepalive.
#pragma once
void TimerStart();
void TimerTick();      // once a second, from the frame tick
void ActivitySeen();   // a key typed or bytes received
void StopKeepalive();
// Prints the timer settings on the console (Config -> Environment -> Display).
void ShowTimerConfig();
