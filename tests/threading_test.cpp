// The worker-thread base, the mutex wrapper and the scoped lock, as the
// plug-in library exports them.
#include "support/ProcessInfo.h"
#include "support/Counts.h"
#include "support/Gate.h"
#include "support/Sanitizers.h"
#include "threading/Orv_AutoMutex.h"
#include "threading/Orv_Mutex.h"
#include "threading/Orv_Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

using kxtest::Eventually;
using kxtest::Gate;
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
    void Run() override {
        runs++;
        body_(*this);
    }
    std::atomic<int> runs{0};

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

std::string UniqueName() {
    static int counter = 0;
    return "kx-threading-test-" + std::to_string(counter++) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

TEST(OrvThread, StopWithoutStartDoesNothing) {
    TestThread t(PoliteLoop);
    t.Stop();
    t.Stop();
    EXPECT_FALSE(t.Loop());
    EXPECT_EQ(t.threadHandle, nullptr);
    EXPECT_EQ(t.threadId, 0u);
    EXPECT_EQ(t.runs, 0);
}

TEST(OrvThread, LoopIsTrueAsSoonAsStartReturns) {
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
    release.Open();
    ASSERT_TRUE(entered.Wait());
    EXPECT_TRUE(loopOnEntry);
    t.Stop();
    EXPECT_FALSE(t.Loop());
    EXPECT_EQ(t.threadHandle, nullptr);
}

TEST(OrvThread, RunThatReturnsAtOnceKeepsRunningUntilStop) {
    Gate done;
    TestThread t([&](TestThread&) { done.Open(); });
    t.Start();
    ASSERT_TRUE(done.Wait());
    EXPECT_TRUE(t.Loop());
    const auto start = std::chrono::steady_clock::now();
    t.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms) << "Stop waited for an ended thread";
    EXPECT_FALSE(t.Loop());
    EXPECT_EQ(t.threadHandle, nullptr);
}

TEST(OrvThread, ThreadIdIsKeptAfterStopAndRenewedByTheNextStart) {
    TestThread t(PoliteLoop);
    t.Start();
    const unsigned first = t.threadId;
    EXPECT_NE(first, 0u);
    t.Stop();
    EXPECT_EQ(t.threadId, first);
    t.Start();
    EXPECT_NE(t.threadId, 0u);
    EXPECT_NE(t.threadId, first);
    EXPECT_EQ(t.runs.load() >= 1, true);
    t.Stop();
    EXPECT_TRUE(Eventually([&] { return t.runs.load() == 2; }));
}

namespace {

// Stops a worker that ignores Loop() while doing `busy`; checks that Stop
// took its 500 ms, that the worker never got past `busy`, and that its
// thread left the process.
void ExpectStopTerminates(std::function<void()> busy) {
    const int before = kxtest::BaselineThreadCount();
    Gate started;
    std::atomic<bool> pastBusy{false};
    {
        TestThread t([&](TestThread&) {
            started.Open();
            busy();
            pastBusy = true;
        });
        t.Start();
        ASSERT_TRUE(started.Wait());
        const auto start = std::chrono::steady_clock::now();
        t.Stop();
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, 495ms);
        EXPECT_LT(took, 5s);
        EXPECT_EQ(t.threadHandle, nullptr);
        EXPECT_FALSE(t.Loop());
    }
    EXPECT_FALSE(pastBusy.load());
    EXPECT_TRUE(Eventually([&] { return kx::CountProcessThreads() <= before; }))
        << "threads before " << before << ", after " << kx::CountProcessThreads();
}

}  // namespace

TEST(OrvThreadStop, TerminatesAWorkerSpinningWithoutCalls) {
    if (kxtest::kSignalsDeferred) {
        GTEST_SKIP() << "ThreadSanitizer defers the signal that interrupts a spinning thread";
    }
    ExpectStopTerminates([] {
        volatile unsigned spin = 0;
        for (;;) spin = spin + 1;
    });
}

TEST(OrvThreadStop, TerminatesAWorkerThatSleepsAndNeverChecksLoop) {
    ExpectStopTerminates([] {
        for (;;) std::this_thread::sleep_for(2ms);
    });
}

TEST(OrvThreadStop, TerminatesAWorkerBlockedInAWaitThatNeverReturns) {
    std::mutex lock;
    std::condition_variable never;
    ExpectStopTerminates([&] {
        std::unique_lock<std::mutex> guard(lock);
        never.wait(guard, [] { return false; });
    });
}

