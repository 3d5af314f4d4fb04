// The FKEY script command: function keys and buttons defined from a script
// (the lines Scripts -> Fkey2Script writes), and their press counters.
#pragma once

// Installs FKEY in the runner's command table (start-up's wiring does).
void FkeyCmdInit();
