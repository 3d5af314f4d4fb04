// Long-term logging: one file per day in a chosen directory, with banners and
// a size limit above which the oldest files are deleted.
#pragma once

#include <cstddef>
#include <string>

enum LtlogReason {
    LTLOG_STOP,        // disabled in the dialog
    LTLOG_NEXTDAY,
    LTLOG_NEWFILE,     // directory or prefix changed
    LTLOG_TERMINATE,   // program exit
    LTLOG_DEFAULT,
};

// Program start (after standard logging).
void LtlogStart();
// Every chunk the standard log receives (already filtered).
void LtlogWrite(const char* bytes, size_t count);
// Writes the reason's banner and closes; nothing when no file is open.
void LtlogClose(LtlogReason reason);
// 0 nothing deleted, 1 files deleted, -1 no files found.
int LtlogPurge();
bool LtlogIsOpen();
// Today's file for a directory and prefix.
std::string LtlogFileName(const std::string& dir, const std::string& prefix);
// The dialog "LongTerm Logging Configuration..." on OK.
void LtlogConfigure(bool enabled, const char* dir, const char* prefix, long purgeMb);
