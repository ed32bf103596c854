#include "app/SequenceWindow.h"

#include <algorithm>
#include <cstring>

#include "app/SequenceTexts.h"
#include "app/Sequencing.h"
#include "persist/Language.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/SourceLimits.h"
#include "sequence/Report.h"
#include "sequence/Sequence.h"
#include "ui/Panels.h"
#include "ui/Vx52PSoftUi.h"
#include "util/Text.h"

int gSeqPanel = 0;

namespace {

enum Column { COL_STEP, COL_V, COL_HZ, COL_DWELL, COL_RAMP, COL_LIMITS, COL_NOTE, COL_VERDICT };

int gShownLoad = -1;      // the load whose steps the table lists
size_t gShownResults = 0; // results of the run already put in the table
std::vector<std::string> gShownErrors;
std::string gNotice; // what the window says below the progress bar
// The progress lines, read with the other texts: they are filled in twice a
// second, and reading the language file each time would cost more than the run.
std::string gProgressText;
std::string gEndlessText;
const char* kTimeFormat = "%02d:%02d:%02d";

bool Open() {
    return gSeqPanel > 0;
}

void Dim(int control, bool dimmed) {
    SetCtrlAttribute(gSeqPanel, control, ATTR_DIMMED, dimmed ? 1 : 0);
}

std::string Clock(const SysLocalTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, kTimeFormat, t.hour, t.minute, t.second);
    return text;
}

std::string Q(SourceQuantity q, int32_t value) {
    return SourceText(q, value);
}

// "V 220.0…240.0, I ≤ 2.500 A, P ≤ 600 W, f ± 0.5 Hz (after 2.0 s)"
std::string LimitsText(const SeqStep& s) {
    std::string text;
    const auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    const SourceQuantity v = SOURCE_Q_MEASURED_VOLTAGE;
    if (s.vMin != SEQ_NO_LIMIT && s.vMax != SEQ_NO_LIMIT) {
        add("V " + Q(v, s.vMin) + "\u2026" + Q(v, s.vMax));
    } else if (s.vMin != SEQ_NO_LIMIT) {
        add("V \u2265 " + Q(v, s.vMin));
    } else if (s.vMax != SEQ_NO_LIMIT) {
        add("V \u2264 " + Q(v, s.vMax));
    }
    if (s.iMax != SEQ_NO_LIMIT) {
        add("I \u2264 " + Q(SOURCE_Q_MEASURED_CURRENT, s.iMax) + " A");
    }
    if (s.pMax != SEQ_NO_LIMIT) {
        add("P \u2264 " + Q(SOURCE_Q_MEASURED_POWER, s.pMax) + " W");
    }
    if (s.fTol != SEQ_NO_LIMIT) {
        add("f \u00b1 " + Q(SOURCE_Q_MEASURED_FREQUENCY, s.fTol) + " Hz");
    }
    if (!text.empty()) {
        text += " (" + TextFixed(s.settle, 1) + " s)";
    }
    return text;
}

void FillSteps() {
    ClearTableRows(gSeqPanel, SEQPANEL_TBL_STEPS);
    const std::vector<SeqStep>& steps = SequenceProfile().steps;
    for (size_t k = 0; k < steps.size(); ++k) {
        const SeqStep& s = steps[k];
        AppendTableRow(gSeqPanel, SEQPANEL_TBL_STEPS,
                       {std::to_string(k + 1), Q(SOURCE_Q_SET_VOLTAGE, s.vol),
                        Q(SOURCE_Q_SET_FREQUENCY, s.freq), TextFixed(s.dwell, 1),
                        s.ramp != 0 ? std::to_string(s.ramp) : std::string(), LimitsText(s), s.note,
                        ""});
    }
    gShownErrors.clear();
    gShownLoad = SequenceLoadCount();
    gShownResults = 0;
}

