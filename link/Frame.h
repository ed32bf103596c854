// The frame shared by every request and reply: "{", length, 0, address,
// mnemonic and mark, data, additive checksum, "}". Also the model query, the
// one exchange that identifies the instrument.
#pragma once

#include <cstdint>

constexpr uint8_t FRAME_START = 0x7B; // "{"
constexpr uint8_t FRAME_END = 0x7D;   // "}"
constexpr int MODEL_QUERY_LEN = 10;
constexpr int MODEL_REPLY_LEN = 20;
// Model name as carried in the reply: 8 characters, stored with a NUL.
constexpr int MODEL_NAME_CHARS = 8;

// Sum of n bytes as unsigned values; 0 for n <= 0.
int32_t GetStringCheckSum(const uint8_t* bytes, int n);
// Decimal value of n characters, most significant first, without a digit
// check; 0 for n <= 0.
int32_t GetASCIIToInt(const uint8_t* bytes, int n);

// Builds a request for the present address: mnemonicAndMark is the 4 bytes at
// offsets 4..7 (e.g. "RMO*", "SNO="), data follows from offset 8. Returns the
// frame length (dataLen + 11).
int FrameBuild(uint8_t* buffer, const char* mnemonicAndMark, const uint8_t* data, int dataLen);

// The test every reply passes before its content is looked at: start mark,
// our address, the whole frame received and its checksum right. Returns the
// frame length L + 3 when the reply is acceptable, else 0. Reads nothing at or
// beyond count.
int FrameAccept(const uint8_t* bytes, int count);

// Writes the 10-byte model query; returns 10.
int ModelQueryTx(uint8_t* buffer);
// Checks a model reply; on success fills name (at least 9 bytes) and number
// and returns 1, otherwise writes nothing and returns 0.
int ModelQueryRx(const uint8_t* bytes, int count, char* name, int32_t* number);
