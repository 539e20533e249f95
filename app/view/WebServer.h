// libmicrohttpd, run on one thread of ours, with the bounds a server that
// any local process can reach needs: a number of connections (the extras
// get 503 at once), the memory of each (longer headers get 431 or 414), the
// time a request may take to arrive whole, however slowly it trickles, and
// the time a connection may sit idle. That one thread runs every callback,
// so they need no locks among themselves; other threads reach it through
// Wake, and the server ends within its grace whatever the clients do.
#pragma once

#include <microhttpd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <unordered_set>

namespace kxhost {

class WebServer {
public:
    struct Limits {
        unsigned connections = 256;
        std::size_t connectionMemory = 32 * 1024;
        // From the connection's opening, or the end of its last answer, to
        // the end of the next request.
        std::chrono::milliseconds request{5000};
        unsigned idleSeconds = 2;
    };
    struct Callbacks {
        MHD_AccessHandlerCallback request;
        void* context;
        // A request ended: its state (the handler's last argument) goes.
        std::function<void(void* state)> ended;
        // On the server's thread after every wake, at least every 100 ms.
        std::function<void()> tick;
        // Before the connections close: nothing may stay suspended.
        std::function<void()> closing;
    };

    explicit WebServer(Limits limits) : limits_(limits) {}
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Takes the address (port 0: any free one) and returns the port;
    // throws Failure when it is taken or not this machine's.
    int Bind(const std::string& address, int port);
    void Start(Callbacks callbacks);
    // From any thread: the tick runs soon.
    void Wake();
    // Takes no new connection, gives the open ones `grace` to receive what
    // they are sent, then closes them all.
    void Stop(std::chrono::milliseconds grace);

    // From the request handler: the request on `connection` has arrived
    // whole; its time no longer runs.
    static void Arrived(MHD_Connection* connection);
    // The address the connection came in on, as text.
    static std::string LocalAddress(MHD_Connection* connection);

private:
    using Clock = std::chrono::steady_clock;
    struct Connection;

    // What this server keeps of `connection`; null before it started.
    static Connection* Of(MHD_Connection* connection);
    static void OnConnection(void* self, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code);
    static void OnCompleted(void* self, MHD_Connection* connection, void** state,
                            MHD_RequestTerminationCode code);
    void Loop();
    void Accept();
    void CloseLate();

    const Limits limits_;
    Callbacks callbacks_{};
    int listen_ = -1, wake_ = -1, poll_ = -1;
    MHD_Daemon* daemon_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::chrono::milliseconds grace_{0};
    std::unordered_set<Connection*> connections_;
};

}  // namespace kxhost
