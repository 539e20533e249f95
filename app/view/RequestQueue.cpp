#include "app/view/RequestQueue.h"

#include <algorithm>

namespace kxhost {

struct RequestQueue::Entry {
    ViewRequest request;
    ViewAnswer answer;
    Clock::time_point deadline;
    bool taken = false, answered = false;
};

RequestQueue::Ticket RequestQueue::Submit(const ViewRequest& request, Clock::time_point deadline,
                                          ViewAnswer* refusal) {
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_) {
        *refusal = {503, "the view is closing"};
        return nullptr;
    }
    if (waiting_.size() >= capacity_) {
        *refusal = {503, "too many requests at once; try again"};
        return nullptr;
    }
    auto entry = std::make_shared<Entry>();
    entry->request = request;
    entry->deadline = deadline;
    waiting_.push_back(entry);
    return entry;
}

bool RequestQueue::Answered(const Ticket& ticket, Clock::time_point now, ViewAnswer* answer) {
    std::lock_guard<std::mutex> guard(lock_);
    if (ticket->answered) {
        *answer = ticket->answer;
        return true;
    }
    if (!ticket->taken && now >= ticket->deadline) {
        waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), ticket), waiting_.end());
        *answer = {503, "the suits are busy; nothing was changed"};
        return true;
    }
    // Taken: the channel is at it, and its operations are short.
    if (ticket->taken && now >= ticket->deadline + std::chrono::seconds(10)) {
        *answer = {503, "no answer from the suits in time"};
        return true;
    }
    return false;
}

void RequestQueue::Drain(const std::function<ViewAnswer(const ViewRequest&)>& handle) {
    std::deque<Ticket> taken;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (waiting_.empty()) return;
        taken.swap(waiting_);
        for (auto& entry : taken) entry->taken = true;
    }
    for (auto& entry : taken) {
        ViewAnswer answer = handle(entry->request);
        std::lock_guard<std::mutex> guard(lock_);
        entry->answer = std::move(answer);
        entry->answered = true;
    }
    answered_();
}

void RequestQueue::Close() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
        for (auto& entry : waiting_) {
            entry->answer = {503, "the view is closing"};
            entry->answered = true;
        }
        waiting_.clear();
    }
    answered_();
}

}  // namespace kxhost
