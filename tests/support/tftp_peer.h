// A raw TFTP peer on 127.0.0.1 for the server and client tests: sends the
// packets a test builds and reads what comes back, with bounded waits.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct TftpPeer {
    int fd = -1;
    uint16_t port = 0;
    sockaddr_in from{};     // sender of the last packet received

    TftpPeer();
    ~TftpPeer();
    TftpPeer(const TftpPeer&) = delete;
    TftpPeer& operator=(const TftpPeer&) = delete;

    void SendTo(uint16_t toPort, const Bytes& pkt) const;
    // To the sender of the last packet received.
    void Reply(const Bytes& pkt) const;
    // The next datagram within ms, or nullopt.
    std::optional<Bytes> Recv(int ms = 5000);
    uint16_t FromPort() const;
};

// Packet helpers.
Bytes Rrq(const std::string& file, const std::string& mode = "octet",
          const std::vector<std::string>& options = {});
Bytes Wrq(const std::string& file, const std::string& mode = "octet");
Bytes Data(uint16_t block, const std::string& payload);
Bytes Ack(uint16_t block);
uint16_t Op(const Bytes& pkt);
uint16_t Num(const Bytes& pkt);
std::string Payload(const Bytes& pkt);   // after the four header bytes
std::string Text(const Bytes& pkt);      // the whole packet as bytes

// A deterministic file body of n bytes.
std::string Pattern(size_t n, unsigned variant = 1);

// Runs in.tftpd on 127.0.0.1 on a free port, serving dir (creates allowed);
// ready once it answers. Stopped by the destructor.
struct TftpdHpa {
    explicit TftpdHpa(const std::string& dir);
    ~TftpdHpa();
    bool ready = false;
    uint16_t port = 0;
    int pid = -1;
};

// A UDP port nothing listens on (bound, then released).
uint16_t FreeUdpPort();
