#include "link/LinkEvents.h"

#include <algorithm>
#include <vector>

#include "link/PortUart.h"

namespace {

std::vector<const LinkObserver*> gObservers;
LinkPeer gPeer;
bool gLosing = false;
SysLocalTime gReceivedWall{};
double gReceivedMs = 0;

// A listener may add or remove listeners while it is told: the list is copied.
template <typename Call> void Tell(Call call) {
    const std::vector<const LinkObserver*> now = gObservers;
    for (const LinkObserver* o : now) {
        call(*o);
    }
}

} // namespace

void LinkAddObserver(const LinkObserver* observer) {
    if (observer && std::find(gObservers.begin(), gObservers.end(), observer) == gObservers.end()) {
        gObservers.push_back(observer);
    }
}

void LinkRemoveObserver(const LinkObserver* observer) {
    gObservers.erase(std::remove(gObservers.begin(), gObservers.end(), observer), gObservers.end());
}

void LinkNotifyFrameSent(const uint8_t* bytes, int length, int kind, int subKind) {
    Tell([&](const LinkObserver& o) {
        if (o.FRAME_SENT_CALLBACK) {
            o.FRAME_SENT_CALLBACK(bytes, length, kind, subKind);
        }
    });
}

void LinkReceivedAt(SysLocalTime* wall, double* monotonicMs) {
    *wall = gReceivedWall;
    *monotonicMs = gReceivedMs;
}

void LinkNotifyFrameReceived(const uint8_t* bytes, int length, int kind, int subKind, int result) {
    SysGetLocalTime(&gReceivedWall);
    gReceivedMs = SysMonotonicMs();
    Tell([&](const LinkObserver& o) {
        if (o.FRAME_RECEIVED_CALLBACK) {
            o.FRAME_RECEIVED_CALLBACK(bytes, length, kind, subKind, result);
        }
    });
}

void LinkNotifyConnected(int port, int baudRate, int address) {
    gPeer = LinkPeer{port, PortUartDevice(port), baudRate, address};
    gLosing = false;
    Tell([](const LinkObserver& o) {
        if (o.CONNECTED_CALLBACK) {
            o.CONNECTED_CALLBACK(gPeer);
        }
    });
}

void LinkNotifyLosing() {
    gLosing = true;
}

void LinkNotifyClosed() {
    const bool lost = gLosing;
    gLosing = false;
    Tell([lost](const LinkObserver& o) {
        auto fn = lost ? o.LOST_CALLBACK : o.DISCONNECTED_CALLBACK;
        if (fn) {
            fn(gPeer);
        }
    });
}

void LinkNotifyOutputStoppedOnConnect() {
    Tell([](const LinkObserver& o) {
        if (o.OUTPUT_STOPPED_ON_CONNECT_CALLBACK) {
            o.OUTPUT_STOPPED_ON_CONNECT_CALLBACK(gPeer);
        }
    });
}

void LinkNotifyRetry(const CommRetry& retry) {
    Tell([&](const LinkObserver& o) {
        if (o.RETRY_CALLBACK) {
            o.RETRY_CALLBACK(retry);
        }
    });
}

void LinkNotifyRestored(int tries) {
    Tell([tries](const LinkObserver& o) {
        if (o.RESTORED_CALLBACK) {
            o.RESTORED_CALLBACK(gPeer, tries);
        }
    });
}

const LinkPeer& LinkCurrentPeer() {
    return gPeer;
}
