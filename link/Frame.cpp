#include "link/Frame.h"

#include <cstring>

#include "power/PowerRecords.h"

namespace {

// Requests carry the low byte of the address, so replies are compared with
// the same byte.
uint8_t AddressByte() {
    return static_cast<uint8_t>(gPowerInfo.address & 0xFF);
}

bool IsDigit(uint8_t c) {
    return NumOutBound(c, '9', '0') == 0;
}

} // namespace

int32_t GetStringCheckSum(const uint8_t* bytes, int n) {
    if (bytes == nullptr || n <= 0) {
        return 0;
    }
    uint32_t sum = 0;
    for (int i = 0; i < n; ++i) {
        sum += bytes[i];
    }
    return static_cast<int32_t>(sum);
}

int32_t GetASCIIToInt(const uint8_t* bytes, int n) {
    if (bytes == nullptr || n <= 0) {
        return 0;
    }
    // Unsigned arithmetic: a long run of non-digits must wrap, not overflow.
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
        value = value * 10u + static_cast<uint32_t>(static_cast<int32_t>(bytes[i]) - '0');
    }
    return static_cast<int32_t>(value);
}

int FrameBuild(uint8_t* buffer, const char* mnemonicAndMark, const uint8_t* data, int dataLen) {
    if (dataLen < 0) {
        dataLen = 0;
    }
    const int len = 7 + dataLen; // offsets 1..L
    buffer[0] = FRAME_START;
    buffer[1] = static_cast<uint8_t>(len);
    buffer[2] = 0;
    buffer[3] = AddressByte();
    std::memcpy(buffer + 4, mnemonicAndMark, 4);
    if (dataLen > 0) {
        std::memcpy(buffer + 8, data, static_cast<size_t>(dataLen));
    }
    buffer[len + 1] = static_cast<uint8_t>(GetStringCheckSum(buffer + 1, len) & 0xFF);
    buffer[len + 2] = FRAME_END;
    return len + 3;
}

int FrameAccept(const uint8_t* bytes, int count) {
    if (bytes == nullptr || count < 4) {
        return 0;
    }
    if (bytes[0] != FRAME_START || bytes[3] != AddressByte()) {
        return 0;
    }
    const int len = bytes[1];
    if (count < len + 3) {
        return 0;
    }
    const int sum = GetStringCheckSum(bytes + 1, len) & 0xFF;
    if (bytes[len + 1] != sum) {
        return 0;
    }
    return len + 3;
}

int ModelQueryTx(uint8_t* buffer) {
    return FrameBuild(buffer, "RMO*", nullptr, 0);
}

int ModelQueryRx(const uint8_t* bytes, int count, char* name, int32_t* number) {
    // The count goes first: a short reply must never make us read past what
    // arrived, not even the checksum byte.
    if (bytes == nullptr || count < MODEL_REPLY_LEN) {
        return 0;
    }
    if (bytes[0] != FRAME_START || bytes[1] != MODEL_REPLY_LEN - 3 || bytes[2] != 0 ||
        bytes[3] != AddressByte()) {
        return 0;
    }
    if (std::memcmp(bytes + 4, "RMO=", 4) != 0 || bytes[8] != 'V' || bytes[9] != 'X') {
        return 0;
    }
    if (bytes[18] != (GetStringCheckSum(bytes + 1, 17) & 0xFF)) {
        return 0;
    }
    if (!IsDigit(bytes[10]) || !IsDigit(bytes[11]) || !IsDigit(bytes[12])) {
        return 0;
    }
    if (number != nullptr) {
        *number = GetASCIIToInt(bytes + 12, 3);
    }
    if (name != nullptr) {
        std::memcpy(name, bytes + 8, MODEL_NAME_CHARS);
        name[MODEL_NAME_CHARS] = '\0';
    }
    return 1;
}
