#include "link/LinkView.h"

namespace {

const LinkView* gView = nullptr;

template <typename... Params, typename... Args>
void Tell(void (*LinkView::*member)(Params...), Args... args) {
    if (gView != nullptr && gView->*member != nullptr) {
        (gView->*member)(args...);
    }
}

} // namespace

const LinkView* LinkSetView(const LinkView* view) {
    const LinkView* previous = gView;
    gView = view;
    return previous;
}

void LinkViewDisplayPanelWait(int show) {
    Tell(&LinkView::DisplayPanelWait, show);
}

void LinkViewModelTypeChoose(int modelType) {
    Tell(&LinkView::ModelTypeChoose, modelType);
}

void LinkViewCommConnectToPanel(int online) {
    Tell(&LinkView::CommConnectToPanel, online);
}

void LinkViewData52PFromMeasureToPanel() {
    Tell(&LinkView::Data52PFromMeasureToPanel);
}

void LinkViewData52PFromNormalVarToPanel(int running) {
    Tell(&LinkView::Data52PFromNormalVarToPanel, running);
}

void LinkViewRefreshOutputState() {
    Tell(&LinkView::RefreshOutputState);
}

void LinkViewShowOpenPortError() {
    Tell(&LinkView::ShowOpenPortError);
}
