// The user-interface toolkit the program is written against: panels and
// controls addressed by integer handles, menu bars, modal popups, strip charts,
// a graph, a timer control and the event loop. Only this layer knows Qt; the
// rest of the program sees these functions and integers.
#pragma once

#include <string>
#include <vector>

// ---- events delivered to callbacks ----------------------------------------
enum UiEvent {
    EVENT_NONE = 0,
    EVENT_COMMIT = 1,
    EVENT_VAL_CHANGED = 2,
    EVENT_LEFT_CLICK = 3,
    EVENT_LEFT_DOUBLE_CLICK = 4,
    EVENT_CLOSE = 5,
    EVENT_TIMER_TICK = 6,
    EVENT_GOT_FOCUS = 7,
    EVENT_LOST_FOCUS = 8,
    EVENT_CHART_MENU = 9, // eventData1: the CHART_MENU_... item the operator chose
};

using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);
using PanelCallbackPtr = int (*)(int panel, int event, void* callbackData, int eventData1,
                                 int eventData2);
using MenuCallbackPtr = int (*)(int menuBar, int menuItem, void* callbackData, int panel);

// ---- attributes -------------------------------------------------------------
enum UiAttribute {
    ATTR_DIMMED = 1,        // int 0/1 (controls and menu items)
    ATTR_VISIBLE,           // int 0/1
    ATTR_LABEL_TEXT,        // text: button caption, or the label beside a control
    ATTR_MIN_VALUE,         // double (numeric controls)
    ATTR_MAX_VALUE,         // double
    ATTR_PRECISION,         // int, digits after the decimal point
    ATTR_WIDTH,             // int, pixels
    ATTR_HEIGHT,            // int, pixels (read only here)
    ATTR_POINTS_PER_SCREEN, // int (strip charts)
    ATTR_CTRL_VAL,          // the value, as with SetCtrlVal
    ATTR_TITLE,             // text (panels); a menu mnemonic in it is not shown
    ATTR_MENU_NAME,         // text (menu titles)
    ATTR_ITEM_NAME,         // text (menu items)
    ATTR_CHECKED,           // int 0/1 (menu items)
    ATTR_CHART_PAUSED,      // int 0/1 (strip charts): the picture stands still
    ATTR_FLASH,             // int ms: a lamp lights that long, then goes out by itself
    ATTR_MAX_ROWS,          // int (tables): the oldest rows go beyond it
    ATTR_STALE,             // int 0/1 (meters, lamps): what it shows is not confirmed; a
                            // meter shows "---" dimmed, a lamp is drawn dimmed and still
                            // takes clicks
    ATTR_TOOLTIP,           // text (controls): shown while the pointer rests on it
    ATTR_FIT_SCREEN,        // int 0/1 (panels): the window is kept inside the screen's free
                            // area, its contents scrolling when it does not fit
    ATTR_WRAP_AT_SPACES,    // int 0/1 (text labels): lines break only at spaces and after
                            // ideographic punctuation, never inside a word or a path
    ATTR_TEXT_COLOR,        // int 0xRRGGBB (text controls); -1 gives the form's own back
};

// ---- constants of the popups, charts and graph ------------------------------
enum { VAL_NO_FILE_SELECTED = 0, VAL_EXISTING_FILE_SELECTED = 1, VAL_NEW_FILE_SELECTED = 2 };
enum { VAL_OK_BUTTON = 0, VAL_SAVE_BUTTON = 1, VAL_SELECT_BUTTON = 2, VAL_LOAD_BUTTON = 3 };
enum { VAL_DOUBLE = 4 };
enum { VAL_LEFT_YAXIS = 1, VAL_BOTTOM_XAXIS = 2 };
enum { VAL_MANUAL = 0, VAL_AUTOSCALE = 1 };
enum { VAL_THIN_LINE = 5 };    // the graph's plot style code for a solid line
enum { VAL_EMPTY_SQUARE = 0 }; // point style
enum { VAL_SOLID = 0 };        // line style
enum { VAL_CONNECTED_POINTS = 1 };
constexpr int VAL_YELLOW = 0xFFFF00;
constexpr int MAX_PATHNAME_LEN = 260;