// The run's results from the first not yet shown: a step that failed in any
// repeat stays marked so.
// The errors change with the range a run would use, not only with a load.
void ShowErrors() {
    const std::vector<std::string> lines = SequenceErrorLines(false);
    if (lines == gShownErrors) {
        return;
    }
    ClearTableRows(gSeqPanel, SEQPANEL_TBL_ERRORS);
    for (const std::string& line : lines) {
        AppendTableRow(gSeqPanel, SEQPANEL_TBL_ERRORS, {line});
    }
    gShownErrors = lines;
}

void ShowResults(const SeqRun& run, bool running) {
    if (gShownLoad != SequenceLoadCount()) {
        return;
    }
    int rows = 0;
    GetNumTableRows(gSeqPanel, SEQPANEL_TBL_STEPS, &rows);
    const size_t open = running && !run.steps.empty() ? run.steps.size() - 1 : run.steps.size();
    for (size_t i = gShownResults; i < run.steps.size(); ++i) {
        const SeqStepResult& res = run.steps[i];
        const int row = res.step - 1;
        if (row < 0 || row >= rows) {
            continue;
        }
        std::vector<std::string> cells;
        GetTableRowCells(gSeqPanel, SEQPANEL_TBL_STEPS, row, &cells);
        const bool failedBefore =
            cells.size() > COL_VERDICT && cells[COL_VERDICT].rfind("FAIL", 0) == 0;
        if (res.failed) {
            SetTableCell(gSeqPanel, SEQPANEL_TBL_STEPS, row, COL_VERDICT,
                         ("FAIL " + std::to_string(res.repeat) + ": " + res.reason).c_str());
        } else if (i < open && !failedBefore) {
            SetTableCell(gSeqPanel, SEQPANEL_TBL_STEPS, row, COL_VERDICT, "PASS");
        }
        const bool failed = res.failed || failedBefore;
        SetTableRowLook(gSeqPanel, SEQPANEL_TBL_STEPS, row,
                        i >= open ? TABLE_ROW_CURRENT
                                  : (failed ? TABLE_ROW_FAILED : TABLE_ROW_PASSED));
    }
    // The open step is shown again once it closes.
    gShownResults = open;
}

void ShowProgress() {
    const SeqRunner& r = SequenceRunner();
    const SeqRun& run = r.run;
    const int active = SequenceActive();
    if (!active && r.phase != SEQ_PHASE_DONE) {
        SetCtrlVal(gSeqPanel, SEQPANEL_PROG_RUN, 0);
        return;
    }
    const int64_t repeatMs = SeqProfileMs(run.profile.steps);
    const double elapsed = SeqRunnerElapsedMs(r);
    const int repeat = r.phase == SEQ_PHASE_DONE ? (run.steps.empty() ? 1 : run.steps.back().repeat)
                                                 : r.repeat + 1;
    const int step =
        r.phase == SEQ_PHASE_DONE ? (run.steps.empty() ? 1 : run.steps.back().step) : r.step + 1;
    const std::string steps = std::to_string(run.profile.steps.size());
    std::string text;
    double part = 0;
    if (run.settings.repeat == 0) {
        text = TextFillIn(gEndlessText, {{"repeat", std::to_string(repeat)},
                                         {"step", std::to_string(step)},
                                         {"steps", steps},
                                         {"elapsed", SeqDurationText(elapsed)}});
        part = repeatMs > 0 ? elapsed - static_cast<double>(repeatMs) * (repeat - 1) : 0;
        part /= static_cast<double>(std::max<int64_t>(repeatMs, 1));
    } else {
        const double total = static_cast<double>(repeatMs) * run.settings.repeat;
        const double remaining = active ? std::max(total - elapsed, 0.0) : 0.0;
        text = TextFillIn(gProgressText, {{"repeat", std::to_string(repeat)},
                                          {"count", std::to_string(run.settings.repeat)},
                                          {"step", std::to_string(step)},
                                          {"steps", steps},
                                          {"elapsed", SeqDurationText(elapsed)},
                                          {"remaining", SeqDurationText(remaining)}});
        part = total > 0 ? elapsed / total : 0;
    }
    SetCtrlVal(gSeqPanel, SEQPANEL_TXT_STATUS, text.c_str());
    if (r.phase == SEQ_PHASE_DONE && run.outcome == SEQ_PASS) {
        part = 1;
    }
    SetCtrlVal(gSeqPanel, SEQPANEL_PROG_RUN, std::clamp(part, 0.0, 1.0) * 1000.0);
}

