// The remote-control server's settings record: the "Remote" section of
// "Set.Dat", which the settings files read and write and the server listens by.
#pragma once

#include <cstdint>

constexpr int REMOTE_DEFAULT_PORT = 5025;
// Only this computer can connect; any other address has to be written out.
constexpr const char* REMOTE_DEFAULT_ADDRESS = "127.0.0.1";
constexpr int REMOTE_ADDRESS_SIZE = 48;

// The "Remote" section of "Set.Dat".
struct RemoteSet {
    int32_t enabled; // 1: the server starts with the program
    char address[REMOTE_ADDRESS_SIZE];
    int32_t port;
};
extern RemoteSet gRemoteSet;

// 1 for a numeric address the server can listen on: IPv4 dotted decimal
// ("0.0.0.0" for every interface) or IPv6 ("::1").
int RemoteAddressValid(const char* address);
// Replaces what is out of range: enabled 0/1 (else 0), the address (else the
// default), the port 1..65535 (else the default).
void RemoteSetCheck();
