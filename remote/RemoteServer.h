// The remote-control server: up to REMOTE_MAX_CLIENTS clients, each with a
// session of the command language, over the platform's TCP server. Off until
// started; the settings that start it with the program live in "Set.Dat".
#pragma once

#include <cstdint>
#include <string>

constexpr int REMOTE_MAX_CLIENTS = 4;
constexpr int REMOTE_DEFAULT_PORT = 5025;
// Only this computer can connect; any other address has to be written out.
constexpr const char* REMOTE_DEFAULT_ADDRESS = "127.0.0.1";
constexpr int REMOTE_ADDRESS_SIZE = 48;

// The "Remote" section of "Set.Dat".
struct RemoteSet {
    int32_t enabled; // 1: the server starts with the program
    char address[REMOTE_ADDRESS_SIZE];
    int32_t port;
    int32_t idleTimeout; // seconds a client may stay silent; 0: for ever
};
constexpr int32_t REMOTE_IDLE_TIMEOUT_MAX = 86400;
extern RemoteSet gRemoteSet;

// 1 for a numeric address the server can listen on: IPv4 dotted decimal
// ("0.0.0.0" for every interface) or IPv6 ("::1").
int RemoteAddressValid(const char* address);
// Failures of remote/'s own, numbered above every errno value so that one int
// carries either; RemoteFailureText names both.
enum RemoteFailure {
    REMOTE_FAIL_IPV6_FORM = 1001, // an IPv6 address not written [ADDR]:PORT
    REMOTE_FAIL_ADDRESS,          // not a numeric address
    REMOTE_FAIL_PORT,             // not a port from 1 to 65535
};
std::string RemoteFailureText(int code);
// Reads "[ADDR:]PORT" ("[::1]:5025" for IPv6); the address defaults to
// REMOTE_DEFAULT_ADDRESS. 0, or a REMOTE_FAIL_ code.
int RemoteParseListen(const char* text, std::string* address, int* port);
// Replaces what is out of range: enabled 0/1 (else 0), the address (else the
// default), the port 1..65535 (else the default), the idle time-out
// 0..REMOTE_IDLE_TIMEOUT_MAX (else 0).
void RemoteSetCheck();

// Starts listening in place of a server already running (whose clients are
// closed). 0, or -1 with the reason in *error, the running server kept.
int RemoteServerStart(const char* address, int port, std::string* error);
// Closes the server and every client.
void RemoteServerStop();
// 1 while listening; the address and port in use go to the pointers given.
int RemoteServerListening(std::string* address, int* port);
int RemoteServerClients();
// Looks after every client's session (waiting *OPC? queries, status, what the
// source did with its commands) and closes idle ones; called on every tick.
void RemoteServerTick();
// A client that has sent nothing for this long is closed; 0 keeps idle
// clients for ever.
void RemoteServerSetIdleTimeout(int seconds);
// Called with the number of clients whenever it changes.
void RemoteServerOnClients(void (*observer)(int clients));
// Called after the server has run what a client sent, before anything else
// can change the records.
void RemoteServerOnCommandsRun(void (*observer)());
