#include "kestrion/ReadHazards.h"

#include <link.h>
#include <signal.h>

namespace kestrion {
namespace {

struct Walk {
    void (*body)(void*);
    void* context;
    bool done = false;
};

thread_local sigset_t savedMask;

}  // namespace

void InsideLoaderWalk(void (*body)(void*), void* context) {
    Walk walk{body, context};
    dl_iterate_phdr(
        [](dl_phdr_info*, size_t, void* data) -> int {
            auto* w = static_cast<Walk*>(data);
            if (!w->done) w->body(w->context);
            w->done = true;
            return 1;
        },
        &walk);
}

void BlockAllSignals() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &savedMask);
}

void RestoreSignals() { pthread_sigmask(SIG_SETMASK, &savedMask, nullptr); }

}  // namespace kestrion
