#include "link/Scheduler.h"

#include <cstring>

#include "link/Command.h"
#include "link/CommandIds.h"
#include "link/Frame.h"
#include "link/LinkEvents.h"
#include "link/LinkView.h"
#include "link/PortUart.h"
#include "power/PowerRecords.h"

namespace {
// Ticks between two state polls, and between two measurement polls.
constexpr int32_t kPollTicks = 20;
} // namespace

CommInfo gCommInfo;
CommNewCmd gCommNewCmd;
int32_t stateQueryCnt = kPollTicks;
int32_t measureQueryCnt = kPollTicks;

namespace {

constexpr int kGroupSingle = 15;
constexpr int kGroupConnect = 18;

// Steps of the connect sequence.
constexpr int kStepModel = 10;
constexpr int kStepState = 11;
constexpr int kStepStop1 = 12;
constexpr int kStepStop2 = 13;
constexpr int kStepSettings = 14;
constexpr int kStepFinalState = 15;

constexpr int kMissedRepliesOffline = 3;

constexpr CommandId kModelQuery = COMM_ID_MODEL_QUERY;
constexpr CommandId kStateQuery = COMM_ID_STATE_QUERY;
constexpr CommandId kMeasureQuery = COMM_ID_MEASURE_QUERY;
constexpr CommandId kStopCmd = COMM_ID_STOP;
constexpr CommandId kSettingsQuery = COMM_ID_SETTINGS_QUERY;

uint64_t sQueued = 0;
uint64_t sLeftQueue = 0;

// The state reply of the connect sequence showed the output running; the
// sequence's stop is reported once it is answered.
bool sStoppingOnConnect = false;

// The port the link opened. Kept apart from gPowerInfo.port so that editing the
// link settings while online never makes us flush or close some other port.
int sLinkPort = 0;

void StartRequest(int group, int step, CommandId r) {
    gCommInfo.presentGroup = group;
    gCommInfo.presentStep = step;
    CommSetPresentCmd(r.kind, r.subKind, 0);
    CommSentTxBuff();
}

void StartNextOrDropWait() {
    if (CommReadNewCmdGroupToPresentGroup() == 0 && gPowerInfo.waitShown == 1) {
        LinkViewDisplayPanelWait(0);
    }
}

void ConnectSequenceFinished() {
    CommSetPresentCmd(0, 0, 0);
    LinkViewModelTypeChoose(1);
    LinkViewCommConnectToPanel(gPowerInfo.online);
    Cal52PPowerUpDown(gPowerInfo.outputOn != 0 ? 1 : 0);
    stateQueryCnt = kPollTicks;
    if (gPowerInfo.outputOn == 1) {
        CommSetNewCmdSingleGroup(kStopCmd.kind, kStopCmd.subKind, 0);
    }
    StartNextOrDropWait();
}

// 1, 2 and 3 are the states of an output that runs; 4 is an alarm.
bool StateShowsRunning(int32_t state) {
    return state == '1' || state == '2' || state == '3';
}

// A stop of the sequence that the source accepted ends an output found running.
void NoteStopOnConnect(int result) {
    if (sStoppingOnConnect && result == COMM_RX_ACCEPTED) {
        sStoppingOnConnect = false;
        LinkNotifyOutputStoppedOnConnect();
    }
}

// The present step of the connect sequence was answered (result as the decoder
// gave it): send the next one.
void ConnectSequenceAdvance(int result) {
    switch (gCommInfo.presentStep) {
    case kStepModel:
        StartRequest(kGroupConnect, kStepState, kStateQuery);
        break;
    case kStepState:
        if (gPowerState != '0') {
            sStoppingOnConnect = StateShowsRunning(gPowerState);
            StartRequest(kGroupConnect, kStepStop1, kStopCmd);
        } else {
            StartRequest(kGroupConnect, kStepSettings, kSettingsQuery);
        }
        break;
    case kStepStop1:
        NoteStopOnConnect(result);
        StartRequest(kGroupConnect, kStepStop2, kStopCmd);
        break;
    case kStepStop2:
        NoteStopOnConnect(result);
        sStoppingOnConnect = false;
        StartRequest(kGroupConnect, kStepSettings, kSettingsQuery);
        break;
    case kStepSettings:
        StartRequest(kGroupConnect, kStepFinalState, kStateQuery);
        break;
    case kStepFinalState:
    default:
        ConnectSequenceFinished();
        break;
    }
}

} // namespace

