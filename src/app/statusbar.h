// The main window's status bar: five fields, their texts and their edges.
#pragma once

#include <array>
#include <string>

constexpr int kStatusFields = 5;

// Sources of the counters shown in fields 1 and 4. Each row defaults to
// "not running"; the server and transfer modules set their row when built.
struct StatusSources {
    bool (*telnetEnabled)();
    int (*telnetClients)();
    // Packet or byte counts of a running transfer, -1 while idle.
    long (*xmodemPkts)();
    long (*tftpPkts)();
    long (*fsendBytes)();
    // Visible console rows and columns (LINES, COLS).
    int (*lines)();
    int (*cols)();
};
StatusSources& StatusSourcesRef();
void StatusSourcesReset();

// The text of one field (0-4).
std::string StatusFieldText(int field);
std::array<std::string, kStatusFields> StatusTexts();
// Right edges of the five fields for a client width: 7/30, 13/30, 19/30,
// 24/30 and 30/30 of it.
std::array<int, kStatusFields> StatusFieldEdges(int clientWidth);
