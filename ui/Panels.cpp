#include "ui/Panels.h"

int gMainPanel = 0;
int gCommPanel = 0;
int gWaitPanel = 0;
int gAboutPanel = 0;
int gMainMenu = 0;
int gRemotePanel = 0;
