#include "sim/FrameLog.h"

#include <ctime>

namespace sim {

void FrameLog::Add(LogEntry::Dir dir, const Bytes& bytes, const std::string& text) {
    LogEntry entry{dir, std::chrono::system_clock::now(), bytes, text};
    if (sink_ != nullptr) {
        const std::string line = Format(entry);
        std::fputs(line.c_str(), sink_);
        std::fputc('\n', sink_);
        std::fflush(sink_);
    }
    entries_.push_back(std::move(entry));
    while (entries_.size() > kKept) {
        entries_.pop_front();
    }
}

std::vector<Bytes> FrameLog::Frames(LogEntry::Dir dir) const {
    std::vector<Bytes> frames;
    for (const LogEntry& entry : entries_) {
        if (entry.dir == dir) {
            frames.push_back(entry.bytes);
        }
    }
    return frames;
}

std::string FrameLog::Format(const LogEntry& entry) {
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(entry.at);
    const long millis =
        static_cast<long>(duration_cast<milliseconds>(entry.at.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[40];
    const size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03ld", millis);

    const char* dir = entry.dir == LogEntry::Dir::In    ? "RX"
                      : entry.dir == LogEntry::Dir::Out ? "TX"
                                                        : "--";
    std::string line = std::string(stamp) + " " + dir + " ";
    if (!entry.bytes.empty()) {
        line += " " + Hex(entry.bytes) + "  | " + Printable(entry.bytes);
        if (!entry.text.empty()) {
            line += "  " + entry.text;
        }
    } else {
        line += " " + entry.text;
    }
    return line;
}

} // namespace sim
