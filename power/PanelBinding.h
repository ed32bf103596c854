// Binds the records to the main window: set controls, limits, dimming, lamps,
// meters, the stopped / running / alarm display and the model set-up.
#pragma once

struct PowerEntry;

// Reads the four set controls into gNormal52PSet and validates it; returns
// the result of Data52PCheck.
int Data52PFromPanelToNormalVar();
// Reads the four set controls as the record counts them, changing nothing.
void Data52PReadPanelEntry(PowerEntry* entry);

// Writes gNormal52PSet to the front panel with the limits, dimming and lamps
// that belong to the state. Callers pass the current outputOn.
void Data52PFromNormalVarToPanel(int running);

// The set controls' fixed limits and decimals, from what the source allows;
// the voltage's limits and the frequency's top follow the state on every redraw.
void Data52PSetControlLimits();

// Shows gArrMeasureOutput on the four meters.
void Data52PFromMeasureToPanel();

// Shows the output state and redraws the front panel when the state changed.
void RefreshOutputState();

// Forgets the state remembered by RefreshOutputState, as at program start.
void RefreshOutputStateReset();

// What the window shows of the source: as the link confirms it (1), or only as
// last known (0, offline): the meters show no number, the output lamp is
// dimmed (and still takes clicks) and the stopped / running captions say "last
// known". The records, and so what is sent, logged and charted, are untouched.
void ShowStateConfirmed(int confirmed);
// Puts the "last known" captions back after the main window was re-texted.
void RefreshStateConfirmed();

// Dims "Save" and "Load" of the File menu while the output runs.
void MainMenuNormalSaveLoadDimmed(unsigned int dimmed);

// Sets the window up for the model (1 is the only one): without a link the
// autosaved settings are read first; then the charts, the front panel, and
// cleared measurement charts.
void ModelTypeChoose(int modelType);
void ModelF52PChoose(int modelType);
