// The options table: a new option is one row, and a global its action fills
// for start-up to act on later.
#include "app/CommandLine.h"

#include "remote/RemoteServer.h"

CommandLineRemote gCommandLineRemote;

namespace {

struct CommandLineOption {
    const char* name;      // with its leading "--"
    const char* valueName; // nullptr when the option takes no value
    // Returns kCommandLineGoOn, or the status to end with after saying why on err.
    int (*apply)(const char* value, std::FILE* err);
};

// Start-up failures end with 255 and one line, as the program's others do.
int Refuse(std::FILE* err, const std::string& what) {
    std::fprintf(err, "Vx52PSoft: %s\n", what.c_str());
    return 255;
}

int ApplyRemote(const char* value, std::FILE* err) {
    std::string address;
    int port = 0;
    std::string why;
    if (!RemoteParseListen(value, &address, &port, &why)) {
        return Refuse(err, "--remote " + std::string(value) + ": " + why);
    }
    gCommandLineRemote = {1, address, port};
    return kCommandLineGoOn;
}

constexpr CommandLineOption kOptions[] = {
    {"--remote", "[ADDR:]PORT", ApplyRemote},
};

} // namespace

int CommandLineRead(int argc, char* argv[], std::FILE*, std::FILE* err) {
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
        }
        const int status = option->apply(value.c_str(), err);
        if (status != kCommandLineGoOn) {
            return status;
        }
    }
    return kCommandLineGoOn;
}
