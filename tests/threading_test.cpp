// The worker-thread base, the mutex wrapper and the scoped lock, as the
// plug-in library exports them: what the driver's tests do not show of
// them. The kernel calls beneath are held to Windows' behaviour by
// win32_api_test; copies of a running worker are the driver test's.
#include "support/Handoffs.h"
#include "support/ProcessInfo.h"
#include "support/UniqueName.h"
#include "threading/Orv_AutoMutex.h"
#include "threading/Orv_Mutex.h"
#include "threading/Orv_Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>

using kxtest::Eventually;
using kxtest::Gate;
using kxtest::UniqueName;
using namespace std::chrono_literals;

namespace {

// A worker whose body the test supplies.
class TestThread : public Orv_Thread {
public:
    explicit TestThread(std::function<void(TestThread&)> body) : body_(std::move(body)) {}
    TestThread(const TestThread& other) : Orv_Thread(other), body_(other.body_) {}
    TestThread& operator=(const TestThread& other) {
        Orv_Thread::operator=(other);
        body_ = other.body_;
        return *this;
    }
    // The body is a member, so the worker must end before it goes.
    ~TestThread() override { Orv_Thread::Stop(); }
    void Run() override { body_(*this); }

private:
    std::function<void(TestThread&)> body_;
};

// A worker that loops as the suit driver does: until Loop() turns false.
void PoliteLoop(TestThread& self) {
    while (self.Loop()) std::this_thread::sleep_for(1ms);
}

// Another thread that tries to acquire a mutex (and releases it at once),
// so a test can see it kept out and then let in.
class Contender {
public:
    explicit Contender(Orv_Mutex& m)
        : thread_([this, &m] {
              m.WaitForSingleObject();
              got_.Open();
              m.Release();
          }) {}
    ~Contender() { thread_.join(); }

