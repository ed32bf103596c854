// The command language of the remote-control server: lines of SCPI-style
// commands in, reply lines out, for one client at a time. Pure code: it frames
// the bytes a client sent, calls the request functions of power/ and formats
// the answers; the sockets are elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// Longest command line, not counting its LF (or CR LF).
constexpr int REMOTE_MAX_LINE = 256;
// Errors a client's queue holds; the last place says the queue overflowed.
constexpr int REMOTE_ERROR_QUEUE = 16;
// Input kept unread while a *OPC? waits; more than this is dropped.
constexpr int REMOTE_MAX_HELD_INPUT = 16384;

enum RemoteErrorCode {
    REMOTE_NO_ERROR = 0,
    REMOTE_COMMAND_ERROR = -100,
    REMOTE_UNDEFINED_HEADER = -113,
    REMOTE_SETTINGS_CONFLICT = -221,
    REMOTE_DATA_OUT_OF_RANGE = -222,
    REMOTE_TOO_MUCH_DATA = -223,
    REMOTE_HARDWARE_ERROR = -240,
    REMOTE_QUEUE_OVERFLOW = -350,
};

// One client's state between the bytes it sends.
struct RemoteSession {
    std::string input;              // received, not yet run
    bool discarding = false;        // inside a line too long to run, until its LF
    std::deque<std::string> errors; // oldest first, as SYSTem:ERRor? gives them
    std::vector<std::string> path;  // the header path later commands of a line start from
    // A *OPC? whose commands have not all gone out yet holds up the rest of
    // its line and every line behind it.
    bool waiting = false;
    uint64_t waitMark = 0;
    std::vector<std::string> rest;    // the commands after it on its line
    std::vector<std::string> replies; // the replies of its line so far
    bool heldOverflow = false;
};

// Takes bytes from the client; reply lines, each ending in LF, are appended to out.
void RemoteSessionFeed(RemoteSession* session, const char* data, size_t length, std::string* out);
// Answers a waiting *OPC? once its commands are out, and runs what it held up.
void RemoteSessionPoll(RemoteSession* session, std::string* out);
// Adds an error to the queue ("-222" with its text); detail may be empty.
void RemoteSessionError(RemoteSession* session, int code, const char* detail);
