#include "app/view/RequestQueue.h"

namespace kxhost {

ViewAnswer RequestQueue::Submit(const ViewRequest& request, std::chrono::milliseconds timeout) {
    auto entry = std::make_shared<Entry>();
    entry->request = request;
    std::unique_lock<std::mutex> guard(lock_);
    if (closed_) return {503, "the view is closing"};
    if (waiting_.size() >= capacity_) return {503, "too many requests at once; try again"};
    waiting_.push_back(entry);
    if (!answered_.wait_for(guard, timeout, [&] { return entry->answered || closed_; }) && !entry->taken) {
        for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
            if (*it == entry) {
                waiting_.erase(it);
                break;
            }
        }
        return {503, "the suits are busy; nothing was changed"};
    }
    // Taken: the channel is at it, and its operations are short.
    answered_.wait_for(guard, std::chrono::seconds(10), [&] { return entry->answered; });
    if (!entry->answered) return {503, "no answer from the suits in time"};
    return entry->answer;
}

void RequestQueue::Drain(const std::function<ViewAnswer(const ViewRequest&)>& handle) {
    std::deque<std::shared_ptr<Entry>> taken;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (waiting_.empty()) return;
        taken.swap(waiting_);
        for (auto& entry : taken) entry->taken = true;
    }
    for (auto& entry : taken) {
        ViewAnswer answer = handle(entry->request);
        {
            std::lock_guard<std::mutex> guard(lock_);
            entry->answer = std::move(answer);
            entry->answered = true;
        }
        answered_.notify_all();
    }
}

void RequestQueue::Close() {
    std::deque<std::shared_ptr<Entry>> refused;
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
        refused.swap(waiting_);
        for (auto& entry : refused) {
            entry->answer = {503, "the view is closing"};
            entry->answered = true;
        }
    }
    answered_.notify_all();
}

}  // namespace kxhost
