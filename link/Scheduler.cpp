#include "link/Scheduler.h"

#include <algorithm>
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
CommRetry gCommRetry;
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

// Where the queued commands are: the one in progress (0: none, or a poll),
// the last that ended, the last that a state or settings reply has followed,
// and the numbers of those that ended without being accepted.
uint64_t sPresentNumber = 0;
uint64_t sEnded = 0;
uint64_t sConfirmed = 0;
constexpr uint64_t kFailedKept = 64;
uint64_t sFailed[kFailedKept] = {};

void NoteFailed(uint64_t number) {
    sFailed[number % kFailedKept] = number;
}

// The queued command in progress is over.
void EndPresent(bool accepted) {
    if (sPresentNumber == 0) {
        return;
    }
    if (!accepted) {
        NoteFailed(sPresentNumber);
    }
    sEnded = sPresentNumber;
    sPresentNumber = 0;
}

// The state reply of the connect sequence showed the output running; the
// sequence's stop is reported once it is answered.
bool sStoppingOnConnect = false;

// The port the link opened. Kept apart from gPowerInfo.port so that editing the
// link settings while online never makes us flush or close some other port.
int sLinkPort = 0;

// Retrying after a loss, and after any failed connect.
int sReconnect = 0;
int sRetryAnyConnect = 0;
// The close under way is a loss, not an operator's disconnect.
bool sLosing = false;
// The open under way was not asked for at the window: a port that will not
// open is told to nobody in a box.
bool sQuietOpen = false;

constexpr int32_t kRetryWaits[] = {20, 40, 80, 160, 320};
constexpr int32_t kRetryLongWait = 600;
constexpr int32_t kTicksPerSecond = 20;

void SetRetry(int32_t state, int32_t waitTicks) {
    gCommRetry.state = state;
    gCommRetry.waitTicks = waitTicks;
    LinkNotifyRetry(gCommRetry);
}

// A connect failed or the link was lost: wait for the next try, if there is
// to be one. linkWasUp: the link had finished its connect sequence.
void RetryAfterFailure(bool linkWasUp) {
    const bool retrying = gCommRetry.state != COMM_RETRY_OFF;
    if (sReconnect == 0 || !(retrying || linkWasUp || sRetryAnyConnect != 0)) {
        return;
    }
    if (!retrying) {
        gCommRetry.tries = 0;
    }
    SetRetry(COMM_RETRY_WAITING, CommRetryWaitTicks(gCommRetry.tries + 1));
}