void ShowState() {
    const SeqRunner& r = SequenceRunner();
    const int active = SequenceActive();
    std::string word;
    int color = -1;
    if (active) {
        word = "RUNNING";
    } else if (r.phase == SEQ_PHASE_DONE && gShownLoad == SequenceLoadCount()) {
        word = SeqOutcomeWord(r.run.outcome);
        static const int kColors[] = {-1, 0x39d26b, 0xff5a4e, 0xffb020, 0xc9a0ff};
        color = kColors[r.run.outcome];
    }
    SetCtrlVal(gSeqPanel, SEQPANEL_TXT_OUTCOME, word.c_str());
    SetCtrlAttribute(gSeqPanel, SEQPANEL_TXT_OUTCOME, ATTR_TEXT_COLOR, color);

    const std::vector<SeqError>& errors = SequenceErrors();
    const bool loaded = !SequencePath().empty();
    SetCtrlAttribute(gSeqPanel, SEQPANEL_TBL_ERRORS, ATTR_VISIBLE, loaded && !errors.empty());
    SetCtrlAttribute(gSeqPanel, SEQPANEL_TBL_STEPS, ATTR_VISIBLE, !loaded || errors.empty());
    if (!active && r.phase != SEQ_PHASE_DONE) {
        std::string status;
        if (loaded && !errors.empty()) {
            status = TextFillIn(LanguageText(TEXT_SEQ_ERRORS),
                                {{"count", std::to_string(errors.size())}});
        } else if (loaded) {
            status = TextFillIn(LanguageText(TEXT_SEQ_READY),
                                {{"steps", std::to_string(SequenceProfile().steps.size())},
                                 {"duration", SeqDurationText(static_cast<double>(
                                                  SeqProfileMs(SequenceProfile().steps)))}});
        }
        SetCtrlVal(gSeqPanel, SEQPANEL_TXT_STATUS, status.c_str());
    } else if (!active && loaded && !errors.empty()) {
        SetCtrlVal(
            gSeqPanel, SEQPANEL_TXT_STATUS,
            TextFillIn(LanguageText(TEXT_SEQ_ERRORS), {{"count", std::to_string(errors.size())}})
                .c_str());
    }
    SetCtrlVal(gSeqPanel, SEQPANEL_TXT_NOTICE, gNotice.c_str());

    for (int control : {SEQPANEL_BT_OPEN, SEQPANEL_NUM_REPEAT, SEQPANEL_RING_RANGE,
                        SEQPANEL_RING_ONFAIL, SEQPANEL_RING_END}) {
        Dim(control, active != 0);
    }
    Dim(SEQPANEL_BT_START, active != 0 || !loaded || !errors.empty());
    Dim(SEQPANEL_BT_STOP, active == 0);
}

void ShowSettings() {
    const SeqSettings& s = SequenceSettings();
    SetCtrlVal(gSeqPanel, SEQPANEL_NUM_REPEAT, s.repeat);
    SetCtrlVal(gSeqPanel, SEQPANEL_RING_RANGE, s.range + 1);
    SetCtrlVal(gSeqPanel, SEQPANEL_RING_ONFAIL, s.onFailContinue);
    SetCtrlVal(gSeqPanel, SEQPANEL_RING_END, s.endHold);
    SetCtrlVal(gSeqPanel, SEQPANEL_TXT_FILE, SequencePath().c_str());
}

