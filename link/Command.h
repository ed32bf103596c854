// Command encoder and reply decoder. A command is named by kind, sub-kind and
// a parameter (always 0). The decoder is told which command is in progress and
// accepts only the reply that belongs to it.
#pragma once

#include <cstdint>

// Reply results.
constexpr int COMM_RX_ACCEPTED = 1;
constexpr int COMM_RX_UNUSABLE = -1; // answered, but refused or unusable
constexpr int COMM_RX_NONE = 0;      // no acceptable reply

// Longest request the encoder builds (the settings command).
constexpr int COMM_TX_MAX_LEN = 30;

// Builds the request in buffer (at least COMM_TX_MAX_LEN bytes); returns its
// length, or 0 and leaves buffer untouched when the pair is not a command.
int CommTx(int kind, int subKind, int parameter, uint8_t* buffer);

// Checks and applies the reply to the command in progress. Returns
// COMM_RX_ACCEPTED, COMM_RX_UNUSABLE or COMM_RX_NONE. Reads only the first
// count bytes.
int CommRx(int kind, int subKind, int parameter, const uint8_t* bytes, int count);

// The three-letter name of a command's frame ("RNT"), or nullptr when the pair
// is not a command.
const char* CommMnemonic(int kind, int subKind);