void CommConnectDeal(int connect) {
    if (connect != 0) {
        if (gPowerInfo.online != 0) {
            return;
        }
        const int port = gPowerInfo.port;
        if (PortUartOpenDefault(port, gPowerInfo.baudRate) < 0) {
            LinkViewShowOpenPortError();
            return;
        }
        sLinkPort = port;
        sStoppingOnConnect = false;
        std::memset(&gCommInfo, 0, sizeof gCommInfo);
        CommClearMemoryBuff();
        CommClearNewCmdAll();
        gPowerInfo.online = 1;
        gPowerInfo.riseCountdown = 0;
        LinkNotifyConnected(port, gPowerInfo.baudRate, gPowerInfo.address);
        CommSetNewCmdGroup(kGroupConnect);
        return;
    }

    if (gPowerInfo.online != 1) {
        return;
    }
    std::memset(&gCommInfo, 0, sizeof gCommInfo);
    CommClearMemoryBuff();
    CommClearNewCmdAll();
    gPowerInfo.online = 0;
    LinkViewCommConnectToPanel(0);
    PowerClearMeasure();
    LinkViewData52PFromMeasureToPanel();
    LinkViewDisplayPanelWait(0);
    CommClearMemoryBuff();
    PortUartClose(sLinkPort);
    sLinkPort = 0;
    LinkNotifyClosed();
}

void CommTimerDeal() {
    if (stateQueryCnt > 0) {
        --stateQueryCnt;
    }
    if (measureQueryCnt > 0) {
        --measureQueryCnt;
    }

    CommInfo& c = gCommInfo;
    if (c.presentFlag == 1) {
        if (c.intervalCnt > 0) {
            --c.intervalCnt;
            return;
        }
        std::memset(c.rxBuff, 0, sizeof c.rxBuff);
        int received = 0;
        PortUartReadBuff(sLinkPort, &received, c.rxBuff, static_cast<int>(sizeof c.rxBuff));
        c.rxLen = received;

        int result;
        if (c.presentGroup == kGroupConnect && c.presentStep == kStepModel) {
            result = ModelQueryRx(c.rxBuff, c.rxLen, gPowerInfo.modelName, &gPowerInfo.modelNo);
        } else {
            result = CommRx(c.presentCmd, c.presentSubCmd, c.presentPara, c.rxBuff, c.rxLen);
        }
        LinkNotifyFrameReceived(c.rxBuff, c.rxLen, c.presentCmd, c.presentSubCmd, result);

        if (result == COMM_RX_NONE) {
            ++c.errCnt;
            if (c.errCnt >= kMissedRepliesOffline) {
                LinkNotifyLosing();
                CommConnectDeal(0);
                return;
            }
            // An operator's start or stop is not repeated blindly: asking for
            // the state shows what the source actually did. Inside the connect
            // sequence the stop is repeated instead, since abandoning the
            // sequence would leave the window offline while the link polls.
            if (c.presentCmd == COMM_KIND_OUTPUT && c.presentGroup != kGroupConnect) {
                c.presentGroup = kGroupSingle;
                c.presentStep = 0;
                CommSetPresentCmd(kStateQuery.kind, kStateQuery.subKind, 0);
            }
            CommSentTxBuff();
            return;
        }

        c.errCnt = 0;
        if (c.presentGroup == kGroupConnect) {
            ConnectSequenceAdvance(result);
            return;
        }
        CommSetPresentCmd(0, 0, 0);
        StartNextOrDropWait();
        return;
    }

    if (CommReadNewCmdGroupToPresentGroup() != 0) {
        return;
    }
    if (stateQueryCnt == 0) {
        StartRequest(kGroupSingle, 0, kStateQuery);
        stateQueryCnt = kPollTicks;
        // Never both polls in one tick: the measurement waits for the next
        // idle one.
        if (measureQueryCnt == 0 && gPowerInfo.outputOn != 0) {
            measureQueryCnt = 1;
        }
        return;
    }
    if (measureQueryCnt == 0 && gPowerInfo.outputOn != 0) {
        StartRequest(kGroupSingle, 0, kMeasureQuery);
        measureQueryCnt = kPollTicks;
    }
}

static void QueueEntry(int group, int step, int kind, int subKind, int parameter) {
    CommNewCmd& q = gCommNewCmd;
    if (q.count >= COMM_QUEUE_SLOTS) {
        return;
    }
    if (q.writePos >= COMM_QUEUE_SLOTS || q.writePos < 0) {
        q.writePos = 0;
    }
    q.group[q.writePos] = group;
    q.step[q.writePos] = step;
    CommSetNewCmd(kind, subKind, parameter);
    ++q.count;
    ++q.writePos;
    ++sQueued;
}

void CommSetNewCmdSingleGroup(int kind, int subKind, int parameter) {
    QueueEntry(kGroupSingle, 0, kind, subKind, parameter);
}

