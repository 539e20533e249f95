// The worker-thread base and the mutex wrapper, as the plug-in library
// exports them: what the driver's tests do not show of them (the driver
// takes its locks through the scoped lock). The kernel calls beneath are held to Windows' behaviour by
// win32_api_test.
#include "support/Handoffs.h"
#include "support/ProcessInfo.h"
#include "support/UniqueName.h"
#include "threading/Orv_AutoMutex.h"
#include "threading/Orv_Mutex.h"
#include "threading/Orv_Thread.h"
#include "win32/win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <type_traits>

using kxtest::Gate;
using namespace std::chrono_literals;

static_assert(!std::is_copy_constructible<Orv_AutoMutex>::value, "a scoped lock is never copied");

namespace {

// A worker whose body the test supplies.
class TestThread : public Orv_Thread {
public:
    explicit TestThread(std::function<void(TestThread&)> body) : body_(std::move(body)) {}
    // The body is a member, so the worker must end before it goes.
    ~TestThread() override { Orv_Thread::Stop(); }
    void Run() override { body_(*this); }

private:
    std::function<void(TestThread&)> body_;
};

// Whether another thread that wants `m` is kept out for 100 ms, then let in
// once `release` has run.
bool KeptOutUntil(Orv_Mutex& m, const std::function<void()>& release) {
    auto other = std::async(std::launch::async, [&m] {
        m.WaitForSingleObject();
        m.Release();
    });
    if (other.wait_for(100ms) == std::future_status::ready) return false;
    release();
    return other.wait_for(5s) == std::future_status::ready;
}

}  // namespace

// Loop() holds from Start() until Stop(), even after Run() has returned, and
// Stop() of an ended worker does not wait out its bound.
TEST(OrvThread, LoopHoldsFromStartToStopAndEachStartRenewsTheIds) {
    Gate entered, release;
    std::atomic<bool> loopOnEntry{false};
    TestThread t([&](TestThread& self) {
        loopOnEntry = self.Loop();
        entered.Open();
        release.Wait();
    });
    t.Stop();  // never started: nothing to do
    EXPECT_EQ(t.threadHandle, nullptr);
    t.Start();
    EXPECT_TRUE(t.Loop());  // before the worker has run, whatever the scheduling
    EXPECT_NE(t.threadHandle, nullptr);
    const unsigned first = t.threadId;
    EXPECT_NE(first, 0u);
    release.Open();
    ASSERT_TRUE(entered.Wait());
    EXPECT_TRUE(loopOnEntry);
    EXPECT_TRUE(t.Loop());
    const auto stopping = std::chrono::steady_clock::now();
    t.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 400ms) << "Stop waited for an ended thread";
    EXPECT_FALSE(t.Loop());
    EXPECT_EQ(t.threadHandle, nullptr);
    EXPECT_EQ(t.threadId, first);
    t.Start();
    EXPECT_NE(t.threadId, first);
}

namespace {

// Uses no member of its own in Run, so the base destructor alone may stop it.
struct Plain : Orv_Thread {
    void Run() override {
        entered.Open();
        while (Loop()) std::this_thread::sleep_for(1ms);
        ended = true;
    }
    static Gate entered;
    static std::atomic<bool> ended;
};
Gate Plain::entered;
std::atomic<bool> Plain::ended{false};

}  // namespace

TEST(OrvThread, DestroyingARunningWorkerStopsIt) {
    {
        Plain t;
        t.Start();
        ASSERT_TRUE(Plain::entered.Wait());
    }
    EXPECT_TRUE(Plain::ended.load());  // the base destructor waited for it
}

// The worker's exit code is 0, whether Run returns or Stop ends it, and Stop
// closes the handle: read through a duplicate of it. On Linux the handles
// are the plug-in's own, out of the test's reach.
TEST(OrvThread, ExitCodeIsZeroWhetherRunReturnsOrIsEnded) {
    if (!kx::kSystemWin32) GTEST_SKIP() << "the plug-in's thread handles are its own on Linux";
    const auto exitCodeAfterStop = [](TestThread& t) {
        t.Start();
        const HANDLE own = t.threadHandle;
        HANDLE kept = nullptr;
        EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), t.threadHandle, GetCurrentProcess(), &kept, 0, FALSE,
                                    DUPLICATE_SAME_ACCESS));
        t.Stop();
        EXPECT_EQ(WaitForSingleObject(kept, 5000), WAIT_OBJECT_0);
        DWORD code = STILL_ACTIVE;
        EXPECT_TRUE(GetExitCodeThread(kept, &code));
        CloseHandle(kept);
        EXPECT_FALSE(CloseHandle(own)) << "Stop left the thread's handle open";
        return code;
    };
    TestThread returns([](TestThread&) {});
    EXPECT_EQ(exitCodeAfterStop(returns), 0u);
    // Sleeps past Stop's 500 ms without looking at Loop().
    TestThread deaf([](TestThread&) { std::this_thread::sleep_for(10s); });
    EXPECT_EQ(exitCodeAfterStop(deaf), 0u);
}

// A mutex never created is no lock at all; a second Create keeps the first.
TEST(OrvMutex, CreatedOnceAndCopiesShareTheMutexWithHandlesOfTheirOwn) {
    Orv_Mutex never;
    never.WaitForSingleObject();
    never.Release();
    EXPECT_EQ(Orv_Mutex(never).handle, nullptr);

    auto source = std::make_unique<Orv_Mutex>();
    source->Create(nullptr);
    void* first = source->handle;
    ASSERT_NE(first, nullptr);
    source->Create(kxtest::UniqueName("second").c_str());
    EXPECT_EQ(source->handle, first);
    Orv_Mutex copy(*source);
    EXPECT_NE(copy.handle, source->handle);
    Orv_Mutex assigned;
    assigned.Create(nullptr);
    assigned = copy;
    assigned = assigned;
    source.reset();  // the copies keep the kernel mutex alive
    copy.WaitForSingleObject();
    EXPECT_TRUE(KeptOutUntil(assigned, [&] { copy.Release(); }));
}
