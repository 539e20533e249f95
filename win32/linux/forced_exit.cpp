// What a thread ended by force does on its way out, so that it leaves as a
// thread that Windows terminates does.
#include "win32/linux/runtime_facts.h"
#include "win32/linux/thread_object.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace kx {
namespace {

bool SetAtStart(const ThreadObject* t, unsigned key) { return (t->keysSetAtStart[key / 8] >> (key % 8)) & 1u; }

// Left allocated on purpose, like what Windows leaves of a terminated
// thread: no leak of the program's to report.
void Abandon(const void* allocation) {
#if defined(__SANITIZE_ADDRESS__)
    if (allocation != nullptr) __lsan_ignore_object(allocation);
#else
    (void)allocation;
#endif
}

}  // namespace

void NoteKeysSetAtStart(ThreadObject* t) {
    for (unsigned key = 0; key < PTHREAD_KEYS_MAX; ++key) {
        if (pthread_getspecific(key) != nullptr) t->keysSetAtStart[key / 8] |= static_cast<unsigned char>(1u << (key % 8));
    }
}

// A thread stopped in a condition wait owns nothing, on Windows. Here the
// jump ran glibc's clean-up for the wait, which took the wait's mutex again
// (and left the condition consistent): it is given back.
void ReleaseConditionWaitMutexes(ThreadObject* t) {
    for (int i = 0; i < t->conditionWaits; ++i) {
        pthread_mutex_t* m = t->conditionWaitMutexes[i];
#if defined(__SANITIZE_THREAD__)
        // ThreadSanitizer did not see the clean-up take it.
        __tsan_mutex_pre_lock(m, __tsan_mutex_try_lock);
        __tsan_mutex_post_lock(m, __tsan_mutex_try_lock, 0);
#endif
        pthread_mutex_consistent(m);  // a robust one whose owner died meanwhile
        pthread_mutex_unlock(m);
    }
    t->conditionWaits = 0;
}

// Windows runs no per-thread exit code of a terminated thread's libraries,
// and it could not run safely here either: it may want a lock that the
// thread held when it was stopped. So the values of the thread-specific
// keys set since the thread started (the runtimes' own were set before) are
// cleared, and so is glibc's list of thread_local destructors; what they
// would have freed stays allocated, as on Windows.
void SkipLibraryExitCode(ThreadObject* t) {
    for (unsigned key = 0; key < PTHREAD_KEYS_MAX; ++key) {
        if (SetAtStart(t, key)) continue;
        if (void* value = pthread_getspecific(key)) {
            Abandon(value);
            pthread_setspecific(key, nullptr);
        }
    }
    if (runtimeFacts.threadLocalDestructors == RuntimeFacts::kUnknown) return;
    auto* list = reinterpret_cast<void**>(static_cast<char*>(__builtin_thread_pointer()) +
                                          runtimeFacts.threadLocalDestructors);
    // glibc's entries: function, object, module, next.
    for (void* entry = *list; entry != nullptr; entry = static_cast<void**>(entry)[3]) Abandon(entry);
    *list = nullptr;
}

}  // namespace kx
