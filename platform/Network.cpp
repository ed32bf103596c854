// TCP servers over Qt Network. Qt reads at most NET_RECEIVE_TURN bytes of a
// client from the kernel before the client's bytes are delivered, so one that
// floods the server gets a turn like every other event and cannot keep the
// event loop (and with it the 50 ms tick) to itself; what it sends beyond that
// waits in the kernel, and TCP slows it down. The same holds a client that
// does not take its answers: past NET_MAX_UNSENT its bytes are left unread
// until it has taken most of them.
#include "platform/Network.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

namespace {

struct ServerRec {
    QPointer<QTcpServer> server;
    NetCallbackPtr callback = nullptr;
};

struct ClientRec {
    int server = 0;
    QPointer<QTcpSocket> socket;
    bool paused = false; // its answers piled up: its bytes wait unread
};

std::map<int, ServerRec> gServers;
std::map<int, ClientRec> gClients;
int gNextHandle = 1;

// Qt buffers no more than this from the kernel for one client.
constexpr qint64 kReadBuffer = NET_RECEIVE_TURN;
constexpr int kKernelSendBuffer = 64 * 1024;
constexpr int kKernelReceiveBuffer = 64 * 1024;
// A paused client is read again once it has taken this much of its answers.
constexpr qint64 kResumeBelow = NET_MAX_UNSENT / 2;
// Far beyond what one turn of a paused client can add: only a fault gets here.
constexpr qint64 kUnsentCeiling = 8 * NET_MAX_UNSENT;
// How long a closed client's end may take to hear the last of it.
constexpr int kLingerMs = 5000;

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
// buffer empty. That last, empty read is what makes Qt watch the socket again;
// a client whose answers have piled up is left without it (unless it has gone:
// force) until it has taken them.
void ReadAll(int client, bool force = false) {
    char buffer[4096];
    while (true) {
        auto c = gClients.find(client);
        if (c == gClients.end() || !c->second.socket) {
            return;
        }
        if (!force && c->second.socket->bytesToWrite() > NET_MAX_UNSENT) {
            c->second.paused = true;
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
    ReadAll(client, true);
    if (gClients.count(client) == 0) {
        return;
    }
    Deliver(client, NET_CLOSED, nullptr, 0);
    Drop(client);
}

void Drained(int client) {
    auto c = gClients.find(client);
    if (c != gClients.end() && c->second.paused && c->second.socket &&
        c->second.socket->bytesToWrite() <= kResumeBelow) {
        c->second.paused = false;
        ReadAll(client);
    }
}

// 1 when the client's end has closed or failed, whether or not Qt has seen it yet.
bool PeerGone(QTcpSocket* socket) {
    const qintptr fd = socket->socketDescriptor();
    if (fd < 0) {
        return true;
    }
    pollfd p{static_cast<int>(fd), POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// Reports the server's clients that have gone, with what they sent last, so a
// new client finds their places free even when their closes wait behind it in
// the event queue (the program was busy or stopped meanwhile).
void ReportGone(int server) {
    std::vector<int> gone;
    for (const auto& [client, rec] : gClients) {
        if (rec.server == server && rec.socket && PeerGone(rec.socket)) {
            gone.push_back(client);
        }
    }
    for (int client : gone) {
        ReadAll(client, true);
        auto c = gClients.find(client);
        if (c == gClients.end() || !c->second.socket) {
            continue;
        }
        // What Qt has not taken from the kernel yet.
        const int fd = static_cast<int>(c->second.socket->socketDescriptor());
        char buffer[4096];
        ssize_t n = 0;
        while (fd >= 0 && gClients.count(client) != 0 &&
               (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            Deliver(client, NET_RECEIVED, buffer, static_cast<int>(n));
        }
        Gone(client);
    }
}

void Accept(int server) {
    auto s = gServers.find(server);
    if (s == gServers.end() || !s->second.server) {
        return;
    }
    while (QTcpSocket* socket = s->second.server->nextPendingConnection()) {
        ReportGone(server);
        s = gServers.find(server);
        if (s == gServers.end() || !s->second.server) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        const int client = gNextHandle++;
        socket->setParent(nullptr);
        socket->setReadBufferSize(kReadBuffer);
        // Answers are short lines; without this one could wait for an
        // acknowledgement before it goes.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // The kernel would otherwise grow a silent client's share to megabytes
        // before the program ever noticed.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kKernelSendBuffer);
        // Nor let it hold megabytes of a paused client's input.
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                kKernelReceiveBuffer);
        // A client whose machine vanished from the network would otherwise keep
        // its place among the few there are.
        socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        gClients[client] = ClientRec{server, socket};
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [client] { ReadAll(client); });
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket,
                         [client](qint64) { Drained(client); });
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
    if (socket->bytesToWrite() + length > kUnsentCeiling) {
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
    auto c = gClients.find(client);
    if (c == gClients.end()) {
        return;
    }
    QPointer<QTcpSocket> socket = c->second.socket;
    gClients.erase(c);
    if (!socket) {
        return;
    }
    socket->disconnect();
    // What was written goes out, then the end of it; what the client still
    // sends is read and dropped, so closing never resets the connection under
    // the last line. Its own close, or the linger time, ends it.
    const int fd = static_cast<int>(socket->socketDescriptor());
    auto finish = [socket, fd] {
        if (socket && socket->bytesToWrite() == 0 && fd >= 0) {
            ::shutdown(fd, SHUT_WR);
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [finish](qint64) { finish(); });
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
        if (socket) {
            socket->readAll();
        }
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::errorOccurred, socket, &QObject::deleteLater);
    QTimer::singleShot(kLingerMs, socket, [socket] {
        if (socket) {
            socket->abort();
            socket->deleteLater();
        }
    });
    socket->flush();
    finish();
}

int NetAddressValid(const char* address) {
    QHostAddress host;
    return address && host.setAddress(QString::fromUtf8(address)) ? 1 : 0;
}
