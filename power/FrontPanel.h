// Callbacks of the front-panel controls of the main window.
#pragma once

int NORMAL_ONLINE_CHANGE_CALLBACK(int panel, int control, int event, void* callbackData,
                                  int eventData1, int eventData2);
int FC_NORMAL_SET_CHANGE_CALLBACK(int panel, int control, int event, void* callbackData,
                                  int eventData1, int eventData2);
int BT_FC_AUTO_HIGH_CALLBACK(int panel, int control, int event, void* callbackData,
                             int eventData1, int eventData2);
int BT_FC_50_60_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                         int eventData2);
int BT_FC_120_220_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                           int eventData2);
int BT_FC_M2_M4_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                         int eventData2);
int BT_FC_400_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                       int eventData2);
int BT_FC_UUP_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                       int eventData2);
int BT_FC_UDOWN_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                         int eventData2);
int LED_OUTPUT_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                        int eventData2);
int BT_CLEAR_ALARM_CALLBACK(int panel, int control, int event, void* callbackData,
                            int eventData1, int eventData2);
int BT_111_CALLBACK(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);

// Adds the front-panel callbacks to the toolkit's name table.
void FrontPanelRegisterCallbacks();