    // Bounded: a correct lock keeps the contender out for the whole bound.
    bool Acquired(std::chrono::milliseconds bound) { return got_.Wait(bound); }

private:
    Gate got_;
    std::thread thread_;
};

double MillisecondsOf(const std::function<void()>& action) {
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(OrvThread, StopWithoutStartDoesNothing) {
    TestThread t(PoliteLoop);
    t.Stop();
    t.Stop();
    EXPECT_FALSE(t.Loop());
    EXPECT_EQ(t.threadHandle, nullptr);
    EXPECT_EQ(t.threadId, 0u);
}

TEST(OrvThread, LoopIsTrueAsSoonAsStartReturnsAndIdsAreRenewedByEachStart) {
    Gate entered, release;
    std::atomic<bool> loopOnEntry{false};
    TestThread t([&](TestThread& self) {
        loopOnEntry = self.Loop();
        entered.Open();
        release.Wait();
        PoliteLoop(self);
    });
    t.Start();
    EXPECT_TRUE(t.Loop());  // before the worker has run, whatever the scheduling
    EXPECT_NE(t.threadHandle, nullptr);
    const unsigned first = t.threadId;
    EXPECT_NE(first, 0u);
    release.Open();
    ASSERT_TRUE(entered.Wait());
    EXPECT_TRUE(loopOnEntry);
    t.Stop();
    EXPECT_FALSE(t.Loop());
    EXPECT_EQ(t.threadHandle, nullptr);
    EXPECT_EQ(t.threadId, first);
    t.Start();
    EXPECT_NE(t.threadId, first);
}

TEST(OrvThread, RunThatReturnsAtOnceKeepsRunningUntilStop) {
    Gate done;
    TestThread t([&](TestThread&) { done.Open(); });
    t.Start();
    ASSERT_TRUE(done.Wait());
    EXPECT_TRUE(t.Loop());
    EXPECT_LT(MillisecondsOf([&] { t.Stop(); }), 400) << "Stop waited for an ended thread";
    EXPECT_EQ(t.threadHandle, nullptr);
}

// A worker that never looks at Loop() is given its 500 ms, then ended; the
// mutex it held goes to the next thread that waits for it.
TEST(OrvThread, StopEndsAWorkerThatIgnoresLoopAndItsMutexPassesOn) {
    const int before = kx::BaselineThreadCount();
    Orv_Mutex m;
    m.Create(UniqueName("stop").c_str());
    Gate holding;
    std::atomic<bool> pastLoop{false};
    {
        TestThread t([&](TestThread&) {
            m.WaitForSingleObject();
            holding.Open();
            for (;;) std::this_thread::sleep_for(2ms);
            pastLoop = true;
        });
        t.Start();
        ASSERT_TRUE(holding.Wait());
        const double ms = MillisecondsOf([&] { t.Stop(); });
        EXPECT_GE(ms, 495);
        EXPECT_LT(ms, 5000);
        EXPECT_EQ(t.threadHandle, nullptr);
    }
    EXPECT_FALSE(pastLoop.load());
    EXPECT_TRUE(Eventually([&] { return kx::CountProcessThreads() <= before; }));
    m.WaitForSingleObject();  // abandoned: acquired like any other
    Contender c(m);
    EXPECT_FALSE(c.Acquired(100ms));
    m.Release();
    EXPECT_TRUE(c.Acquired(5s));
}

namespace {

// Uses no member of its own in Run, so the base destructor alone may stop it.
class OverridingStop : public Orv_Thread {
public:
    void Run() override {
        entered.Open();
        while (Loop()) std::this_thread::sleep_for(1ms);
        ended = true;
    }
    void Stop() override { overrideCalled = true; }

    static Gate entered;
    static std::atomic<bool> ended;
    static std::atomic<bool> overrideCalled;
};
Gate OverridingStop::entered;
std::atomic<bool> OverridingStop::ended{false};
std::atomic<bool> OverridingStop::overrideCalled{false};

}  // namespace

TEST(OrvThread, DestroyingARunningWorkerStopsItWithTheBaseProcedure) {
    {
        OverridingStop t;
        t.Start();
        ASSERT_TRUE(OverridingStop::entered.Wait());
    }
    EXPECT_TRUE(OverridingStop::ended.load());  // the base stop waited for it
    EXPECT_FALSE(OverridingStop::overrideCalled.load());
}

TEST(OrvMutex, NeverCreatedWaitsAndReleasesReturnAtOnceAndASecondCreateKeepsTheFirst) {
    Orv_Mutex never;
    never.WaitForSingleObject();
    never.Release();
    Orv_Mutex copy(never);
    EXPECT_EQ(copy.handle, nullptr);

    Orv_Mutex m;
    m.Create(nullptr);
    void* first = m.handle;
    ASSERT_NE(first, nullptr);
    m.Create(UniqueName("second").c_str());
    EXPECT_EQ(m.handle, first);
}

TEST(OrvMutex, CopiesUseTheSameMutexAndEachClosesItsOwnHandle) {
    auto source = std::make_unique<Orv_Mutex>();
    source->Create(nullptr);
    Orv_Mutex copy(*source);
    EXPECT_NE(copy.handle, nullptr);
    EXPECT_NE(copy.handle, source->handle);
    Orv_Mutex assigned;
    assigned.Create(nullptr);
    assigned = copy;
    assigned = assigned;
    source.reset();  // the copies keep the kernel mutex alive
    copy.WaitForSingleObject();
    Contender c(assigned);
    EXPECT_FALSE(c.Acquired(100ms));
    copy.Release();
    EXPECT_TRUE(c.Acquired(5s));
}

TEST(OrvAutoMutex, HoldsForItsScopeOnly) {
    static_assert(!std::is_copy_constructible<Orv_AutoMutex>::value, "no copies");
    Orv_Mutex m;
    m.Create(nullptr);
    auto hold = std::make_unique<Orv_AutoMutex>(m);
    EXPECT_EQ(&hold->mutex, &m);
    { Orv_AutoMutex again(m); }  // re-entrant, and releases its one acquisition
    Contender c(m);
    EXPECT_FALSE(c.Acquired(100ms));
    hold.reset();
    EXPECT_TRUE(c.Acquired(5s));
}
