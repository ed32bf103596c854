// The server on real sockets in this process's event loop, and the dialog that
// starts it: at most four clients, "REMOTE" while one is connected, a client
// that stops reading is dropped without troubling the others, and what the
// dialog accepts is in force and in "Set.Dat".
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <arpa/inet.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "UiTestSupport.h"
#include "app/RemoteControl.h"
#include "app/Shell.h"
#include "persist/SettingsFiles.h"
#include "platform/Toolkit.h"
#include "power/PowerRecords.h"
#include "remote/RemoteServer.h"
#include "ui/Vx52PSoftUi.h"

namespace {

// Lets the event loop run until cond holds; false if it never does.
bool Until(const std::function<bool()>& cond, int rounds = 20000) {
    for (int i = 0; i < rounds && !cond(); ++i) {
        UiProcessEvents();
    }
    return cond();
}

class RemoteServerTest : public vx52test::MainWindowTest {
  protected:
    std::unique_ptr<QTcpSocket> Connect(int port) {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
        return s;
    }
    std::string Ask(QTcpSocket* s, const std::string& line) {
        s->write(line.data(), static_cast<qint64>(line.size()));
        Until([s] { return s->canReadLine(); });
        return s->readLine().toStdString();
    }
    int ServerPort() {
        int port = 0;
        RemoteServerListening(nullptr, &port);
        return port;
    }
};

TEST_F(RemoteServerTest, FourClientsAtMostAndRemoteShownWhileOneIsThere) {
    ASSERT_EQ(0, RemoteServerStart("127.0.0.1", 0));
    EXPECT_EQ(0, Visible(PANEL_TXT_REMOTE));
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < REMOTE_MAX_CLIENTS; ++i) {
        clients.push_back(Connect(ServerPort()));
        ASSERT_TRUE(Until([i] { return RemoteServerClients() == i + 1; }));
    }
    EXPECT_EQ(1, Visible(PANEL_TXT_REMOTE));
    auto fifth = Connect(ServerPort());
    EXPECT_TRUE(Until([&] { return fifth->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(REMOTE_MAX_CLIENTS, RemoteServerClients());
    EXPECT_EQ("220.0\n", Ask(clients[3].get(), "VOLT?\n"));

    for (auto& c : clients) {
        c->disconnectFromHost();
    }
    EXPECT_TRUE(Until([] { return RemoteServerClients() == 0; }));
    EXPECT_EQ(0, Visible(PANEL_TXT_REMOTE));
}

TEST_F(RemoteServerTest, AClientThatNeverReadsIsDroppedAlone) {
    ASSERT_EQ(0, RemoteServerStart("127.0.0.1", 0));
    // A plain socket that only ever writes, with a small window so the run is short.
    const int stalled = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(stalled, 0);
    const int window = 4096;
    setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(ServerPort()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::connect(stalled, reinterpret_cast<sockaddr*>(&to), sizeof to));
    fcntl(stalled, F_SETFL, O_NONBLOCK);
    auto other = Connect(ServerPort());
    ASSERT_TRUE(Until([] { return RemoteServerClients() == 2; }));
    std::string line;
    for (int i = 0; i < 25; ++i) {
        line += "MEAS:ALL?;";
    }
    line += "VOLT?\n";
    // Its answers fill every buffer on the way, then the server lets it go.
    for (int i = 0; i < 200000 && RemoteServerClients() == 2; ++i) {
        [[maybe_unused]] const ssize_t n = send(stalled, line.data(), line.size(), MSG_NOSIGNAL);
        UiProcessEvents();
    }
    EXPECT_EQ(1, RemoteServerClients());
    EXPECT_EQ("220.0\n", Ask(other.get(), "VOLT?\n"));
    close(stalled);
}

TEST_F(RemoteServerTest, DialogPutsWhatItShowsInForceAndInSetDat) {
    QTcpServer probe; // a port nobody uses
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int port = probe.serverPort();
    probe.close();

    UiTriggerMenuItem(gMainMenu, MENUBAR_SET_REMOTE);
    ASSERT_GT(gRemotePanel, 0);
    SetCtrlVal(gRemotePanel, REMOTEPANEL_CHK_ENABLE, 1);
    SetCtrlVal(gRemotePanel, REMOTEPANEL_TXT_ADDRESS, "localhost");
    SetCtrlVal(gRemotePanel, REMOTEPANEL_NUM_PORT, port);
    BT_REMOTE_OK_CALLBACK(gRemotePanel, REMOTEPANEL_BT_OK, EVENT_COMMIT, nullptr, 0, 0);
    ASSERT_EQ(1u, popups_.messages.size()); // a name is no numeric address
    EXPECT_GT(gRemotePanel, 0);
    EXPECT_EQ(0, RemoteServerListening(nullptr, nullptr));

    SetCtrlVal(gRemotePanel, REMOTEPANEL_TXT_ADDRESS, " 127.0.0.1 ");
    BT_REMOTE_OK_CALLBACK(gRemotePanel, REMOTEPANEL_BT_OK, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(0, gRemotePanel);
    EXPECT_EQ(port, ServerPort());
    gRemoteSet = RemoteSet{};
    ASSERT_EQ(1, FileReadRemoteSet(SOFTSET_FILE));
    EXPECT_EQ(1, gRemoteSet.enabled);
    EXPECT_STREQ("127.0.0.1", gRemoteSet.address);
    EXPECT_EQ(port, gRemoteSet.port);

    DisplayPanelRemote(1);
    int enabled = 0;
    GetCtrlVal(gRemotePanel, REMOTEPANEL_CHK_ENABLE, &enabled);
    EXPECT_EQ(1, enabled);
    SetCtrlVal(gRemotePanel, REMOTEPANEL_CHK_ENABLE, 0);
    BT_REMOTE_OK_CALLBACK(gRemotePanel, REMOTEPANEL_BT_OK, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(0, RemoteServerListening(nullptr, nullptr));
    FileReadRemoteSet(SOFTSET_FILE);
    EXPECT_EQ(0, gRemoteSet.enabled);
    EXPECT_EQ(1u, popups_.messages.size());
}

} // namespace
