// The server on real sockets in this process's event loop, and the dialog that
// starts it: at most four clients, "REMOTE" while one is connected, a client
// that stops reading is held back without troubling the others and loses
// nothing, and what the dialog accepts is in force and in "Set.Dat".
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
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
#include "platform/Network.h"
#include "platform/System.h"
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
    EXPECT_EQ("-310,\"System error;too many clients, 4 at most\"\n", fifth->readAll().toStdString())
        << "one line says why";
    EXPECT_EQ(REMOTE_MAX_CLIENTS, RemoteServerClients());
    EXPECT_EQ("220.0\n", Ask(clients[3].get(), "VOLT?\n"));

    // A client that has gone frees its place for the next one, even when the
    // server hears of the new one first.
    clients[0]->close();
    auto next = Connect(ServerPort());
    EXPECT_EQ("220.0\n", Ask(next.get(), "VOLT?\n"));
    clients[0] = std::move(next);

    for (auto& c : clients) {
        c->disconnectFromHost();
    }
    EXPECT_TRUE(Until([] { return RemoteServerClients() == 0; }));
    EXPECT_EQ(0, Visible(PANEL_TXT_REMOTE));
}

TEST_F(RemoteServerTest, AClientThatDoesNotReadIsHeldBackAndLosesNothing) {
    ASSERT_EQ(0, RemoteServerStart("127.0.0.1", 0));
    // A plain socket that only writes for now, with a small window so the run is short.
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
    // Its answers fill every buffer on the way; then the server stops reading
    // it, and TCP stops its sending.
    size_t sent = 0;
    for (int blocked = 0; blocked < 200;) {
        const size_t at = sent % line.size();
        const ssize_t n = send(stalled, line.data() + at, line.size() - at, MSG_NOSIGNAL);
        blocked = n > 0 ? 0 : blocked + 1;
        sent += n > 0 ? static_cast<size_t>(n) : 0;
        UiProcessEvents();
    }
    EXPECT_EQ(2, RemoteServerClients());
    EXPECT_EQ("220.0\n", Ask(other.get(), "VOLT?\n"));

    // Once it reads, every line it sent is answered.
    const size_t lines = (sent + line.size() - 1) / line.size();
    size_t answered = 0;
    char buffer[65536];
    for (int i = 0; i < 200000 && answered < lines; ++i) {
        if (sent % line.size() != 0) {
            const size_t at = sent % line.size();
            const ssize_t n = send(stalled, line.data() + at, line.size() - at, MSG_NOSIGNAL);
            sent += n > 0 ? static_cast<size_t>(n) : 0;
        }
        const ssize_t n = recv(stalled, buffer, sizeof buffer, 0);
        answered += n > 0 ? static_cast<size_t>(std::count(buffer, buffer + n, '\n')) : 0;
        UiProcessEvents();
    }
    EXPECT_GT(sent, static_cast<size_t>(NET_MAX_UNSENT));
    EXPECT_EQ(lines, answered);
    close(stalled);
}

// An idle client keeps its place unless a time-out is set; then silence ends it.
TEST_F(RemoteServerTest, IdleClientsStayUnlessATimeOutIsSet) {
    ASSERT_EQ(0, RemoteServerStart("127.0.0.1", 0));
    auto quiet = Connect(ServerPort());
    auto talking = Connect(ServerPort());
    ASSERT_TRUE(Until([] { return RemoteServerClients() == 2; }));
    const auto wait = [](double ms) {
        for (const double end = SysMonotonicMs() + ms; SysMonotonicMs() < end;) {
            UiProcessEvents();
            RemoteServerTick();
            usleep(5000);
        }
    };
    wait(1200);
    EXPECT_EQ(2, RemoteServerClients()) << "no time-out: idle clients stay";
    RemoteServerSetIdleTimeout(1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ("220.0\n", Ask(talking.get(), "VOLT?\n"));
        wait(500);
    }
    EXPECT_EQ(1, RemoteServerClients());
    EXPECT_TRUE(Until([&] { return quiet->state() == QAbstractSocket::UnconnectedState; }));
    RemoteServerSetIdleTimeout(0);
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
    SetCtrlVal(gRemotePanel, REMOTEPANEL_NUM_IDLE, 90);
    BT_REMOTE_OK_CALLBACK(gRemotePanel, REMOTEPANEL_BT_OK, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(0, gRemotePanel);
    EXPECT_EQ(port, ServerPort());
    gRemoteSet = RemoteSet{};
    ASSERT_EQ(1, FileReadRemoteSet(SOFTSET_FILE));
    EXPECT_EQ(1, gRemoteSet.enabled);
    EXPECT_STREQ("127.0.0.1", gRemoteSet.address);
    EXPECT_EQ(port, gRemoteSet.port);
    EXPECT_EQ(90, gRemoteSet.idleTimeout);

    DisplayPanelRemote(1);
    int enabled = 0;
    int idle = 0;
    GetCtrlVal(gRemotePanel, REMOTEPANEL_CHK_ENABLE, &enabled);
    GetCtrlVal(gRemotePanel, REMOTEPANEL_NUM_IDLE, &idle);
    EXPECT_EQ(1, enabled);
    EXPECT_EQ(90, idle);
    SetCtrlVal(gRemotePanel, REMOTEPANEL_CHK_ENABLE, 0);
    BT_REMOTE_OK_CALLBACK(gRemotePanel, REMOTEPANEL_BT_OK, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(0, RemoteServerListening(nullptr, nullptr));
    FileReadRemoteSet(SOFTSET_FILE);
    EXPECT_EQ(0, gRemoteSet.enabled);
    EXPECT_EQ(1u, popups_.messages.size());
}

} // namespace
