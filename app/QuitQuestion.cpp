#include "app/QuitQuestion.h"

#include <cstdint>
#include <string>

#include "link/Command.h"
#include "link/LinkEvents.h"
#include "persist/Language.h"
#include "persist/TextItems.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"

namespace {

// The label of the dialogs' cancel buttons.
constexpr int kItemCancel = 179;

// A quit waiting for the stop: whether the stop is in the queue yet (a full
// queue takes it at the next reply), and the mark that tells it has gone out.
bool gStopping = false;
bool gQueued = false;
uint64_t gMark = 0;
void (*gQuit)() = nullptr;

void CallQuit(void*) {
    if (gQuit) {
        gQuit();
    }
}

void Finish() {
    gStopping = false;
    // Not from inside the link step that brought the answer.
    UiPostDeferredCall(CallQuit, nullptr);
}

void QueueStop() {
    const uint64_t before = PowerCommandsMark();
    PowerRequestOutput(0, POWER_CALLER_PANEL);
    gQueued = PowerCommandsMark() != before;
    gMark = PowerCommandsMark();
}

void Received(const uint8_t*, int, int, int, int result) {
    if (!gStopping) {
        return;
    }
    if (!gQueued) {
        QueueStop();
        return;
    }
    // The first answer after the stop went out is the stop's (or, when it
    // went unanswered, the state query that follows it up).
    if (PowerCommandsOut(gMark) != 0 && result != COMM_RX_NONE) {
        Finish();
    }
}

void Closed(const LinkPeer&) {
    if (gStopping) {
        Finish();
    }
}

const LinkObserver kObserver{nullptr, Received, nullptr, Closed, Closed, nullptr};

} // namespace

QuitAnswer QuitAskAboutOutput() {
    if (gPowerInfo.online != 1 || gPowerInfo.outputOn != 1) {
        return QUIT_GO_ON;
    }
    switch (GenericMessagePopup(
        LanguageMessage(TEXT_QUIT_TITLE).c_str(), LanguageMessage(TEXT_QUIT_OUTPUT_ON).c_str(),
        LanguageMessage(TEXT_QUIT_STOP).c_str(), LanguageMessage(TEXT_QUIT_LEAVE).c_str(),
        LanguageMessage(kItemCancel).c_str(), 3)) {
    case 1:
        return QUIT_STOP_FIRST;
    case 2:
        return QUIT_GO_ON;
    default:
        return QUIT_CANCEL;
    }
}

void QuitAfterStoppingOutput(void (*quit)()) {
    gQuit = quit;
    gStopping = true;
    // The link may have gone while the question was up.
    if (gPowerInfo.online != 1) {
        Finish();
        return;
    }
    QueueStop();
}

int QuitStopping() {
    return gStopping ? 1 : 0;
}

void QuitQuestionInstall() {
    LinkAddObserver(&kObserver);
}

void QuitQuestionReset() {
    gStopping = false;
    gQueued = false;
    gMark = 0;
    gQuit = nullptr;
}
