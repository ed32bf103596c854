// The command line, read before anything else starts.
#pragma once

#include <cstdio>
#include <string>

// Returned by CommandLineRead when start-up goes on.
constexpr int kCommandLineGoOn = -1;

// Reads the options: long options ("--name VALUE" or "--name=VALUE") are the
// program's own; every other argument is left to the toolkit, which takes its
// own ("-platform ...") and ignores the rest. Returns kCommandLineGoOn, or 255
// after one line on err about a wrong option.
int CommandLineRead(int argc, char* argv[], std::FILE* out, std::FILE* err);

// --log FILE: the data log to start with; empty when not given.
const std::string& CommandLineLogFile();
