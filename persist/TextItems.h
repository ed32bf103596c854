// Item numbers of the operator texts the program makes itself: message boxes,
// their titles and the lines a failure prints. Each is in both language files
// ("English.dat", "Chinese.dat") under the same number; "{name}" marks are
// filled in by LanguageMessage. The window and menu labels keep the tables of
// persist/Language.cpp. This program's own texts use 0600-0699 and 0800-0899;
// those of running unattended (reconnecting, the watchdog) 0760-0789.
#pragma once

// Box titles.
constexpr int TEXT_WARNING = 600;
constexpr int TEXT_REPLACE = 601;

// A settings file that could not be written: {file}, {reason}.
constexpr int TEXT_WRITE_SAVED_OUTPUT = 602;  // the file chosen in the save dialog
constexpr int TEXT_WRITE_LINK_DIALOG = 603;   // "Set.Dat" after the link dialog's OK
constexpr int TEXT_WRITE_EXIT_AUTOSAVE = 604; // the autosave file at shutdown
constexpr int TEXT_WRITE_EXIT_SOFTSET = 605;  // "Set.Dat" at shutdown
constexpr int TEXT_WRITE_REMOTE_DIALOG = 606; // "Set.Dat" after the remote dialog's OK

// The save and load dialogs.
constexpr int TEXT_SAVE_NAME_TOO_LONG = 607;
constexpr int TEXT_SAVE_REPLACE_FILE = 608; // {file}
constexpr int TEXT_LOAD_WHILE_RUNNING = 609;

// Making "COM<N>" a link to the device chosen in the link dialog.
constexpr int TEXT_DEVICE_REPLACE_NAME = 610; // {port}, {device}
constexpr int TEXT_DEVICE_LINK_FAILED = 611;  // {port}, {device}, {reason}

// The data log: {file}, {reason}.
constexpr int TEXT_LOG_STOPPED = 612;
constexpr int TEXT_LOG_NOT_STARTED = 613;

// Saving a strip chart; the file and the reason follow on lines of their own.
constexpr int TEXT_CHART_NOT_SAVED = 614;
constexpr int TEXT_CHART_NO_PICTURE = 615; // the reason when no picture could be made

// The link monitor's save: {file}, {reason}.
constexpr int TEXT_MONITOR_NOT_SAVED = 616;

// The remote-control dialog and start.
constexpr int TEXT_REMOTE_CANNOT_LISTEN = 617; // {endpoint}, {reason}
constexpr int TEXT_REMOTE_BAD_ADDRESS = 618;   // {address}

// The open-port error's detail, one line each.
constexpr int TEXT_PORT_DEVICE = 619; // {device}
constexpr int TEXT_PORT_REASON = 620; // {reason}
constexpr int TEXT_PORT_GROUP = 621;  // {group}
constexpr int TEXT_PORT_NOT_SERIAL = 622;

// Why a settings file was not read, for the load's refusal and the start-up
// note: the reason of a read that failed ({reason}), an empty file, bytes no
// text has, no "[FileInfo]" "Type", another kind ({type}).
constexpr int TEXT_WHY_UNREADABLE = 828;
constexpr int TEXT_WHY_EMPTY = 830;
constexpr int TEXT_WHY_NOT_TEXT = 831;
constexpr int TEXT_WHY_NO_KIND = 832;
constexpr int TEXT_WHY_OTHER_KIND = 833;

// Loading an output-settings file: refused ({file}, {why}); loaded with values
// replaced ({file}), then one line per value ({item}, {read}, {used}).
constexpr int TEXT_LOAD_REFUSED = 834;
constexpr int TEXT_LOAD_REPLACED = 835;
constexpr int TEXT_LOAD_REPLACED_VALUE = 845;

// Help that nothing can show: its title, and the text the pages' folder follows.
constexpr int TEXT_HELP_TITLE = 837;
constexpr int TEXT_HELP_NO_VIEWER = 836;

// Quitting while the output runs: title, question, the two buttons that quit.
constexpr int TEXT_QUIT_TITLE = 838;
constexpr int TEXT_QUIT_OUTPUT_ON = 839;
constexpr int TEXT_QUIT_STOP = 840;
constexpr int TEXT_QUIT_LEAVE = 841;

// The chart export dialogs' filters.
constexpr int TEXT_FILTER_CSV = 842;
constexpr int TEXT_FILTER_PNG = 843;

// The test sequence window and runs (0720-0749). Items that hold several texts
// separate them with "|", in the order named; an item holds at most 255 bytes,
// so the lists are cut into items.
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

// Running unattended. The link area while the link is tried again after a
// loss: waiting ({time} of the loss, {seconds} to the next try, {try} its
// number), or trying ({time}, {try}); a watchdog trip ({delay}, {time}).
constexpr int TEXT_RETRY_WAITING = 762;
constexpr int TEXT_RETRY_TRYING = 763;
constexpr int TEXT_WATCHDOG_TRIPPED = 764;
// The open-port error's reason for a device another program holds.
constexpr int TEXT_PORT_IN_USE = 765;
