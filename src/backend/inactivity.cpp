#include "backend/inactivity.h"
void TimerStart() {}
void TimerTick() {}
void ActivitySeen() {}
void StopKeepalive() {}
void ShowTimerConfig() {}
