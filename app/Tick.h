// The 50 ms tick that drives everything periodic, and the logo animation.
#pragma once

int TIMER_50MS_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                        int eventData2);
int PIC_LOGO_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                      int eventData2);
void LogoAnimate();
void LogoAnimateChange();

// Tick counter and logo width, as at program start (tests use it).
void TickReset();
int TickCount();
int TickLogoWidth();
