// TCP servers in the event loop. Nothing here blocks: connections, received
// bytes and closes are delivered to one callback on the user-interface thread,
// between ticks, like every other event.
#pragma once

enum NetEvent {
    NET_CONNECTED = 1, // a client was accepted
    NET_RECEIVED = 2,  // data, length: bytes it sent
    NET_CLOSED = 3,    // the client went away (never for NetCloseClient / NetCloseServer)
};

using NetCallbackPtr = void (*)(int server, int client, int event, const char* data, int length);

// Output a client has not taken yet beyond this marks it as stalled: it is
// dropped rather than kept at the program's cost.
constexpr int NET_MAX_UNSENT = 64 * 1024;
// Bytes of one client delivered before other events get their turn.
constexpr int NET_RECEIVE_TURN = 16 * 1024;

// Listens on a numeric address (IPv4 or IPv6) and port; port 0 takes a free
// one. Returns 0 with the server's handle (> 0) in *server, or the errno:
// EINVAL for an address that is not numeric or a port out of range, else why
// the system refused (EADDRINUSE, EADDRNOTAVAIL, EACCES, ...).
int NetListen(const char* address, int port, NetCallbackPtr callback, int* server);
// The port a server listens on; 0 for an unknown handle.
int NetServerPort(int server);
// Stops listening and closes every client of the server.
void NetCloseServer(int server);
// Queues bytes for a client. Returns 0, or the errno with the client gone:
// ENOTCONN when it is unknown, ENOBUFS when it was just dropped for having too
// much unsent output, EIO when its socket refused the bytes.
int NetSend(int client, const char* data, int length);
void NetCloseClient(int client);
// 1 for a valid numeric address, else 0.
int NetAddressValid(const char* address);
