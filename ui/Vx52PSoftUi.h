// Identifiers of the panels, controls and menu items of the layout resource
// "Vx52PSoft.uir". The short names are the object names in the .ui sources;
// the program uses only the integer constants.
#pragma once

#include "platform/Toolkit.h"

constexpr const char* UIR_FILE = "Vx52PSoft.uir";

// Resources: the panels and the menu bar.
enum {
    PANEL = 1,
    COMMPANEL = 2,
    WAITPANEL = 3,
    ABOUTPANEL = 4,
    MENUBAR = 5,
    LINKMONPANEL = 6,
    REMOTEPANEL = 7,
    SEQPANEL = 8,
};

#define VX52_PANEL_CONTROLS(X)                                                                     \
    X(PIC_LOGO)                                                                                    \
    X(TXT_CAPTION1)                                                                                \
    X(TXT_CAPTION2)                                                                                \
    X(TXT_CAPTION3)                                                                                \
    X(NUM_VOL)                                                                                     \
    X(NUM_FREQ)                                                                                    \
    X(NUM_UP2U)                                                                                    \
    X(NUM_DOWN2U)                                                                                  \
    X(BT_AUTO_HIGH)                                                                                \
    X(BT_50_60)                                                                                    \
    X(BT_120_220)                                                                                  \
    X(BT_M2_M4)                                                                                    \
    X(BT_400)                                                                                      \
    X(BT_UUP)                                                                                      \
    X(BT_UDOWN)                                                                                    \
    X(LED_AUTO)                                                                                    \
    X(LED_HIGH)                                                                                    \
    X(LED_120V)                                                                                    \
    X(LED_220V)                                                                                    \
    X(LED_50HZ)                                                                                    \
    X(LED_60HZ)                                                                                    \
    X(LED_M2)                                                                                      \
    X(LED_M4)                                                                                      \
    X(LED_400HZ)                                                                                   \
    X(LED_UUP)                                                                                     \
    X(LED_UDOWN)                                                                                   \
    X(MEA_VOL)                                                                                     \
    X(MEA_CURR)                                                                                    \
    X(MEA_FREQ)                                                                                    \
    X(MEA_POWER)                                                                                   \
    X(SCHART_R1)                                                                                   \
    X(SCHART_R2)                                                                                   \
    X(SCHART_R3)                                                                                   \
    X(SCHART_R4)                                                                                   \
    X(GRAPH_SETWAVE)                                                                               \
    X(LED_OUTPUT)                                                                                  \
    X(TXT_RUNNING)                                                                                 \
    X(TXT_STOPPED)                                                                                 \
    X(LED_ALARM)                                                                                   \
    X(TXT_ALARM)                                                                                   \
    X(BT_CLEAR_ALARM)                                                                              \
    X(BT_111)                                                                                      \
    X(LED_LINK)                                                                                    \
    X(TXT_OFFLINE)                                                                                 \
    X(TXT_MODELNAME)                                                                               \
    X(BT_CONNECT)                                                                                  \
    X(BT_DISCONNECT)                                                                               \
    X(LED_ACTIVITY)                                                                                \
    X(TXT_LINKINFO)                                                                                \
    X(TXT_LINKLOST)                                                                                \
    X(TIMER_50MS)                                                                                  \
    X(TXT_REMOTE)                                                                                  \
    X(TXT_LOG)                                                                                     \
    X(TXT_LINKRETRY)                                                                               \
    X(BT_STOP_RETRY)                                                                               \
    X(TXT_WATCHDOG)

#define VX52_COMMPANEL_CONTROLS(X)                                                                 \
    X(NUM_ADDRESS)                                                                                 \
    X(RING_PORT)                                                                                   \
    X(RING_DEVICE)                                                                                 \
    X(RING_BAUD)                                                                                   \
    X(BT_OK)                                                                                       \
    X(BT_CANCEL)                                                                                   \
    X(TXT_ONLINE)

#define VX52_WAITPANEL_CONTROLS(X) X(TXT_WAIT)

#define VX52_ABOUTPANEL_CONTROLS(X)                                                                \
    X(TXT_LINE1)                                                                                   \
    X(TXT_TITLE)                                                                                   \
    X(NUM_VERSION)                                                                                 \
    X(BT_OK)

#define VX52_MENUBAR_ITEMS(X)                                                                      \
    X(FILE)                                                                                        \
    X(FILE_SAVE)                                                                                   \
    X(FILE_LOAD)                                                                                   \
    X(FILE_EXIT)                                                                                   \
    X(SET)                                                                                         \
    X(SET_COMM)                                                                                    \
    X(SET_LANG)                                                                                    \
    X(SET_LANG_CN)                                                                                 \
    X(SET_LANG_EN)                                                                                 \
    X(HELP)                                                                                        \
    X(HELP_HELP)                                                                                   \
    X(HELP_ABOUT)                                                                                  \
    X(FILE_LOG_START)                                                                              \
    X(FILE_LOG_STOP)                                                                               \
    X(SET_LINKMON)                                                                                 \
    X(SET_REMOTE)                                                                                  \
    X(SET_RECONNECT)                                                                               \
    X(FILE_SEQUENCE)

