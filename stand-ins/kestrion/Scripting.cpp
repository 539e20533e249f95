// The suit library stand-in's own interface (KestrionSim.h): scripting it,
// and reading back what the plug-in did.
#include "kestrion/Library.h"

#include <cstring>

using namespace kestrion;

namespace KestrionSim {

std::string Call::Text() const {
    std::string text = function + "(";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(arguments[i]);
    }
    return text + ")";
}

void Reset() {
    Library& l = Lib();
    std::unique_lock<std::mutex> guard(l.lock);
    ReleaseAllWaits(guard, l);
    ForgetReaderThreadExits();
    l.scripted = true;
    l.scriptedInit = 1;
    l.scriptedSuits = 3;
    l.scriptedNoOpen.clear();
    l.initCount = 0;
    l.suitCount = 0;
    l.suits.clear();
    l.replays.clear();
    l.log.clear();
    l.finishHook = nullptr;
    l.finishContext = nullptr;
    fastReads = false;
}

void SetInitResult(int result) {
    std::lock_guard<std::mutex> guard(Lib().lock);
    Lib().scriptedInit = result;
}

void SetSuitCount(int count) {
    std::lock_guard<std::mutex> guard(Lib().lock);
    Lib().scriptedSuits = count < -kMaxSuits ? -kMaxSuits : count > kMaxSuits ? kMaxSuits : count;
}

void SetOpenFails(int suit, bool fails) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    if (fails) {
        l.scriptedNoOpen.insert(suit);
    } else {
        l.scriptedNoOpen.erase(suit);
    }
    if (suit >= 0 && static_cast<std::size_t>(suit) < l.suits.size()) {
        l.suits[static_cast<std::size_t>(suit)].openFails = fails;
    }
}

namespace {

void WaitAtNewGate(int suit, Hang how, bool hangsForGood) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    if (suit < 0 || static_cast<std::size_t>(suit) >= l.suits.size()) return;
    SuitState& s = l.suits[static_cast<std::size_t>(suit)];
    if (s.nextReadsWaitAt != nullptr) Release(*s.nextReadsWaitAt);
    s.nextReadsWaitAt = NewGate(l, how, hangsForGood);
}

}  // namespace

void BlockNextRead(int suit) { WaitAtNewGate(suit, Hang::Wait, false); }

void HangReads(int suit, Hang how) { WaitAtNewGate(suit, how, true); }

bool WaitForWaitingRead(int suit, int timeoutMs) {
    Library& l = Lib();
    std::unique_lock<std::mutex> guard(l.lock);
    return l.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        return suit >= 0 && static_cast<std::size_t>(suit) < l.suits.size() &&
               l.suits[static_cast<std::size_t>(suit)].waitingOn != nullptr;
    });
}

void ReleaseRead(int suit) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    if (suit < 0 || static_cast<std::size_t>(suit) >= l.suits.size()) return;
    Gate* gate = l.suits[static_cast<std::size_t>(suit)].waitingOn;
    if (gate != nullptr) Release(*gate);
}

void SetFastReads(bool on) {
    if (on) {
        Library& l = Lib();
        std::lock_guard<std::mutex> guard(l.lock);
        std::memset(&fastFrame, 0, sizeof fastFrame);
        ComputePose(0, 1.0, MotionSettings(), &fastFrame);
        fastFrame.leadWord = 1;
        fastFrame.tailWords[0] = Checksum(fastFrame);
    }
    fastReads = on;
}

std::vector<Call> Calls() {
    std::lock_guard<std::mutex> guard(Lib().lock);
    return Lib().log;
}

std::vector<std::string> CallTexts() {
    std::vector<std::string> texts;
    for (const Call& c : Calls()) texts.push_back(c.Text());
    return texts;
}

namespace {

std::size_t CountLocked(const Library& l, const char* function) {
    std::size_t n = 0;
    for (const Call& c : l.log) n += c.function == function ? 1 : 0;
    return n;
}

}  // namespace

std::size_t CountCalls(const char* function) {
    std::lock_guard<std::mutex> guard(Lib().lock);
    return CountLocked(Lib(), function);
}

void ClearCalls() {
    std::lock_guard<std::mutex> guard(Lib().lock);
    Lib().log.clear();
}

bool WaitForCalls(const char* function, std::size_t count, int timeoutMs) {
    Library& l = Lib();
    std::unique_lock<std::mutex> guard(l.lock);
    return l.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [&] { return CountLocked(l, function) >= count; });
}

GyroHandle HandleOf(int suit) { return kHandleBase + 1 + static_cast<GyroHandle>(suit); }

bool FrameIsWhole(const Frame& frame) { return frame.leadWord != 0 && frame.tailWords[0] == Checksum(frame); }

long long ProducedAtNs(const Frame& frame) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    const std::size_t suit = frame.tailWords[1];
    if (suit >= l.suits.size()) return -1;
    const ProducedSample& p = l.suits[suit].produced[frame.leadWord % l.suits[suit].produced.size()];
    return p.number == frame.leadWord ? p.ns : -1;
}

long long NowNs() { return SinceEpochNs(Lib()); }

std::size_t ReaderThreadExits() { return kestrion::ReaderThreadExits(); }

void SetFinishHook(FinishHook hook, void* context) {
    std::lock_guard<std::mutex> guard(Lib().lock);
    Lib().finishHook = hook;
    Lib().finishContext = context;
}

}  // namespace KestrionSim
