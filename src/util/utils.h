// Shared helpers: the one escape expander, the one number parser, CRC-32, MD5.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Send-text escapes: \b \n \r \t \\ and \xHH; a backslash before anything else
// stays. Writes at most outCap bytes; returns the length written, or -1 when
// the result would not fit (nothing beyond outCap is ever written).
int ExpandEscapes(const char* in, size_t inLen, char* out, size_t outCap);
std::string ExpandEscapes(const std::string& in);

// Unsigned number with its base from the prefix (0x hex, leading 0 octal, else
// decimal), like strtoul. Returns nullopt when the text holds no digits or has
// trailing junk (when strict).
std::optional<uint32_t> ParseUnsigned(const char* text, bool strict = true);
std::optional<int32_t> ParseSigned(const char* text, bool strict = true);
// The loose form the configuration file uses: leading digits only, 0 when none.
uint32_t ParseUnsignedLoose(const char* text);
int32_t ParseSignedLoose(const char* text);

// CRC-32 (IEEE 802.3, reflected). Chain by passing the previous result.
uint32_t Crc32(const void* data, size_t len, uint32_t crc = 0);
// CRC-32 of a file read in 64 KiB blocks; nullopt when it cannot be read.
std::optional<uint32_t> Crc32File(const std::string& path);

// MD5 as 32 lower-case hex digits.
std::string Md5Hex(const void* data, size_t len);
std::optional<std::string> Md5FileHex(const std::string& path);

// Writes all of data to fd, retrying short writes and EINTR. False on
// failure (errno set; a write of 0 bytes counts as ENOSPC).
bool WriteAll(int fd, const void* data, size_t len);

// A fresh temporary file name in the system's temporary directory.
std::string TempFileName(const std::string& prefix);