TEST(OrvThreadStop, MutexHeldByATerminatedWorkerGoesToTheNextWaiter) {
    Orv_Mutex m;
    m.Create(UniqueName().c_str());
    ExpectStopTerminates([&] {
        m.WaitForSingleObject();
        for (;;) std::this_thread::sleep_for(2ms);
    });
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
    ~OverridingStop() override = default;
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

TEST(OrvThread, CopiesNeverShareTheWorker) {
    std::atomic<int> passes{0};
    TestThread source([&](TestThread& self) {
        while (self.Loop()) {
            passes++;
            std::this_thread::sleep_for(1ms);
        }
    });
    source.Start();
    {
        TestThread copy(source);
        EXPECT_FALSE(copy.Loop());
        EXPECT_EQ(copy.threadHandle, nullptr);
        EXPECT_EQ(copy.threadId, source.threadId);
        copy.Stop();
        TestThread assigned(PoliteLoop);
        assigned = source;
        EXPECT_FALSE(assigned.Loop());
        EXPECT_EQ(assigned.threadHandle, nullptr);
    }  // destroying the copies leaves the source's worker alone
    const int seen = passes;
    EXPECT_TRUE(Eventually([&] { return passes > seen; }));
    EXPECT_TRUE(source.Loop());
    const auto start = std::chrono::steady_clock::now();
    source.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms) << "worker had to be terminated";
}

TEST(OrvMutex, NeverCreatedWaitsAndReleasesReturnAtOnce) {
    Orv_Mutex m;
    EXPECT_EQ(m.handle, nullptr);
    m.WaitForSingleObject();
    m.Release();
    Orv_Mutex copy(m);
    EXPECT_EQ(copy.handle, nullptr);
}

TEST(OrvMutex, SecondCreateKeepsTheFirstKernelMutex) {
    Orv_Mutex m;
    m.Create(nullptr);
    void* first = m.handle;
    ASSERT_NE(first, nullptr);
    m.Create(UniqueName().c_str());
    EXPECT_EQ(m.handle, first);
}

TEST(OrvMutex, SameNameIsOneLockAndUnnamedMutexesAreIndependent) {
    const std::string name = UniqueName();
    Orv_Mutex a, b;
    a.Create(name.c_str());
    b.Create(name.c_str());
    a.WaitForSingleObject();
    {
        Contender c(b);
        EXPECT_FALSE(c.Acquired(100ms));
        a.Release();
        EXPECT_TRUE(c.Acquired(5s));
    }

    Orv_Mutex u1, u2;
    u1.Create(nullptr);
    u2.Create(nullptr);
    u1.WaitForSingleObject();
    {
        Contender c(u2);
        EXPECT_TRUE(c.Acquired(5s));
    }
    u1.Release();
}

TEST(OrvMutex, OwnerReentersAndNeedsAsManyReleases) {
    Orv_Mutex m;
    m.Create(nullptr);
    m.WaitForSingleObject();
    m.WaitForSingleObject();  // would deadlock if not re-entrant
    m.Release();
    Contender c(m);
    EXPECT_FALSE(c.Acquired(100ms));
    m.Release();
    EXPECT_TRUE(c.Acquired(5s));
}

TEST(OrvMutex, ReleaseByANonOwnerIsIgnored) {
    Orv_Mutex m;
    m.Create(nullptr);
    m.WaitForSingleObject();
    std::thread([&] { m.Release(); }).join();
    Contender c(m);
    EXPECT_FALSE(c.Acquired(100ms));
    m.Release();
    EXPECT_TRUE(c.Acquired(5s));
}

TEST(OrvMutex, CopiesUseTheSameMutexAndEachClosesItsOwnHandle) {
    auto source = std::make_unique<Orv_Mutex>();
    source->Create(nullptr);
    Orv_Mutex copy(*source);
    EXPECT_NE(copy.handle, nullptr);
    EXPECT_NE(copy.handle, source->handle);
    source->WaitForSingleObject();
    {
        Contender c(copy);
        EXPECT_FALSE(c.Acquired(100ms));
        source->Release();
        EXPECT_TRUE(c.Acquired(5s));
    }

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
    static_assert(!std::is_copy_assignable<Orv_AutoMutex>::value, "no copies");
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
