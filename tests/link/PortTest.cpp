// The serial ports and the port layer above them, on real pseudo-terminals.
#include <chrono>
#include <memory>
#include <fstream>

#include "link/PortUart.h"
#include "power/PowerRecords.h"
#include "LinkTestSupport.h"

namespace {

class PortTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (int port = 1; port <= 10; ++port) {
            CloseCom(port);
        }
    }
    ScratchDir dir;
};

TEST_F(PortTest, RejectsBadPortNumbersSpeedsAndNonTerminals) {
    Pty pty("COM1");
    EXPECT_EQ(OpenComConfig(0, "", 9600, 0, 8, 1, 1024, 1024), RS232_ERR_PORT_NUMBER);
    EXPECT_EQ(OpenComConfig(11, "", 9600, 0, 8, 1, 1024, 1024), RS232_ERR_PORT_NUMBER);
    for (long baud : {0L, 300L, 1000L, 19200L, 115200L}) {
        EXPECT_EQ(OpenComConfig(1, "", baud, 0, 8, 1, 1024, 1024), RS232_ERR_CONFIG) << baud;
    }
    for (long baud : {1200L, 2400L, 4800L, 9600L}) {
        EXPECT_EQ(OpenComConfig(1, "", baud, 0, 8, 1, 1024, 1024), 0) << baud;
        EXPECT_EQ(CloseCom(1), 0);
    }
    std::ofstream("COM2") << "not a terminal";
    EXPECT_EQ(PortUartOpenDefault(2, 9600), RS232_ERR_OPEN);
    // A dangling link is the operator's choice of port, not a cue to try
    // an on-board one instead.
    ASSERT_EQ(symlink("/nonexistent/tty", "COM3"), 0);
    EXPECT_EQ(PortUartOpenDefault(3, 9600), RS232_ERR_OPEN);

    for (int port : {1, 5}) {
        EXPECT_EQ(GetInQLen(port), RS232_ERR_NOT_OPEN);
        EXPECT_EQ(ComWrt(port, "x", 1), RS232_ERR_NOT_OPEN);
        char c;
        EXPECT_EQ(ComRd(port, &c, 1), RS232_ERR_NOT_OPEN);
        EXPECT_EQ(FlushInQ(port), RS232_ERR_NOT_OPEN);
        EXPECT_EQ(CloseCom(port), RS232_ERR_NOT_OPEN);
    }
}

// Every byte value crosses unchanged in both directions: no newline or
// carriage-return translation, no software flow control eating 0x11/0x13,
// no echo.
TEST_F(PortTest, LineIsRawInBothDirections) {
    Pty pty("COM1");
    ASSERT_EQ(PortUartOpenDefault(1, 9600), 0);
    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(ComWrt(1, reinterpret_cast<const char*>(all.data()), 256), 256);
    EXPECT_EQ(pty.Read(256), all);
    EXPECT_TRUE(pty.Quiet()); // nothing echoed or added

    pty.Write(all);
    pty.WaitQueued(1, 256);
    EXPECT_EQ(GetInQLen(1), 256);
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
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PortUartReadBuff(1, &count, buf, sizeof buf), EMPTY_READ);
    EXPECT_EQ(count, 0);
    char c;
    EXPECT_EQ(ComRd(1, &c, 1), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));

    // Capacity bounds the read; the rest stays queued.
    pty.Write(B("0123456789"));
    pty.WaitQueued(1, 10);
    EXPECT_EQ(PortUartReadBuff(1, &count, buf, 4), 4);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(std::memcmp(buf, "0123", 4), 0);
    EXPECT_EQ(GetInQLen(1), 6);

    // By length: too few queued reads nothing, enough reads exactly n.
    EXPECT_EQ(PortUartReadBuffByLenght(1, 7, buf), EMPTY_READ);
    EXPECT_EQ(GetInQLen(1), 6);
    EXPECT_EQ(PortUartReadBuffByLenght(1, 5, buf), 5);
    EXPECT_EQ(std::memcmp(buf, "45678", 5), 0);
    EXPECT_EQ(GetInQLen(1), 1);

    // By minimum length: all that is queued once enough is there.
    EXPECT_EQ(PortUartReadBuffByMinLenght(1, 2, 0, &count, buf, sizeof buf), EMPTY_READ);
    EXPECT_EQ(count, 0);
    pty.Write(B("ab"));
    pty.WaitQueued(1, 3);
    EXPECT_EQ(PortUartReadBuffByMinLenght(1, 2, 0, &count, buf, sizeof buf), 3);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(std::memcmp(buf, "9ab", 3), 0);
}

