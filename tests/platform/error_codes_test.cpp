// The platform's own functions fail with 0 or an errno value, and the words
// for a code come from SysErrorText.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "platform/Network.h"
#include "platform/System.h"

namespace {

TEST(SysErrorText, GivesTheSystemsWordsOnAnyThread) {
    for (int code : {0, ENOENT, EACCES, EADDRINUSE, ENOSPC, 99999}) {
        SCOPED_TRACE(code);
        const std::string expected = std::strerror(code);
        EXPECT_EQ(expected, SysErrorText(code));
        std::string onThread;
        std::thread([&] { onThread = SysErrorText(code); }).join();
        EXPECT_EQ(expected, onThread);
    }
}

void Ignore(int, int, int, const char*, int) {}

TEST(NetListen, SaysWhyItCannotListenInTheSystemsCodes) {
    int server = 0;
    ASSERT_EQ(0, NetListen("127.0.0.1", 0, Ignore, &server));
    ASSERT_GT(server, 0);
    const int port = NetServerPort(server);
    const struct {
        const char* address;
        int port;
        int result;
    } cases[] = {
        {"127.0.0.1", port, EADDRINUSE},
        {"localhost", 0, EINVAL},
        {"127.0.0.1", 65536, EINVAL},
        {"192.0.2.1", 0, EADDRNOTAVAIL}, // not this machine's
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + ":" + std::to_string(c.port));
        int other = -7;
        EXPECT_EQ(c.result, NetListen(c.address, c.port, Ignore, &other));
        EXPECT_EQ(-7, other);
    }
    NetCloseServer(server);
}

} // namespace
