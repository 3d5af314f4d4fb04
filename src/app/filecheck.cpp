#include "app/filecheck.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "util/utils.h"

namespace {

FileCheckResult Error(const char* text) {
    FileCheckResult r;
    r.errorText = text;
    return r;
}

std::string Hex8(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08lx", static_cast<unsigned long>(v));
    return buf;
}

}  // namespace

FileCheckResult FileCheckRun(bool md5, bool crc, const std::string& path, const std::string& expectedIn) {
    if (!md5 && !crc) return Error("Must select md5 or crc (or both)");
    if (path.empty()) return Error("Must specify filename");
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return Error("File not found");

    std::optional<uint32_t> crcValue;
    std::optional<std::string> md5Value;
    if (crc && !(crcValue = Crc32File(path))) return Error("CRC32 calculation error.");
    if (md5 && !(md5Value = Md5FileHex(path))) return Error("MD5 calculation error.");

    FileCheckResult r;
    r.ok = true;
    if (expectedIn.empty()) {
        if (crc && md5) r.field = "CRC: 0x" + Hex8(*crcValue) + ", MD5: " + *md5Value;
        else if (crc) r.field = "CRC: 0x" + Hex8(*crcValue);
        else r.field = "MD5: " + *md5Value;
        return r;
    }
    std::string expected = expectedIn;
    std::transform(expected.begin(), expected.end(), expected.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string actual;
    if (crc && md5) {
        if (expected.size() != 41 || expected.find('/') == std::string::npos)
            return Error("Syntax of FileChk box (HEXCRC/HEXMD5) invalid");
        actual = Hex8(*crcValue) + "/" + *md5Value;
    } else if (crc) {
        actual = Hex8(*crcValue);
    } else {
        actual = *md5Value;
    }
    r.field = expected == actual ? "--PASS--" : "--FAIL--";
    return r;
}
