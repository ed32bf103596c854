// Serial ports and the port layer above them, on real pseudo-terminals.
#include <chrono>
#include <fstream>
#include <memory>

#include "LinkTestSupport.h"
#include "link/PortUart.h"
#include "power/PowerRecords.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class PortTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (int port = 1; port <= 10; ++port) {
            CloseCom(port);
        }
    }
    ScratchDir dir;
};

TEST_F(PortTest, RejectsBadPortNumbersSpeedsAndDevices) {
    Pty pty("COM1");
    EXPECT_EQ(OpenComConfig(0, "", 9600, 0, 8, 1, 1024, 1024), RS232_ERR_PORT_NUMBER);
    EXPECT_EQ(OpenComConfig(11, "", 9600, 0, 8, 1, 1024, 1024), RS232_ERR_PORT_NUMBER);
    for (long baud : {0L, 300L, 1000L, 19200L}) {
        EXPECT_EQ(OpenComConfig(1, "", baud, 0, 8, 1, 1024, 1024), RS232_ERR_CONFIG) << baud;
    }
    for (int baud : {1200, 2400, 4800, 9600}) {
        EXPECT_EQ(PortUartOpenDefault(1, baud), 0) << baud;
        EXPECT_EQ(PortUartClose(1), 0);
    }
    std::ofstream("COM2") << "not a terminal";
    EXPECT_EQ(PortUartOpenDefault(2, 9600), RS232_ERR_OPEN);
    // A dangling link names the operator's port; no other device stands in.
    ASSERT_EQ(symlink("/nonexistent/tty", "COM3"), 0);
    EXPECT_EQ(PortUartOpenDefault(3, 9600), RS232_ERR_OPEN);

    char c = 0;
    EXPECT_EQ(GetInQLen(1), RS232_ERR_NOT_OPEN);
    EXPECT_EQ(ComWrt(1, "x", 1), RS232_ERR_NOT_OPEN);
    EXPECT_EQ(ComRd(1, &c, 1), RS232_ERR_NOT_OPEN);
    EXPECT_EQ(FlushInQ(1), RS232_ERR_NOT_OPEN);
    EXPECT_EQ(CloseCom(1), RS232_ERR_NOT_OPEN);
}

// Every byte value crosses unchanged both ways: no newline translation, no
// software flow control eating 0x11/0x13, no echo.
TEST_F(PortTest, LineIsRawInBothDirections) {
    Pty pty("COM1");
    ASSERT_EQ(PortUartOpenDefault(1, 9600), 0);
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(ComWrt(1, reinterpret_cast<const char*>(all.data()), 256), 256);
    EXPECT_EQ(pty.Read(256), all);
    EXPECT_TRUE(pty.Quiet());

    pty.Write(all);
    pty.WaitQueued(1, 256);
    Bytes got(300);
    EXPECT_EQ(ComRd(1, reinterpret_cast<char*>(got.data()), 300), 256);
    got.resize(256);
    EXPECT_EQ(got, all);
}

TEST_F(PortTest, ReadsTakeOnlyWhatIsQueuedAndNeverWait) {
    Pty pty("COM1");
    ASSERT_EQ(PortUartOpenDefault(1, 9600), 0);
    uint8_t buf[256];
    int count = 99;
    const auto start = steady_clock::now();
    EXPECT_EQ(PortUartReadBuff(1, &count, buf, sizeof buf), EMPTY_READ);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(ComRd(1, reinterpret_cast<char*>(buf), 1), 0);
    EXPECT_LT(steady_clock::now() - start, milliseconds(100));

    pty.Write(B("0123456789"));
    pty.WaitQueued(1, 10);
    EXPECT_EQ(PortUartReadBuff(1, &count, buf, 4), 4); // the capacity bounds the read
    EXPECT_EQ(count, 4);
    EXPECT_EQ(std::memcmp(buf, "0123", 4), 0);
    EXPECT_EQ(PortUartReadBuffByLenght(1, 7, buf), EMPTY_READ); // 6 queued
    EXPECT_EQ(PortUartReadBuffByLenght(1, 5, buf), 5);
    EXPECT_EQ(std::memcmp(buf, "45678", 5), 0);
    EXPECT_EQ(PortUartReadBuffByMinLenght(1, 2, 0, &count, buf, sizeof buf), EMPTY_READ);
    pty.Write(B("ab"));
    pty.WaitQueued(1, 3);
    EXPECT_EQ(PortUartReadBuffByMinLenght(1, 2, 0, &count, buf, sizeof buf), 3);
    EXPECT_EQ(std::memcmp(buf, "9ab", 3), 0);
}

