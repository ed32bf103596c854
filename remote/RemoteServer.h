// The remote-control server: up to REMOTE_MAX_CLIENTS clients, each with a
// session of the command language, over the platform's TCP server. Off until
// started; the settings that start it with the program live in "Set.Dat".
#pragma once

#include <cstdint>
#include <string>

#include "persist/RemoteSettings.h"

constexpr int REMOTE_MAX_CLIENTS = 4;

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

// Starts listening in place of a server already running (whose clients are
// closed). 0, or the errno of the failure with the running server kept.
int RemoteServerStart(const char* address, int port);
// Closes the server and every client.
void RemoteServerStop();
// 1 while listening; the address and port in use go to the pointers given.
int RemoteServerListening(std::string* address, int* port);
int RemoteServerClients();
// Answers waiting *OPC? queries; called on every tick.
void RemoteServerTick();
// Called with the number of clients whenever it changes.
void RemoteServerOnClients(void (*observer)(int clients));
// Called after the server has run what a client sent, before anything else
// can change the records.
void RemoteServerOnCommandsRun(void (*observer)());