constexpr int MakeColor(int red, int green, int blue) {
    return ((red & 0xFF) << 16) | ((green & 0xFF) << 8) | (blue & 0xFF);
}

// Errors returned as negative results.
enum {
    UIE_NO_ERROR = 0,
    UIE_BAD_HANDLE = -1,
    UIE_FILE_NOT_FOUND = -2,
    UIE_RESOURCE_NOT_FOUND = -3,
    UIE_BAD_ATTRIBUTE = -4,
    UIE_NOT_INITIALIZED = -5,
    UIE_BAD_CONTROL = -6,
    UIE_BAD_FILE = -7, // the layout file exists but cannot be read as one
};

// ---- run-time -----------------------------------------------------------------
// Creates the application object; 1 on success, 0 on failure. When no display
// can be opened there is nothing to return to (Qt gives up inside its own
// constructor), so this prints one line naming the cause on standard error and
// ends the process with 255, the status of every failed start.
int UiInitRuntime(int argc, char* argv[]);
// Before UiInitRuntime: the toolkit runs on a platform that needs no display,
// and panels are never shown (DisplayPanel, InstallPopup and making a panel
// visible do nothing else than they otherwise do). The popups still go where
// they go: a program without a window gives them a responder.
void UiSetHeadless(int on);
int RunUserInterface();
int QuitUserInterface(int returnCode);
// Lets pending events run (tests use it between steps).
void UiProcessEvents();
// Runs fn(data) from the event loop once the present callback has returned:
// for a message box that must not open in the middle of a link step.
void UiPostDeferredCall(void (*fn)(void* data), void* data);
// Runs fn(data) from the event loop once ms milliseconds have passed.
void UiPostDelayedCall(int ms, void (*fn)(void* data), void* data);
// fn runs after every control, panel and menu callback (the timer's included),
// once the outermost one has returned; nullptr removes it.
void UiSetCallbackEndHook(void (*fn)());

// ---- layout names and callbacks ----------------------------------------------
// The layout resource names panels, menu bars and controls by object name;
// the program names them by integers. This table ties the two together.
struct UiLayoutName {
    int resourceId; // panel or menu-bar resource the entry belongs to
    int id;         // the resource itself (id == resourceId) or a control / menu item
    const char* objectName;
};
void UiRegisterLayoutNames(const UiLayoutName* names, int count);

// Callbacks are bound by name: each widget carries the name of its callback.
void UiRegisterCtrlCallback(const char* name, CtrlCallbackPtr fn);
void UiRegisterPanelCallback(const char* name, PanelCallbackPtr fn);
void UiRegisterMenuCallback(const char* name, MenuCallbackPtr fn);

// ---- panels -------------------------------------------------------------------
// A layout file named without a folder is looked for in the program's own
// folder, whatever the working folder is; a name with a folder is used as
// given. UiInitRuntime sets the program's folder to the executable's; tests and
// benchmarks, whose executables live elsewhere, point it at the program's.
void UiSetProgramDir(const char* dir);
std::string UiProgramDir();
// The file a layout file name stands for.
std::string UiLayoutPath(const char* fileName);

// Returns a new panel handle (> 0), or a negative error: UIE_FILE_NOT_FOUND,
// UIE_BAD_FILE, or UIE_RESOURCE_NOT_FOUND when the panel is not in the file.
int LoadPanel(int parentPanel, const char* fileName, int panelResourceId);
int LoadMenuBar(int panel, const char* fileName, int menuBarResourceId);
int SetPanelPos(int panel, int top, int left);
int DisplayPanel(int panel);
// Shows the panel's window in front of the others and gives it the focus,
// bringing it back first when it was minimised.
int RaisePanel(int panel);
int HidePanel(int panel);
// Modal for the operator. A form may name buttons for the keyboard in its
// dynamic properties "defaultButton" (Enter) and "cancelButton" (Escape).
int InstallPopup(int panel);
int DiscardPanel(int panel);
int SetPanelAttribute(int panel, int attribute, int value);
int SetPanelAttribute(int panel, int attribute, const char* value);
int GetPanelAttribute(int panel, int attribute, int* value);
int GetPanelAttribute(int panel, int attribute, std::string* value);

