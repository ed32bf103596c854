// TCP servers over Qt Network. Qt reads at most NET_RECEIVE_TURN bytes of a
// client from the kernel before the client's bytes are delivered, so one that
// floods the server gets a turn like every other event and cannot keep the
// event loop (and with it the 50 ms tick) to itself; what it sends beyond that
// waits in the kernel, and TCP slows it down.
#include "platform/Network.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <cerrno>
#include <map>

namespace {

struct ServerRec {
    QPointer<QTcpServer> server;
    NetCallbackPtr callback = nullptr;
};

struct ClientRec {
    int server = 0;
    QPointer<QTcpSocket> socket;
};

std::map<int, ServerRec> gServers;
std::map<int, ClientRec> gClients;
int gNextHandle = 1;

// Qt buffers no more than this from the kernel for one client.
constexpr qint64 kReadBuffer = NET_RECEIVE_TURN;
constexpr int kKernelSendBuffer = 64 * 1024;

void Deliver(int client, int event, const char* data, int length) {
    auto c = gClients.find(client);
    if (c == gClients.end()) {
        return;
    }
    const int server = c->second.server;
    auto s = gServers.find(server);
    if (s != gServers.end() && s->second.callback) {
        s->second.callback(server, client, event, data, length);
    }
}

// Forgets a client and lets Qt delete its socket once its signals are done.
void Drop(int client) {
    auto c = gClients.find(client);
    if (c == gClients.end()) {
        return;
    }
    QPointer<QTcpSocket> socket = c->second.socket;
    gClients.erase(c);
    if (socket) {
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
    }
}

// Delivers everything Qt holds for the client: no more than its read buffer,
// since Qt takes nothing further from the kernel until a read has found that
// buffer empty. That last, empty read is what makes Qt watch the socket again.
void ReadAll(int client) {
    char buffer[4096];
    while (true) {
        auto c = gClients.find(client);
        if (c == gClients.end() || !c->second.socket) {
            return;
        }
        const qint64 n = c->second.socket->read(buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        Deliver(client, NET_RECEIVED, buffer, static_cast<int>(n));
    }
}

void Gone(int client) {
    if (gClients.count(client) == 0) {
        return;
    }
    // What it sent before it went still counts.
    ReadAll(client);
    if (gClients.count(client) == 0) {
        return;
    }
    Deliver(client, NET_CLOSED, nullptr, 0);
    Drop(client);
}

void Accept(int server) {
    auto s = gServers.find(server);
    if (s == gServers.end() || !s->second.server) {
        return;
    }
    while (QTcpSocket* socket = s->second.server->nextPendingConnection()) {
        const int client = gNextHandle++;
        socket->setParent(nullptr);
        socket->setReadBufferSize(kReadBuffer);
        // Answers are short lines; without this one could wait for an
        // acknowledgement before it goes.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // The kernel would otherwise grow a silent client's share to megabytes
        // before the program ever noticed.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kKernelSendBuffer);
        // A client whose machine vanished from the network would otherwise keep
        // its place among the few there are.
        socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        gClients[client] = ClientRec{server, socket};
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [client] { ReadAll(client); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [client] { Gone(client); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket,
                         [client](QAbstractSocket::SocketError) { Gone(client); });
        Deliver(client, NET_CONNECTED, nullptr, 0);
        // The callback may have closed the server itself.
        s = gServers.find(server);
        if (s == gServers.end() || !s->second.server) {
            return;
        }
    }
}

// Qt says why a listen failed in its own terms; the program's are the system's.
int ErrnoOf(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return EADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return EADDRNOTAVAIL;
    case QAbstractSocket::SocketAccessError:
        return EACCES;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return EAFNOSUPPORT;
    case QAbstractSocket::SocketResourceError:
        return EMFILE;
    default:
        return EIO;
    }
}

} // namespace

int NetListen(const char* address, int port, NetCallbackPtr callback, int* server) {
    QHostAddress host;
    if (!address || !host.setAddress(QString::fromUtf8(address))) {
        return EINVAL;
    }
    if (port < 0 || port > 65535) {
        return EINVAL;
    }
    auto* listener = new QTcpServer;
    if (!listener->listen(host, static_cast<quint16>(port))) {
        const int error = ErrnoOf(listener->serverError());
        delete listener;
        return error;
    }
    const int handle = gNextHandle++;
    gServers[handle] = ServerRec{listener, callback};
    QObject::connect(listener, &QTcpServer::newConnection, listener, [handle] { Accept(handle); });
    *server = handle;
    return 0;
}

int NetServerPort(int server) {
    auto s = gServers.find(server);
    return s != gServers.end() && s->second.server ? s->second.server->serverPort() : 0;
}

void NetCloseServer(int server) {
    auto s = gServers.find(server);
    if (s == gServers.end()) {
        return;
    }
    QPointer<QTcpServer> listener = s->second.server;
    gServers.erase(s);
    for (auto c = gClients.begin(); c != gClients.end();) {
        const int client = c->first;
        const bool ours = c->second.server == server;
        ++c;
        if (ours) {
            Drop(client);
        }
    }
    if (listener) {
        listener->close();
        listener->deleteLater();
    }
}

int NetSend(int client, const char* data, int length) {
    auto c = gClients.find(client);
    if (c == gClients.end() || !c->second.socket) {
        return ENOTCONN;
    }
    QTcpSocket* socket = c->second.socket;
    if (socket->bytesToWrite() + length > NET_MAX_UNSENT) {
        Drop(client);
        return ENOBUFS;
    }
    if (length > 0 && socket->write(data, length) != length) {
        Drop(client);
        return EIO;
    }
    return 0;
}

void NetCloseClient(int client) {
    Drop(client);
}

int NetAddressValid(const char* address) {
    QHostAddress host;
    return address && host.setAddress(QString::fromUtf8(address)) ? 1 : 0;
}
