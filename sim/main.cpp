// vx52-sim: the simulated power source as a program of its own. It serves one pseudo-terminal,
// linked as COM<N> so the control program finds it like a serial port, and takes run-time
// commands on stdin and on an optional control FIFO.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "sim/Simulator.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void OnSignal(int signo) {
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(signo);
    [[maybe_unused]] ssize_t n = write(gSignalPipe[1], &b, 1);
    errno = saved;
}

const char* kUsage =
    "Usage: vx52-sim [options]\n"
    "A simulated programmable AC power source on a pseudo-terminal.\n"
    "\n"
    "Options:\n"
    "  --dir DIR           folder for the COM link (default: the current folder)\n"
    "  --port N            link DIR/COM<N> to the terminal, removed again on exit; refuses\n"
    "                      when DIR/COM<N> exists already; without it only the terminal's\n"
    "                      path is printed\n"
    "  --address A         instrument address, 1..255 (default 1)\n"
    "  --model NAME        model name, 8 characters (default VX52300P)\n"
    "  --load OHMS         load impedance in ohms, or \"open\" (default 100)\n"
    "  --pf PF             power factor of the load, 0 < PF <= 1 (default 1)\n"
    "  --limit AMPS        output current at which the source trips (default 20)\n"
    "  --no-noise          exact measured values\n"
    "  --seed N            seed of the measurement noise\n"
    "  --log FILE          frame log (default: stderr)\n"
    "  --control PATH      also read commands from this FIFO (made if missing, removed on\n"
    "                      exit if made here); e.g. echo \"silence on\" > PATH\n"
    "  -h, --help          this text\n"
    "\n"
    "Once ready it prints one line to stdout:  ready <terminal> [<link>]\n"
    "Answers to commands also go to stdout. The end of stdin does not end the simulator\n"
    "(run it with </dev/null in the background); quit or a signal does.\n"
    "\n"
    "Commands (stdin or the control FIFO, one per line):\n";

const char* kLogHelp =
    "\n"
    "Frame log, one line per event:\n"
    "  YYYY-MM-DD HH:MM:SS.mmm RX  7B 07 00 01 52 54 45 2A 1D 7D  | {...RTE*.}  state 0\n"
    "  RX = bytes received from the program, TX = bytes sent to it, -- = a note.\n"
    "\n"
    "SIGINT, SIGTERM and SIGHUP end it cleanly and remove the link.\n";

// Lines of text from one descriptor, split as they arrive.
struct LineReader {
    int fd = -1;
    std::string pending;

    // Reads what is there; false on end of file or an error.
    bool Fill(std::vector<std::string>* lines) {
        char buffer[512];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        if (n > 0) {
            pending.append(buffer, static_cast<size_t>(n));
        }
        size_t at;
        while ((at = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, at);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines->push_back(line);
            pending.erase(0, at + 1);
        }
        return true;
    }
};

bool ParseNumber(const char* text, double* out) {
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end != text && *end == '\0';
}

