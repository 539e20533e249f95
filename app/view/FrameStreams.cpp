#include "app/view/FrameStreams.h"

#include <algorithm>
#include <cstring>

namespace kxhost {
namespace {

constexpr auto kStillHere = std::chrono::milliseconds(500);
constexpr std::size_t kBlock = 8 * 1024;

}  // namespace

struct FrameStreams::Stream {
    Stream(FrameStreams* owner, MHD_Connection* connection) : owner(owner), connection(connection) {}
    FrameStreams* owner;
    MHD_Connection* connection;
    long seen = -1;
    bool greeted = false;
    std::string out;  // what is being sent, from `sent` on
    std::size_t sent = 0;
    Clock::time_point wrote = Clock::now();
};

MHD_Response* FrameStreams::Open(MHD_Connection* connection) {
    if (open_ >= max_) return nullptr;
    auto* stream = new Stream(this, connection);
    MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kBlock, &FrameStreams::Read,
                                                               stream, &FrameStreams::Free);
    if (response == nullptr) {
        delete stream;
        return nullptr;
    }
    ++open_;
    return response;
}

bool FrameStreams::Refill(Stream& stream) {
    stream.out.clear();
    stream.sent = 0;
    if (!stream.greeted) {
        stream.greeted = true;
        stream.out = hello_;
        return true;
    }
    const auto frames = feed_.Next(stream.seen);
    for (const auto& frame : frames) stream.out += frame->Event();
    if (!frames.empty()) {
        stream.seen = frames.back()->index;
    } else if (Clock::now() - stream.wrote >= kStillHere) {
        stream.out = ": no new frame\n\n";
    }
    return !stream.out.empty();
}

ssize_t FrameStreams::Read(void* cls, uint64_t, char* buffer, std::size_t room) {
    Stream& stream = *static_cast<Stream*>(cls);
    FrameStreams& self = *stream.owner;
    if (self.feed_.Closed()) return MHD_CONTENT_READER_END_OF_STREAM;
    if (stream.sent == stream.out.size() && !self.Refill(stream)) {
        self.suspended_.insert(&stream);
        MHD_suspend_connection(stream.connection);
        return 0;
    }
    const std::size_t n = std::min(room, stream.out.size() - stream.sent);
    std::memcpy(buffer, stream.out.data() + stream.sent, n);
    stream.sent += n;
    stream.wrote = Clock::now();
    return static_cast<ssize_t>(n);
}

void FrameStreams::Free(void* cls) {
    auto* stream = static_cast<Stream*>(cls);
    stream->owner->suspended_.erase(stream);
    --stream->owner->open_;
    delete stream;
}

void FrameStreams::Tick() {
    const long newest = feed_.Newest();
    const bool closed = feed_.Closed();
    const Clock::time_point now = Clock::now();
    for (auto it = suspended_.begin(); it != suspended_.end();) {
        Stream& stream = **it;
        if (closed || newest > stream.seen || now - stream.wrote >= kStillHere) {
            MHD_resume_connection(stream.connection);
            it = suspended_.erase(it);
        } else {
            ++it;
        }
    }
}

void FrameStreams::ResumeAll() {
    for (Stream* stream : suspended_) MHD_resume_connection(stream->connection);
    suspended_.clear();
}

}  // namespace kxhost
