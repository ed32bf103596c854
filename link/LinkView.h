// What the link shows goes through this table, which the window fills at
// start-up: the link calls each member at its own moment and knows nothing of
// panels. A null member, or no table at all, shows nothing, so the link also
// runs without a window.
#pragma once

struct LinkView {
    // The wait popup over the main window: 1 shows it, 0 takes it down. Keeps
    // gPowerInfo.waitShown, which the link reads to know the popup is up.
    void (*DisplayPanelWait)(int show);
    // The model is known (the connect sequence has ended): set the window up for it.
    void (*ModelTypeChoose)(int modelType);
    // The link area: online with the model's name, or offline.
    void (*CommConnectToPanel)(int online);
    // gArrMeasureOutput to the meters.
    void (*Data52PFromMeasureToPanel)();
    // gNormal52PSet to the set controls, as for a running or stopped output.
    void (*Data52PFromNormalVarToPanel)(int running);
    // The output state (gPowerInfo.outputOn, alarm) to the window.
    void (*RefreshOutputState)();
    // The port would not open; the failure is in PortUartLastOpenFailure.
    void (*ShowOpenPortError)();
};

// The table must outlive its use; nullptr leaves the link without a view.
// Returns the table it replaces.
const LinkView* LinkSetView(const LinkView* view);

// ---- called by the link: each calls the member of the same name, if any ----------
void LinkViewDisplayPanelWait(int show);
void LinkViewModelTypeChoose(int modelType);
void LinkViewCommConnectToPanel(int online);
void LinkViewData52PFromMeasureToPanel();
void LinkViewData52PFromNormalVarToPanel(int running);
void LinkViewRefreshOutputState();
void LinkViewShowOpenPortError();
