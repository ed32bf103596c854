// The simulator on a real pseudo-terminal, driven the way the program drives a serial port:
// open the slave, flush, write a request, count the queued bytes, read them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "SimTestBytes.h"
#include "sim/Simulator.h"

namespace fs = std::filesystem;
using simtest::Request;

namespace {

// The program's side of the line, reduced to what its port layer does.
class Port {
  public:
    explicit Port(const std::string& path, speed_t speed = B9600) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios tio{};
            tcgetattr(fd_, &tio);
            cfmakeraw(&tio);
            cfsetispeed(&tio, speed);
            cfsetospeed(&tio, speed);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Port() { Close(); }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    bool IsOpen() const { return fd_ >= 0; }
    ssize_t Send(const sim::Bytes& bytes) {
        tcflush(fd_, TCIFLUSH);
        return ::write(fd_, bytes.data(), bytes.size());
    }
    // -1 when the count cannot be had (device gone).
    int Queued() const {
        int n = 0;
        return ioctl(fd_, FIONREAD, &n) == 0 ? n : -1;
    }
    sim::Bytes Take() {
        sim::Bytes bytes(256);
        const ssize_t n = ::read(fd_, bytes.data(), bytes.size());
        bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return bytes;
    }

  private:
    int fd_ = -1;
};

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "vx52simXXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

class SimPty : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim.Open(&error)) << error;
        sim.instrument().SetNoise(false);
    }

    bool HasNote(const std::string& text) const {
        for (const sim::LogEntry& e : sim.log().entries()) {
            if (e.dir == sim::LogEntry::Dir::Note && e.text.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    sim::Simulator sim;
};

TEST_F(SimPty, ReplyIsQueuedForTheProgramWhenPumpReturns) {
    Port port(sim.SlavePath());
    ASSERT_TRUE(port.IsOpen());
    const sim::Bytes rte = Request("RTE*");
    // Many rounds: the hand-over inside the terminal is asynchronous, so a missing settle step
    // shows up as an occasional short count.
    for (int round = 0; round < 300; ++round) {
        ASSERT_EQ(port.Send(rte), 10);
        ASSERT_EQ(sim.Pump(), 1) << "round " << round;
        ASSERT_EQ(port.Queued(), 13) << "round " << round;
        const sim::Bytes reply = port.Take();
        ASSERT_EQ(reply.size(), 13u);
        EXPECT_EQ(simtest::At(reply, 4, 5), "RTE=0");
    }
    const std::vector<sim::Bytes> in = sim.log().Frames(sim::LogEntry::Dir::In);
    const std::vector<sim::Bytes> out = sim.log().Frames(sim::LogEntry::Dir::Out);
    ASSERT_EQ(in.size(), 300u);
    EXPECT_EQ(in.front(), rte);
    ASSERT_EQ(out.size(), 300u);
    EXPECT_EQ(out.front().size(), 13u);
}

TEST_F(SimPty, RequestSplitAcrossWritesIsAnsweredOnceWhole) {
    Port port(sim.SlavePath());
    const sim::Bytes rmo = Request("RMO*");
    ASSERT_EQ(port.Send(sim::Bytes(rmo.begin(), rmo.begin() + 4)), 4);
    EXPECT_EQ(sim.Pump(), 0);
    EXPECT_EQ(port.Queued(), 0);
    EXPECT_GE(sim.MillisUntilDue(), 0); // the stale-frame timer runs
    ASSERT_EQ(port.Send(sim::Bytes(rmo.begin() + 4, rmo.end())), 6);
    EXPECT_EQ(sim.Pump(), 1);
    EXPECT_EQ(port.Queued(), 20);
    EXPECT_EQ(sim.MillisUntilDue(), -1);
}

TEST_F(SimPty, LineSettingsOfTheProgramAreLogged) {
    Port port(sim.SlavePath(), B1200);
    port.Send(Request("RTE*"));
    sim.Pump();
    EXPECT_EQ(sim.Line().baud, 1200);
    EXPECT_TRUE(sim.Line().raw);
    EXPECT_TRUE(HasNote("line 1200 baud 8N1 raw"));
}

TEST_F(SimPty, LateReplyWaitsUntilDueOrReleased) {
    Port port(sim.SlavePath());
    EXPECT_EQ(sim.Command("late on 300", nullptr), "ok late 300 ms");
    port.Send(Request("RTE*"));
    EXPECT_EQ(sim.Pump(), 1);
    EXPECT_EQ(port.Queued(), 0);
    EXPECT_EQ(sim.HeldCount(), 1);
    const int due = sim.MillisUntilDue();
    EXPECT_GT(due, 0);
    EXPECT_LE(due, 301);
    EXPECT_EQ(sim.ReleaseHeld(), 1);
    EXPECT_EQ(port.Queued(), 13);
    EXPECT_EQ(sim.MillisUntilDue(), -1);
}

TEST_F(SimPty, ProgramClosingAndReopeningThePortLeavesNothingToSpinOn) {
    {
        Port port(sim.SlavePath());
        port.Send(Request("CST*"));
        sim.Pump();
    }
    pollfd p{sim.MasterFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "revents " << p.revents;

    Port again(sim.SlavePath());
    again.Send(Request("RTE*"));
    EXPECT_EQ(sim.Pump(), 1);
    const sim::Bytes reply = again.Take();
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[8], '2');
}

// A COM<N> already there may be the operator's link to a real port: never taken over, never
// removed, whatever it is.
TEST_F(SimPty, LinkTakesOnlyAFreeNameAndRemovesOnlyItsOwn) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path base = dir.path();
    fs::create_symlink("/dev/ttyUSB0", base / "COM1");
    fs::create_symlink("/dev/null/gone", base / "COM2");
    {
        std::FILE* f = std::fopen((base / "COM3").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    fs::create_directory(base / "COM4");
    const struct {
        int port;
        fs::file_type type;
        const char* target;
    } taken[] = {
        {1, fs::file_type::symlink, "/dev/ttyUSB0"},
        {2, fs::file_type::symlink, "/dev/null/gone"},
        {3, fs::file_type::regular, ""},
        {4, fs::file_type::directory, ""},
    };
    std::string error;
    for (const auto& t : taken) {
        const fs::path com = base / ("COM" + std::to_string(t.port));
        error.clear();
        EXPECT_FALSE(sim.Link(dir.path(), t.port, &error)) << com;
        EXPECT_NE(error.find(com.string() + " already exists"), std::string::npos) << error;
        EXPECT_EQ(fs::symlink_status(com).type(), t.type) << com;
        if (*t.target) {
            EXPECT_EQ(fs::read_symlink(com).string(), t.target) << com;
        }
        EXPECT_TRUE(sim.LinkPath().empty());
    }

    ASSERT_TRUE(sim.Link(dir.path(), 5, &error)) << error;
    const fs::path com5 = base / "COM5";
    EXPECT_EQ(fs::read_symlink(com5).string(), sim.SlavePath());
    // Someone puts their own link in its place while the simulator runs: it outlives us.
    fs::remove(com5);
    fs::create_symlink("/dev/ttyUSB1", com5);
    sim.Close();
    EXPECT_EQ(fs::read_symlink(com5).string(), "/dev/ttyUSB1");
    EXPECT_EQ(fs::symlink_status(base / "COM1").type(), fs::file_type::symlink);
}

TEST_F(SimPty, UnplugGivesTheProgramErrorsAndReplugComesBackUnderTheSameName) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(sim.Link(dir.path(), 2, &error)) << error;
    const fs::path com = fs::path(dir.path()) / "COM2";
    Port port(com.string());
    ASSERT_TRUE(port.IsOpen());

    EXPECT_EQ(sim.Command("unplug", nullptr), "ok unplugged");
    EXPECT_FALSE(sim.IsPlugged());
    EXPECT_FALSE(fs::exists(fs::symlink_status(com)));
    errno = 0;
    EXPECT_EQ(port.Send(Request("RTE*")), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(port.Queued(), -1);
    EXPECT_EQ(sim.Pump(), 0);
    EXPECT_EQ(sim.MillisUntilDue(), -1);
    EXPECT_EQ(sim.Command("unplug", nullptr).rfind("error", 0), 0u);

    EXPECT_EQ(sim.Command("replug", nullptr).rfind("ok plugged", 0), 0u);
    ASSERT_TRUE(fs::is_symlink(com));
    EXPECT_EQ(fs::read_symlink(com).string(), sim.SlavePath());
    port.Close();
    Port fresh(com.string());
    ASSERT_TRUE(fresh.IsOpen());
    fresh.Send(Request("RTE*"));
    EXPECT_EQ(sim.Pump(), 1);
    EXPECT_EQ(fresh.Queued(), 13);
    EXPECT_TRUE(HasNote("unplugged"));
}

TEST_F(SimPty, CommandsSetFaultsAndRejectNonsense) {
    const sim::Faults& f = sim.instrument().faults();
    EXPECT_EQ(sim.Command("  silence   on ", nullptr), "ok silence on");
    EXPECT_TRUE(f.silence);
    EXPECT_EQ(sim.Command("wrongaddr on", nullptr), "ok wrongaddr on");
    EXPECT_TRUE(f.wrongAddress);
    EXPECT_EQ(sim.Command("late on", nullptr), "ok late 400 ms");
    EXPECT_EQ(sim.Command("late off", nullptr), "ok late off");
    EXPECT_EQ(f.lateMs, 0);
    EXPECT_EQ(sim.Command("state 3", nullptr), "ok state 3");
    EXPECT_EQ(f.forcedState, '3');
    EXPECT_EQ(sim.Command("state normal", nullptr), "ok state normal");
    EXPECT_EQ(f.forcedState, 0);
    EXPECT_EQ(sim.Command("model VX12 ABC", nullptr), "ok model \"VX12 ABC\"");
    EXPECT_EQ(sim.Command("load 50 0.8", nullptr), "ok load 50.00 ohm pf 0.80");
    EXPECT_DOUBLE_EQ(sim.instrument().PowerFactor(), 0.8);
    EXPECT_EQ(sim.Command("load open", nullptr), "ok load open");
    EXPECT_DOUBLE_EQ(sim.instrument().LoadOhms(), 0.0);
    EXPECT_EQ(sim.Command("overload", nullptr), "ok overload");
    EXPECT_NE(sim.Status().find("alarm overload fault"), std::string::npos);

    for (const char* bad :
         {"silence", "silence maybe", "late on -5", "state 12", "load 0", "load 10 1.5", "load ten",
          "address 0", "address 256", "limit 0", "frobnicate", "status now"}) {
        EXPECT_EQ(sim.Command(bad, nullptr).rfind("error", 0), 0u) << bad;
    }
    EXPECT_EQ(sim.instrument().Address(), 1);
    EXPECT_DOUBLE_EQ(sim.instrument().CurrentLimit(), 20.0);

    bool quit = false;
    EXPECT_EQ(sim.Command("quit", &quit), "ok quit");
    EXPECT_TRUE(quit);
}

TEST_F(SimPty, LoadCommandCanTripARunningOutput) {
    Port port(sim.SlavePath());
    port.Send(Request("CST*"));
    sim.Pump();
    port.Take();
    EXPECT_EQ(sim.Command("load 5", nullptr), "ok load 5.00 ohm pf 1.00, alarm");
    port.Send(Request("RTE*"));
    sim.Pump();
    const sim::Bytes reply = port.Take();
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[8], '4');
    EXPECT_TRUE(HasNote("alarm: overcurrent"));
}

} // namespace
