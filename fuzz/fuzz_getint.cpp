// The integer reading of the settings files against a reference of the strict
// rule written here.
//
// Input: a mode byte (value between quotes or not), four bytes of a number to
// put and get back, then the text. Checked: StrToInt on the text and
// Ini_GetInt on the item "K = <text>" agree with the reference, a failed read
// leaves the destination alone, and every 32-bit number put is read back.
#include <algorithm>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "persist/IniStore.h"

namespace {

struct Lines {
    const std::string* lines;
    int count;
    int next = 0;
};

int LinesSource(void* context, char* lineBuffer, int maxBytes, int* endOfInput, int* lineNumber) {
    auto* source = static_cast<Lines*>(context);
    if (source->next >= source->count) {
        *endOfInput = 1;
        lineBuffer[0] = '\0';
        return 0;
    }
    const std::string& line = source->lines[source->next++];
    const size_t n = std::min(line.size(), static_cast<size_t>(maxBytes));
    std::memcpy(lineBuffer, line.data(), n);
    lineBuffer[n] = '\0';
    *lineNumber = source->next;
    return 0;
}

void CheckOne(int status, int32_t got, bool refOk, int64_t refValue, const std::string& text,
              const char* what) {
    if (refOk) {
        FUZZ_CHECK(status == 1 && got == refValue, "%s(\"%s\") gave %d/%d, reference %lld", what,
                   text.c_str(), status, got, static_cast<long long>(refValue));
    } else {
        FUZZ_CHECK(status != 1 && got == 12345, "%s(\"%s\") gave %d/%d, reference refuses", what,
                   text.c_str(), status, got);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ByteReader in(data, size);
    const uint8_t mode = in.Byte();
    uint32_t putBits = 0;
    for (int i = 0; i < 4; ++i) {
        putBits = (putBits << 8) | in.Byte();
    }
    const std::string text = fuzz::CText(in.Rest(), in.RestSize());

    // The conversion alone.
    int64_t ref = 0;
    bool refOk = fuzz::StrictInt(text, &ref);
    int32_t got = 12345;
    const int direct = StrToInt(text.c_str(), &got);
    FUZZ_CHECK(direct == 0 || direct == 1, "StrToInt returned %d", direct);
    CheckOne(direct, got, refOk, ref, text, "StrToInt");

    // Through a store, as the settings files read it.
    IniStore* store = Ini_New(0);
    FUZZ_CHECK(store != nullptr, "no store");
    const std::string lines[] = {"[S]", (mode & 1) ? "K = \"" + text + "\"" : "K=" + text};
    Lines source{lines, 2};
    FUZZ_CHECK(Ini_ReadGeneric(store, LinesSource, &source) == 0, "read failed");

    std::string raw(4096, '\0');
    const int found = Ini_GetRawStringIntoBuffer(store, "S", "K", raw.data(), 4096);
    raw.resize(std::strlen(raw.c_str()));
    got = 12345;
    const int status = Ini_GetInt(store, "S", "K", &got);
    FUZZ_CHECK(status == 1 || status == 0 || status == INI_ERR_NOT_INTEGER, "Ini_GetInt %d",
               status);
    if (found != 1 || raw.find_first_not_of(" \t\r\n\v\f") == std::string::npos) {
        FUZZ_CHECK(status == 0 && got == 12345, "absent or blank \"%s\" gave %d", raw.c_str(),
                   status);
    } else {
        refOk = fuzz::StrictInt(raw, &ref);
        CheckOne(status, got, refOk, ref, raw, "Ini_GetInt");
        FUZZ_CHECK(refOk || status == INI_ERR_NOT_INTEGER, "refusal gave %d", status);
    }

    // Every number put comes back.
    const auto number = static_cast<int32_t>(putBits);
    FUZZ_CHECK(Ini_PutInt(store, "S", "K", number) == 0, "put failed");
    got = 0;
    FUZZ_CHECK(Ini_GetInt(store, "S", "K", &got) == 1 && got == number, "put %d, got %d", number,
               got);
    Ini_Dispose(store);
    return 0;
}