// One tick while waiting: a try when the wait is over. The try is one open
// and a queued model query; the tick never waits on it.
void RetryTick() {
    const int before = CommRetrySecondsLeft();
    if (--gCommRetry.waitTicks > 0) {
        if (CommRetrySecondsLeft() != before) {
            LinkNotifyRetry(gCommRetry);
        }
        return;
    }
    sQuietOpen = true;
    CommConnectDeal(1);
    sQuietOpen = false;
}

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
    EndPresent(true);
    CommSetPresentCmd(0, 0, 0);
    LinkViewModelTypeChoose(1);
    LinkViewCommConnectToPanel(gPowerInfo.online);
    Cal52PPowerUpDown(gPowerInfo.outputOn != 0 ? 1 : 0);
    stateQueryCnt = kPollTicks;
    if (gPowerInfo.outputOn == 1) {
        CommSetNewCmdSingleGroup(kStopCmd.kind, kStopCmd.subKind, 0);
    }
    StartNextOrDropWait();
    if (gCommRetry.state == COMM_RETRY_TRYING) {
        const int tries = gCommRetry.tries;
        gCommRetry.tries = 0;
        SetRetry(COMM_RETRY_OFF, 0);
        LinkNotifyRestored(tries);
    }
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
        // A connect while waiting, the tick's own or an operator's, is the next try.
        if (gCommRetry.state == COMM_RETRY_WAITING) {
            ++gCommRetry.tries;
            SetRetry(COMM_RETRY_TRYING, 0);
        }
        const int port = gPowerInfo.port;
        if (PortUartOpenDefault(port, gPowerInfo.baudRate) < 0) {
            if (!sQuietOpen) {
                LinkViewShowOpenPortError();
            }
            RetryAfterFailure(false);
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
    if (!sLosing) {
        CommStopRetrying();
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
    if (gPowerInfo.online != 1 && gCommRetry.state == COMM_RETRY_WAITING) {
        RetryTick();
        return;
    }
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
                const bool wasUp = CommLinkReady() == 1;
                LinkNotifyLosing();
                sLosing = true;
                CommConnectDeal(0);
                sLosing = false;
                RetryAfterFailure(wasUp);
                return;
            }
            // An operator's start or stop is not repeated blindly: asking for
            // the state shows what the source actually did. Inside the connect
            // sequence the stop is repeated instead, since abandoning the
            // sequence would leave the window offline while the link polls.
            if (c.presentCmd == COMM_KIND_OUTPUT && c.presentGroup != kGroupConnect) {
                EndPresent(false);
                c.presentGroup = kGroupSingle;
                c.presentStep = 0;
                CommSetPresentCmd(kStateQuery.kind, kStateQuery.subKind, 0);
            }
            CommSentTxBuff();
            return;
        }

        c.errCnt = 0;
        // What the source reports now comes after every command that ended.
        if (CommIs(c.presentCmd, c.presentSubCmd, kStateQuery) ||
            CommIs(c.presentCmd, c.presentSubCmd, kSettingsQuery)) {
            sConfirmed = sEnded;
        }
        if (c.presentGroup == kGroupConnect) {
            ConnectSequenceAdvance(result);
            return;
        }
        EndPresent(result == COMM_RX_ACCEPTED);
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
    for (uint64_t n = std::max(sEnded, sQueued - std::min(sQueued, kFailedKept)) + 1; n <= sQueued;
         ++n) {
        NoteFailed(n);
    }
    sPresentNumber = 0;
    sEnded = sQueued;
    sConfirmed = sQueued;
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
    sPresentNumber = sLeftQueue;
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

uint64_t CommEndedCount() {
    return sEnded;
}

uint64_t CommConfirmedCount() {
    return sConfirmed;
}

int CommCommandFailed(uint64_t number) {
    return number != 0 && sFailed[number % kFailedKept] == number ? 1 : 0;
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

int32_t CommRetryWaitTicks(int n) {
    constexpr int kShortWaits = static_cast<int>(sizeof kRetryWaits / sizeof kRetryWaits[0]);
    return n >= 1 && n <= kShortWaits ? kRetryWaits[n - 1] : kRetryLongWait;
}

int CommRetrySecondsLeft() {
    if (gCommRetry.state != COMM_RETRY_WAITING || gCommRetry.waitTicks <= 0) {
        return 0;
    }
    return (gCommRetry.waitTicks + kTicksPerSecond - 1) / kTicksPerSecond;
}

void CommSetReconnect(int on) {
    sReconnect = on != 0 ? 1 : 0;
    if (sReconnect == 0) {
        CommStopRetrying();
    }
}

int CommReconnectOn() {
    return sReconnect;
}

void CommSetRetryAnyConnect(int on) {
    sRetryAnyConnect = on != 0 ? 1 : 0;
}

void CommStopRetrying() {
    if (gCommRetry.state == COMM_RETRY_OFF) {
        return;
    }
    gCommRetry.tries = 0;
    SetRetry(COMM_RETRY_OFF, 0);
}

int CommConnectQuietly() {
    sQuietOpen = true;
    CommConnectDeal(1);
    sQuietOpen = false;
    return gPowerInfo.online != 0 ? 0 : -1;
}

void CommSchedulerReset() {
    if (sLinkPort != 0) {
        PortUartClose(sLinkPort);
        sLinkPort = 0;
    }
    gCommRetry = CommRetry{};
    sReconnect = 0;
    sRetryAnyConnect = 0;
    std::memset(&gCommInfo, 0, sizeof gCommInfo);
    CommClearNewCmdAll();
    stateQueryCnt = kPollTicks;
    measureQueryCnt = kPollTicks;
    sStoppingOnConnect = false;
}
