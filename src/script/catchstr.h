// The catch table: strings watched for in the received stream, the script
// that runs when one arrives, and the line tag that marks caught lines.
// The received-data path calls CatchActive once per block and, while it is
// true, CatchFeedByte for every byte after displaying it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

constexpr int kCatchMaxStrings = 32;
constexpr size_t kCatchMaxText = 254;     // a string as given, and its pattern
constexpr size_t kCatchMaxCapture = 255;  // text captured for CATCHSTRING
constexpr size_t kCatchMaxScript = 255;

struct CatchConfig {
    std::vector<std::string> strings;  // as given (before escapes)
    std::string script;                // full path, empty for none
    bool tagging = false;
    bool async = false;         // -a: empty the table when the script starts, don't wait
    bool escapeQuotes = false;  // -f: CATCHSTRING with " and \ escaped
    bool stopRunning = true;    // terminate a running script first (-h clears it)
};

// Replaces the strings, script and flags (tagging is kept as it is).
void CatchSet(const CatchConfig& cfg);
// Empties the table and removes CATCHSTRING.
void CatchClear();
void CatchSetTagging(bool on);
CatchConfig CatchGetConfig();

// Where a catch script name leads: unchanged when it begins with "/" or holds
// ":", else in the scripts directory; nullopt when the path would not fit.
std::optional<std::string> CatchResolveScript(const std::string& name);

// The dialog "Catch Script Setup..." on Ok: one string, the script name and
// line tagging. 1 when the settings were taken (the dialog closes), 0 after
// a message box ("File open error" or "Must specify scriptname").
int CatchDialogApply(const std::string& script, const std::string& text, bool tagging);

// The "CATCH show" text (empty when the table is empty).
std::string CatchShowText();

// Receive path (its catch hooks): a caught line with tagging on asks the
// path for the line tag (RxSetLineTagPending).
bool CatchActive();
void CatchFeedByte(char c);
void CatchFeed(const char* data, size_t len);
// Installs CatchActive and CatchFeedByte as the received-data path's hooks.
void CatchInstallHooks();
