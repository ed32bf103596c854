// The four measurement strip charts, the meters' decimals and the
// set-waveform graph.
#pragma once

constexpr int SET_WAVE_POINTS = 180;
extern double gArrSetWave[SET_WAVE_POINTS];

void Data52PFromMeasureToGraph();
// One empty slot on each strip chart: time goes on, nothing was measured.
void Data52PGapToGraph();
void ClearMeasureGraphR1();
void ClearMeasureGraphR2();
void ClearMeasureGraphR3();
void ClearMeasureGraphR4();
void ClearMeasureGraphAll();
void SetMeasureGraphSpeed(int pointsPerScreen);
void SetNormalMeasureDisplayGraph52P();
void RefreshNormalSetGraph();
int WaverMakeSinByPeak(double startAngle, double peak, double frequency, double windowFrequency,
                       int count, double* out);

int SCHART_MEA_R1_CALLBACK(int panel, int control, int event, void* callbackData,
                           int eventData1, int eventData2);
int SCHART_MEA_R2_CALLBACK(int panel, int control, int event, void* callbackData,
                           int eventData1, int eventData2);
int SCHART_MEA_R3_CALLBACK(int panel, int control, int event, void* callbackData,
                           int eventData1, int eventData2);
int SCHART_MEA_R4_CALLBACK(int panel, int control, int event, void* callbackData,
                           int eventData1, int eventData2);
