// A plain TCP client of the program's servers on 127.0.0.1, with bounded
// waits for what it expects to read.
#pragma once

#include <cstdint>
#include <string>

class TelnetClient {
public:
    explicit TelnetClient(uint16_t port);
    ~TelnetClient();
    TelnetClient(const TelnetClient&) = delete;
    TelnetClient& operator=(const TelnetClient&) = delete;

    bool Connected() const { return fd >= 0; }
    void Send(const std::string& bytes);
    // Reads into got until needle is there (true) or ms passed; the text up
    // to and including the needle is then removed from got.
    bool Expect(const std::string& needle, int ms = 10000);
    // Like Expect, returning what was read up to and including the needle.
    std::string ReadFor(const std::string& needle, int ms = 10000);
    // Reads until the server closes (true) or ms passed.
    bool WaitClosed(int ms = 10000);
    // Reads whatever is waiting, for up to ms; false when closed.
    bool Pump(int ms);
    void Close();

    int fd = -1;
    std::string got;
    bool closed = false;
};
