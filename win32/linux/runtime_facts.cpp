// Finding what ending a thread by force needs to know of the C runtime. The
// code ranges come from the loader; glibc's private layout comes from
// experiments on a thread of our own, each checked before it is believed.
#include "win32/linux/runtime_facts.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <time.h>
#include <algorithm>
#include <atomic>
#include <cstring>

// glibc's clean-up chain of old (exported, not declared in pthread.h) and
// its registration of thread_local destructors.
extern "C" {
void _pthread_cleanup_push(_pthread_cleanup_buffer* buffer, void (*routine)(void*), void* argument);
void _pthread_cleanup_pop(_pthread_cleanup_buffer* buffer, int execute);
int __cxa_thread_atexit_impl(void (*destructor)(void*), void* object, void* dso);
extern void* __dso_handle;
}

#define KX_READS_FOREIGN_MEMORY __attribute__((no_sanitize_address, no_sanitize_thread))

namespace kx {

RuntimeFacts runtimeFacts;

const CodeRange* RuntimeFacts::FindRuntime(std::uintptr_t pc) const {
    for (int i = 0; i < runtimeCount; ++i) {
        if (runtime[i].Holds(pc)) return &runtime[i];
    }
    return nullptr;
}

bool RuntimeFacts::InGuardedCall(std::uintptr_t pc) const {
    for (int i = 0; i < guardedCount; ++i) {
        if (guarded[i].Holds(pc)) return true;
    }
    return false;
}

namespace {

const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

bool IsRuntimeName(const char* path) {
    static const char* const kPrefixes[] = {"libc.so",    "ld-linux",   "libstdc++.so", "libgcc_s.so",
                                            "libasan.so", "libtsan.so", "libubsan.so",  "liblsan.so",
                                            "libpthread.so"};
    for (const char* prefix : kPrefixes) {
        if (StartsWith(BaseName(path), prefix)) return true;
    }
    return false;
}

int NoteRuntimeCode(dl_phdr_info* info, size_t, void*) {
    RuntimeFacts& f = runtimeFacts;
    if (info->dlpi_name == nullptr || !IsRuntimeName(info->dlpi_name)) return 0;
    for (int i = 0; i < info->dlpi_phnum && f.runtimeCount < RuntimeFacts::kMaxRuntime; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_X)) continue;
        const std::uintptr_t lo = info->dlpi_addr + ph.p_vaddr;
        f.runtime[f.runtimeCount++] = CodeRange{lo, lo + ph.p_memsz};
    }
    return 0;
}

// C's allocator, C++'s operators (which the sanitizers' builds take over
// without passing through malloc), and the condition variables'.
const char* const kGuardedEntries[] = {
    "malloc", "free", "calloc", "realloc", "reallocarray", "memalign", "aligned_alloc", "posix_memalign",
    "valloc", "pvalloc", "malloc_trim", "malloc_usable_size", "mallinfo", "mallinfo2", "malloc_stats",
    "malloc_info", "mallopt", "_Znwm", "_Znam", "_ZdlPv", "_ZdaPv", "_ZdlPvm", "_ZdaPvm",
    "_ZnwmSt11align_val_t", "_ZdlPvSt11align_val_t", "_ZdlPvmSt11align_val_t", "pthread_cond_wait",
    "pthread_cond_timedwait", "pthread_cond_clockwait", "pthread_cond_signal", "pthread_cond_broadcast",
    "pthread_cond_destroy", "cnd_wait", "cnd_timedwait", "cnd_signal", "cnd_broadcast"};

void NoteGuardedEntry(void* scope, const char* name) {
    RuntimeFacts& f = runtimeFacts;
    void* address = dlsym(scope, name);
    Dl_info info;
    void* entry = nullptr;
    if (address == nullptr || dladdr1(address, &info, &entry, RTLD_DL_SYMENT) == 0) return;
    const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
    if (symbol == nullptr || symbol->st_size == 0) return;
    const auto lo = reinterpret_cast<std::uintptr_t>(address);
    for (int i = 0; i < f.guardedCount; ++i) {
        if (f.guarded[i].lo == lo) return;
    }
    if (f.guardedCount < RuntimeFacts::kMaxGuarded) f.guarded[f.guardedCount++] = CodeRange{lo, lo + symbol->st_size};
}

void FindGuardedCalls() {
    // The definitions every module binds to (a sanitizer's, say), and the C
    // runtime's own beneath them.
    void* libc = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    for (const char* name : kGuardedEntries) {
        NoteGuardedEntry(RTLD_DEFAULT, name);
        if (libc != nullptr) NoteGuardedEntry(libc, name);
    }
    if (libc != nullptr) dlclose(libc);
}

void Nothing(void*) {}

// Where pthread_self() holds the head of the clean-up chain: the word that
// follows two pushes and two pops.
KX_READS_FOREIGN_MEMORY std::ptrdiff_t FindCleanupChain() {
    constexpr std::ptrdiff_t kScan = 2048;  // well inside glibc's descriptor
    auto* self = reinterpret_cast<char*>(pthread_self());
    _pthread_cleanup_buffer outer, inner;
    _pthread_cleanup_push(&outer, Nothing, nullptr);
    _pthread_cleanup_push(&inner, Nothing, nullptr);
    std::ptrdiff_t found = RuntimeFacts::kUnknown;
    for (std::ptrdiff_t at = 0; at < kScan && found == RuntimeFacts::kUnknown; at += sizeof(void*)) {
        if (*reinterpret_cast<void**>(self + at) == &inner && inner.__prev == &outer) found = at;
    }
    _pthread_cleanup_pop(&inner, 0);
    if (found != RuntimeFacts::kUnknown && *reinterpret_cast<void**>(self + found) != &outer) {
        found = RuntimeFacts::kUnknown;
    }
    _pthread_cleanup_pop(&outer, 0);
    return found;
}