// ---- controls -----------------------------------------------------------------
// A check box's value is 1 (checked) or 0.
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char* value);
int GetCtrlVal(int panel, int control, int* value);
int GetCtrlVal(int panel, int control, double* value);
int GetCtrlVal(int panel, int control, std::string* value);
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, double value);
int SetCtrlAttribute(int panel, int control, int attribute, const char* value);
int GetCtrlAttribute(int panel, int control, int attribute, int* value);
int GetCtrlAttribute(int panel, int control, int attribute, double* value);
int GetCtrlAttribute(int panel, int control, int attribute, std::string* value);

// ---- list controls (rings whose entries the program fills) -------------------
// Entries carry a text value, read and chosen with GetCtrlVal / SetCtrlVal on
// a std::string / const char*. index -1 appends; returns the index used.
int InsertListItem(int panel, int control, int index, const char* label, const char* value);
int ReplaceListItem(int panel, int control, int index, const char* label, const char* value);
int GetNumListItems(int panel, int control, int* count);
int GetLabelFromIndex(int panel, int control, int index, std::string* label);

// ---- menu bars ----------------------------------------------------------------
int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, int value);
int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, const char* value);
int GetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, int* value);
int GetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, std::string* value);

// ---- modal popups -------------------------------------------------------------
int MessagePopup(const char* title, const char* message);
// A message box with a warning icon, for something that failed and matters to
// the operator. detail, when not empty, is shown below the message.
int WarningPopup(const char* title, const char* message, const char* detail = nullptr);
// 1 for Yes, 0 for No.
int ConfirmPopup(const char* title, const char* message);
// A question with up to three buttons (a null or empty text leaves the button
// out); returns the number of the button pressed, 1 to 3. Escape and the close
// box press button escapeButton; Enter presses button 1.
int GenericMessagePopup(const char* title, const char* message, const char* button1,
                        const char* button2, const char* button3, int escapeButton);
// Returns VAL_NO_FILE_SELECTED, VAL_EXISTING_FILE_SELECTED or
// VAL_NEW_FILE_SELECTED (or a negative error); the path goes to pathName,
// which holds MAX_PATHNAME_LEN bytes. fileTypeList is a pattern ("*.csv") or a
// named one ("CSV files (*.csv)"); a defaultFileSpec without "*" is the name
// proposed in a save dialog.
int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec,
                    const char* fileTypeList, const char* title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char* pathName);

// Test seam: when a responder is installed, the popups ask it instead of the
// operator. Every call is also recorded in the responder.
class UiPopupResponder {
  public:
    virtual ~UiPopupResponder() = default;
    virtual int Message(const std::string& title, const std::string& text) = 0;
    // Responders that do not tell the kinds apart see a warning as a message.
    virtual int Warning(const std::string& title, const std::string& text,
                        const std::string& detail) {
        return Message(title, detail.empty() ? text : text + "\n\n" + detail);
    }
    virtual int Confirm(const std::string& title, const std::string& text) = 0;
    // Responders that do not answer questions with buttons press the escape button.
    virtual int Generic(const std::string& title, const std::string& text,
                        const std::vector<std::string>& buttons, int escapeButton) {
        (void)title;
        (void)text;
        (void)buttons;
        return escapeButton;
    }
    // Returns the selection status; writes the chosen path.
    virtual int FileSelect(int buttonLabel, const std::string& defaultFileSpec,
                           std::string* path) = 0;
};
void UiSetPopupResponder(UiPopupResponder* responder); // nullptr restores the real boxes

// The language of the toolkit's own texts in the popups (buttons of message
// boxes, the file dialog), as a locale name: "zh_CN", or "en" for English.
// 0 on success; a negative error when the system has no translation for it,
// and the popups then stay English.
int UiSetStockDialogLocale(const char* locale);

