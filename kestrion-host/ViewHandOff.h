// The two hand-offs between the program's thread, which alone calls the
// channel, and the web server's threads: the newest frames one way, the
// page's requests the other. Neither side ever waits for the other's work:
// the locks guard only pointer swaps and flags.
#pragma once

#include "driver/Frame.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kxhost {

// One read of every suit, as the page gets it.
struct ViewFrame {
    long index = 0;        // frames read since the start
    double seconds = 0;    // index / rate
    long long readNs = 0;  // steady clock just before GetData
    std::vector<int> suits;
    std::vector<Frame> frames;
    std::vector<long> samples;     // new samples seen so far, per suit
    std::vector<double> agesMs;    // since each suit's sample last changed
    std::string recording;         // JSON: null, or the files being written

    // The server-sent event, made once by whichever sender needs it first.
    const std::string& Event() const;

private:
    mutable std::once_flag formatted_;
    mutable std::string event_;
};

// The last frames, in a ring of fixed size: a sender held up for a moment
// catches up, one that falls further behind skips the frames it missed, so
// a slow or stalled browser costs nothing but its own frames.
class FrameFeed {
public:
    static constexpr long kKept = 64;

    // Frames come with consecutive indices from 0.
    void Publish(std::shared_ptr<const ViewFrame> frame);
    // The frames above `seen` that are still kept, oldest first; only the
    // newest when `seen` is negative. Empty after `timeout` or once closed.
    std::vector<std::shared_ptr<const ViewFrame>> Next(long seen, std::chrono::milliseconds timeout);
    void Close();
    bool Closed();

private:
    std::mutex lock_;
    std::condition_variable published_;
    std::vector<std::shared_ptr<const ViewFrame>> ring_ = std::vector<std::shared_ptr<const ViewFrame>>(kKept);
    long newest_ = -1;
    bool closed_ = false;
};

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
