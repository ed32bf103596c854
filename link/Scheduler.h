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

// 1 while the link is open and its connect sequence has finished: before that,
// the settings reply of the sequence would overwrite any change made meanwhile.
int CommLinkReady();

// Puts the scheduler back to its state at program start (tests use it).
void CommSchedulerReset();
