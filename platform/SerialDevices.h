// The serial devices present on this machine, for the operator to choose
// from, and the "COM<N>" names in the working folder that the RS-232 layer
// opens before its own default device.
#pragma once

#include <string>
#include <vector>

struct SerialDevice {
    std::string path;   // what a port name should lead to: the by-id name where there is one
    std::string label;  // what the operator sees: the kernel's name, then the by-id name
    std::string device; // the device file itself, every link resolved
};

// Lists, each device once: <root>/dev/serial/by-id/* (named after the adapter,
// so a link to it survives re-plugging), then the ttyUSB*, ttyACM* and ttyS*
// of <root>/dev that no by-id name covers, in number order. A ttyS with no
// UART behind it (its type in <root>/sys/class/tty says 0) is left out; one
// whose type cannot be read is listed. root nullptr means the environment's
// VX52_SYSTEM_ROOT, else "" (the machine itself); tests point it at a scratch
// tree. A folder that cannot be read lists nothing. Returns 0, or EINVAL
// without a list to fill.
int SerialListDevices(const char* root, std::vector<SerialDevice>* out);

// What "COM<port>" in the working folder is.
enum {
    SERIAL_NAME_ABSENT = 0,
    SERIAL_NAME_LINK = 1,  // a symbolic link, wherever it leads
    SERIAL_NAME_OTHER = 2, // a file, folder or device of its own
};
int SerialPortNameKind(int port);
// The device "COM<port>" stands for now: where the name leads (links
// followed), or the port's own serial device when there is no such name.
std::string SerialPortNameTarget(int port);

// Makes "COM<port>" in the working folder a symbolic link to target, put in
// place in one step so the name never goes missing. A link there is replaced;
// anything else only with replaceOther (an empty folder is removed first).
// 0 on success, else the errno: EEXIST when something other than a link is
// in the way and replaceOther is 0.
int SerialLinkPortName(int port, const char* target, int replaceOther);
