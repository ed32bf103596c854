#include "persist/RemoteSettings.h"

#include <cctype>
#include <cstddef>
#include <cstring>

#include "platform/Network.h"

RemoteSet gRemoteSet{};

namespace {

bool Ipv4Valid(const char* text) {
    int parts = 0;
    const char* p = text;
    while (true) {
        int digits = 0;
        int value = 0;
        while (std::isdigit(static_cast<unsigned char>(*p)) && digits < 4) {
            value = value * 10 + (*p - '0');
            ++digits;
            ++p;
        }
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && p[-digits] == '0')) {
            return false;
        }
        ++parts;
        if (*p != '.') {
            break;
        }
        ++p;
    }
    return parts == 4 && *p == '\0';
}

} // namespace

int RemoteAddressValid(const char* address) {
    if (address == nullptr || *address == '\0' ||
        std::strlen(address) >= static_cast<size_t>(REMOTE_ADDRESS_SIZE)) {
        return 0;
    }
    if (std::strchr(address, ':') != nullptr) {
        return NetAddressValid(address);
    }
    return Ipv4Valid(address) ? 1 : 0;
}

void RemoteSetCheck() {
    RemoteSet& r = gRemoteSet;
    if (r.enabled != 0 && r.enabled != 1) {
        r.enabled = 0;
    }
    r.address[sizeof r.address - 1] = '\0';
    if (!RemoteAddressValid(r.address)) {
        std::strcpy(r.address, REMOTE_DEFAULT_ADDRESS);
    }
    if (r.port < 1 || r.port > 65535) {
        r.port = REMOTE_DEFAULT_PORT;
    }
}
