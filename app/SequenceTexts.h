// Item numbers of the test run's texts in both language files (0720-0749).
// Items that hold several texts separate them with "|", in the order named;
// the language files cap an item's length, so lists are cut into items.
#pragma once

#include <string>
#include <vector>

#include "sequence/Profile.h"

constexpr int TEXT_SEQ_MENU = 720;
constexpr int TEXT_SEQ_TITLE = 721;
constexpr int TEXT_SEQ_PROFILE = 722;
constexpr int TEXT_SEQ_OPEN = 723;
constexpr int TEXT_SEQ_REPEAT = 724;
constexpr int TEXT_SEQ_RANGE = 725;   // caption|in force|AUTO|HIGH
constexpr int TEXT_SEQ_ON_FAIL = 726; // caption|stop|go on
constexpr int TEXT_SEQ_END = 727;     // caption|output off|hold
constexpr int TEXT_SEQ_START = 728;
constexpr int TEXT_SEQ_STOP = 729;
constexpr int TEXT_SEQ_COLUMNS = 730;       // the step table's columns|the error list's title
constexpr int TEXT_SEQ_PROGRESS = 731;      // {repeat} {count} {step} {steps} {elapsed} {remaining}
constexpr int TEXT_SEQ_READY = 732;         // {steps} {duration}
constexpr int TEXT_SEQ_ERRORS = 733;        // {count}
constexpr int TEXT_SEQ_LINK_LOST = 734;     // {time}
constexpr int TEXT_SEQ_ENDED = 735;         // {time} {cause}
constexpr int TEXT_SEQ_CAUSES_A = 736;      // SEQ_CAUSE_COMPLETED .. SEQ_CAUSE_REMOTE
constexpr int TEXT_SEQ_REPORT = 737;        // {path}
constexpr int TEXT_SEQ_REPORT_FAILED = 738; // {path} {reason}
constexpr int TEXT_SEQ_REFUSALS = 739;      // SEQ_START_BUSY .. SEQ_START_OUTPUT_ON
constexpr int TEXT_SEQ_CLOSE_QUESTION = 740;
constexpr int TEXT_SEQ_UNREADABLE = 741; // {path} {reason}
constexpr int TEXT_SEQ_ERROR_LINE = 742; // {line} {column} {reason}
constexpr int TEXT_SEQ_REASONS_FILE = 743;
constexpr int TEXT_SEQ_REASONS_SHAPE = 744;
constexpr int TEXT_SEQ_REASONS_VALUE = 745;
constexpr int TEXT_SEQ_REASONS_FREQUENCY = 746;
constexpr int TEXT_SEQ_REASONS_RANGE = 747;
constexpr int TEXT_SEQ_PROGRESS_ENDLESS = 748; // {repeat} {step} {steps} {elapsed}
constexpr int TEXT_SEQ_CAUSES_B = 749;         // SEQ_CAUSE_CLOSE .. SEQ_CAUSE_LINK_LOST

// One item of the language in force, and its parts.
std::string SequenceText(int item);
std::vector<std::string> SequenceTextParts(int item);
// The texts a profile's errors are written with: in the language in force, or
// in English for remote clients.
SeqErrorTexts SequenceErrorTexts(bool english);
// What ended a run, in the language in force.
std::string SequenceCauseText(int cause);
