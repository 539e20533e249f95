// The page's requests, from the web server's threads to the program's
// thread, which alone calls the channel.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kxhost {

// A change the page asks for; checked by the server before it is queued.
struct ViewRequest {
    enum class Kind { SetNull, SetNorth, Jumping, UnevenTerrain, IgnoreFloor, RecordStart, RecordStop };
    Kind kind = Kind::SetNull;
    int suit = -1;  // -1: every suit
    bool on = false;
    std::string file;
};

struct ViewAnswer {
    int status = 200;
    std::string text;
};

// Requests wait here until the program's thread takes them between two
// frames. Bounded: a full queue, or a program that does not get to a
// request in time, answers 503 and the request is withdrawn undone.
class RequestQueue {
public:
    explicit RequestQueue(std::size_t capacity) : capacity_(capacity) {}

    // From a server thread: waits for the answer.
    ViewAnswer Submit(const ViewRequest& request, std::chrono::milliseconds timeout);
    // From the program's thread: answers every request waiting now.
    void Drain(const std::function<ViewAnswer(const ViewRequest&)>& handle);
    // Answers what waits with 503 and refuses the rest.
    void Close();

private:
    struct Entry {
        ViewRequest request;
        ViewAnswer answer;
        bool taken = false, answered = false;
    };

    const std::size_t capacity_;
    std::mutex lock_;
    std::condition_variable answered_;
    std::deque<std::shared_ptr<Entry>> waiting_;
    bool closed_ = false;
};

}  // namespace kxhost