// A ring's caption and entries from one item: "caption|entry|entry...".
void LabelRing(int ring, int item) {
    const std::vector<std::string> parts = SequenceTextParts(item);
    if (parts.empty()) {
        return;
    }
    SetCtrlAttribute(gSeqPanel, ring, ATTR_LABEL_TEXT, parts[0].c_str());
    int count = 0;
    GetNumListItems(gSeqPanel, ring, &count);
    for (int i = 0; i < count && static_cast<size_t>(i + 1) < parts.size(); ++i) {
        ReplaceListItem(gSeqPanel, ring, i, parts[static_cast<size_t>(i + 1)].c_str(), "");
    }
}

} // namespace

void SequenceWindowRegisterCallbacks() {
    UiRegisterPanelCallback("SEQPANEL_CALLBACK", SEQPANEL_CALLBACK);
    UiRegisterCtrlCallback("BT_SEQ_OPEN_CALLBACK", BT_SEQ_OPEN_CALLBACK);
    UiRegisterCtrlCallback("BT_SEQ_START_CALLBACK", BT_SEQ_START_CALLBACK);
    UiRegisterCtrlCallback("BT_SEQ_STOP_CALLBACK", BT_SEQ_STOP_CALLBACK);
    UiRegisterCtrlCallback("SEQ_SETTINGS_CALLBACK", SEQ_SETTINGS_CALLBACK);
}

void DisplayPanelSequence(int show) {
    if (show == 0) {
        DiscardPanel(gSeqPanel);
        gSeqPanel = 0;
        return;
    }
    if (Open()) {
        DisplayPanel(gSeqPanel);
        return;
    }
    const int panel = LoadPanel(0, UIR_FILE, SEQPANEL);
    if (panel < 0) {
        return;
    }
    gSeqPanel = panel;
    gShownLoad = -1;
    // Beside the main window's settings, clear of its menu bar.
    SetPanelPos(gSeqPanel, 90, 60);
    SequenceWindowLanguageSet();
    DisplayPanel(gSeqPanel);
}

void SequenceWindowLanguageSet() {
    if (!Open()) {
        return;
    }
    SetPanelAttribute(gSeqPanel, ATTR_TITLE, LanguageText(TEXT_SEQ_TITLE).c_str());
    gProgressText = LanguageText(TEXT_SEQ_PROGRESS);
    gEndlessText = LanguageText(TEXT_SEQ_PROGRESS_ENDLESS);
    SetCtrlAttribute(gSeqPanel, SEQPANEL_TXT_FILE, ATTR_LABEL_TEXT,
                     LanguageText(TEXT_SEQ_PROFILE).c_str());
    SetCtrlAttribute(gSeqPanel, SEQPANEL_BT_OPEN, ATTR_LABEL_TEXT,
                     LanguageText(TEXT_SEQ_OPEN).c_str());
    SetCtrlAttribute(gSeqPanel, SEQPANEL_NUM_REPEAT, ATTR_LABEL_TEXT,
                     LanguageText(TEXT_SEQ_REPEAT).c_str());
    LabelRing(SEQPANEL_RING_RANGE, TEXT_SEQ_RANGE);
    LabelRing(SEQPANEL_RING_ONFAIL, TEXT_SEQ_ON_FAIL);
    LabelRing(SEQPANEL_RING_END, TEXT_SEQ_END);
    SetCtrlAttribute(gSeqPanel, SEQPANEL_BT_START, ATTR_LABEL_TEXT,
                     LanguageText(TEXT_SEQ_START).c_str());
    SetCtrlAttribute(gSeqPanel, SEQPANEL_BT_STOP, ATTR_LABEL_TEXT,
                     LanguageText(TEXT_SEQ_STOP).c_str());
    const std::vector<std::string> columns = SequenceTextParts(TEXT_SEQ_COLUMNS);
    for (size_t c = 0; c + 1 < columns.size(); ++c) {
        SetTableColumnLabel(gSeqPanel, SEQPANEL_TBL_STEPS, static_cast<int>(c), columns[c].c_str());
    }
    if (!columns.empty()) {
        SetTableColumnLabel(gSeqPanel, SEQPANEL_TBL_ERRORS, 0, columns.back().c_str());
    }
    // The error lines and the state's texts are in the language too.
    gShownLoad = -1;
    SequenceWindowRefresh();
}

