// This program's remote-control command set: one row per command on the
// command-language machinery of remote/Scpi.h. Pure code: the rows call the
// request functions of power/ and format the answers; the sockets are
// elsewhere.
#pragma once

#include <cstddef>
#include <string>

#include "remote/Scpi.h"

constexpr int REMOTE_MAX_LINE = SCPI_MAX_LINE;
constexpr int REMOTE_ERROR_QUEUE = SCPI_ERROR_QUEUE;
constexpr int REMOTE_MAX_HELD_INPUT = SCPI_MAX_HELD_INPUT;

using RemoteSession = ScpiSession;

// Takes bytes from the client; reply lines, each ending in LF, are appended to out.
void RemoteSessionFeed(RemoteSession* session, const char* data, size_t length, std::string* out);
// Answers a waiting *OPC? once its commands are out, and runs what it held up.
void RemoteSessionPoll(RemoteSession* session, std::string* out);
