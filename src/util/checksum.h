// Every checksum and CRC-16 variant the program appends or prints, in one
// place: SEND -C, STRING and the hex-entry mode all name them the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ChecksumType {
    None,
    M100,          // 8-bit sum
    M80,           // 8-bit sum AND 0x7F
    NM100,         // two's complement of the 8-bit sum
    IM100,         // one's complement of the 8-bit sum
    CCITT16BE,     // CRC-16/CCITT-FALSE, high byte first
    CCITT16LE,
    FLETCHER16BE,  // s2 then s1
    FLETCHER16LE,  // s1 then s2
    MODBUSBE,      // CRC-16/MODBUS, high byte first
    MODBUSLE,
    CRC32,         // CRC-32 (IEEE 802.3), high byte first
};

// Looks a type up by name without regard to case.
std::optional<ChecksumType> ChecksumByName(const char* name);
const char* ChecksumName(ChecksumType type);

uint8_t Sum8(const uint8_t* data, size_t len);
// CRC-16 polynomial 0x1021, initial 0xFFFF, no reflection, no final XOR.
uint16_t Crc16CcittFalse(const uint8_t* data, size_t len);
// CRC-16/XMODEM: polynomial 0x1021, initial 0, no reflection, no final XOR.
uint16_t Crc16Xmodem(const uint8_t* data, size_t len);
// CRC-16 reflected polynomial 0xA001, initial 0xFFFF, no final XOR.
uint16_t Crc16Modbus(const uint8_t* data, size_t len);
// Fletcher-16 with both sums kept modulo 256; returns s2 << 8 | s1.
uint16_t Fletcher16(const uint8_t* data, size_t len);

// The bytes a type appends to data (0, 1, 2 or 4 of them), in wire order.
std::vector<uint8_t> ChecksumBytes(ChecksumType type, const uint8_t* data, size_t len);
// The same bytes as lower-case hex ("%02x" each).
std::string ChecksumHex(ChecksumType type, const uint8_t* data, size_t len);
