// Serial ports: the small set of operations the COM port backend needs from
// the system. The POSIX implementation (termios, modem-line ioctls) is the
// default; tests install a table of their own to refuse chosen rates or to
// raise modem-line and BREAK events.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct SerialPort;  // one open port; owned by the operations that opened it

// Line-control modes, as the program has always named them.
enum SerialLineMode : int { LINE_DISABLE = 0, LINE_ENABLE = 1, LINE_HANDSHAKE = 2 };

// The line settings of an open port.
struct SerialLine {
    int baud = 19200;
    int dataBits = 8;         // 5..8
    int parity = 0;           // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;         // 0 one, 1 one and a half, 2 two
    int dtrControl = LINE_ENABLE;
    int rtsControl = LINE_DISABLE;
    bool ctsOutFlow = false;  // hold output while CTS is low
    bool dsrOutFlow = false;  // hold output while DSR is low
    bool xonXoff = false;     // both directions
    char xonChar = 0x11, xoffChar = 0x13;
    int xonLimit = 100, xoffLimit = 100;
};

// Events a wait reports (bits).
enum : unsigned {
    SEV_RXCHAR = 0x0001,
    SEV_CTS = 0x0008,
    SEV_DSR = 0x0010,
    SEV_RLSD = 0x0020,
    SEV_BREAK = 0x0040,
    SEV_ERR = 0x0080,
    SEV_RING = 0x0100,
};

// Modem-status bits.
enum : unsigned { MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80 };

// Communication-error flags (read and cleared by errors()).
enum : unsigned { CE_RXOVER = 0x1, CE_OVERRUN = 0x2, CE_RXPARITY = 0x4, CE_FRAME = 0x8 };

struct SerialOps {
    // Opens the device for exclusive use; null with *err = errno-style code
    // (ENOENT missing or not a serial device, EBUSY in use, EACCES no permission).
    SerialPort* (*open)(const char* path, int* err);
    void (*close)(SerialPort* p);
    int (*getLine)(SerialPort* p, SerialLine* line);        // 1/0
    // 1 when the port now runs with these settings; 0 (errno set) when the
    // driver refuses them, the rate in particular.
    int (*setLine)(SerialPort* p, const SerialLine* line);
    // Bytes read (0 when nothing waits), -1 on error (errno set).
    long (*read)(SerialPort* p, void* buf, size_t max);
    // Writes everything unless the port fails or is being closed; returns the
    // count written, -1 when nothing could be written.
    long (*write)(SerialPort* p, const void* data, size_t len);
    // Waits for an event: 1 with *events set, 0 when woken by cancelWait,
    // -1 on failure (errno; EIO, ENXIO or ENODEV mean the device has gone).
    int (*wait)(SerialPort* p, unsigned* events);
    // Ends a wait in progress (and the next one) at once; any thread.
    void (*cancelWait)(SerialPort* p);
    long (*inQueue)(SerialPort* p);                          // -1 on error
    // 1 with *bits (MS_*), 0 when the port has no modem lines (pseudo-terminals).
    int (*modemStatus)(SerialPort* p, unsigned* bits);
    int (*setDtr)(SerialPort* p, bool on);                   // 1/0
    int (*setRts)(SerialPort* p, bool on);
    int (*setBreak)(SerialPort* p, bool on);
    int (*purge)(SerialPort* p);                             // both directions
    unsigned (*errors)(SerialPort* p);                       // CE_* since last call
};

// The installed operations (POSIX unless a test installed others).
const SerialOps& serial();
// Installs a table; null restores the POSIX operations.
void SerialSetOps(const SerialOps* ops);
const SerialOps& SerialPosixOps();

// Port n's default device file: 1-99 /dev/ttyS0.., 100-199 /dev/ttyUSB0..,
// 200-299 /dev/ttyACM0.., 300-399 /dev/ttyAMA0..; empty beyond.
std::string SerialDefaultPath(int n);
// Whether the system lists a device: it exists and is a real serial device (a
// terminal device; for a ttyS line, one with a UART behind it).
bool SerialDevicePresent(const std::string& path);

// A USB serial adapter as /dev/serial/by-id names it, with what its USB
// descriptors say (fields empty when the system does not tell).
struct SerialUsbAdapter {
    std::string byId;           // /dev/serial/by-id/...
    std::string device;         // the device it points to (/dev/ttyUSB0)
    std::string product;        // "FT232R USB UART"
    std::string vendorProduct;  // "0403:6001"
    std::string serial;         // "A10KZ3PX"
};
std::vector<SerialUsbAdapter> SerialByIdList();
// The /dev/serial/by-id name of a device ("" when it has none).
std::string SerialByIdName(const std::string& device);
