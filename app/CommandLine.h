// The command line, read before anything else starts.
#pragma once

#include <cstdio>
#include <string>

// Returned by CommandLineRead when start-up goes on.
constexpr int kCommandLineGoOn = -1;

// Reads the options: long options ("--name VALUE" or "--name=VALUE") are the
// program's own; every other argument is left to the toolkit. Returns
// kCommandLineGoOn, or the status the process ends with: 255 after one line on
// err about a wrong option or value.
int CommandLineRead(int argc, char* argv[], std::FILE* out, std::FILE* err);

// --remote [ADDR:]PORT: the remote-control server to start, whatever "Set.Dat" says.
struct CommandLineRemote {
    int given = 0;
    std::string address;
    int port = 0;
};
extern CommandLineRemote gCommandLineRemote;
