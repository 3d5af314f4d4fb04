// File -> Validate: the MD5 / CRC-32 check of one file against an expected value.
#pragma once

#include <string>

struct FileCheckResult {
    bool ok = false;            // false: errorText holds the "ERROR" box text
    std::string errorText;
    std::string field;          // the new "CRC/MD5:" field text
};

// Computes the checks for path; an empty expected value asks for the result
// ("CRC: 0x%08lx, MD5: %s", ...), else the field becomes "--PASS--"/"--FAIL--".
FileCheckResult FileCheckRun(bool md5, bool crc, const std::string& path, const std::string& expected);