#define VX52_REMOTEPANEL_CONTROLS(X)                                                               \
    X(CHK_ENABLE)                                                                                  \
    X(TXT_ADDRESS)                                                                                 \
    X(NUM_PORT)                                                                                    \
    X(NUM_IDLE)                                                                                    \
    X(TXT_NOTE)                                                                                    \
    X(TXT_STATUS)                                                                                  \
    X(BT_OK)                                                                                       \
    X(BT_CANCEL)

#define VX52_LINKMONPANEL_CONTROLS(X)                                                              \
    X(TBL_FRAMES)                                                                                  \
    X(BT_PAUSE)                                                                                    \
    X(BT_CLEAR)                                                                                    \
    X(BT_SAVE)                                                                                     \
    X(BT_CLOSE)

#define VX52_SEQPANEL_CONTROLS(X)                                                                  \
    X(TXT_FILE)                                                                                    \
    X(BT_OPEN)                                                                                     \
    X(NUM_REPEAT)                                                                                  \
    X(RING_RANGE)                                                                                  \
    X(RING_ONFAIL)                                                                                 \
    X(RING_END)                                                                                    \
    X(TBL_STEPS)                                                                                   \
    X(TBL_ERRORS)                                                                                  \
    X(TXT_OUTCOME)                                                                                 \
    X(TXT_STATUS)                                                                                  \
    X(PROG_RUN)                                                                                    \
    X(TXT_NOTICE)                                                                                  \
    X(BT_START)                                                                                    \
    X(BT_STOP)

// Control identifiers are unique across the whole layout.
enum {
    PANEL_FIRST_CONTROL_ = 100,
#define X(n) PANEL_##n,
    VX52_PANEL_CONTROLS(X)
#undef X
        COMMPANEL_FIRST_CONTROL_ = 200,
#define X(n) COMMPANEL_##n,
    VX52_COMMPANEL_CONTROLS(X)
#undef X
        WAITPANEL_FIRST_CONTROL_ = 300,
#define X(n) WAITPANEL_##n,
    VX52_WAITPANEL_CONTROLS(X)
#undef X
        ABOUTPANEL_FIRST_CONTROL_ = 400,
#define X(n) ABOUTPANEL_##n,
    VX52_ABOUTPANEL_CONTROLS(X)
#undef X
        MENUBAR_FIRST_ITEM_ = 500,
#define X(n) MENUBAR_##n,
    VX52_MENUBAR_ITEMS(X)
#undef X
        LINKMONPANEL_FIRST_CONTROL_ = 600,
#define X(n) LINKMONPANEL_##n,
    VX52_LINKMONPANEL_CONTROLS(X)
#undef X
        REMOTEPANEL_FIRST_CONTROL_ = 700,
#define X(n) REMOTEPANEL_##n,
    VX52_REMOTEPANEL_CONTROLS(X)
#undef X
        SEQPANEL_FIRST_CONTROL_ = 800,
#define X(n) SEQPANEL_##n,
    VX52_SEQPANEL_CONTROLS(X)
#undef X
};

inline constexpr UiLayoutName kVx52LayoutNames[] = {
    {PANEL, PANEL, "PANEL"},
    {COMMPANEL, COMMPANEL, "COMMPANEL"},
    {WAITPANEL, WAITPANEL, "WAITPANEL"},
    {ABOUTPANEL, ABOUTPANEL, "ABOUTPANEL"},
    {MENUBAR, MENUBAR, "MENUBAR"},
    {LINKMONPANEL, LINKMONPANEL, "LINKMONPANEL"},
    {REMOTEPANEL, REMOTEPANEL, "REMOTEPANEL"},
    {SEQPANEL, SEQPANEL, "SEQPANEL"},
#define X(n) {PANEL, PANEL_##n, #n},
    VX52_PANEL_CONTROLS(X)
#undef X
#define X(n) {COMMPANEL, COMMPANEL_##n, #n},
        VX52_COMMPANEL_CONTROLS(X)
#undef X
#define X(n) {WAITPANEL, WAITPANEL_##n, #n},
            VX52_WAITPANEL_CONTROLS(X)
#undef X
#define X(n) {ABOUTPANEL, ABOUTPANEL_##n, #n},
                VX52_ABOUTPANEL_CONTROLS(X)
#undef X
#define X(n) {MENUBAR, MENUBAR_##n, #n},
                    VX52_MENUBAR_ITEMS(X)
#undef X
#define X(n) {LINKMONPANEL, LINKMONPANEL_##n, #n},
                        VX52_LINKMONPANEL_CONTROLS(X)
#undef X
#define X(n) {REMOTEPANEL, REMOTEPANEL_##n, #n},
                            VX52_REMOTEPANEL_CONTROLS(X)
#undef X
#define X(n) {SEQPANEL, SEQPANEL_##n, #n},
                                VX52_SEQPANEL_CONTROLS(X)
#undef X
};

inline constexpr int kVx52LayoutNameCount =
    static_cast<int>(sizeof(kVx52LayoutNames) / sizeof(kVx52LayoutNames[0]));