// An unplugged adapter or an ended simulator gives errors at once, never a
// line that reads as empty forever.
TEST_F(PortTest, VanishedDeviceAndStalledLineGiveErrors) {
    Pty gone("COM1");
    ASSERT_EQ(PortUartOpenDefault(1, 9600), 0);
    gone.Close();
    char buf[8];
    EXPECT_LT(GetInQLen(1), 0);
    EXPECT_LT(ComRd(1, buf, 8), 0);
    EXPECT_EQ(ComWrt(1, "abc", 3), RS232_ERR_IO);
    EXPECT_LT(PortUartWriteBuff(1, 3, reinterpret_cast<const uint8_t*>("abc")), 0);

    // Nobody drains the line: the write gives up after a bounded wait.
    Pty stalled("COM2");
    ASSERT_EQ(PortUartOpenDefault(2, 9600), 0);
    std::vector<char> big(4 << 20, 'x');
    const auto start = steady_clock::now();
    EXPECT_EQ(ComWrt(2, big.data(), static_cast<int>(big.size())), RS232_ERR_WRITE_TIMEOUT);
    EXPECT_LT(steady_clock::now() - start, milliseconds(5000));
}

TEST_F(PortTest, TenPortsAreIndependent) {
    std::vector<std::unique_ptr<Pty>> ptys;
    for (int port = 1; port <= 10; ++port) {
        ptys.push_back(std::make_unique<Pty>("COM" + std::to_string(port)));
        ASSERT_EQ(PortUartOpenDefault(port, 9600), 0) << port;
        ptys.back()->Write(Bytes(static_cast<size_t>(port), static_cast<uint8_t>(port)));
    }
    for (int port = 1; port <= 10; ++port) {
        ptys[port - 1]->WaitQueued(port, port);
        uint8_t buf[16];
        int count = 0;
        EXPECT_EQ(PortUartReadBuff(port, &count, buf, sizeof buf), port);
        EXPECT_EQ(Bytes(buf, buf + count), Bytes(static_cast<size_t>(port), port));
    }
}

TEST(CommSet, DefaultsAndRepairFieldByField) {
    DataInitCommSet();
    EXPECT_EQ(gPowerInfo.address, 1);
    EXPECT_EQ(gPowerInfo.port, 1);
    EXPECT_EQ(gPowerInfo.baudRate, 9600);
    EXPECT_EQ(gPowerInfo.language, 0);
    // {address, port, baud, language} in, then out.
    const int cases[][8] = {
        {0, 0, 300, 2, 1, 1, 9600, 0},        {256, 11, 1000, -1, 1, 1, 9600, 0},
        {255, 10, 4800, 1, 255, 10, 4800, 1}, {7, 3, 1200, 0, 7, 3, 1200, 0},
        {-5, 1, 2400, 1, 1, 1, 2400, 1},
    };
    for (const auto& c : cases) {
        gPowerInfo.address = c[0];
        gPowerInfo.port = c[1];
        gPowerInfo.baudRate = c[2];
        gPowerInfo.language = c[3];
        DataCheckCommSet();
        EXPECT_EQ(gPowerInfo.address, c[4]) << c[0];
        EXPECT_EQ(gPowerInfo.port, c[5]) << c[1];
        EXPECT_EQ(gPowerInfo.baudRate, c[6]) << c[2];
        EXPECT_EQ(gPowerInfo.language, c[7]) << c[3];
    }
}

} // namespace
