// The interrupted context, per architecture.
#include "win32/linux/machine_context.h"

#include <cerrno>

namespace kx {

#if defined(__x86_64__)

namespace {
constexpr greg_t kTrapFlag = 0x100;
}

std::uintptr_t ProgramCounter(const ucontext_t* uc) {
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
}

std::uintptr_t StackPointer(const ucontext_t* uc) {
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
}

// The instruction before is `syscall`, and the call returned EINTR.
bool WaitingInKernel(const ucontext_t* uc, const CodeRange& code) {
    const std::uintptr_t pc = ProgramCounter(uc);
    if (pc < code.lo + 2) return false;
    const auto* before = reinterpret_cast<const unsigned char*>(pc - 2);
    return before[0] == 0x0F && before[1] == 0x05 && uc->uc_mcontext.gregs[REG_RAX] == -EINTR;
}

bool StepStopsBefore(const ucontext_t* uc, const CodeRange& code) {
    const std::uintptr_t pc = ProgramCounter(uc);
    if (pc + 3 > code.hi) return true;
    const auto* next = reinterpret_cast<const unsigned char*>(pc);
    if (next[0] == 0x0F && next[1] == 0x05) return true;
    if (next[0] != 0xF2 && next[0] != 0xF3) return false;
    unsigned char op = next[1];
    if (op >= 0x40 && op <= 0x4F) op = next[2];  // REX
    return (op >= 0xA4 && op <= 0xA7) || (op >= 0xAA && op <= 0xAF) || (op >= 0x6C && op <= 0x6F);
}

void SetSingleStep(ucontext_t* uc, bool on) {
    if (on) {
        uc->uc_mcontext.gregs[REG_EFL] |= kTrapFlag;
    } else {
        uc->uc_mcontext.gregs[REG_EFL] &= ~kTrapFlag;
    }
}

#else

#if defined(__i386__)
std::uintptr_t ProgramCounter(const ucontext_t* uc) { return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]); }
std::uintptr_t StackPointer(const ucontext_t* uc) { return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_ESP]); }
#elif defined(__aarch64__)
std::uintptr_t ProgramCounter(const ucontext_t* uc) { return static_cast<std::uintptr_t>(uc->uc_mcontext.pc); }
std::uintptr_t StackPointer(const ucontext_t* uc) { return static_cast<std::uintptr_t>(uc->uc_mcontext.sp); }
#else
#error "the forced end knows x86-64, i386 and aarch64 only"
#endif

bool WaitingInKernel(const ucontext_t*, const CodeRange&) { return false; }
bool StepStopsBefore(const ucontext_t*, const CodeRange&) { return true; }
void SetSingleStep(ucontext_t*, bool) {}

#endif

}  // namespace kx
