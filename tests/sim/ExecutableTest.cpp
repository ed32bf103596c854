// The vx52-sim program as the end-to-end tests and the README use it: a separate process with a
// COM link, a control FIFO, commands on stdin and a frame log file.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "SimTestBytes.h"

namespace fs = std::filesystem;
using simtest::Bytes;
using simtest::Request;

namespace {

fs::path SimulatorBinary() {
    if (const char* dir = std::getenv("VX52_BIN_DIR")) {
        return fs::path(dir) / "vx52-sim";
    }
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return self.parent_path().parent_path() / "bin" / "vx52-sim";
}

class Process {
  public:
    bool Start(const std::vector<std::string>& args) {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0) {
            return false;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            close(in[1]);
            close(out[0]);
            std::vector<char*> argv;
            for (const std::string& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        return pid_ > 0;
    }
    ~Process() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (stdin_ >= 0) {
            close(stdin_);
        }
        if (stdout_ >= 0) {
            close(stdout_);
        }
    }
    void Say(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // The next line the simulator prints, or "<timeout>".
    std::string Line(int timeoutMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t at = buffered_.find('\n');
            if (at != std::string::npos) {
                std::string line = buffered_.substr(0, at);
                buffered_.erase(0, at + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{stdout_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
                return "<timeout>";
            }
            char chunk[256];
            const ssize_t n = read(stdout_, chunk, sizeof chunk);
            if (n <= 0) {
                return "<closed>";
            }
            buffered_.append(chunk, static_cast<size_t>(n));
        }
    }
    // Exit status after SIGTERM, or -1 if it did not end within the time.
    int Terminate(int timeoutMs = 5000) {
        kill(pid_, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            }
            poll(nullptr, 0, 10);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string buffered_;
};

int OpenPort(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        cfsetspeed(&tio, B2400);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// One exchange with a simulator in another process: the reply, once `want` bytes are in.
Bytes Exchange(int fd, const Bytes& request, size_t want) {
    tcflush(fd, TCIFLUSH);
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        return {};
    }
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            uint8_t chunk[64];
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), chunk, chunk + n);
        }
    }
    return got;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path FreshDir() {
    std::string pattern = (fs::temp_directory_path() / "vx52simexeXXXXXX").string();
    return mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
}

TEST(SimExecutable, ServesALinkedPortTakesCommandsAndCleansUp) {
    const fs::path binary = SimulatorBinary();
    if (!fs::exists(binary)) {
        GTEST_SKIP() << binary << " is not built";
    }
    const fs::path dir = FreshDir();
    ASSERT_FALSE(dir.empty());
    const fs::path com = dir / "COM7";
    const fs::path fifo = dir / "ctl";
    const fs::path log = dir / "sim.log";

    Process sim;
    ASSERT_TRUE(sim.Start({binary.string(), "--dir", dir.string(), "--port", "7", "--address", "3",
                           "--control", fifo.string(), "--log", log.string(), "--no-noise"}));
    const std::string ready = sim.Line();
    ASSERT_EQ(ready.rfind("ready /dev/", 0), 0u) << ready;
    EXPECT_NE(ready.find(com.string()), std::string::npos) << ready;
    ASSERT_TRUE(fs::is_symlink(com));

    int fd = OpenPort(com.string());
    ASSERT_GE(fd, 0);
    const Bytes model = Exchange(fd, Request("RMO*", "", 3), 20);
    ASSERT_EQ(model.size(), 20u);
    EXPECT_EQ(simtest::At(model, 3, 13), std::string("\x03RMO=VX52300P", 13));
    // Another instrument's request: the log below must show it ignored.
    const Bytes forOther = Request("RMO*", "", 1);
    ASSERT_EQ(write(fd, forOther.data(), forOther.size()), 10);

    {
        std::ofstream control(fifo);
        control << "state 4" << std::endl;
    }
    EXPECT_EQ(sim.Line(), "ok state 4");
    const Bytes state = Exchange(fd, Request("RTE*", "", 3), 13);
    ASSERT_EQ(state.size(), 13u);
    EXPECT_EQ(state[8], '4');

    sim.Say("unplug");
    EXPECT_EQ(sim.Line(), "ok unplugged");
    EXPECT_FALSE(fs::exists(fs::symlink_status(com)));
    errno = 0;
    EXPECT_EQ(write(fd, "{", 1), -1);
    EXPECT_EQ(errno, EIO);
    close(fd);

    sim.Say("replug");
    EXPECT_EQ(sim.Line().rfind("ok plugged", 0), 0u);
    EXPECT_EQ(sim.Line().rfind("ready /dev/", 0), 0u);
    fd = OpenPort(com.string());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, Request("RTE*", "", 3), 13).size(), 13u);
    close(fd);

    EXPECT_EQ(sim.Terminate(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(com)));
    EXPECT_FALSE(fs::exists(fifo));
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find(" RX  7B 07 00 03 52 4D 4F 2A 22 7D  | {...RMO*\"}"), std::string::npos)
        << text;
    EXPECT_NE(text.find(" TX  7B 11 00 03 52 4D 4F 3D 56 58"), std::string::npos);
    EXPECT_NE(text.find("ignored, for address 1"), std::string::npos);
    EXPECT_NE(text.find("line 2400 baud 8N1 raw"), std::string::npos);
    EXPECT_NE(text.find("ended"), std::string::npos);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

// Started beside the operator's own COM link, the program says why it will not run and leaves it.
TEST(SimExecutable, RefusesANameThatIsTaken) {
    const fs::path binary = SimulatorBinary();
    if (!fs::exists(binary)) {
        GTEST_SKIP() << binary << " is not built";
    }
    const fs::path dir = FreshDir();
    ASSERT_FALSE(dir.empty());
    fs::create_symlink("/dev/ttyUSB0", dir / "COM3");
    // timeout ends a simulator that wrongly goes on running.
    const std::string command =
        "timeout 5 " + binary.string() + " --dir " + dir.string() + " --port 3 </dev/null 2>&1";
    std::FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, out)) {
        text += chunk;
    }
    const int status = pclose(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(text.find("vx52-sim: " + (dir / "COM3").string() + " already exists"),
              std::string::npos)
        << text;
    EXPECT_EQ(fs::read_symlink(dir / "COM3").string(), "/dev/ttyUSB0");
    std::error_code ec;
    fs::remove_all(dir, ec);
}

} // namespace
