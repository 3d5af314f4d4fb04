// The far end of a pseudo-terminal pair: the test plays the board on the
// master side while the program opens `path` as its serial port.
#pragma once

#include <string>

class PtyBoard {
public:
    PtyBoard();
    ~PtyBoard();
    PtyBoard(const PtyBoard&) = delete;
    PtyBoard& operator=(const PtyBoard&) = delete;

    void Close();   // the board goes away (the program sees a hang-up)
    // The line settings the program gave the pair (it shares one set): the
    // rate as the kernel holds it, whichever way it was set; 0 on failure.
    unsigned LineRate() const;
    unsigned LineCflag() const;
    void Send(const std::string& bytes) const;
    // Reads until n bytes arrived or the time is up; returns what came.
    std::string Receive(size_t n, int ms = 10000) const;
    // Collects what the program sends into `got` until needle is there (or
    // the time is up); with consume, got keeps only what followed the needle.
    bool Expect(const std::string& needle, int ms = 15000, bool consume = false);

    int master = -1;
    std::string path;   // empty when no pair could be opened
    std::string got;

private:
    // One read of what is waiting (up to 50 ms); appends to out.
    void ReadSome(std::string& out) const;
};
