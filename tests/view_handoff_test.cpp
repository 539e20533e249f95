// The view's two hand-offs between the program's thread and the web
// server's: the frame ring a slow browser skips ahead in, and the bounded
// request queue that answers 503 rather than wait without end.
#include "app/view/FrameFeed.h"
#include "app/view/RequestQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace std::chrono_literals;
using kxhost::FrameFeed;
using kxhost::RequestQueue;
using kxhost::ViewAnswer;
using kxhost::ViewRequest;

namespace {

std::vector<long> Indices(const std::vector<std::shared_ptr<const kxhost::ViewFrame>>& frames) {
    std::vector<long> indices;
    for (const auto& frame : frames) indices.push_back(frame->index);
    return indices;
}

}  // namespace

TEST(FrameFeed, ANewReaderGetsTheNewestAndALateOneSkipsToTheOldestKept) {
    FrameFeed feed;
    const long last = FrameFeed::kKept + 9;
    for (long k = 0; k <= last; ++k) {
        auto frame = std::make_shared<kxhost::ViewFrame>();
        frame->index = k;
        feed.Publish(std::move(frame));
    }
    EXPECT_EQ(Indices(feed.Next(-1)), std::vector<long>{last});
    EXPECT_EQ(Indices(feed.Next(last - 2)), (std::vector<long>{last - 1, last}));
    const std::vector<long> behind = Indices(feed.Next(0));
    ASSERT_EQ(behind.size(), static_cast<std::size_t>(FrameFeed::kKept));
    EXPECT_EQ(behind.front(), last - FrameFeed::kKept + 1);
    EXPECT_EQ(behind.back(), last);
    EXPECT_TRUE(feed.Next(last).empty());
    feed.Close();
    EXPECT_TRUE(feed.Next(0).empty()) << "closed: nothing more to send";
}

TEST(RequestQueue, FullTimedOutAndClosedRequestsGet503AndAreNeverCarriedOut) {
    int handled = 0, wakes = 0;
    RequestQueue queue(1, [&] { ++wakes; });
    auto handle = [&](const ViewRequest&) {
        ++handled;
        return ViewAnswer{200, "done"};
    };
    const auto now = RequestQueue::Clock::now();
    ViewRequest request;
    ViewAnswer answer;

    // One waits; a second finds the queue full. The first is answered.
    const RequestQueue::Ticket first = queue.Submit(request, now + 2s, &answer);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(queue.Answered(first, now, &answer));
    EXPECT_EQ(queue.Submit(request, now + 2s, &answer), nullptr);
    EXPECT_EQ(answer.status, 503);
    queue.Drain(handle);
    ASSERT_TRUE(queue.Answered(first, now, &answer));
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(wakes, 1);

    // Not taken by its deadline: withdrawn undone.
    const RequestQueue::Ticket late = queue.Submit(request, now + 2s, &answer);
    ASSERT_TRUE(queue.Answered(late, now + 3s, &answer));
    EXPECT_EQ(answer.status, 503);
    queue.Drain(handle);
    EXPECT_EQ(handled, 1);

    // Closing answers what waits, and refuses what comes later.
    const RequestQueue::Ticket waiting = queue.Submit(request, now + 2s, &answer);
    queue.Close();
    ASSERT_TRUE(queue.Answered(waiting, now, &answer));
    EXPECT_EQ(answer.status, 503);
    EXPECT_EQ(queue.Submit(request, now + 2s, &answer), nullptr);
    queue.Drain(handle);
    EXPECT_EQ(handled, 1);
}
