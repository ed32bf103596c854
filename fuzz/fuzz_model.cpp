// The model-reply check on its own.
//
// Input: the address, a mode byte (null outputs; give the reply a right
// start, address and checksum so the later tests are reached), then the reply.
// Checked: no read beyond the count; the result follows the reply table test
// by test; on 1 the name is the 8 characters at offsets 8..15 with a NUL and
// the number is the value of offsets 12..14; on 0 nothing is written.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "link/Frame.h"
#include "power/PowerRecords.h"

namespace {

int Expected(const std::vector<uint8_t>& b, int address) {
    if (b.size() < static_cast<size_t>(MODEL_REPLY_LEN)) {
        return 0;
    }
    if (b[0] != '{' || b[1] != 17 || b[2] != 0 || b[3] != (address & 0xFF) ||
        std::memcmp(&b[4], "RMO=VX", 6) != 0) {
        return 0;
    }
    unsigned sum = 0;
    for (int i = 1; i <= 17; ++i) {
        sum += b[static_cast<size_t>(i)];
    }
    if (b[18] != (sum & 0xFF)) {
        return 0;
    }
    for (int i = 10; i <= 12; ++i) {
        if (b[static_cast<size_t>(i)] < '0' || b[static_cast<size_t>(i)] > '9') {
            return 0;
        }
    }
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ByteReader in(data, size);
    const uint8_t addressByte = in.Byte();
    const uint8_t mode = in.Byte();
    const int address = addressByte == 0 ? 1 : addressByte;
    std::vector<uint8_t> bytes(in.Rest(), in.Rest() + in.RestSize());
    if ((mode & 1) && bytes.size() >= 19) {
        bytes[0] = '{';
        bytes[3] = static_cast<uint8_t>(address);
        unsigned sum = 0;
        for (int i = 1; i <= 17; ++i) {
            sum += bytes[static_cast<size_t>(i)];
        }
        bytes[18] = static_cast<uint8_t>(sum & 0xFF);
    }
    gPowerInfo.address = address;

    // Guard bytes around the name show a write outside its 9 bytes.
    char name[32];
    std::memset(name, '#', sizeof name);
    char* const nameAt = name + 8;
    int32_t number = -7;
    const bool nullOutputs = (mode & 2) != 0;

    std::vector<uint8_t> exact(bytes);
    const int result =
        ModelQueryRx(exact.empty() ? nullptr : exact.data(), static_cast<int>(exact.size()),
                     nullOutputs ? nullptr : nameAt, nullOutputs ? nullptr : &number);
    const int want = Expected(bytes, address);
    FUZZ_CHECK(result == want, "result %d, expected %d", result, want);

    for (int i = 0; i < 8; ++i) {
        FUZZ_CHECK(name[i] == '#', "byte written before the name");
    }
    for (size_t i = 8 + 9; i < sizeof name; ++i) {
        FUZZ_CHECK(name[i] == '#', "byte written after the name");
    }
    if (result == 1 && !nullOutputs) {
        FUZZ_CHECK(std::memcmp(nameAt, &bytes[8], 8) == 0 && nameAt[8] == '\0', "name not copied");
        const int value = 100 * (bytes[12] - '0') + 10 * (bytes[13] - '0') + (bytes[14] - '0');
        FUZZ_CHECK(number == value, "number %d, expected %d", number, value);
    } else {
        for (int i = 0; i < 9; ++i) {
            FUZZ_CHECK(nameAt[i] == '#', "name written on %d", result);
        }
        FUZZ_CHECK(number == -7, "number written on %d", result);
    }
    return 0;
}
