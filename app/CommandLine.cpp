// The options table: a new option is one row and, when it takes effect later
// in start-up, a global its action fills. The manual page lists every option.
#include "app/CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "power/SourceLimits.h"
#include "remote/RemoteServer.h"

#ifndef VX52_VERSION
#error "VX52_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace {

std::string gLogFile;
CommandLineRemote gRemote;
int gHeadless = 0;
int gQuiet = 0;
int gNoReconnect = 0;
CommandLineSequence gSequence;
// A run setting given without --sequence has nothing to set.
const char* gRunOptionAlone = nullptr;

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

int TakeHeadless(const char*, std::FILE*, std::FILE*) {
    gHeadless = 1;
    return kCommandLineGoOn;
}

int TakeQuiet(const char*, std::FILE*, std::FILE*) {
    gQuiet = 1;
    return kCommandLineGoOn;
}

int TakeNoReconnect(const char*, std::FILE*, std::FILE*) {
    gNoReconnect = 1;
    return kCommandLineGoOn;
}

// Everything the program writes goes into this folder, so a folder it could
// not write in is refused before anything starts.
int TakeWorkdir(const char* value, std::FILE*, std::FILE* err) {
    struct stat st {};
    const char* why = nullptr;
    if (stat(value, &st) != 0) {
        why = std::strerror(errno);
    } else if (!S_ISDIR(st.st_mode)) {
        why = "not a folder";
    } else if (faccessat(AT_FDCWD, value, W_OK | X_OK, AT_EACCESS) != 0) {
        why = errno == EROFS ? std::strerror(errno) : "no write access";
    } else if (chdir(value) != 0) {
        why = std::strerror(errno);
    }
    if (why == nullptr) {
        return kCommandLineGoOn;
    }
    std::fprintf(err, "Vx52PSoft: cannot work in %s: %s\n", value, why);
    return 255;
}

int TakeSequence(const char* value, std::FILE*, std::FILE*) {
    gSequence.given = 1;
    gSequence.path = value;
    return kCommandLineGoOn;
}

// One of the words given (any case), as its index; -1 when it is none of them.
int Word(const char* value, std::initializer_list<const char*> words) {
    int i = 0;
    for (const char* w : words) {
        if (strcasecmp(value, w) == 0) {
            return i;
        }
        ++i;
    }
    return -1;
}

int TakeRepeat(const char* value, std::FILE*, std::FILE* err) {
    char* end = nullptr;
    const long n = std::strtol(value, &end, 10);
    if (*end != '\0' || n < 0 || n > SEQ_MAX_REPEAT) {
        return Refuse(err, "--repeat " + std::string(value) + ": a count of 0 to " +
                               std::to_string(SEQ_MAX_REPEAT) + " (0: until stopped)");
    }
    gSequence.settings.repeat = static_cast<int>(n);
    gRunOptionAlone = "--repeat";
    return kCommandLineGoOn;
}

int TakeRange(const char* value, std::FILE*, std::FILE* err) {
    const int w = Word(value, {"AUTO", "HIGH"});
    if (w < 0) {
        return Refuse(err, "--range " + std::string(value) + ": AUTO or HIGH");
    }
    gSequence.settings.range = w == 0 ? SOURCE_RANGE_AUTO : SOURCE_RANGE_HIGH;
    gRunOptionAlone = "--range";
    return kCommandLineGoOn;
}

int TakeOnFail(const char* value, std::FILE*, std::FILE* err) {
    const int w = Word(value, {"stop", "continue"});
    if (w < 0) {
        return Refuse(err, "--on-fail " + std::string(value) + ": stop or continue");
    }
    gSequence.settings.onFailContinue = w;
    gRunOptionAlone = "--on-fail";
    return kCommandLineGoOn;
}

int TakeEnd(const char* value, std::FILE*, std::FILE* err) {
    const int w = Word(value, {"off", "hold"});
    if (w < 0) {
        return Refuse(err, "--end " + std::string(value) + ": off or hold");
    }
    gSequence.settings.endHold = w;
    gRunOptionAlone = "--end";
    return kCommandLineGoOn;
}

int TakeReport(const char* value, std::FILE*, std::FILE*) {
    gSequence.reportFolder = value;
    gRunOptionAlone = "--report";
    return kCommandLineGoOn;
}

int TakeExitWhenDone(const char*, std::FILE*, std::FILE*) {
    gSequence.exitWhenDone = 1;
    gRunOptionAlone = "--exit-when-done";
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
    {"--headless", nullptr,
     "run without a window or display; messages go to standard error, the state to standard "
     "output",
     TakeHeadless},
    {"--quiet", nullptr, "with --headless, print no state lines", TakeQuiet},
    {"--no-reconnect", nullptr, "do not connect again by itself after the link is lost",
     TakeNoReconnect},
    {"--workdir", "DIR", "work in folder DIR (settings, logs, COM<N> links) instead of here",
     TakeWorkdir},
    {"--sequence", "FILE", "run the test profile FILE (CSV) as soon as the link is up",
     TakeSequence},
    {"--repeat", "N", "run the profile N times (1-9999, 0 until stopped; default 1)", TakeRepeat},
    {"--range", "AUTO|HIGH", "set this range before the start (default: the range in force)",
     TakeRange},
    {"--on-fail", "stop|continue", "on a failed limit stop the run (default) or go on", TakeOnFail},
    {"--end", "off|hold", "at the end switch the output off (default) or hold the last step",
     TakeEnd},
    {"--report", "DIR", "write the run's report into DIR (default: beside the profile)",
     TakeReport},
    {"--exit-when-done", nullptr,
     "end after the report: status 0 PASS, 1 FAIL, 2 ABORTED, INTERRUPTED or no link in 10 s, "
     "255 profile not loadable",
     TakeExitWhenDone},
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
    gHeadless = 0;
    gQuiet = 0;
    gNoReconnect = 0;
    gSequence = CommandLineSequence{};
    gRunOptionAlone = nullptr;
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
    if (gRunOptionAlone && gSequence.given == 0) {
        return Refuse(err, std::string("option ") + gRunOptionAlone + " needs --sequence FILE");
    }
    return kCommandLineGoOn;
}

const std::string& CommandLineLogFile() {
    return gLogFile;
}

const CommandLineRemote& CommandLineRemoteServer() {
    return gRemote;
}

int CommandLineHeadless() {
    return gHeadless;
}

int CommandLineQuiet() {
    return gQuiet;
}

int CommandLineNoReconnect() {
    return gNoReconnect;
}

const CommandLineSequence& CommandLineSequenceRun() {
    return gSequence;
}
