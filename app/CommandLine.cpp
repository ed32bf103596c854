// The options table: a new option is one row and, when it takes effect later
// in start-up, a global its action fills. The manual page lists every option.
#include "app/CommandLine.h"

#include <cstring>
#include <string>

#include "remote/RemoteServer.h"

#ifndef VX52_VERSION
#error "VX52_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace {

std::string gLogFile;
CommandLineRemote gRemote;

struct CommandLineOption {
    const char* name;      // with its leading "--"
    const char* valueName; // nullptr when the option takes no value
    const char* help;
    // Returns kCommandLineGoOn, or the status to end with after a line on err.
    int (*apply)(const char* value, std::FILE* out, std::FILE* err);
};

int PrintHelp(const char*, std::FILE* out, std::FILE*);
int Refuse(std::FILE* err, const std::string& what);

int TakeLogFile(const char* value, std::FILE*, std::FILE*) {
    gLogFile = value;
    return kCommandLineGoOn;
}

int TakeRemote(const char* value, std::FILE*, std::FILE* err) {
    std::string address;
    int port = 0;
    if (const int failure = RemoteParseListen(value, &address, &port)) {
        return Refuse(err, "--remote " + std::string(value) + ": " + RemoteFailureText(failure));
    }
    gRemote = {1, address, port};
    return kCommandLineGoOn;
}

int PrintVersion(const char*, std::FILE* out, std::FILE*) {
    std::fprintf(out, "Vx52PSoft %s\n", AppVersionText());
    return 0;
}

constexpr CommandLineOption kOptions[] = {
    {"--help", nullptr, "print this help and exit", PrintHelp},
    {"--version", nullptr, "print the version and exit", PrintVersion},
    {"--log", "FILE", "append a data log (CSV) to FILE from start-up on", TakeLogFile},
    {"--remote", "[ADDR:]PORT",
     "accept remote-control clients on PORT (address 127.0.0.1 unless given)", TakeRemote},
};

int PrintHelp(const char*, std::FILE* out, std::FILE*) {
    std::fprintf(out, "Usage: vx52psoft [OPTION]...\n"
                      "Control program for a programmable AC power source on an RS-232 line.\n\n");
    for (const CommandLineOption& option : kOptions) {
        std::string left = option.name;
        if (option.valueName) {
            left += std::string(" ") + option.valueName;
        }
        std::fprintf(out, "  %-20s %s\n", left.c_str(), option.help);
    }
    return 0;
}

// Start-up failures end with 255 and one line, as the program's others do.
int Refuse(std::FILE* err, const std::string& what) {
    std::fprintf(err, "Vx52PSoft: %s (see --help)\n", what.c_str());
    return 255;
}

} // namespace

const char* AppVersionText() {
    return VX52_VERSION;
}

int CommandLineRead(int argc, char* argv[], std::FILE* out, std::FILE* err) {
    gLogFile.clear();
    gRemote = CommandLineRemote{};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            break;
        }
        if (arg.rfind("--", 0) != 0) {
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const CommandLineOption* option = nullptr;
        for (const CommandLineOption& candidate : kOptions) {
            if (name == candidate.name) {
                option = &candidate;
            }
        }
        if (!option) {
            return Refuse(err, "unknown option " + name);
        }
        std::string value;
        if (!option->valueName && equals != std::string::npos) {
            return Refuse(err, "option " + name + " takes no value");
        }
        if (option->valueName) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return Refuse(err, "option " + name + " needs " + option->valueName);
            }
            if (value.empty()) {
                return Refuse(err, "option " + name + " needs " + option->valueName);
            }
        }
        const int status = option->apply(value.c_str(), out, err);
        if (status != kCommandLineGoOn) {
            return status;
        }
    }
    return kCommandLineGoOn;
}

const std::string& CommandLineLogFile() {
    return gLogFile;
}

const CommandLineRemote& CommandLineRemoteServer() {
    return gRemote;
}