void CommSetNewCmdGroup(int group) {
    if (group == kGroupConnect) {
        QueueEntry(kGroupConnect, kStepModel, kModelQuery.kind, kModelQuery.subKind, 0);
    }
}

void CommSetNewCmd(int kind, int subKind, int parameter) {
    CommNewCmd& q = gCommNewCmd;
    if (q.writePos < 0 || q.writePos >= COMM_QUEUE_SLOTS) {
        return;
    }
    q.cmd[q.writePos] = kind;
    q.subCmd[q.writePos] = subKind;
    q.para[q.writePos] = parameter;
}

void CommClearNewCmdAll() {
    std::memset(&gCommNewCmd, 0, sizeof gCommNewCmd);
    sLeftQueue = sQueued;
}

void CommClearNewCmdFirst() {
    CommNewCmd& q = gCommNewCmd;
    if (q.count <= 0) {
        return;
    }
    if (q.readPos < 0 || q.readPos >= COMM_QUEUE_SLOTS) {
        q.readPos = 0;
    }
    q.group[q.readPos] = 0;
    q.step[q.readPos] = 0;
    --q.count;
    ++sLeftQueue;
    ++q.readPos;
    if (q.readPos >= COMM_QUEUE_SLOTS) {
        q.readPos = 0;
    }
}

int CommReadNewCmdGroupToPresentGroup() {
    CommNewCmd& q = gCommNewCmd;
    if (q.count <= 0) {
        return 0;
    }
    if (q.readPos < 0 || q.readPos >= COMM_QUEUE_SLOTS) {
        q.readPos = 0;
    }
    const int slot = q.readPos;
    const int group = q.group[slot];
    const int kind = q.cmd[slot];
    gCommInfo.presentGroup = group;
    gCommInfo.presentStep = q.step[slot];
    CommSetPresentCmd(kind, q.subCmd[slot], q.para[slot]);
    CommClearNewCmdFirst();
    CommSentTxBuff();
    if (group == kGroupConnect || (group == kGroupSingle && kind == COMM_KIND_OUTPUT)) {
        LinkViewDisplayPanelWait(1);
    }
    return 1;
}

void CommSetPresentCmd(int kind, int subKind, int parameter) {
    CommInfo& c = gCommInfo;
    if (kind == 0) {
        c.presentFlag = 0;
        c.presentGroup = 0;
        c.presentStep = 0;
        c.presentCmd = 0;
        c.presentSubCmd = 0;
        c.presentPara = 0;
        c.interval = 0;
        c.txLen = 0;
        return;
    }
    c.presentFlag = 1;
    c.presentCmd = kind;
    c.presentSubCmd = subKind;
    c.presentPara = parameter;
    c.interval = CommGetInterval(kind, subKind);
    if (kind == kModelQuery.kind && subKind == kModelQuery.subKind) {
        c.txLen = ModelQueryTx(c.txBuff);
    } else {
        c.txLen = CommTx(kind, subKind, parameter, c.txBuff);
    }
}

void CommSentTxBuff() {
    CommInfo& c = gCommInfo;
    if (c.txLen <= 0) {
        return;
    }
    c.intervalCnt = c.interval;
    PortUartWriteBuff(sLinkPort, c.txLen, c.txBuff);
    LinkNotifyFrameSent(c.txBuff, c.txLen, c.presentCmd, c.presentSubCmd);
}

int CommGetInterval(int kind, int subKind) {
    (void)kind;
    (void)subKind;
    switch (gPowerInfo.baudRate) {
    case 1200:
        return 14;
    case 2400:
        return 7;
    case 4800:
        return 5;
    default:
        return 4;
    }
}

void CommClearMemoryBuff() {
    PortUartClear(sLinkPort);
}

uint64_t CommQueuedCount() {
    return sQueued;
}

uint64_t CommLeftQueueCount() {
    return sLeftQueue;
}

int CommLinkReady() {
    if (gPowerInfo.online != 1 || gCommInfo.presentGroup == kGroupConnect) {
        return 0;
    }
    const CommNewCmd& q = gCommNewCmd;
    for (int i = 0; i < q.count && i < COMM_QUEUE_SLOTS; ++i) {
        const int slot = (q.readPos + i) % COMM_QUEUE_SLOTS;
        if (slot >= 0 && q.group[slot] == kGroupConnect) {
            return 0;
        }
    }
    return 1;
}

void CommSchedulerReset() {
    if (sLinkPort != 0) {
        PortUartClose(sLinkPort);
        sLinkPort = 0;
    }
    std::memset(&gCommInfo, 0, sizeof gCommInfo);
    CommClearNewCmdAll();
    stateQueryCnt = kPollTicks;
    measureQueryCnt = kPollTicks;
    sStoppingOnConnect = false;
}
