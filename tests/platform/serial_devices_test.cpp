// Serial devices listed from a scratch tree laid out like /dev and /sys, and
// "COM<N>" made a link to one without ever losing something else of that name.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "UiTestSupport.h"
#include "platform/SerialDevices.h"

namespace fs = std::filesystem;
using vx52test::ScratchDir;

namespace {

class SerialDevicesTest : public ::testing::Test {
  protected:
    ScratchDir dir_{false};

    static void Write(const std::string& path, const std::string& text = "") {
        fs::create_directories(fs::path(path).parent_path());
        ScratchDir::WriteFile(path, text);
    }
    static void Link(const std::string& path, const std::string& target) {
        fs::create_directories(fs::path(path).parent_path());
        fs::create_symlink(target, path);
    }
};

TEST_F(SerialDevicesTest, ListsByIdFirstThenEachFamilyInNumberOrderOnce) {
    const std::string root = dir_.path() + "/sys-root";
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS0",
                             "ttyS1", "ttyS2", "ttyS10", "tty1", "ttyUSB0.lock", "ttySX"}) {
        Write(root + "/dev/" + name);
    }
    // The on-board ports: 1 has no UART, 2 says nothing about itself.
    Write(root + "/sys/class/tty/ttyS0/type", "4\n");
    Write(root + "/sys/class/tty/ttyS1/type", "0\n");
    Write(root + "/sys/class/tty/ttyS10/type", "4\n");
    Link(root + "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0", "../../ttyUSB1");
    Link(root + "/dev/serial/by-id/usb-Prolific_PL2303-if00-port0", "../../ttyACM0");
    Link(root + "/dev/serial/by-id/usb-Gone-if00-port0", "../../ttyUSB9"); // unplugged

    std::vector<SerialDevice> devices;
    ASSERT_EQ(8, SerialListDevices(root.c_str(), &devices));
    std::vector<std::string> paths, labels;
    for (const SerialDevice& d : devices) {
        paths.push_back(d.path.substr(root.size()));
        labels.push_back(d.label);
    }
    EXPECT_EQ((std::vector<std::string>{"/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0",
                                        "/dev/serial/by-id/usb-Prolific_PL2303-if00-port0",
                                        "/dev/ttyUSB0", "/dev/ttyUSB2", "/dev/ttyUSB10",
                                        "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10"}),
              paths);
    EXPECT_EQ("ttyUSB1  (usb-FTDI_FT232R_A1-if00-port0)", labels[0]);
    EXPECT_EQ("ttyUSB0", labels[2]);
    EXPECT_EQ(fs::canonical(root + "/dev/ttyUSB1").string(), devices[0].device);

    // The program's own calls look where the environment says.
    setenv("VX52_SYSTEM_ROOT", root.c_str(), 1);
    std::vector<SerialDevice> again;
    EXPECT_EQ(8, SerialListDevices(nullptr, &again));
    unsetenv("VX52_SYSTEM_ROOT");
    EXPECT_EQ(0, SerialListDevices((dir_.path() + "/empty").c_str(), &again));
}

TEST_F(SerialDevicesTest, PortNameBecomesALinkOnlyWhereNothingElseIsLost) {
    enum Before { ABSENT, LINK, FILE, EMPTY_DIR, FULL_DIR };
    const struct {
        Before before;
        int replaceOther;
        int result;
    } cases[] = {
        {ABSENT, 0, 0},          {LINK, 0, 0},      {FILE, 0, -EEXIST},        {FILE, 1, 0},
        {EMPTY_DIR, 0, -EEXIST}, {EMPTY_DIR, 1, 0}, {FULL_DIR, 1, -ENOTEMPTY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.before) + " replace " + std::to_string(c.replaceOther));
        fs::remove_all("COM3");
        switch (c.before) {
        case ABSENT:
            break;
        case LINK:
            fs::create_symlink("/dev/pts/99", "COM3");
            break;
        case FILE:
            ScratchDir::WriteFile("COM3", "the operator's notes");
            break;
        case EMPTY_DIR:
            fs::create_directory("COM3");
            break;
        case FULL_DIR:
            Write("COM3/kept");
            break;
        }
        const int expectedKind = c.before == ABSENT ? SERIAL_NAME_ABSENT
                                 : c.before == LINK ? SERIAL_NAME_LINK
                                                    : SERIAL_NAME_OTHER;
        EXPECT_EQ(expectedKind, SerialPortNameKind(3));
        EXPECT_EQ(c.result, SerialLinkPortName(3, "/dev/ttyUSB0", c.replaceOther));
        if (c.result == 0) {
            EXPECT_EQ("/dev/ttyUSB0", fs::read_symlink("COM3").string());
        } else if (c.before == FILE) {
            EXPECT_EQ("the operator's notes", ScratchDir::ReadFile("COM3"));
        } else {
            EXPECT_TRUE(fs::is_directory("COM3"));
        }
        // Nothing of the work is left behind.
        size_t entries = 0;
        for (const auto& e : fs::directory_iterator(".")) {
            entries += e.path().filename() != "COM3";
        }
        EXPECT_EQ(0u, entries);
    }
}

} // namespace
