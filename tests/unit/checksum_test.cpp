#include "util/checksum.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const uint8_t* U(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

TEST(Checksum, KnownVectors) {
    struct Case {
        const char* type;
        const char* data;
        const char* hex;
    } cases[] = {
        {"CCITT16BE", "123456789", "29b1"},      // CRC-16/CCITT-FALSE check value
        {"ccitt16le", "123456789", "b129"},
        {"MODBUSBE", "123456789", "4b37"},       // CRC-16/MODBUS check value
        {"ModbusLE", "123456789", "374b"},
        {"CCITT16BE", "", "ffff"},
        {"MODBUSBE", "", "ffff"},
        {"FLETCHER16BE", "abcde", "c3ef"},       // sums kept modulo 256
        {"FLETCHER16LE", "abcde", "efc3"},
        {"FLETCHER16BE", "\x01\x02", "0403"},
        {"FLETCHER16BE", "\xff\xff", "fdfe"},    // 255, 254 after wrap
        {"M100", "123456789", "dd"},             // 0x1DD cut to 8 bits
        {"M80", "123456789", "5d"},
        {"NM100", "123456789", "23"},
        {"IM100", "123456789", "22"},
        {"CRC32", "123456789", "cbf43926"},
        {"none", "123456789", ""},
    };
    for (const auto& c : cases) {
        auto t = ChecksumByName(c.type);
        ASSERT_TRUE(t.has_value()) << c.type;
        EXPECT_EQ(ChecksumHex(*t, U(c.data), std::strlen(c.data)), c.hex) << c.type << " " << c.data;
    }
}

TEST(Checksum, UnknownNameIsRejected) {
    EXPECT_FALSE(ChecksumByName("CRC16").has_value());
    EXPECT_FALSE(ChecksumByName("").has_value());
    EXPECT_FALSE(ChecksumByName(nullptr).has_value());
}

TEST(Checksum, ModbusTableMatchesBitwise) {
    // The table-driven MODBUS CRC against a straightforward bitwise one.
    uint8_t data[256];
    for (int i = 0; i < 256; i++) data[i] = static_cast<uint8_t>(i * 7 + 3);
    uint16_t crc = 0xFFFF;
    for (uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; k++) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    EXPECT_EQ(Crc16Modbus(data, sizeof data), crc);
}

}  // namespace
