// The thin layer between the link and the serial-port library, and the link
// settings (address, port, baud rate, language) with their defaults and repair.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int EMPTY_READ = -1111;

int PortUartOpenDefault(int port, int baudRate);
int PortUartOpen(int port, const char* deviceName, int baudRate, int parity, int dataBits,
                 int stopBits, int inputQueueSize, int outputQueueSize);
int PortUartClose(int port);
// The device an open port reached, links followed; empty when it is closed.
std::string PortUartDevice(int port);

// What the last failed open tried and the system's reason for the failure.
struct PortUartOpenFailure {
    std::string device;     // absolute path; empty when the port number itself was wrong
    std::string linkTarget; // where the device file links to, or empty
    std::string group;      // the group that may read and write the device, or empty
    int sysError = 0;       // errno
};
// 1 and the record after a failed open, 0 when the last open succeeded.
int PortUartLastOpenFailure(PortUartOpenFailure* failure);
int PortUartClear(int port);
int PortUartWriteBuff(int port, int length, const uint8_t* bytes);
// Reads what is queued, at most capacity bytes.
int PortUartReadBuff(int port, int* count, uint8_t* buffer, int capacity);
int PortUartReadBuffByLenght(int port, int n, uint8_t* buffer);
int PortUartReadBuffByMinLenght(int port, int n, int unused, int* count, uint8_t* buffer,
                                int capacity);

void DataInitCommSet();
void DataCheckCommSet();

// The serial devices the operator may choose for a port, and making the port's
// name "COM<N>" in the working folder lead to one: the open then takes it.
struct SerialDevice;
int PortUartListDevices(std::vector<SerialDevice>* devices);
// 1 when "COM<port>" is something other than a link (replacing it needs the
// operator's word), else 0.
int PortUartNameTaken(int port);
// The device the port's name leads to now, open or not.
std::string PortUartNameTarget(int port);
// 0 on success, else the errno (EEXIST: a non-link is in the way and
// replaceOther is 0).
int PortUartLinkDevice(int port, const char* device, int replaceOther);
