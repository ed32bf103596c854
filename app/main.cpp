#include "app/CommandLine.h"
#include "app/Shell.h"
#include "platform/System.h"

#include <cstdio>

int main(int argc, char* argv[]) {
    const int status = CommandLineRead(argc, argv, stdout, stderr);
    if (status != kCommandLineGoOn) {
        return status;
    }
    // Desktops find the program's menu entry, and so its name and icon, by this.
    SysSetDesktopEntryName("vx52psoft");
    return AppMain(argc, argv);
}