struct LibcTls {
    std::uintptr_t* block = nullptr;
    std::size_t size = 0;
};

int FindLibcTls(dl_phdr_info* info, size_t, void* out) {
    if (info->dlpi_name == nullptr || !StartsWith(BaseName(info->dlpi_name), "libc.so")) return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type != PT_TLS) continue;
        auto* tls = static_cast<LibcTls*>(out);
        tls->block = static_cast<std::uintptr_t*>(info->dlpi_tls_data);
        tls->size = info->dlpi_phdr[i].p_memsz;
    }
    return 1;
}

// On a thread that has registered no thread_local destructor yet: the word
// of glibc's thread-local block that heads a list of the entries of two
// registrations, the newer first (an entry: function, object, module, next).
KX_READS_FOREIGN_MEMORY std::ptrdiff_t FindThreadLocalDestructors() {
    constexpr std::size_t kMaxWords = 256;
    LibcTls tls;
    dl_iterate_phdr(FindLibcTls, &tls);
    const std::size_t words = tls.block == nullptr ? 0 : std::min(tls.size / sizeof(void*), kMaxWords);
    std::uintptr_t before[kMaxWords];
    for (std::size_t i = 0; i < words; ++i) before[i] = tls.block[i];
    static char older, newer;
    if (words == 0 || __cxa_thread_atexit_impl(Nothing, &older, &__dso_handle) != 0 ||
        __cxa_thread_atexit_impl(Nothing, &newer, &__dso_handle) != 0) {
        return RuntimeFacts::kUnknown;
    }
    auto object = [](std::uintptr_t entry) { return reinterpret_cast<const std::uintptr_t*>(entry)[1]; };
    auto next = [](std::uintptr_t entry) { return reinterpret_cast<const std::uintptr_t*>(entry)[3]; };
    for (std::size_t i = 0; i < words; ++i) {
        const std::uintptr_t head = tls.block[i];
        if (head == before[i] || head == 0 || object(head) != reinterpret_cast<std::uintptr_t>(&newer)) continue;
        const std::uintptr_t second = next(head);
        if (second != 0 && object(second) == reinterpret_cast<std::uintptr_t>(&older) && next(second) == before[i]) {
            return reinterpret_cast<char*>(&tls.block[i]) - static_cast<char*>(__builtin_thread_pointer());
        }
    }
    return RuntimeFacts::kUnknown;
}

// A thread that finds the thread_local list, then waits on a condition
// while the prober reads its clean-up chain.
struct Prober {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
    bool released = false;
    std::atomic<bool> ready{false};
    std::ptrdiff_t threadLocalDestructors = RuntimeFacts::kUnknown;
};

void* ProbeThread(void* argument) {
    auto* p = static_cast<Prober*>(argument);
    p->threadLocalDestructors = FindThreadLocalDestructors();
    pthread_mutex_lock(&p->mutex);
    p->ready = true;
    while (!p->released) pthread_cond_wait(&p->cond, &p->mutex);
    pthread_mutex_unlock(&p->mutex);
    return nullptr;
}

// The waiter's newest clean-up while it waits: the condition wait's, whose
// argument holds the condition and the mutex.
KX_READS_FOREIGN_MEMORY bool ReadConditionWaitCleanup(pthread_t waiter, Prober& p) {
    RuntimeFacts& f = runtimeFacts;
    const auto* head = *reinterpret_cast<_pthread_cleanup_buffer* volatile*>(
        reinterpret_cast<char*>(waiter) + f.cleanupChain);
    if (head == nullptr || head->__arg == nullptr) return false;
    const auto* words = static_cast<void* const*>(head->__arg);
    std::ptrdiff_t mutexAt = -1;
    bool condition = false;
    for (int i = 0; i < 8; ++i) {
        if (words[i] == &p.mutex && mutexAt < 0) mutexAt = i * static_cast<std::ptrdiff_t>(sizeof(void*));
        if (words[i] == &p.cond) condition = true;
    }
    if (mutexAt < 0 || !condition) return false;
    f.conditionWaitCleanup = head->__routine;
    f.conditionWaitMutex = mutexAt;
    return true;
}

void ProbeGlibc() {
    RuntimeFacts& f = runtimeFacts;
    f.cleanupChain = FindCleanupChain();
    Prober p;
    pthread_t waiter;
    if (pthread_create(&waiter, nullptr, ProbeThread, &p) != 0) return;
    // Read while it waits; a wake-up without a signal only delays the read.
    // The thread gets long to start (a loaded machine), the read a second:
    // an experiment that fails disables only what it was for.
    const timespec pause{0, 200000};
    for (int i = 0; i < 50000 && !p.ready.load(); ++i) nanosleep(&pause, nullptr);
    for (int i = 0; i < 5000 && p.ready.load() && f.cleanupChain != RuntimeFacts::kUnknown; ++i) {
        if (ReadConditionWaitCleanup(waiter, p)) break;
        nanosleep(&pause, nullptr);
    }
    pthread_mutex_lock(&p.mutex);
    p.released = true;
    pthread_cond_signal(&p.cond);
    pthread_mutex_unlock(&p.mutex);
    pthread_join(waiter, nullptr);
    f.threadLocalDestructors = p.threadLocalDestructors;
}

}  // namespace

void FindRuntimeFacts() {
    dl_iterate_phdr(NoteRuntimeCode, nullptr);
    FindGuardedCalls();
    ProbeGlibc();
}

}  // namespace kx
