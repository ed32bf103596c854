// The handles of the panels and the menu bar the program has loaded, 0 (or a
// negative load error) while there is none. The shell loads and discards them;
// the panel code, the charts and the language tables draw on them.
#pragma once

extern int gMainPanel;
extern int gCommPanel;
extern int gWaitPanel;
extern int gAboutPanel;
extern int gMainMenu;
extern int gRemotePanel;
