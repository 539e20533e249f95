// The page's requests, from the web server's thread to the program's
// thread, which alone calls the channel. Neither waits for the other: the
// server's thread looks for the answer whenever it is woken.
#pragma once

#include <chrono>
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
    using Clock = std::chrono::steady_clock;
    struct Entry;
    using Ticket = std::shared_ptr<Entry>;

    // `answered` runs on the program's thread after it answered requests.
    RequestQueue(std::size_t capacity, std::function<void()> answered)
        : capacity_(capacity), answered_(std::move(answered)) {}

    // Queues `request`, to be taken by `deadline`; null, with the answer in
    // `refusal`, when the queue is full or closed.
    Ticket Submit(const ViewRequest& request, Clock::time_point deadline, ViewAnswer* refusal);
    // Whether `ticket` has its answer by `now`: the program's, or 503 when
    // it was not taken by its deadline (withdrawn) or not answered 10 s
    // after.
    bool Answered(const Ticket& ticket, Clock::time_point now, ViewAnswer* answer);
    // From the program's thread: answers every request waiting now.
    void Drain(const std::function<ViewAnswer(const ViewRequest&)>& handle);
    // Answers what waits with 503 and refuses the rest.
    void Close();

private:
    const std::size_t capacity_;
    const std::function<void()> answered_;
    std::mutex lock_;
    std::deque<Ticket> waiting_;
    bool closed_ = false;
};

}  // namespace kxhost
