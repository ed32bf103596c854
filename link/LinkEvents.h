// What the link does, told to whoever listens: frames sent and received, and
// the link opened, closed by the operator or lost. The scheduler reports at
// the points where these happen and knows nothing of the listeners.
#pragma once

#include <cstdint>
#include <string>

#include "link/Scheduler.h"
#include "platform/System.h"

// The far end as the link opened it.
struct LinkPeer {
    int port = 0;
    std::string device; // the device "COM<port>" led to, links followed
    int baudRate = 0;
    int address = 0;
};

// Any member may be null.
struct LinkObserver {
    void (*FRAME_SENT_CALLBACK)(const uint8_t* bytes, int length, int kind, int subKind);
    // result as the decoder gave it: 1 accepted, -1 refused or unusable, 0 no
    // acceptable reply (length 0: nothing arrived at all). Called after the
    // reply has acted on the records.
    void (*FRAME_RECEIVED_CALLBACK)(const uint8_t* bytes, int length, int kind, int subKind,
                                    int result);
    void (*CONNECTED_CALLBACK)(const LinkPeer& peer);
    // Closed by the operator or at shutdown.
    void (*DISCONNECTED_CALLBACK)(const LinkPeer& peer);
    // Closed because the instrument stopped answering.
    void (*LOST_CALLBACK)(const LinkPeer& peer);
    // The source's output ran when the link opened, and the connect sequence
    // has just stopped it.
    void (*OUTPUT_STOPPED_ON_CONNECT_CALLBACK)(const LinkPeer& peer);
    // Connecting again after a loss: waiting (told again whenever the whole
    // seconds left change), a try starting, or retrying over (state
    // COMM_RETRY_OFF: back online, stopped, or switched off).
    void (*RETRY_CALLBACK)(const CommRetry& retry) = nullptr;
    // Online again after a loss: a try's connect sequence has finished.
    void (*RESTORED_CALLBACK)(const LinkPeer& peer, int tries) = nullptr;
};

// The observer must outlive its registration; adding one twice adds it once.
void LinkAddObserver(const LinkObserver* observer);
void LinkRemoveObserver(const LinkObserver* observer);
// While FRAME_RECEIVED_CALLBACK is told: the instant the frame arrived, one
// for every listener. The data log and a test run stamp a reading with it, so
// both put it on the same side of a step's settle time however long the
// listeners before them took (a data log's sync can take a while).
void LinkReceivedAt(SysLocalTime* wall, double* monotonicMs);

// ---- called by the scheduler ----------------------------------------------------
void LinkNotifyFrameSent(const uint8_t* bytes, int length, int kind, int subKind);
void LinkNotifyFrameReceived(const uint8_t* bytes, int length, int kind, int subKind, int result);
void LinkNotifyConnected(int port, int baudRate, int address);
// The close about to happen is a loss of the instrument.
void LinkNotifyLosing();
// The link has closed: reported as lost after LinkNotifyLosing, else as a
// disconnect.
void LinkNotifyClosed();
void LinkNotifyOutputStoppedOnConnect();
void LinkNotifyRetry(const CommRetry& retry);
void LinkNotifyRestored(int tries);
// The peer of the link now open, or of the last one.
const LinkPeer& LinkCurrentPeer();
