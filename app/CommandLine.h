// The command line, read before anything else starts.
#pragma once

#include <cstdio>
#include <string>

#include "sequence/Runner.h"

// Returned by CommandLineRead when start-up goes on.
constexpr int kCommandLineGoOn = -1;

// Reads the options: long options ("--name", "--name VALUE" or "--name=VALUE")
// are the program's own; every other argument is left to the toolkit, which
// takes its own ("-platform ...") and ignores the rest. Returns
// kCommandLineGoOn, or the status the process ends with: 0 after --help or
// --version (printed to out), 255 after a line on err about a wrong option.
int CommandLineRead(int argc, char* argv[], std::FILE* out, std::FILE* err);

// The program's version, "1.0", as --version and the about box show it.
const char* AppVersionText();

// --log FILE: the data log to start with; empty when not given.
const std::string& CommandLineLogFile();

// --remote [ADDR:]PORT: the remote-control server to start, whatever "Set.Dat" says.
struct CommandLineRemote {
    int given = 0;
    std::string address;
    int port = 0;
};
const CommandLineRemote& CommandLineRemoteServer();

// --sequence FILE and the run settings with it: the run to start once the
// link is up, and --exit-when-done to end the program after its report.
struct CommandLineSequence {
    int given = 0;
    std::string path;
    SeqSettings settings;
    std::string reportFolder; // --report DIR; empty: beside the profile
    int exitWhenDone = 0;
};
const CommandLineSequence& CommandLineSequenceRun();

// --headless: no window; --quiet: no state lines on standard output.
int CommandLineHeadless();
int CommandLineQuiet();
// --no-reconnect: no retrying after a loss in this run, whatever "Set.Dat" says.
int CommandLineNoReconnect();
// --workdir DIR is taken at once: the process changes into DIR before
// anything reads a file.
