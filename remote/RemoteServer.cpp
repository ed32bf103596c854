// Clients come and go between ticks. A fifth client is accepted and closed at
// once, so it learns at connect time that there is no room; one that stops
// reading is dropped by the platform when its answers pile up.
#include "remote/RemoteServer.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/Network.h"
#include "platform/System.h"
#include "remote/RemoteCommand.h"

namespace {

struct Client {
    int id;
    RemoteSession session;
};

int sServer = 0;
std::string sAddress;
int sPort = 0;
std::vector<std::unique_ptr<Client>> sClients;
void (*sObserver)(int) = nullptr;
void (*sCommandsRun)() = nullptr;

void CommandsRun() {
    if (sCommandsRun) {
        sCommandsRun();
    }
}

void Notify() {
    if (sObserver) {
        sObserver(static_cast<int>(sClients.size()));
    }
}

Client* Find(int id) {
    for (auto& c : sClients) {
        if (c->id == id) {
            return c.get();
        }
    }
    return nullptr;
}

void Forget(int id) {
    for (auto it = sClients.begin(); it != sClients.end(); ++it) {
        if ((*it)->id == id) {
            sClients.erase(it);
            Notify();
            return;
        }
    }
}

void Send(int id, const std::string& out) {
    if (!out.empty() && NetSend(id, out.data(), static_cast<int>(out.size())) != 0) {
        Forget(id);
    }
}

void OnNet(int, int client, int event, const char* data, int length) {
    switch (event) {
    case NET_CONNECTED:
        if (sClients.size() >= static_cast<size_t>(REMOTE_MAX_CLIENTS)) {
            NetCloseClient(client);
            return;
        }
        sClients.push_back(std::make_unique<Client>(Client{client, {}}));
        Notify();
        break;
    case NET_RECEIVED:
        if (Client* c = Find(client)) {
            std::string out;
            RemoteSessionFeed(&c->session, data, static_cast<size_t>(length), &out);
            CommandsRun();
            Send(client, out);
        }
        break;
    case NET_CLOSED:
        Forget(client);
        break;
    default:
        break;
    }
}

} // namespace

std::string RemoteFailureText(int code) {
    switch (code) {
    case REMOTE_FAIL_IPV6_FORM:
        return "an IPv6 address is written [ADDR]:PORT";
    case REMOTE_FAIL_ADDRESS:
        return "not a numeric address";
    case REMOTE_FAIL_PORT:
        return "not a port (1 to 65535)";
    default:
        return SysErrorText(code);
    }
}

int RemoteParseListen(const char* text, std::string* address, int* port) {
    const std::string t = text ? text : "";
    std::string addr = REMOTE_DEFAULT_ADDRESS;
    std::string portText = t;
    if (!t.empty() && t[0] == '[') {
        const size_t close = t.find(']');
        if (close == std::string::npos || close + 1 >= t.size() || t[close + 1] != ':') {
            return REMOTE_FAIL_IPV6_FORM;
        }
        addr = t.substr(1, close - 1);
        portText = t.substr(close + 2);
    } else if (const size_t colon = t.find(':'); colon != std::string::npos) {
        if (t.find(':', colon + 1) != std::string::npos) {
            return REMOTE_FAIL_IPV6_FORM;
        }
        addr = t.substr(0, colon);
        portText = t.substr(colon + 1);
    }
    if (!RemoteAddressValid(addr.c_str())) {
        return REMOTE_FAIL_ADDRESS;
    }
    long value = 0;
    bool digitsOnly = !portText.empty() && portText.size() <= 5;
    for (char c : portText) {
        digitsOnly = digitsOnly && std::isdigit(static_cast<unsigned char>(c));
        value = value * 10 + (c - '0');
    }
    if (!digitsOnly || value < 1 || value > 65535) {
        return REMOTE_FAIL_PORT;
    }
    *address = addr;
    *port = static_cast<int>(value);
    return 0;
}

int RemoteServerStart(const char* address, int port) {
    int server = 0;
    int code = NetListen(address, port, OnNet, &server);
    if (code != 0 && sServer != 0) {
        // The running server may hold that port itself: it makes way, and
        // comes back if the new one still cannot listen.
        const std::string oldAddress = sAddress;
        const int oldPort = sPort;
        RemoteServerStop();
        code = NetListen(address, port, OnNet, &server);
        if (code != 0) {
            int back = 0;
            if (NetListen(oldAddress.c_str(), oldPort, OnNet, &back) == 0) {
                sServer = back;
                sAddress = oldAddress;
                sPort = NetServerPort(back);
            }
        }
    }
    if (code != 0) {
        return code;
    }
    RemoteServerStop();
    sServer = server;
    sAddress = address;
    sPort = NetServerPort(server);
    return 0;
}

void RemoteServerStop() {
    if (sServer == 0) {
        return;
    }
    NetCloseServer(sServer);
    sServer = 0;
    sAddress.clear();
    sPort = 0;
    const bool hadClients = !sClients.empty();
    sClients.clear();
    if (hadClients) {
        Notify();
    }
}

int RemoteServerListening(std::string* address, int* port) {
    if (sServer == 0) {
        return 0;
    }
    if (address) {
        *address = sAddress;
    }
    if (port) {
        *port = sPort;
    }
    return 1;
}

int RemoteServerClients() {
    return static_cast<int>(sClients.size());
}

void RemoteServerTick() {
    std::vector<int> ids;
    for (const auto& c : sClients) {
        if (c->session.waiting) {
            ids.push_back(c->id);
        }
    }
    for (int id : ids) {
        if (Client* c = Find(id)) {
            std::string out;
            RemoteSessionPoll(&c->session, &out);
            CommandsRun();
            Send(id, out);
        }
    }
}

void RemoteServerOnClients(void (*observer)(int clients)) {
    sObserver = observer;
}

void RemoteServerOnCommandsRun(void (*observer)()) {
    sCommandsRun = observer;
}