// ---- strip charts and graph ---------------------------------------------------
// Each value fills the chart's next time slot; a NaN fills it with nothing, so
// the chart moves on in time and its trace breaks there.
int PlotStripChart(int panel, int control, const void* array, int numberOfPoints, int startingIndex,
                   int skipCount, int dataType);
int ClearStripChart(int panel, int control);
// plotHandle -1 deletes every plot.
int DeleteGraphPlot(int panel, int control, int plotHandle, int refresh);
int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max);
// Returns a plot handle (> 0) or a negative error.
int PlotWaveform(int panel, int control, const void* yArray, int numberOfPoints, int dataType,
                 double yGain, double yOffset, double initialX, double xIncrement, int plotStyle,
                 int pointStyle, int lineStyle, int pointFrequency, int color);

// A strip chart's context menu. The choice reaches the chart's callback as
// EVENT_CHART_MENU; Pause is offered while the chart runs, Resume while paused.
enum {
    CHART_MENU_SAVE_IMAGE = 1,
    CHART_MENU_SAVE_DATA = 2,
    CHART_MENU_PAUSE = 3,
    CHART_MENU_RESUME = 4,
    CHART_TEXT_HINT = 5, // not a menu item: the line under the figures in the chart's tip
    CHART_MENU_CLEAR = 6,
};
int SetStripChartText(int panel, int control, int item, const char* text);

// One time slot of a strip chart as shown.
struct StripChartSlot {
    double value;      // NaN: nothing was measured then
    double seconds;    // before the newest slot shown: 0 or less
    long long epochMs; // wall-clock time, milliseconds since 1970 UTC
};
// The slots on screen, oldest first (those frozen by a pause while paused).
int GetStripChartSlots(int panel, int control, std::vector<StripChartSlot>* out);
// A picture of the control as the operator sees it (a strip chart without its
// pause mark), as the bytes of a PNG file.
int GetCtrlImagePng(int panel, int control, std::string* png);

// ---- tables -------------------------------------------------------------------
// Rows of text in columns; beyond ATTR_MAX_ROWS the oldest rows are dropped.
int AppendTableRow(int panel, int control, const std::vector<std::string>& cells);
int ClearTableRows(int panel, int control);
int GetNumTableRows(int panel, int control, int* rows);
// The cells of row `row` (0 the oldest kept).
int GetTableRowCells(int panel, int control, int row, std::vector<std::string>* cells);
int SetTableColumnLabel(int panel, int control, int column, const char* text);
// One cell's text, in a row already listed.
int SetTableCell(int panel, int control, int row, int column, const char* text);
// How a row looks: the one now under way (brought into view), one that
// passed or failed, or plain.
enum { TABLE_ROW_PLAIN = 0, TABLE_ROW_CURRENT = 1, TABLE_ROW_PASSED = 2, TABLE_ROW_FAILED = 3 };
int SetTableRowLook(int panel, int control, int row, int look);

// Test and benchmark access to what the charts hold: the measured points of
// the latest screen of slots, gaps left out.
int UiStripChartPointCount(int panel, int control);
// Copies the latest points of a strip chart (oldest first) into out.
int UiStripChartPoints(int panel, int control, double* out, int maxPoints);
int UiGraphPlotCount(int panel, int control);
int UiGraphPlotPoints(int panel, int control, double* out, int maxPoints);
int UiGraphAxisRange(int panel, int control, double* min, double* max);

// ---- widgets for tests --------------------------------------------------------
// The underlying widget of a control or panel, as an opaque pointer, so tests
// can send real mouse and keyboard events (cast to QWidget*).
void* UiWidgetOfCtrl(int panel, int control);
void* UiWidgetOfPanel(int panel);
// Renders a panel, with its menu bar, into a PNG file; 0 on success.
int UiSavePanelImage(int panel, const char* path);
// Simulates the operator choosing a menu item.
int UiTriggerMenuItem(int menuBar, int menuOrItem);

// Stops the timer controls of a panel from firing on their own (tests drive
// ticks by calling the callback directly).
int UiSetTimersEnabled(int panel, int enabled);
