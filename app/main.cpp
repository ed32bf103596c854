#include <cstdio>

#include "app/CommandLine.h"
#include "app/Shell.h"

int main(int argc, char* argv[]) {
    const int status = CommandLineRead(argc, argv, stdout, stderr);
    if (status != kCommandLineGoOn) {
        return status;
    }
    return AppMain(argc, argv);
}
