// Item numbers of the operator texts the program makes itself: message boxes,
// their titles and the lines a failure prints. Each is in both language files
// ("English.dat", "Chinese.dat") under the same number; "{name}" marks are
// filled in by LanguageMessage. The window and menu labels keep the tables of
// persist/Language.cpp. This program's own texts use 0600-0699 and 0800-0899.
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
