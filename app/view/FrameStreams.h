// The frame streams (server-sent events) of the view's clients, all on the
// web server's one thread. Each is sent the greeting, then every frame the
// feed still keeps, or a comment every half second when there is none, so
// that a proxy or a browser sees it alive. A stream with nothing to send is
// suspended, and the tick resumes it once there is something.
#pragma once

#include "app/view/FrameFeed.h"

#include <microhttpd.h>

#include <chrono>
#include <string>
#include <unordered_set>

namespace kxhost {

class FrameStreams {
public:
    FrameStreams(FrameFeed& feed, int max) : feed_(feed), max_(max) {}

    void Greeting(std::string hello) { hello_ = std::move(hello); }
    // The response of a new stream on `connection`; null when `max`
    // streams are open.
    MHD_Response* Open(MHD_Connection* connection);
    // Resumes the streams that have something to send.
    void Tick();
    // Resumes every stream, for the server to close them.
    void ResumeAll();

private:
    using Clock = std::chrono::steady_clock;
    struct Stream;

    static ssize_t Read(void* stream, uint64_t position, char* buffer, std::size_t room);
    static void Free(void* stream);
    // What the stream sends next; false when it has nothing yet.
    bool Refill(Stream& stream);

    FrameFeed& feed_;
    const int max_;
    std::string hello_;
    int open_ = 0;
    std::unordered_set<Stream*> suspended_;
};

}  // namespace kxhost
