#include "app/view/WebServer.h"

#include "app/base/Failure.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace kxhost {
namespace {

// Small, so that a browser that stops reading is found out in seconds.
constexpr int kSendBuffer = 64 * 1024;
constexpr int kTickMs = 100;

const std::string& BusyAnswer() {
    static const std::string text = "too many connections open; try again soon\n";
    static const std::string answer =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
        std::to_string(text.size()) + "\r\nConnection: close\r\n\r\n" + text;
    return answer;
}

}  // namespace

struct WebServer::Connection {
    int fd = -1;
    std::string local;
    Clock::time_point deadline;
    bool timed = true;  // a request is on its way
    bool closed = false;
};

WebServer::~WebServer() {
    Stop(std::chrono::milliseconds(0));
    for (int fd : {listen_, wake_, poll_}) {
        if (fd >= 0) close(fd);
    }
}

int WebServer::Bind(const std::string& address, int port) {
    sockaddr_storage where{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&where);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&where);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v6;
    } else {
        throw Failure(kExitUsage, "--listen: '" + address + "' is not an IPv4 or IPv6 address");
    }
    listen_ = socket(where.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // SO_REUSEADDR only: SO_REUSEPORT would let a second view share the
    // port instead of being told it is taken. Accepted sockets inherit the
    // send buffer.
    const int yes = 1, size = kSendBuffer;
    if (listen_ < 0 || setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        setsockopt(listen_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) != 0 ||
        bind(listen_, reinterpret_cast<sockaddr*>(&where), length) != 0 || listen(listen_, 64) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&where), &length) != 0) {
        throw Failure(kExitFailure, "cannot listen on " + address + " port " + std::to_string(port) + ": " +
                                        std::strerror(errno) +
                                        " (in use or not this machine's address; --port picks another)");
    }
    return ntohs(where.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
}

void WebServer::Start(Callbacks callbacks) {
    callbacks_ = std::move(callbacks);
    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL | MHD_USE_NO_LISTEN_SOCKET | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr,
        callbacks_.request, callbacks_.context, MHD_OPTION_CONNECTION_LIMIT, limits_.connections + 1,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits_.connectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
        limits_.idleSeconds, MHD_OPTION_NOTIFY_CONNECTION, &WebServer::OnConnection, this,
        MHD_OPTION_NOTIFY_COMPLETED, &WebServer::OnCompleted, this, MHD_OPTION_END);
    const MHD_DaemonInfo* info = daemon_ ? MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD) : nullptr;
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    poll_ = epoll_create1(EPOLL_CLOEXEC);
    if (info == nullptr || wake_ < 0 || poll_ < 0) throw Failure(kExitFailure, "cannot start the web server");
    for (int fd : {listen_, wake_, info->epoll_fd}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(poll_, EPOLL_CTL_ADD, fd, &event);
    }
    thread_ = std::thread([this] { Loop(); });
}

void WebServer::Wake() {
    const std::uint64_t one = 1;
    if (wake_ >= 0) (void)!write(wake_, &one, sizeof one);
}

void WebServer::Stop(std::chrono::milliseconds grace) {
    if (!thread_.joinable()) return;
    grace_ = grace;
    stopping_ = true;
    Wake();
    thread_.join();
}

void WebServer::Loop() {
    Clock::time_point end = Clock::time_point::max();
    for (;;) {
        MHD_UNSIGNED_LONG_LONG wait = kTickMs;
        if (MHD_get_timeout(daemon_, &wait) != MHD_YES || wait > kTickMs) wait = kTickMs;
        epoll_event events[4];
        const int ready = epoll_wait(poll_, events, 4, static_cast<int>(wait));
        for (int i = 0; i < ready; ++i) {
            if (events[i].data.fd == listen_) Accept();
            if (events[i].data.fd == wake_) {
                std::uint64_t count;
                (void)!read(wake_, &count, sizeof count);
            }
        }
        MHD_run(daemon_);
        callbacks_.tick();
        // The library takes up the connections the tick resumed only in its
        // next run: without this one, a frame would wait for the next wake.
        MHD_run(daemon_);
        CloseLate();
        if (stopping_ && end == Clock::time_point::max()) {
            // New clients are refused by the system from now on.
            epoll_ctl(poll_, EPOLL_CTL_DEL, listen_, nullptr);
            close(listen_);
            listen_ = -1;
            end = Clock::now() + grace_;
        }
        if (Clock::now() >= end || (stopping_ && connections_.empty())) break;
    }
    callbacks_.closing();
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

void WebServer::Accept() {
    for (;;) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = accept4(listen_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (connections_.size() >= limits_.connections) {
            // What the client sent so far is read first: unread data would
            // turn the close into a reset that loses the answer.
            char ignored[4096];
            for (int i = 0; i < 8 && recv(fd, ignored, sizeof ignored, MSG_DONTWAIT) > 0; ++i) {
            }
            (void)!send(fd, BusyAnswer().data(), BusyAnswer().size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            shutdown(fd, SHUT_WR);
            close(fd);
            continue;
        }
        // Each frame leaves at once, not held back to fill a packet.
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        MHD_add_connection(daemon_, fd, reinterpret_cast<sockaddr*>(&peer), length);  // closes it on failure
    }
}

void WebServer::CloseLate() {
    const Clock::time_point now = Clock::now();
    for (Connection* connection : connections_) {
        if (connection->timed && !connection->closed && now >= connection->deadline) {
            // The library finds the end of the stream at its next read and
            // closes the connection itself.
            shutdown(connection->fd, SHUT_RDWR);
            connection->closed = true;
        }
    }
}

void WebServer::OnConnection(void* self, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code) {
    auto& server = *static_cast<WebServer*>(self);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto* c = new Connection;
        c->fd = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        char host[NI_MAXHOST] = "";
        if (getsockname(c->fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
            getnameinfo(reinterpret_cast<sockaddr*>(&local), length, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
        }
        c->local = host;
        c->deadline = Clock::now() + server.limits_.request;
        server.connections_.insert(c);
        *socketContext = c;
    } else {
        auto* c = static_cast<Connection*>(*socketContext);
        server.connections_.erase(c);
        delete c;
        *socketContext = nullptr;
    }
}

WebServer::Connection* WebServer::Of(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<Connection*>(info->socket_context) : nullptr;
}

void WebServer::OnCompleted(void* self, MHD_Connection* connection, void** state, MHD_RequestTerminationCode) {
    auto& server = *static_cast<WebServer*>(self);
    server.callbacks_.ended(*state);
    *state = nullptr;
    if (Connection* c = Of(connection)) {
        c->timed = true;
        c->deadline = Clock::now() + server.limits_.request;
    }
}

void WebServer::Arrived(MHD_Connection* connection) {
    if (Connection* c = Of(connection)) c->timed = false;
}

std::string WebServer::LocalAddress(MHD_Connection* connection) {
    const Connection* c = Of(connection);
    return c != nullptr ? c->local : std::string();
}

}  // namespace kxhost
