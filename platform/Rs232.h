// Serial port library: ports addressed by number 1..10. Port N opens the file
// "COM<N>" in the working directory when it exists (a link to a tty or a
// pseudo-terminal), else /dev/ttyS<N-1>. Results: 0 or a byte count on
// success, a negative error code on failure.
#pragma once

enum {
    RS232_NO_ERROR = 0,
    RS232_ERR_PORT_NUMBER = -2,     // port number out of range
    RS232_ERR_OPEN = -3,            // the device cannot be opened
    RS232_ERR_CONFIG = -4,          // the line settings cannot be applied
    RS232_ERR_NOT_OPEN = -5,        // the port is not open
    RS232_ERR_IO = -6,              // read or write failed (device gone)
    RS232_ERR_WRITE_TIMEOUT = -7,
};

// deviceName empty or null: the default device for the port number.
int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);
int CloseCom(int port);
// The device an open port reached, with links followed (for "COM1" linked to
// /dev/ttyUSB0, that device); RS232_ERR_NOT_OPEN when the port is closed.
int GetComDevice(int port, char* device, int size);

// Why the most recent OpenComConfig failed, for the operator's message.
struct ComOpenFailure {
    char device[512];     // the file it tried, absolute; empty when the port number was wrong
    char linkTarget[512]; // where that file links to, or empty
    char deviceGroup[64]; // the group that may read and write the device, or empty
    int sysError;         // errno of the failing call; EINVAL for settings the line refuses
};
// 1 and the record when an open has failed since the last successful one, else 0.
int GetComOpenFailure(ComOpenFailure* failure);
int SetCTSMode(int port, int mode);
int FlushInQ(int port);
int FlushOutQ(int port);
// Number of bytes waiting in the input queue; never blocks. Negative on error.
int GetInQLen(int port);
// Writes count bytes; returns the number written or a negative error.
int ComWrt(int port, const char* buffer, int count);
// Reads up to count bytes that are already queued; returns the number read or
// a negative error. Never waits for bytes that have not arrived.
int ComRd(int port, char* buffer, int count);
