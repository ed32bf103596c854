// The dialog shows the server in force (or, with none, the stored settings)
// and OK makes what it shows both in force and stored. It stays open when the
// address is wrong or the server cannot listen, so nothing is stored that does
// not work.
#include "app/RemoteControl.h"

#include <cstdio>
#include <string>

#include "app/CommandLine.h"
#include "app/MenuDialogs.h"
#include "app/Recording.h"
#include "app/Shell.h"
#include "link/Command.h"
#include "link/CommandIds.h"
#include "link/LinkEvents.h"
#include "persist/Language.h"
#include "persist/SettingsFiles.h"
#include "persist/TextItems.h"
#include "platform/System.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "remote/RemoteServer.h"
#include "ui/Vx52PSoftUi.h"
#include "util/Text.h"

namespace {

std::string Endpoint(const std::string& address, int port) {
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::string ListenFailure(const std::string& address, int port, int error) {
    return LanguageMessage(TEXT_REMOTE_CANNOT_LISTEN, {{"endpoint", Endpoint(address, port)},
                                                       {"reason", LanguageReasonText(error)}});
}

void ShowStatus() {
    if (gRemotePanel <= 0) {
        return;
    }
    static const int kItems[] = {507, 508, 509}; // not listening, listening on, clients
    std::string words[3];
    LanguageTexts(kItems, 3, words);
    std::string address;
    int port = 0;
    std::string text = words[0];
    if (RemoteServerListening(&address, &port)) {
        text = words[1] + " " + Endpoint(address, port) + "    " + words[2] + " " +
               std::to_string(RemoteServerClients());
    }
    SetCtrlVal(gRemotePanel, REMOTEPANEL_TXT_STATUS, text.c_str());
}

void ShowClients(int clients) {
    SetCtrlAttribute(gMainPanel, PANEL_TXT_REMOTE, ATTR_VISIBLE, clients > 0 ? 1 : 0);
    ShowStatus();
}

// MEASure:AGE? counts from the last measurement the link accepted.
void MeasurementArrived(const uint8_t*, int, int kind, int subKind, int result) {
    if (result == COMM_RX_ACCEPTED && CommIs(kind, subKind, COMM_ID_MEASURE_QUERY)) {
        PowerNoteMeasurement();
    }
}

const LinkObserver kMeasurementObserver{nullptr, MeasurementArrived, nullptr, nullptr, nullptr,
                                        nullptr};

} // namespace

int BT_REMOTE_OK_CALLBACK(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    int enabled = 0;
    int port = 0;
    std::string address;
    GetCtrlVal(gRemotePanel, REMOTEPANEL_CHK_ENABLE, &enabled);
    GetCtrlVal(gRemotePanel, REMOTEPANEL_TXT_ADDRESS, &address);
    GetCtrlVal(gRemotePanel, REMOTEPANEL_NUM_PORT, &port);
    address = TextTrim(address);
    if (!RemoteAddressValid(address.c_str())) {
        LanguageWarningPopup(LanguageMessage(TEXT_REMOTE_BAD_ADDRESS, {{"address", address}}));
        return 0;
    }
    if (enabled != 0) {
        std::string now;
        int nowPort = 0;
        const bool same =
            RemoteServerListening(&now, &nowPort) && now == address && nowPort == port;
        const int error = same ? 0 : RemoteServerStart(address.c_str(), port);
        if (error != 0) {
            LanguageWarningPopup(ListenFailure(address, port, error));
            ShowStatus();
            return 0;
        }
    } else {
        RemoteServerStop();
    }
    gRemoteSet.enabled = enabled != 0 ? 1 : 0;
    std::snprintf(gRemoteSet.address, sizeof gRemoteSet.address, "%s", address.c_str());
    gRemoteSet.port = port;
    DisplayPanelRemote(0);
    int error = 0;
    if (FileWriteRemoteSet(SOFTSET_FILE, &error) != 1) {
        ShowSettingsWriteFailure(
            SettingsWriteFailureText(WRITE_REMOTE_DIALOG, SOFTSET_FILE, error));
    }
    return 0;
}

int BT_REMOTE_CANCEL_CALLBACK(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        DisplayPanelRemote(0);
    }
    return 0;
}

int REMOTE_PANEL_CALLBACK(int, int event, void*, int, int) {
    if (event == EVENT_CLOSE) {
        DisplayPanelRemote(0);
    }
    return 0;
}

void RemoteControlRegisterCallbacks() {
    UiRegisterCtrlCallback("BT_REMOTE_OK_CALLBACK", BT_REMOTE_OK_CALLBACK);
    UiRegisterCtrlCallback("BT_REMOTE_CANCEL_CALLBACK", BT_REMOTE_CANCEL_CALLBACK);
    UiRegisterPanelCallback("REMOTE_PANEL_CALLBACK", REMOTE_PANEL_CALLBACK);
    RemoteServerOnClients(ShowClients);
    RemoteServerOnCommandsRun(RecordingRemoteChanges);
    LinkAddObserver(&kMeasurementObserver);
}

void DisplayPanelRemote(int show) {
    DiscardPanel(gRemotePanel);
    gRemotePanel = 0;
    if (show == 0) {
        return;
    }
    gRemotePanel = LoadPanel(0, UIR_FILE, REMOTEPANEL);
    if (gRemotePanel < 0) {
        gRemotePanel = 0;
        return;
    }
    PanelRemoteLanguageSet();
    std::string address = gRemoteSet.address;
    int port = gRemoteSet.port;
    const int listening = RemoteServerListening(&address, &port);
    SetCtrlVal(gRemotePanel, REMOTEPANEL_CHK_ENABLE, listening != 0 ? 1 : gRemoteSet.enabled);
    SetCtrlVal(gRemotePanel, REMOTEPANEL_TXT_ADDRESS, address.c_str());
    SetCtrlVal(gRemotePanel, REMOTEPANEL_NUM_PORT, port);
    ShowStatus();
    InstallPopup(gRemotePanel);
}

int RemoteControlStartFromCommandLine() {
    const CommandLineRemote& r = CommandLineRemoteServer();
    if (r.given == 0) {
        return 0;
    }
    const int error = RemoteServerStart(r.address.c_str(), r.port);
    if (error != 0) {
        std::fprintf(stderr, "Vx52PSoft: cannot listen for remote control on %s: %s\n",
                     Endpoint(r.address, r.port).c_str(), SysErrorText(error).c_str());
    }
    return error;
}

void RemoteControlStartFromSettings() {
    if (CommandLineRemoteServer().given != 0 || gRemoteSet.enabled != 1) {
        return;
    }
    const int error = RemoteServerStart(gRemoteSet.address, gRemoteSet.port);
    if (error != 0) {
        LanguageWarningPopup(ListenFailure(gRemoteSet.address, gRemoteSet.port, error));
    }
}
