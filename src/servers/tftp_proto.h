// TFTP packets (RFC 1350 with the options of RFC 2347-2349) and the rule that
// turns a requested file name into a local path. Pure functions: bytes in,
// result out; the server, the client and the fuzz target share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum TftpOpcode : uint16_t {
    TFTP_RRQ = 1,
    TFTP_WRQ = 2,
    TFTP_DAT = 3,
    TFTP_ACK = 4,
    TFTP_ERR = 5,
    TFTP_OACK = 6,
};

// Block sizes a peer may negotiate (RFC 2348), and the one without options.
constexpr int kTftpMinBlksize = 8;
constexpr int kTftpMaxBlksize = 65464;
constexpr int kTftpDefaultBlksize = 512;
// Requests and acknowledgements are read into buffers of this size.
constexpr size_t kTftpRecvMax = 2048;
// A request carries at most this many options; the rest are not looked at.
constexpr size_t kTftpMaxOptions = 16;
// The longest local path a request may name.
constexpr size_t kTftpMaxPath = 252;

struct TftpOption {
    std::string name;
    std::string value;
};

struct TftpRequest {
    uint16_t opcode = 0;            // TFTP_RRQ or TFTP_WRQ
    std::string file;
    std::string mode;
    std::vector<TftpOption> options; // name/value pairs in request order
};

// The opcode of a packet, 0 when it is too short to have one.
uint16_t TftpOpcodeOf(const uint8_t* p, size_t n);
// The 16-bit number after the opcode (block or error code); nullopt when short.
std::optional<uint16_t> TftpNumberOf(const uint8_t* p, size_t n);
// The packet's name for traces: "RRQ", "WRQ", "DAT", "ACK", "ERR", "OACK", else "???".
const char* TftpOpcodeName(uint16_t opcode);

// RRQ/WRQ: file NUL mode NUL {name NUL value NUL}. False when the file or
// mode lacks its NUL or the file name is empty. A trailing name without a
// value is dropped; options past kTftpMaxOptions are dropped.
bool TftpParseRequest(const uint8_t* p, size_t n, TftpRequest& out);
// ERROR: code and the text up to its NUL (or the packet's end). False when short.
bool TftpParseError(const uint8_t* p, size_t n, uint16_t& code, std::string& text);
// OACK: the name/value pairs (bounded like a request's).
std::vector<TftpOption> TftpParseOack(const uint8_t* p, size_t n);

// Decimal option value 0..limit; nullopt for anything else (junk, sign,
// empty, or beyond the limit).
std::optional<uint64_t> TftpOptionNumber(const std::string& value, uint64_t limit);
// A blksize request made sound: nullopt when it is below the RFC range or
// not a number (the option is then ignored), else the value clamped to
// [kTftpMinBlksize, cap].
std::optional<int> TftpClampBlksize(const std::string& value, int cap);

// Builders. Each returns the packet.
std::vector<uint8_t> TftpBuildRequest(uint16_t opcode, const std::string& file, const std::string& mode,
                                      const std::vector<TftpOption>& options);
std::vector<uint8_t> TftpBuildOack(const std::vector<TftpOption>& options);
std::vector<uint8_t> TftpBuildError(uint16_t code, const std::string& text);
std::vector<uint8_t> TftpBuildAck(uint16_t block);
// Opcode and number into the first four bytes of buf.
void TftpPutHeader(uint8_t* buf, uint16_t opcode, uint16_t number);

// The full block number a 16-bit one stands for, given the full number
// expected next: the nearest value with those low 16 bits (block numbers
// roll over past 65535 on long transfers).
int64_t TftpUnwrapBlock(uint16_t block, int64_t expected);

// The local path for a requested name below dir. Backslashes count as "/".
// Refused (nullopt): an empty name, a control byte, a ".." component, or a
// result longer than kTftpMaxPath. With relativeOnly off a name beginning
// with "/" is used as it is; otherwise it is joined below dir.
std::optional<std::string> TftpLocalPath(const std::string& dir, const std::string& name, bool relativeOnly);
