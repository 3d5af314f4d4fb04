// Start-up's seams: the tables through which lower layers reach the modules
// above them (received-data consumers, error-report routes, exit steps,
// script starts), filled in once.
#pragma once

// Installs every hook. Safe to call more than once (tests call it for the
// modules they exercise without a whole start-up).
void AppWireHooks();
