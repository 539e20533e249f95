// The view's two hand-offs between the program's thread and the web
// server's: the frame ring a slow browser skips ahead in, and the bounded
// request queue that answers 503 rather than wait without end.
#include "app/view/FrameFeed.h"
#include "app/view/RequestQueue.h"
#include "support/Handoffs.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using kxhost::FrameFeed;
using kxhost::RequestQueue;
using kxhost::ViewAnswer;
using kxhost::ViewRequest;

namespace {

void PublishUpTo(FrameFeed& feed, long last) {
    for (long k = 0; k <= last; ++k) {
        auto frame = std::make_shared<kxhost::ViewFrame>();
        frame->index = k;
        feed.Publish(std::move(frame));
    }
}

std::vector<long> Indices(const std::vector<std::shared_ptr<const kxhost::ViewFrame>>& frames) {
    std::vector<long> indices;
    for (const auto& frame : frames) indices.push_back(frame->index);
    return indices;
}

}  // namespace

TEST(FrameFeed, ANewReaderGetsTheNewestAndALateOneSkipsToTheOldestKept) {
    FrameFeed feed;
    const long last = FrameFeed::kKept + 9;
    PublishUpTo(feed, last);
    EXPECT_EQ(Indices(feed.Next(-1, 0ms)), std::vector<long>{last});
    EXPECT_EQ(Indices(feed.Next(last - 2, 0ms)), (std::vector<long>{last - 1, last}));
    const std::vector<long> behind = Indices(feed.Next(0, 0ms));
    ASSERT_EQ(behind.size(), static_cast<std::size_t>(FrameFeed::kKept));
    EXPECT_EQ(behind.front(), last - FrameFeed::kKept + 1);
    EXPECT_EQ(behind.back(), last);
    EXPECT_TRUE(feed.Next(last, 10ms).empty()) << "nothing new: empty after the time-out";
}

TEST(FrameFeed, ClosingWakesAWaitingReader) {
    FrameFeed feed;
    PublishUpTo(feed, 0);
    auto reader = std::async(std::launch::async, [&] { return feed.Next(0, 60s); });
    std::this_thread::sleep_for(50ms);  // waiting by now, most likely; it must end either way
    feed.Close();
    ASSERT_EQ(reader.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(reader.get().empty());
    EXPECT_TRUE(feed.Closed());
}

TEST(RequestQueue, FullTimedOutAndClosedRequestsGet503AndAreNeverCarriedOut) {
    RequestQueue queue(1);
    ViewRequest request;
    int handled = 0;
    // A client that tries again while the queue is full, as the 503 asks.
    auto submitPatiently = [&] {
        ViewAnswer answer;
        do {
            answer = queue.Submit(request, 60s);
        } while (answer.text.find("too many") == 0);
        return answer;
    };
    auto full = [&] { return queue.Submit(request, 0ms).text.find("too many") == 0; };
    auto handle = [&](const ViewRequest&) {
        ++handled;
        return ViewAnswer{200, "done"};
    };

    // Nobody drains: the request is withdrawn undone.
    EXPECT_EQ(queue.Submit(request, 10ms).status, 503);
    queue.Drain(handle);
    EXPECT_EQ(handled, 0);

    // One waits; a second finds the queue full, at once.
    auto first = std::async(std::launch::async, submitPatiently);
    EXPECT_TRUE(kxtest::Eventually(full));
    queue.Drain(handle);
    ASSERT_EQ(first.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(first.get().status, 200);
    EXPECT_EQ(handled, 1);

    // Closing answers what waits, and refuses what comes later.
    auto waiting = std::async(std::launch::async, submitPatiently);
    EXPECT_TRUE(kxtest::Eventually(full));
    queue.Close();
    ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(waiting.get().status, 503);
    EXPECT_EQ(queue.Submit(request, 60s).status, 503);
    queue.Drain(handle);
    EXPECT_EQ(handled, 1);
}
