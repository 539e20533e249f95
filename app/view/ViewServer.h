// The web side of `kestrion-host view`: the page, three.js, the frame stream
// (server-sent events) and the control requests, on the web server's one
// thread (WebServer). That thread never touches the channel: frames come in
// through Publish, and requests go out through Drain, both called on the
// program's thread.
#pragma once

#include "app/view/FrameFeed.h"
#include "app/view/RequestQueue.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kxhost {

class ViewServer {
public:
    struct Options {
        std::string listen = "127.0.0.1";
        int port = 8417;  // 0: any free port
        double rate = 40;
        std::string threeDir;  // empty: where Debian's libjs-three puts it
    };

    explicit ViewServer(Options options);
    // Stops serving: streams end, waiting requests get 503.
    ~ViewServer();
    ViewServer(const ViewServer&) = delete;
    ViewServer& operator=(const ViewServer&) = delete;

    // Reads three.js and takes the address; throws Failure when either fails.
    void Bind();
    // Serves the page for these suits from now on, on a thread of its own.
    void Serve(const std::vector<int>& suits);
    // Within a second, whatever the clients do.
    void Stop();

    int Port() const;
    // Whether others than this machine can reach it.
    bool Open() const;

    void Publish(std::shared_ptr<const ViewFrame> frame);
    void Drain(const std::function<ViewAnswer(const ViewRequest&)>& handle) { requests_.Drain(handle); }

private:
    struct Impl;
    struct Exchange;

    const Options options_;
    FrameFeed feed_;
    RequestQueue requests_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kxhost