void Answer(const std::string& text) {
    if (text.empty()) {
        return;
    }
    std::fputs(text.c_str(), stdout);
    if (text.back() != '\n') {
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    std::string dir = ".";
    int port = 0;
    long address = 1;
    std::string model;
    std::string logPath;
    std::string controlPath;
    double load = 100.0;
    double pf = 1.0;
    double limit = 20.0;
    bool noise = true;
    long seed = -1;

    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vx52-sim: %s needs a value\n", opt.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        double number = 0;
        if (opt == "-h" || opt == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(sim::Simulator::CommandHelp().c_str(), stdout);
            std::fputs(kLogHelp, stdout);
            return 0;
        } else if (opt == "--dir") {
            dir = value();
        } else if (opt == "--port") {
            if (!ParseNumber(value(), &number) || number < 1 || number > 255 ||
                number != static_cast<int>(number)) {
                std::fprintf(stderr, "vx52-sim: --port takes a whole number 1..255\n");
                return 2;
            }
            port = static_cast<int>(number);
        } else if (opt == "--address") {
            if (!ParseNumber(value(), &number) || number < 1 || number > 255 ||
                number != static_cast<int>(number)) {
                std::fprintf(stderr, "vx52-sim: --address takes a whole number 1..255\n");
                return 2;
            }
            address = static_cast<long>(number);
        } else if (opt == "--model") {
            model = value();
        } else if (opt == "--load") {
            const std::string text = value();
            if (text == "open") {
                load = 0;
            } else if (!ParseNumber(text.c_str(), &load) || load <= 0) {
                std::fprintf(stderr, "vx52-sim: --load takes ohms > 0 or open\n");
                return 2;
            }
        } else if (opt == "--pf") {
            if (!ParseNumber(value(), &pf) || pf <= 0 || pf > 1) {
                std::fprintf(stderr, "vx52-sim: --pf takes 0 < PF <= 1\n");
                return 2;
            }
        } else if (opt == "--limit") {
            if (!ParseNumber(value(), &limit) || limit <= 0) {
                std::fprintf(stderr, "vx52-sim: --limit takes amperes > 0\n");
                return 2;
            }
        } else if (opt == "--no-noise") {
            noise = false;
        } else if (opt == "--seed") {
            if (!ParseNumber(value(), &number) || number < 0) {
                std::fprintf(stderr, "vx52-sim: --seed takes a number >= 0\n");
                return 2;
            }
            seed = static_cast<long>(number);
        } else if (opt == "--log") {
            logPath = value();
        } else if (opt == "--control") {
            controlPath = value();
        } else {
            std::fprintf(stderr, "vx52-sim: unknown option %s (try --help)\n", opt.c_str());
            return 2;
        }
    }

    std::FILE* logFile = stderr;
    if (!logPath.empty() && logPath != "-") {
        logFile = std::fopen(logPath.c_str(), "a");
        if (logFile == nullptr) {
            std::fprintf(stderr, "vx52-sim: %s: %s\n", logPath.c_str(), std::strerror(errno));
            return 1;
        }
    }

    if (pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("vx52-sim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sim::Simulator simulator;
    simulator.SetSettle(false);
    simulator.log().SetSink(logFile);
    sim::Instrument& instrument = simulator.instrument();
    instrument.SetAddress(static_cast<int>(address));
    if (!model.empty()) {
        instrument.SetModelName(model);
    }
    instrument.SetLoad(load, pf);
    instrument.SetCurrentLimit(limit);
    instrument.SetNoise(noise);
    if (seed >= 0) {
        instrument.Seed(static_cast<unsigned>(seed));
    }

    std::string error;
    if (!simulator.Open(&error)) {
        std::fprintf(stderr, "vx52-sim: %s\n", error.c_str());
        return 1;
    }
    if (port > 0 && !simulator.Link(dir, port, &error)) {
        std::fprintf(stderr, "vx52-sim: %s\n", error.c_str());
        return 1;
    }

    LineReader control;
    bool madeFifo = false;
    if (!controlPath.empty()) {
        struct stat st {};
        if (stat(controlPath.c_str(), &st) != 0) {
            if (mkfifo(controlPath.c_str(), 0600) != 0) {
                std::fprintf(stderr, "vx52-sim: %s: %s\n", controlPath.c_str(),
                             std::strerror(errno));
                return 1;
            }
            madeFifo = true;
        } else if (!S_ISFIFO(st.st_mode)) {
            std::fprintf(stderr, "vx52-sim: %s is not a FIFO\n", controlPath.c_str());
            return 1;
        }
        control.fd = open(controlPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    // Holding the FIFO open for writing as well means writers coming and going never leave it
    // at end of file, which poll would otherwise report again and again.
    const int controlKeepOpen =
        control.fd >= 0 ? open(controlPath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC) : -1;

    LineReader input;
    input.fd = STDIN_FILENO;

    auto ready = [&]() {
        Answer("ready " + simulator.SlavePath() +
               (simulator.LinkPath().empty() ? "" : " " + simulator.LinkPath()));
    };
    ready();

    bool quit = false;
    while (!quit) {
        std::vector<pollfd> fds;
        fds.push_back({gSignalPipe[0], POLLIN, 0});
        const size_t masterAt = fds.size();
        if (simulator.IsPlugged()) {
            fds.push_back({simulator.MasterFd(), POLLIN, 0});
        }
        const size_t inputAt = fds.size();
        if (input.fd >= 0) {
            fds.push_back({input.fd, POLLIN, 0});
        }
        const size_t controlAt = fds.size();
        if (control.fd >= 0) {
            fds.push_back({control.fd, POLLIN, 0});
        }

        const int timeout = simulator.MillisUntilDue();
        const int ready_count = poll(fds.data(), fds.size(), timeout);
        if (ready_count < 0 && errno != EINTR) {
            std::perror("vx52-sim: poll");
            break;
        }
        if (fds[0].revents != 0) {
            unsigned char signo = 0;
            if (read(gSignalPipe[0], &signo, 1) == 1) {
                simulator.log().Note(std::string("ending on ") + strsignal(signo));
            }
            break;
        }
        if (simulator.IsPlugged() && masterAt < inputAt) {
            const short ev = fds[masterAt].revents;
            if ((ev & (POLLHUP | POLLERR)) != 0 && (ev & POLLIN) == 0) {
                // Cannot happen while our own slave descriptor is open; if it ever does, do
                // not spin on it.
                simulator.log().Note("terminal reports a hang-up; closing it");
                simulator.Unplug();
            }
        }
        // Input, held replies and stale frames are all handled here, whatever woke us.
        simulator.Pump();

        std::vector<std::string> lines;
        if (input.fd >= 0 && inputAt < controlAt && fds[inputAt].revents != 0) {
            if (!input.Fill(&lines)) {
                input.fd = -1; // stdin closed: keep running on the control FIFO and signals
            }
        }
        if (control.fd >= 0 && controlAt < fds.size() && fds[controlAt].revents != 0) {
            control.Fill(&lines);
        }
        for (const std::string& line : lines) {
            const bool wasPlugged = simulator.IsPlugged();
            Answer(simulator.Command(line, &quit));
            if (!wasPlugged && simulator.IsPlugged()) {
                ready();
            }
            if (quit) {
                break;
            }
        }
    }

    simulator.Close();
    simulator.log().Note("ended");
    if (control.fd >= 0) {
        close(control.fd);
    }
    if (controlKeepOpen >= 0) {
        close(controlKeepOpen);
    }
    if (madeFifo) {
        unlink(controlPath.c_str());
    }
    if (logFile != stderr) {
        std::fclose(logFile);
    }
    return 0;
}
