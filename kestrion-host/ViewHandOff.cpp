#include "kestrion-host/ViewHandOff.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kxhost {
namespace {

// JSON has no NaN: a suit library that sends one must not break the page.
void Append(std::string& out, float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::isfinite(value) ? static_cast<double>(value) : 0.0);
    out += text;
}

void Append(std::string& out, const Vector& v) {
    Append(out, v.x);
    out += ',';
    Append(out, v.y);
    out += ',';
    Append(out, v.z);
}

}  // namespace

const std::string& ViewFrame::Event() const {
    std::call_once(formatted_, [this] {
        std::string& out = event_;
        out.reserve(64 + suits.size() * 480);
        char head[96];
        std::snprintf(head, sizeof head, "event: frame\ndata: {\"k\":%ld,\"t\":%.3f,\"rec\":", index, seconds);
        out += head;
        out += recording.empty() ? "null" : recording;
        out += ",\"suits\":[";
        for (std::size_t i = 0; i < suits.size(); ++i) {
            char suit[96];
            std::snprintf(suit, sizeof suit, "%s{\"i\":%d,\"n\":%ld,\"age\":%.1f,\"p\":[", i > 0 ? "," : "", suits[i],
                          samples[i], agesMs[i]);
            out += suit;
            Append(out, frames[i].position);
            out += "],\"r\":[";
            for (int j = 0; j < 18; ++j) {
                if (j > 0) out += ',';
                Append(out, frames[i].rotations[j]);
            }
            out += "]}";
        }
        out += "]}\n\n";
    });
    return event_;
}

void FrameFeed::Publish(std::shared_ptr<const ViewFrame> frame) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        newest_ = frame->index;
        ring_[static_cast<std::size_t>(newest_ % kKept)].swap(frame);
    }
    published_.notify_all();
    // The frame it replaced is freed here, outside the lock.
}

std::vector<std::shared_ptr<const ViewFrame>> FrameFeed::Next(long seen, std::chrono::milliseconds timeout) {
    std::vector<std::shared_ptr<const ViewFrame>> frames;
    std::unique_lock<std::mutex> guard(lock_);
    published_.wait_for(guard, timeout, [&] { return closed_ || newest_ > seen; });
    if (closed_ || newest_ <= seen) return frames;
    const long first = seen < 0 ? newest_ : std::max(seen + 1, newest_ - kKept + 1);
    for (long index = first; index <= newest_; ++index) frames.push_back(ring_[static_cast<std::size_t>(index % kKept)]);
    return frames;
}

void FrameFeed::Close() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
    }
    published_.notify_all();
}

bool FrameFeed::Closed() {
    std::lock_guard<std::mutex> guard(lock_);
    return closed_;
}

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