void SequenceWindowRefresh() {
    if (!Open()) {
        return;
    }
    if (gShownLoad != SequenceLoadCount()) {
        FillSteps();
        gNotice.clear();
    }
    ShowSettings();
    if (!SequenceActive()) {
        ShowErrors();
    }
    ShowResults(SequenceRunner().run, SequenceActive() != 0);
    ShowState();
    ShowProgress();
}

void SequenceWindowStepStarted(const SeqRun& run) {
    if (Open()) {
        ShowResults(run, true);
    }
}

void SequenceWindowStepFailed(const SeqRun& run) {
    if (Open()) {
        // The open step's row shows its failure at once.
        const size_t shown = gShownResults;
        ShowResults(run, true);
        gShownResults = shown;
    }
}

void SequenceWindowRunEnded(const SeqRun& run, int reportError, const std::string& path) {
    std::string notice;
    if (run.outcome == SEQ_INTERRUPTED) {
        notice = TextFillIn(LanguageText(TEXT_SEQ_LINK_LOST), {{"time", Clock(run.end)}});
    } else {
        notice = TextFillIn(LanguageText(TEXT_SEQ_ENDED),
                            {{"time", Clock(run.end)}, {"cause", SequenceCauseText(run.cause)}});
    }
    notice += "\n";
    if (reportError == 0) {
        notice += TextFillIn(LanguageText(TEXT_SEQ_REPORT), {{"path", path}});
    } else {
        notice += TextFillIn(LanguageText(TEXT_SEQ_REPORT_FAILED),
                             {{"path", path}, {"reason", LanguageReasonText(reportError)}});
    }
    gNotice = notice;
    if (Open()) {
        ShowResults(run, false);
        SequenceWindowRefresh();
    }
}

void SequenceWindowNotice(const std::string& text) {
    gNotice = text;
    if (Open()) {
        SetCtrlVal(gSeqPanel, SEQPANEL_TXT_NOTICE, gNotice.c_str());
    }
}

void SequenceWindowTick() {
    if (Open() && SequenceActive()) {
        ShowProgress();
    }
}

int SEQPANEL_CALLBACK(int, int event, void*, int, int) {
    if (event == EVENT_CLOSE) {
        DisplayPanelSequence(0);
    }
    return 0;
}

int BT_SEQ_OPEN_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    char path[MAX_PATHNAME_LEN] = {};
    const std::string title = LanguageText(TEXT_SEQ_OPEN);
    const int status =
        FileSelectPopup("", "*.csv", "*.csv", title.c_str(), VAL_LOAD_BUTTON, 0, 0, 1, 0, path);
    if (status != VAL_EXISTING_FILE_SELECTED) {
        return 0;
    }
    SequencingLoad(path);
    return 0;
}

int BT_SEQ_START_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        SequencingStart();
    }
    return 0;
}

int BT_SEQ_STOP_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        SequenceAbort(SEQ_CAUSE_STOP);
    }
    return 0;
}

int SEQ_SETTINGS_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    SeqSettings s = SequenceSettings();
    int range = 0;
    GetCtrlVal(gSeqPanel, SEQPANEL_NUM_REPEAT, &s.repeat);
    GetCtrlVal(gSeqPanel, SEQPANEL_RING_RANGE, &range);
    GetCtrlVal(gSeqPanel, SEQPANEL_RING_ONFAIL, &s.onFailContinue);
    GetCtrlVal(gSeqPanel, SEQPANEL_RING_END, &s.endHold);
    s.range = range - 1;
    SequenceSetSettings(s);
    return 0;
}
