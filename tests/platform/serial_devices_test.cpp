// Serial devices listed from a scratch tree laid out like /dev and /sys, and
// "COM<N>" made a link to one without ever losing something else of that name.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "platform/SerialDevices.h"

namespace fs = std::filesystem;
using vx52test::ScratchDir;

namespace {

void Write(const std::string& path, const std::string& text = "") {
    if (fs::path(path).has_parent_path()) {
        fs::create_directories(fs::path(path).parent_path());
    }
    ScratchDir::WriteFile(path, text);
}

TEST(SerialDevices, ByIdFirstThenEachFamilyInNumberOrderEachDeviceOnce) {
    ScratchDir dir(false);
    const std::string root = dir.path();
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS0",
                             "ttyS1", "ttyS2", "ttyS10", "tty1", "ttyUSB0.lock", "ttySX"}) {
        Write(root + "/dev/" + name);
    }
    Write(root + "/sys/class/tty/ttyS0/type", "4\n");
    Write(root + "/sys/class/tty/ttyS1/type", "0\n"); // no UART behind it; ttyS2 does not say
    Write(root + "/sys/class/tty/ttyS10/type", "4\n");
    fs::create_directories(root + "/dev/serial/by-id");
    fs::create_symlink("../../ttyUSB1", root + "/dev/serial/by-id/usb-FTDI_A1-if00-port0");
    fs::create_symlink("../../ttyACM0", root + "/dev/serial/by-id/usb-Arduino_B2-if00");
    fs::create_symlink("../../ttyUSB9", root + "/dev/serial/by-id/usb-Gone-if00-port0");

    std::vector<SerialDevice> devices;
    setenv("VX52_SYSTEM_ROOT", root.c_str(), 1);
    SerialListDevices(nullptr, &devices);
    unsetenv("VX52_SYSTEM_ROOT");
    std::string listed;
    for (const SerialDevice& d : devices) {
        listed += d.path.substr(root.size()) + " = " + d.label + "\n";
    }
    EXPECT_EQ("/dev/serial/by-id/usb-FTDI_A1-if00-port0 = ttyUSB1  (usb-FTDI_A1-if00-port0)\n"
              "/dev/serial/by-id/usb-Arduino_B2-if00 = ttyACM0  (usb-Arduino_B2-if00)\n"
              "/dev/ttyUSB0 = ttyUSB0\n/dev/ttyUSB2 = ttyUSB2\n/dev/ttyUSB10 = ttyUSB10\n"
              "/dev/ttyS0 = ttyS0\n/dev/ttyS2 = ttyS2\n/dev/ttyS10 = ttyS10\n",
              listed);
}

TEST(SerialDevices, PortNameBecomesALinkOnlyWhereNothingElseIsLost) {
    ScratchDir dir(false);
    enum Before { ABSENT, LINK, FILE, EMPTY_DIR, FULL_DIR };
    const struct {
        Before before;
        int replaceOther, kind, result;
    } cases[] = {
        {ABSENT, 0, SERIAL_NAME_ABSENT, 0},           {LINK, 0, SERIAL_NAME_LINK, 0},
        {FILE, 0, SERIAL_NAME_OTHER, EEXIST},        {FILE, 1, SERIAL_NAME_OTHER, 0},
        {EMPTY_DIR, 0, SERIAL_NAME_OTHER, EEXIST},   {EMPTY_DIR, 1, SERIAL_NAME_OTHER, 0},
        {FULL_DIR, 1, SERIAL_NAME_OTHER, ENOTEMPTY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.before) + " replace " + std::to_string(c.replaceOther));
        fs::remove_all("COM3");
        if (c.before == LINK) {
            fs::create_symlink("/dev/pts/99", "COM3");
        } else if (c.before == FILE) {
            Write("COM3", "the operator's notes");
        } else if (c.before != ABSENT) {
            fs::create_directory("COM3");
            if (c.before == FULL_DIR) {
                Write("COM3/kept");
            }
        }
        EXPECT_EQ(c.kind, SerialPortNameKind(3));
        EXPECT_EQ(c.result, SerialLinkPortName(3, "/dev/ttyUSB0", c.replaceOther));
        if (c.result == 0) {
            EXPECT_EQ("/dev/ttyUSB0", fs::read_symlink("COM3").string());
        } else {
            EXPECT_EQ(c.before == FILE ? "the operator's notes" : "",
                      fs::is_directory("COM3") ? "" : ScratchDir::ReadFile("COM3"));
        }
        // Nothing of the work is left behind.
        EXPECT_EQ(1, std::distance(fs::directory_iterator("."), fs::directory_iterator()));
    }
}

} // namespace
