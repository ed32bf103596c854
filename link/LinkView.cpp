#include "link/LinkView.h"

namespace {

const LinkView* gView = nullptr;

} // namespace

const LinkView* LinkSetView(const LinkView* view) {
    const LinkView* previous = gView;
    gView = view;
    return previous;
}

void LinkViewDisplayPanelWait(int show) {
    if (gView && gView->DisplayPanelWait) {
        gView->DisplayPanelWait(show);
    }
}

void LinkViewModelTypeChoose(int modelType) {
    if (gView && gView->ModelTypeChoose) {
        gView->ModelTypeChoose(modelType);
    }
}

void LinkViewCommConnectToPanel(int online) {
    if (gView && gView->CommConnectToPanel) {
        gView->CommConnectToPanel(online);
    }
}

void LinkViewData52PFromMeasureToPanel() {
    if (gView && gView->Data52PFromMeasureToPanel) {
        gView->Data52PFromMeasureToPanel();
    }
}

void LinkViewData52PFromNormalVarToPanel(int running) {
    if (gView && gView->Data52PFromNormalVarToPanel) {
        gView->Data52PFromNormalVarToPanel(running);
    }
}

void LinkViewRefreshOutputState() {
    if (gView && gView->RefreshOutputState) {
        gView->RefreshOutputState();
    }
}

void LinkViewShowOpenPortError() {
    if (gView && gView->ShowOpenPortError) {
        gView->ShowOpenPortError();
    }
}
