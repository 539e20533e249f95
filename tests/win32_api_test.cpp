// The Win32 calls that the plug-in relies on, held to one behaviour: this
// program runs against the system's calls under Wine and against our layer
// natively.
#include "support/Handoffs.h"
#include "support/ProcessInfo.h"
#include "support/Sanitizers.h"
#include "support/UniqueName.h"
#include "win32/win32.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using kxtest::Eventually;
using kxtest::UniqueName;

namespace {

// Runs `body` on a thread started by _beginthreadex.
struct Worker {
    std::function<unsigned()> body;
    HANDLE handle = nullptr;

    static unsigned __stdcall Entry(void* self) { return static_cast<Worker*>(self)->body(); }

    explicit Worker(std::function<unsigned()> b) : body(std::move(b)) {
        handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Entry, this, 0, nullptr));
    }
    ~Worker() {
        if (handle != nullptr) {
            WaitForSingleObject(handle, INFINITE);
            CloseHandle(handle);
        }
    }
};

// Whether another thread could take `mutex` at once.
bool FreeForOthers(HANDLE mutex) {
    DWORD result = WAIT_FAILED;
    std::thread([&] {
        result = WaitForSingleObject(mutex, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
    }).join();
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

}  // namespace

TEST(Win32Mutex, OwnedRecursivelyAndReleasedOnlyByItsOwner) {
    HANDLE m = CreateMutexA(nullptr, TRUE, nullptr);  // owned at once
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // again, without blocking
    BOOL byAnother = TRUE;
    std::thread([&] { byAnother = ReleaseMutex(m); }).join();
    EXPECT_FALSE(byAnother);
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_FALSE(FreeForOthers(m));  // held as often as it was taken
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_TRUE(FreeForOthers(m));
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
    EXPECT_TRUE(CloseHandle(m));
    EXPECT_EQ(WaitForSingleObject(nullptr, INFINITE), WAIT_FAILED);  // at once
    EXPECT_FALSE(ReleaseMutex(nullptr) || CloseHandle(nullptr));
}

// A second handle by the same name reaches the same mutex and keeps it
// alive once the first is closed; another name is another mutex; once
// every handle is closed the name makes a new one. (Duplicated handles:
// the mutex wrapper's copies, in threading_test.)
TEST(Win32Mutex, HandlesByNameReachOneMutexThatLivesWhileAnyIsOpen) {
    const std::string name = UniqueName("same");
    HANDLE a = CreateMutexA(nullptr, FALSE, name.c_str());
    HANDLE b = CreateMutexA(nullptr, FALSE, name.c_str());
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    ASSERT_EQ(WaitForSingleObject(a, INFINITE), WAIT_OBJECT_0);
    EXPECT_FALSE(FreeForOthers(b));
    HANDLE other = CreateMutexA(nullptr, FALSE, UniqueName("other").c_str());
    EXPECT_TRUE(FreeForOthers(other));
    ReleaseMutex(a);
    EXPECT_TRUE(CloseHandle(a) && CloseHandle(other));
    ASSERT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    HANDLE c = CreateMutexA(nullptr, FALSE, name.c_str());  // the name still reaches it
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(FreeForOthers(c));
    EXPECT_TRUE(ReleaseMutex(b) && CloseHandle(b) && CloseHandle(c));
    HANDLE fresh = CreateMutexA(nullptr, FALSE, name.c_str());
    EXPECT_NE(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(FreeForOthers(fresh));
    CloseHandle(fresh);
}

// A library's handle never becomes the caller's standard output, whose
// writes would then land in it.
TEST(Win32Mutex, NamedMutexLeavesAClosedStandardOutputClosed) {
    std::fflush(stdout);
    const int saved = dup(1);
    close(1);
    HANDLE m = CreateMutexA(nullptr, FALSE, UniqueName("stdout").c_str());
    const int copy = dup(1);  // fails while descriptor 1 is closed
    if (copy >= 0) close(copy);
    CloseHandle(m);
    dup2(saved, 1);
    close(saved);
    EXPECT_NE(m, nullptr);
    EXPECT_EQ(copy, -1);
}

namespace {
std::string selfPath;
}

// Windows shares a named mutex with every process of the logon; so does our
// layer. A child process holds the name until its input ends, and ends
// without releasing it.
TEST(Win32Mutex, NameIsSharedWithOtherProcesses) {
    const std::string name = UniqueName("process");
    HANDLE m = CreateMutexA(nullptr, FALSE, name.c_str());
    ASSERT_NE(m, nullptr);
    FILE* child = popen((selfPath + " --hold-mutex " + name).c_str(), "w");
    ASSERT_NE(child, nullptr);
    // Seen as taken from here while the child waits for its input to end.
    EXPECT_TRUE(Eventually([&] {
        const DWORD r = WaitForSingleObject(m, 0);
        if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) ReleaseMutex(m);
        return r == WAIT_TIMEOUT;
    }));
    EXPECT_EQ(pclose(child), 0);  // ends its input, waits for its end
    EXPECT_EQ(WaitForSingleObject(m, 10000), WAIT_ABANDONED);
    ReleaseMutex(m);
    CloseHandle(m);
}

namespace {

// Where a thread may be when it is terminated: each case sets `started`
// and then never returns on its own.
struct Busy {
    const char* name;
    bool reachedUnderThreadSanitizer;  // that build holds back signals until its next interceptor
    void (*body)(std::atomic<bool>& started);
};

HANDLE heldMutex;             // held by the test while a case blocks on it
pthread_spinlock_t heldSpin;  // likewise
HANDLE abandoned;             // taken by every case, for the next waiter

const Busy kBusy[] = {
    {"BlockedOnAMutex", true, [](std::atomic<bool>& started) {
         started = true;
         WaitForSingleObject(heldMutex, INFINITE);
     }},
    // Inside the C runtime, where it might hold a lock of the runtime's: it
    // is given a moment to come out, then ended anyway.
    {"NeverLeavingTheCRuntime", false, [](std::atomic<bool>& started) {
         started = true;
         pthread_spin_lock(&heldSpin);
     }},
};

class Win32Terminate : public testing::TestWithParam<Busy> {};

}  // namespace

TEST_P(Win32Terminate, EndsTheThread) {
    if (kxtest::kSignalsDeferred && !GetParam().reachedUnderThreadSanitizer) {
        GTEST_SKIP() << "ThreadSanitizer holds back the signal that would reach the thread there";
    }
    heldMutex = CreateMutexA(nullptr, TRUE, nullptr);
    abandoned = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_EQ(pthread_spin_init(&heldSpin, PTHREAD_PROCESS_PRIVATE), 0);
    ASSERT_EQ(pthread_spin_lock(&heldSpin), 0);
    const int before = kx::BaselineThreadCount();
    std::atomic<bool> started{false}, returned{false};
    auto w = std::make_unique<Worker>([&] {
        // However often it holds this, the next owner holds it once.
        for (int i = 0; i < 3; ++i) WaitForSingleObject(abandoned, INFINITE);
        GetParam().body(started);
        returned = true;
        return 1u;
    });
    ASSERT_TRUE(Eventually([&] { return started.load(); }));
    EXPECT_EQ(WaitForSingleObject(w->handle, 20), WAIT_TIMEOUT);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(w->handle, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    ASSERT_TRUE(TerminateThread(w->handle, 42));
    EXPECT_EQ(WaitForSingleObject(w->handle, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(w->handle, 0), WAIT_OBJECT_0);  // stays signalled
    EXPECT_TRUE(GetExitCodeThread(w->handle, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_FALSE(returned.load());
    w.reset();
    EXPECT_TRUE(Eventually([&] { return kx::CountProcessThreads() <= before; }))
        << "threads before " << before << ", after " << kx::CountProcessThreads();
    EXPECT_TRUE(ReleaseMutex(heldMutex));
    EXPECT_TRUE(FreeForOthers(heldMutex));
    EXPECT_EQ(WaitForSingleObject(abandoned, 5000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(abandoned) && FreeForOthers(abandoned));
    std::vector<std::string> afterwards(1000, std::string(300, 'y'));  // would hang on a held runtime lock
    EXPECT_EQ(afterwards.back().size(), 300u);
    CloseHandle(heldMutex);
    CloseHandle(abandoned);
}

INSTANTIATE_TEST_SUITE_P(Anywhere, Win32Terminate, testing::ValuesIn(kBusy),
                         [](const testing::TestParamInfo<Busy>& info) { return info.param.name; });

TEST(Win32TerminateRepeatedly, AllocatingThreadsKilledLeaveTheAllocatorUsable) {
    if (kx::kSystemWin32) {
        GTEST_SKIP() << "Windows leaves the heap lock held when it kills a thread inside the allocator";
    }
    for (int round = 0; round < 200; ++round) {
        std::atomic<bool> started{false};
        Worker w([&] {
            kxtest::ExpectToBeTerminated();
            started = true;
            for (;;) {
                std::vector<std::string> churn;
                for (int i = 0; i < 64; ++i) churn.emplace_back(100 + i, 'x');
            }
            return 0u;
        });
        ASSERT_TRUE(Eventually([&] { return started.load(); }));
        ASSERT_TRUE(TerminateThread(w.handle, 0));
        ASSERT_EQ(WaitForSingleObject(w.handle, 5000), WAIT_OBJECT_0) << "round " << round;
    }
    std::vector<std::string> afterwards(1000, std::string(300, 'y'));  // would hang on a held lock
    EXPECT_EQ(afterwards.back().size(), 300u);
}

// Threads stopped where the C runtime holds nothing give back what they
// had: stack, thread-local data, malloc arena. Fifty bare exits grew the
// address space by about 1.4 GB.
TEST(Win32TerminateRepeatedly, FiftyEndsInTheCRuntimeGiveTheirMemoryBack) {
    if (kx::AddressSpaceBytes() < 0 || kxtest::kSignalsDeferred || kxtest::kOwnAllocator) {
        GTEST_SKIP() << "measured on Linux, with the C runtime's own allocator";
    }
    ASSERT_EQ(pthread_spin_init(&heldSpin, PTHREAD_PROCESS_PRIVATE), 0);
    ASSERT_EQ(pthread_spin_lock(&heldSpin), 0);
    const long long before = kx::AddressSpaceBytes();
    for (int round = 0; round < 50; ++round) {
        std::atomic<bool> started{false};
        Worker w([&] {
            std::vector<std::string> some(64, std::string(100, 'x'));  // an arena of its own
            started = true;
            pthread_spin_lock(&heldSpin);
            return 0u;
        });
        ASSERT_TRUE(Eventually([&] { return started.load(); }));
        ASSERT_TRUE(TerminateThread(w.handle, 0)) << "round " << round;
    }
    const long long grown = kx::AddressSpaceBytes() - before;
    std::printf("50 forced ends in the C runtime: address space grew %lld MB\n", grown >> 20);
    EXPECT_LT(grown, 256ll << 20);
}

// The child side of NameIsSharedWithOtherProcesses: takes the named mutex,
// keeps it until its input ends and exits holding it.
int HoldMutexAndExit(const char* name) {
    kxtest::ExpectToBeTerminated();  // the handle stays open until the process ends
    HANDLE m = CreateMutexA(nullptr, FALSE, name);
    if (m == nullptr || WaitForSingleObject(m, 10000) != WAIT_OBJECT_0) return 3;
    while (std::getchar() != EOF) {}
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--hold-mutex") return HoldMutexAndExit(argv[2]);
    selfPath = argv[0];
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