TEST_F(PortTest, WriteDropsStaleInputFirst) {
    Pty pty("COM1");
    ASSERT_EQ(PortUartOpenDefault(1, 9600), 0);
    pty.Write(B("late reply"));
    pty.WaitQueued(1, 10);
    const uint8_t frame[] = {0x7B, 0x07, 0x00, 0x01, 'R', 'T', 'E', '*', 0x1D, 0x7D};
    EXPECT_EQ(PortUartWriteBuff(1, 10, frame), 10);
    EXPECT_EQ(GetInQLen(1), 0);
    EXPECT_EQ(pty.Read(10), Bytes(frame, frame + 10));
    EXPECT_EQ(PortUartClear(1), 0);
    EXPECT_EQ(PortUartClose(1), 0);
    EXPECT_EQ(PortUartWriteBuff(1, 10, frame), RS232_ERR_NOT_OPEN);
}

// An unplugged adapter or an ended simulator: every operation reports an
// error at once instead of reading as an empty line forever.
TEST_F(PortTest, VanishedDeviceReportsErrors) {
    Pty pty("COM1");
    ASSERT_EQ(PortUartOpenDefault(1, 9600), 0);
    pty.Close();
    auto start = std::chrono::steady_clock::now();
    EXPECT_LT(GetInQLen(1), 0);
    char buf[8];
    EXPECT_LT(ComRd(1, buf, 8), 0);
    EXPECT_EQ(ComWrt(1, "abc", 3), RS232_ERR_IO);
    int count = 5;
    EXPECT_EQ(PortUartReadBuff(1, &count, reinterpret_cast<uint8_t*>(buf), 8), EMPTY_READ);
    EXPECT_EQ(count, 0);
    EXPECT_LT(PortUartWriteBuff(1, 3, reinterpret_cast<const uint8_t*>("abc")), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

// Nobody drains the line: the write gives up after a bounded wait.
TEST_F(PortTest, StalledWriteTimesOut) {
    Pty pty("COM1");
    ASSERT_EQ(PortUartOpenDefault(1, 9600), 0);
    std::vector<char> big(4 << 20, 'x');
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ComWrt(1, big.data(), static_cast<int>(big.size())), RS232_ERR_WRITE_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(PortTest, TenPortsAreIndependent) {
    std::vector<std::unique_ptr<Pty>> ptys;
    for (int port = 1; port <= 10; ++port) {
        ptys.push_back(std::make_unique<Pty>("COM" + std::to_string(port)));
        ASSERT_EQ(PortUartOpenDefault(port, 9600), 0) << port;
    }
    for (int port = 1; port <= 10; ++port) {
        ptys[port - 1]->Write(Bytes(static_cast<size_t>(port), static_cast<uint8_t>(port)));
    }
    for (int port = 1; port <= 10; ++port) {
        ptys[port - 1]->WaitQueued(port, port);
        uint8_t buf[16];
        int count = 0;
        EXPECT_EQ(PortUartReadBuff(port, &count, buf, sizeof buf), port);
        EXPECT_EQ(Bytes(buf, buf + count), Bytes(static_cast<size_t>(port), port));
    }
}

TEST(CommSet, RepairEachFieldIndependently) {
    DataInitCommSet();
    EXPECT_EQ(gPowerInfo.address, 1);
    EXPECT_EQ(gPowerInfo.port, 1);
    EXPECT_EQ(gPowerInfo.baudRate, 9600);
    EXPECT_EQ(gPowerInfo.language, 0);

    struct Case {
        int address, port, baud, language;
        int wantAddress, wantPort, wantBaud, wantLanguage;
    };
    const Case cases[] = {
        {0, 0, 300, 2, 1, 1, 9600, 0},       {256, 11, 1000, -1, 1, 1, 9600, 0},
        {255, 10, 4800, 1, 255, 10, 4800, 1}, {0, 0, 0, 0, 1, 1, 9600, 0},
        {7, 3, 1200, 0, 7, 3, 1200, 0},       {-5, 1, 2400, 1, 1, 1, 2400, 1},
    };
    for (const Case& c : cases) {
        gPowerInfo.address = c.address;
        gPowerInfo.port = c.port;
        gPowerInfo.baudRate = c.baud;
        gPowerInfo.language = c.language;
        DataCheckCommSet();
        EXPECT_EQ(gPowerInfo.address, c.wantAddress) << c.address;
        EXPECT_EQ(gPowerInfo.port, c.wantPort) << c.port;
        EXPECT_EQ(gPowerInfo.baudRate, c.wantBaud) << c.baud;
        EXPECT_EQ(gPowerInfo.language, c.wantLanguage) << c.language;
    }
}

} // namespace
