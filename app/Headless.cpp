#include "app/Headless.h"

#include <cstdio>

#include "link/Scheduler.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "power/SourceLimits.h"

namespace {

constexpr int kTicksBetweenLines = 20;

int sOn = 0;
int sQuiet = 0;
int sTicksSinceLine = kTicksBetweenLines;
std::string sLastLine;

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

// Nobody is there to answer: a box becomes a line, a question is answered
// no, a file dialog chooses nothing.
class StderrPopups : public UiPopupResponder {
  public:
    int Message(const std::string& title, const std::string& text) override {
        Say(title, text, "");
        return 0;
    }
    int Warning(const std::string& title, const std::string& text,
                const std::string& detail) override {
        Say(title, text, detail);
        return 0;
    }
    int Confirm(const std::string& title, const std::string& text) override {
        Say(title, text, "");
        return 0;
    }
    int FileSelect(int, const std::string&, std::string*) override { return VAL_NO_FILE_SELECTED; }

  private:
    static void Say(const std::string& title, const std::string& text, const std::string& detail) {
        std::string line = "Vx52PSoft: " + title + ": " + text;
        if (!detail.empty()) {
            line += " (" + detail + ")";
        }
        std::fprintf(stderr, "%s\n", OneLine(line).c_str());
        std::fflush(stderr);
    }
};

StderrPopups sPopups;

} // namespace

void HeadlessStart(int quiet) {
    sOn = 1;
    sQuiet = quiet != 0 ? 1 : 0;
    UiSetHeadless(1);
    UiSetPopupResponder(&sPopups);
}

int HeadlessOn() {
    return sOn;
}

std::string HeadlessStateLine() {
    std::string line = std::string("link=") + PowerLinkStateName();
    if (gCommRetry.state != COMM_RETRY_OFF) {
        line +=
            " try=" + std::to_string(gCommRetry.tries + (gCommRetry.state == COMM_RETRY_WAITING));
    }
    line += std::string(" output=") + (gPowerInfo.alarm != 0      ? "ALARM"
                                       : gPowerInfo.outputOn != 0 ? "ON"
                                                                  : "OFF");
    const Normal52PSet& s = gNormal52PSet;
    line += " set=" + SourceText(SOURCE_Q_SET_VOLTAGE, s.vol) + "V," +
            SourceText(SOURCE_Q_SET_FREQUENCY, s.freq) + "Hz," +
            (s.volLevel == 0 ? "AUTO" : "HIGH");
    if (gPowerLastMeasurement.valid == 0) {
        return line + " measured=none";
    }
    const int32_t* v = gPowerLastMeasurement.values;
    return line + " measured=" + SourceText(SOURCE_Q_MEASURED_VOLTAGE, v[0]) + "V," +
           SourceText(SOURCE_Q_MEASURED_CURRENT, v[1]) + "A," +
           SourceText(SOURCE_Q_MEASURED_FREQUENCY, v[2]) + "Hz," +
           SourceText(SOURCE_Q_MEASURED_POWER, v[3]) + "W";
}

void HeadlessTick() {
    if (sOn == 0 || sQuiet != 0) {
        return;
    }
    if (sTicksSinceLine < kTicksBetweenLines) {
        ++sTicksSinceLine;
        return;
    }
    const std::string line = HeadlessStateLine();
    if (line == sLastLine) {
        return;
    }
    sLastLine = line;
    sTicksSinceLine = 1;
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}
