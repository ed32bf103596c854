// The command queue, the exchange state and the connection state machine,
// driven one step per 50 ms tick.
#pragma once

#include <cstdint>

struct CommInfo {
    int32_t presentFlag;
    int32_t presentGroup;
    int32_t presentStep;
    int32_t presentCmd;
    int32_t presentSubCmd;
    int32_t presentPara;
    int32_t interval;
    int32_t intervalCnt;
    uint8_t rxBuff[256];
    int32_t txLen;
    uint8_t txBuff[256];
    int32_t rxLen;
    int32_t errCnt;
};

constexpr int COMM_QUEUE_SLOTS = 5;

struct CommNewCmd {
    int32_t readPos;
    int32_t writePos;
    int32_t count;
    int32_t group[COMM_QUEUE_SLOTS];
    int32_t step[COMM_QUEUE_SLOTS];
    int32_t cmd[COMM_QUEUE_SLOTS];
    int32_t subCmd[COMM_QUEUE_SLOTS];
    int32_t para[COMM_QUEUE_SLOTS];
};

extern CommInfo gCommInfo;
extern CommNewCmd gCommNewCmd;
extern int32_t stateQueryCnt;
extern int32_t measureQueryCnt;

void CommConnectDeal(int connect);
void CommTimerDeal();
void CommSetNewCmdSingleGroup(int kind, int subKind, int parameter);
void CommSetNewCmdGroup(int group);
void CommSetNewCmd(int kind, int subKind, int parameter);
void CommClearNewCmdAll();
void CommClearNewCmdFirst();
int CommReadNewCmdGroupToPresentGroup();
void CommSetPresentCmd(int kind, int subKind, int parameter);
void CommSentTxBuff();
int CommGetInterval(int kind, int subKind);
void CommClearMemoryBuff();

// Commands put in the queue since the program started, and those that have
// left it: sent, or dropped with the queue when the link opened or closed. A
// caller that notes the first count knows its commands are out once the second
// reaches it.
uint64_t CommQueuedCount();
uint64_t CommLeftQueueCount();
// Of the commands queued, those whose exchange is over (answered, accepted or
// refused; given up after missed replies; dropped with the queue), and of
// those the ones a later state or settings reply from the source has followed
// (dropped ones need none). Both count in queue order, like CommQueuedCount.
uint64_t CommEndedCount();
uint64_t CommConfirmedCount();
// 1 when the command with that number (1 for the first one queued) ended
// without being accepted: refused, given up or dropped. The last 64 are kept.
int CommCommandFailed(uint64_t number);

// 1 while the link is open and its connect sequence has finished: before that,
// the settings reply of the sequence would overwrite any change made meanwhile.
int CommLinkReady();

// ---- connecting again after a loss ------------------------------------------------
// A link that was up and stopped answering is tried again by the tick, with
// waits that grow from one second to half a minute. Each try is the normal
// connect (CommConnectDeal(1)), whose sequence stops a running output: nothing
// is ever started again by a try. An operator's disconnect never leads to one.
enum CommRetryState {
    COMM_RETRY_OFF = 0, // not retrying
    COMM_RETRY_WAITING, // counting the ticks to the next try
    COMM_RETRY_TRYING,  // a try's connect sequence is under way
};
struct CommRetry {
    int32_t state;
    int32_t tries;     // tries made since the loss
    int32_t waitTicks; // while waiting: ticks left before the next try
};
extern CommRetry gCommRetry;

// Ticks between the end of one try (or the loss, for the first) and the start
// of try number n, n counting from 1: 1, 2, 4, 8, 16 s, then 30 s.
int32_t CommRetryWaitTicks(int n);
// Whole seconds left before the next try, rounded up; 0 when not waiting.
int CommRetrySecondsLeft();
// Retrying after a loss on (1) or off (0); off ends a retry under way. Off
// when the program starts.
void CommSetReconnect(int on);
int CommReconnectOn();
// With 1, a connect that fails before the link was ever up is retried too:
// for a program without a window, where nobody is there to press connect.
void CommSetRetryAnyConnect(int on);
// Ends a retry under way; the link stays offline.
void CommStopRetrying();
// The connect of a caller that is not at the window (a remote client): no
// message box when the port will not open. 0 when the port opened (or was
// open), -1 when it would not open.
int CommConnectQuietly();

// Puts the scheduler back to its state at program start (tests use it).
void CommSchedulerReset();
