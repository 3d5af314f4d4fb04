// DHCP/BOOTP: the configuration text, requests as bytes, the replies.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "servers/dhcp_cfg.h"
#include "servers/dhcp_packet.h"

namespace {

bool NoExpand(std::string&) { return true; }

DhcpConfig Parse(const std::string& text) { return DhcpParseConfig(text, "t.cfg", NoExpand); }

std::string FirstBox(const DhcpConfig& c) { return c.boxes.empty() ? "" : c.boxes[0].title + "|" + c.boxes[0].text; }

TEST(DhcpConfigTest, ErrorsFailTheLoadWithTheirBox) {
    const std::string entry = "CLIENT_MAC: 00:11:22:33:44:55\n";
    const struct {
        std::string text, box;
    } cases[] = {
        {entry + "CLIENT_IP 1.2.3.4\n", "DHCP Config Error|Error1 in 't.cfg' file at: CLIENT_IP 1.2.3.4\n"},
        {entry + "CLIENT_IP:   \n", "DHCP Config Error|Error2 in 't.cfg' file at: CLIENT_IP:   \n"},
        {"CLIENT_MAC: 00:11:22:33:44\n", "MAC Address Error|Misformed ethernet addr: 00:11:22:33:44\n"},
        {"CLIENT_MAC: 00:11:22:33:44:55:66\n", "MAC Address Error|Misformed ethernet addr: 00:11:22:33:44:55:66\n"},
        {entry + "CLIENT_IP: 1.2.3\n", "IP Address Error|Misformed IP addr: 1.2.3\n"},
        {entry + "SERVER_NAME: " + std::string(64, 'n') + "\n", "DHCP Config Error|Field too big: " + std::string(64, 'n') + "\n"},
        {entry + "BOOTFILE: " + std::string(128, 'b') + "\n", "DHCP Config Error|Field too big: " + std::string(128, 'b') + "\n"},
        {entry + "HEX_OPTNO_7: abc\n", "DHCP Config Error|Can't have odd-length hex-ascii string: abc\n"},
        {entry + "HEX_OPTNO_7: 0g\n", "DHCP Config Error|Illegal digit in hex-ascii string: g\n"},
        {entry + "STR_OPTNO_12: " + std::string(255, 's') + "\n", "DHCP Config Error|Field too big: " + std::string(255, 's') + "\n"},
        {"BOOTP_CLIENT_MAC: 00:11:22:33:44:55\n" + std::string("HEX_OPTNO_7: ") + std::string(120, 'a') + "\n",
         "DHCP Config Error|Opt-list too big for BOOTP VSA[]\n"},
        {entry + "CLIENT_IP: 1.2.3.4\nDHCP_CLIENT_MAC: 00:11:22:33:44:55\n",
         "DHCP ERROR|Duplicate CLIENT_MAC entries (#1 & #2) in cfg file.\n"},
        {"CLIENT_IP: 1.2.3.4\n", "DHCP ERROR|Config file error.\n"},
    };
    for (const auto& c : cases) {
        DhcpConfig r = Parse(c.text);
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_TRUE(r.entries.empty());
        EXPECT_EQ(FirstBox(r), c.box) << c.text;
    }
    DhcpConfig r = DhcpParseConfig(entry, "t.cfg", [](std::string&) { return false; });
    EXPECT_EQ(FirstBox(r), "DHCP ERROR|Shellvar expansion err in cfg file\n");
}

TEST(DhcpConfigTest, EntriesOptionsAndVendorSubOptions) {
    DhcpConfig r = Parse(
        "# comment\n\n"
        "  CLIENT_MAC: 00:11:22:33:44:55\r\n"
        "CLIENT_IP: 10.0.0.5\nSERVER_IP: 10.0.0.1\nSERVER_NAME: bench\nBOOTFILE: a.bin\n"
        "NETMASK: 255.255.255.0\nGATEWAY: 10.0.0.254\n"
        "IPA_OPTNO_6: 10.0.0.1, 10.0.0.2\nSTR_OPTNO_12: tg\nHEX_OPTNO_200: 0aFF\n"
        "IPA_VSOPTNO_1: 1.2.3.4\nSTR_VSOPTNO_2: x\n"
        "IPA_OPTNO_0: 1.2.3.4\nHEX_OPTNO_255: 00\nFOO: bar\n"
        "BOOTP_CLIENT_MAC: 00:00:00:00:00:00\nCLIENT_IP: 10.0.0.9\n");
    ASSERT_TRUE(r.ok) << FirstBox(r);
    ASSERT_EQ(r.entries.size(), 2u);
    const DhcpEntry& e = r.entries[0];
    EXPECT_EQ(e.kind, DhcpKind::Both);
    EXPECT_EQ(e.mac, (std::array<uint8_t, 6>{0, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_EQ(e.clientIp, inet_addr("10.0.0.5"));
    EXPECT_EQ(e.serverName, "bench");
    const std::vector<uint8_t> want = {1, 4, 255, 255, 255, 0, 3, 4, 10, 0, 0, 254, 6, 8, 10, 0, 0, 1, 10, 0, 0, 2,
                                       12, 3, 't', 'g', 0, 200, 2, 0x0a, 0xff,
                                       43, 11, 1, 4, 1, 2, 3, 4, 2, 2, 'x', 0, 255, 255};
    EXPECT_EQ(e.options, want);
    EXPECT_EQ(r.entries[1].kind, DhcpKind::BootpOnly);
    EXPECT_EQ(r.entries[1].options, std::vector<uint8_t>{255});
    std::vector<std::string> boxes;
    for (const auto& b : r.boxes) boxes.push_back(b.text);
    EXPECT_EQ(boxes, (std::vector<std::string>{"Option #0 out of range\n", "Option #255 out of range\n",
                                                "Unrecognized parameter name: FOO\n"}));
}

TEST(DhcpConfigTest, SingleClientFields) {
    DhcpConfig r = DhcpSingleConfig({"02:00:00:00:00:01", "10.0.0.5", "10.0.0.1,bench", "255.255.0.0", "10.0.0.254", "b.bin"},
                                    NoExpand);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.entries[0].serverName, "bench");
    EXPECT_EQ(r.entries[0].serverIp, inet_addr("10.0.0.1"));
    EXPECT_EQ(r.entries[0].options,
              (std::vector<uint8_t>{1, 4, 255, 255, 0, 0, 3, 4, 10, 0, 0, 254, 54, 4, 10, 0, 0, 1, 255}));
    const struct {
        DhcpSingle f;
        std::string box;
    } bad[] = {
        {{"zz", "10.0.0.5", "10.0.0.1", "255.0.0.0", "10.0.0.1", ""}, "DHCP CFG ERROR|Invalid MAC address: 'zz'\n"},
        {{"02:00:00:00:00:01", "10.0.0", "10.0.0.1", "255.0.0.0", "10.0.0.1", ""}, "DHCP CFG ERROR|Invalid Client IP address: '10.0.0'\n"},
        {{"02:00:00:00:00:01", "10.0.0.5", "x,bench", "255.0.0.0", "10.0.0.1", ""}, "DHCP CFG ERROR|Invalid Server IP address: 'x'\n"},
        {{"02:00:00:00:00:01", "10.0.0.5", "10.0.0.1", "255.0.0.0", "", ""}, "DHCP CFG ERROR|Invalid Gateway IP address: ''\n"},
        {{"02:00:00:00:00:01", "10.0.0.5", "10.0.0.1", "mask", "10.0.0.1", ""}, "DHCP CFG ERROR|Invalid NetMask: 'mask'\n"},
    };
    for (const auto& c : bad) EXPECT_EQ(FirstBox(DhcpSingleConfig(c.f, NoExpand)), c.box);
}

// A request: 240 bytes of header and cookie, then the options given.
std::vector<uint8_t> Request(const std::vector<uint8_t>& options, uint8_t lastMac = 0x55, bool cookie = true) {
    std::vector<uint8_t> p(240, 0);
    p[0] = 1;
    p[1] = 1;
    p[2] = 6;
    p[4] = 0xde;
    const uint8_t mac[6] = {0, 0x11, 0x22, 0x33, 0x44, lastMac};
    std::memcpy(&p[28], mac, 6);
    if (cookie) {
        const uint8_t c[4] = {99, 130, 83, 99};
        std::memcpy(&p[236], c, 4);
    }
    p.insert(p.end(), options.begin(), options.end());
    return p;
}

DhcpRequest Read(const std::vector<uint8_t>& p) { return DhcpReadRequest(p.data(), p.size()); }

TEST(DhcpPacketTest, RequestsAreReadWithinTheirBytes) {
    EXPECT_EQ(Read(Request({53, 1, 1, 255})).type, kDhcpDiscover);
    EXPECT_EQ(Read(Request({0, 0, 53, 1, 3, 255})).type, kDhcpRequest);
    EXPECT_TRUE(Read(Request({}, 0x55, false)).valid);   // plain BOOTP, empty vendor field
    EXPECT_EQ(Read(Request({}, 0x55, false)).type, kDhcpNone);
    EXPECT_EQ(Read(Request({53, 1, 8, 255})).type, 8);   // INFORM: answered as BOOTP later
    const struct {
        std::vector<uint8_t> bytes;
        std::string drop;
    } bad[] = {
        {std::vector<uint8_t>(239, 1), "short datagram (239 bytes) dropped"},
        {Request({53, 1, 1}), "no end option: dropped"},
        {Request({53, 1, 1, 12, 200, 'x', 255}), "option 12 runs past the end: dropped"},
        {Request({53}), "option 53 runs past the end: dropped"},
        {Request({53, 0, 255}), "option 53 of length 0: dropped"},
        {Request({53, 1, 1, 1, 3, 1, 2, 3, 255}), "option 1 of length 3: dropped"},
        {Request({53, 1, 1, 3, 6, 1, 2, 3, 4, 5, 6, 255}), "option 3 of length 6: dropped"},
        {Request({53, 1, 1, 54, 0, 255}), "option 54 of length 0: dropped"},
        {Request({53, 1, 1, 51, 2, 0, 0, 255}), "option 51 of length 2: dropped"},
    };
    for (const auto& c : bad) {
        DhcpRequest r = Read(c.bytes);
        EXPECT_FALSE(r.valid);
        EXPECT_EQ(r.drop, c.drop);
    }
    auto cookie = Request({255});
    cookie[239] = 98;
    EXPECT_EQ(Read(cookie).drop, "bad magic cookie: dropped");
    auto reply = Request({255});
    reply[0] = 2;
    EXPECT_EQ(Read(reply).drop, "not a request (op 2) dropped");
}

TEST(DhcpPacketTest, EntryChoiceAndReplies) {
    DhcpConfig c = Parse(
        "DHCP_CLIENT_MAC: 00:11:22:33:44:55\nCLIENT_IP: 10.0.0.5\nSERVER_IP: 10.0.0.1\nBOOTFILE: d.bin\n"
        "NETMASK: 255.0.0.0\n"
        "BOOTP_CLIENT_MAC: 00:11:22:33:44:66\nCLIENT_IP: 10.0.0.6\nNETMASK: 255.0.0.0\n"
        "CLIENT_MAC: 00:00:00:00:00:00\nCLIENT_IP: 10.0.0.9\nSERVER_NAME: dflt\n");
    ASSERT_TRUE(c.ok) << FirstBox(c);
    const auto discover = Request({53, 1, 1, 255});
    const struct {
        std::vector<uint8_t> req;
        int index;
        std::string why;
    } cases[] = {
        {discover, 0, ""},
        {Request({}, 0x55, false), -1, "Received BOOTP request, but .cfg is DHCP"},
        {Request({53, 1, 1, 255}, 0x66), -1, "Received DHCP request, but .cfg is BOOTP"},
        {Request({}, 0x66, false), 1, ""},
        {Request({53, 1, 3, 255}, 0x77), 2, ""},   // unknown MAC: the default entry
    };
    for (const auto& k : cases) {
        DhcpMatch m = DhcpFindEntry(c.entries, Read(k.req));
        EXPECT_EQ(m.index, k.index);
        EXPECT_EQ(m.why, k.why);
    }
    EXPECT_EQ(DhcpFindEntry({c.entries[0]}, Read(Request({53, 1, 1, 255}, 0x77))).why, "No MAC address match found");

    std::vector<uint8_t> offer = DhcpBuildReply(discover.data(), discover.size(), Read(discover), c.entries[0]);
    ASSERT_EQ(offer.size(), 240u + 3 + c.entries[0].options.size());
    EXPECT_EQ(offer[0], 2);
    EXPECT_EQ(offer[4], 0xde);   // the request's xid
    uint32_t yi;
    std::memcpy(&yi, &offer[16], 4);
    EXPECT_EQ(yi, inet_addr("10.0.0.5"));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&offer[108])), "d.bin");
    EXPECT_EQ(std::vector<uint8_t>(offer.begin() + 240, offer.begin() + 249), (std::vector<uint8_t>{53, 1, 2, 1, 4, 255, 0, 0, 0}));

    const auto bootp = Request({}, 0x66, false);
    std::vector<uint8_t> r = DhcpBuildReply(bootp.data(), bootp.size(), Read(bootp), c.entries[1]);
    ASSERT_EQ(r.size(), 300u);
    EXPECT_EQ(std::vector<uint8_t>(r.begin() + 236, r.begin() + 247), (std::vector<uint8_t>{99, 130, 83, 99, 1, 4, 255, 0, 0, 0, 255}));

    std::vector<std::string> dump = DhcpDump("OUTGOING", offer.data(), offer.size());
    ASSERT_GE(dump.size(), 10u);
    EXPECT_EQ(dump[0], "OUTGOING DHCP REPLY  :");
    EXPECT_EQ(dump[1], "    client_macaddr = 00:11:22:33:44:55");
    EXPECT_EQ(dump[3], "    xid = 0xde000000");
    EXPECT_NE(std::find(dump.begin(), dump.end(), "    option  53: DHCPOFFER   "), dump.end());
    EXPECT_NE(std::find(dump.begin(), dump.end(), "    option   1: 255 0 0 0 "), dump.end());
    EXPECT_NE(std::find(dump.begin(), dump.end(), "    bootfile: d.bin"), dump.end());
}

}  // namespace
