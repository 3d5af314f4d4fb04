#include "util/checksum.h"

#include <strings.h>

#include <array>
#include <cstdio>

#include "util/utils.h"

namespace {

struct NamedType {
    const char* name;
    ChecksumType type;
};

constexpr NamedType kTypes[] = {
    {"None", ChecksumType::None},
    {"M100", ChecksumType::M100},
    {"M80", ChecksumType::M80},
    {"NM100", ChecksumType::NM100},
    {"IM100", ChecksumType::IM100},
    {"CCITT16BE", ChecksumType::CCITT16BE},
    {"CCITT16LE", ChecksumType::CCITT16LE},
    {"FLETCHER16BE", ChecksumType::FLETCHER16BE},
    {"FLETCHER16LE", ChecksumType::FLETCHER16LE},
    {"MODBUSBE", ChecksumType::MODBUSBE},
    {"MODBUSLE", ChecksumType::MODBUSLE},
    {"CRC32", ChecksumType::CRC32},
};

// One 256-entry table of 16-bit values, built once.
const std::array<uint16_t, 256>& ModbusTable() {
    static const std::array<uint16_t, 256> table = [] {
        std::array<uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; i++) {
            uint16_t c = static_cast<uint16_t>(i);
            for (int k = 0; k < 8; k++) c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
            t[i] = c;
        }
        return t;
    }();
    return table;
}

// The MSB-first table of polynomial 0x1021, shared by both CRC-16 variants
// that use it (they differ only in the initial value).
const std::array<uint16_t, 256>& Ccitt1021Table() {
    static const std::array<uint16_t, 256> table = [] {
        std::array<uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; i++) {
            uint16_t c = static_cast<uint16_t>(i << 8);
            for (int k = 0; k < 8; k++) c = (c & 0x8000) ? static_cast<uint16_t>((c << 1) ^ 0x1021) : static_cast<uint16_t>(c << 1);
            t[i] = c;
        }
        return t;
    }();
    return table;
}

uint16_t Crc1021(uint16_t crc, const uint8_t* data, size_t len) {
    const auto& table = Ccitt1021Table();
    for (size_t i = 0; i < len; i++) crc = static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

std::vector<uint8_t> Be16(uint16_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
std::vector<uint8_t> Le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

}  // namespace

std::optional<ChecksumType> ChecksumByName(const char* name) {
    if (!name) return std::nullopt;
    for (const auto& t : kTypes)
        if (strcasecmp(t.name, name) == 0) return t.type;
    return std::nullopt;
}

const char* ChecksumName(ChecksumType type) {
    for (const auto& t : kTypes)
        if (t.type == type) return t.name;
    return "None";
}

uint8_t Sum8(const uint8_t* data, size_t len) {
    uint8_t s = 0;
    for (size_t i = 0; i < len; i++) s = static_cast<uint8_t>(s + data[i]);
    return s;
}

uint16_t Crc16CcittFalse(const uint8_t* data, size_t len) { return Crc1021(0xFFFF, data, len); }

uint16_t Crc16Xmodem(const uint8_t* data, size_t len) { return Crc1021(0, data, len); }

uint16_t Crc16Modbus(const uint8_t* data, size_t len) {
    const auto& table = ModbusTable();
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < len; i++) crc = static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ data[i]) & 0xFF]);
    return crc;
}

uint16_t Fletcher16(const uint8_t* data, size_t len) {
    uint8_t s1 = 0, s2 = 0;
    for (size_t i = 0; i < len; i++) {
        s1 = static_cast<uint8_t>(s1 + data[i]);
        s2 = static_cast<uint8_t>(s2 + s1);
    }
    return static_cast<uint16_t>(s2 << 8 | s1);
}

std::vector<uint8_t> ChecksumBytes(ChecksumType type, const uint8_t* data, size_t len) {
    switch (type) {
    case ChecksumType::None: return {};
    case ChecksumType::M100: return {Sum8(data, len)};
    case ChecksumType::M80: return {static_cast<uint8_t>(Sum8(data, len) & 0x7F)};
    case ChecksumType::NM100: return {static_cast<uint8_t>(-Sum8(data, len))};
    case ChecksumType::IM100: return {static_cast<uint8_t>(~Sum8(data, len))};
    case ChecksumType::CCITT16BE: return Be16(Crc16CcittFalse(data, len));
    case ChecksumType::CCITT16LE: return Le16(Crc16CcittFalse(data, len));
    case ChecksumType::FLETCHER16BE: return Be16(Fletcher16(data, len));
    case ChecksumType::FLETCHER16LE: return Le16(Fletcher16(data, len));
    case ChecksumType::MODBUSBE: return Be16(Crc16Modbus(data, len));
    case ChecksumType::MODBUSLE: return Le16(Crc16Modbus(data, len));
    case ChecksumType::CRC32: {
        uint32_t c = Crc32(data, len);
        return {static_cast<uint8_t>(c >> 24), static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                static_cast<uint8_t>(c)};
    }
    }
    return {};
}

std::string ChecksumHex(ChecksumType type, const uint8_t* data, size_t len) {
    std::string out;
    char hex[3];
    for (uint8_t b : ChecksumBytes(type, data, len)) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        out += hex;
    }
    return out;
}
