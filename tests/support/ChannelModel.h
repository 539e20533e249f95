// A reference model of a suit channel, its driver and the scripted suit
// library, written from what the channel promises: which library calls each
// operation makes, which messages it writes, the suit count, and what every
// GetData returns. The randomized test runs the same operations against the
// real channel and compares after every step.
#pragma once

#include <climits>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kxtest {

struct Op {
    enum Kind {
        Connect,
        Disconnect,
        SetNull,
        SetNorth,
        EnableUnevenTerrain,
        EnableIgnoreFloor,
        EnabelJumping,
        GetData,
        Reset,
        Pass,             // let the worker poll
        Idle,             // wait a few passes' time without letting it
        SetInitResult,    // value: what GyroInit returns from now on
        SetSuitCount,     // value: what the next fresh start finds
        SetOpenFails,     // index, flag
    };
    Kind kind;
    int index = 0;
    bool flag = false;
    int value = 0;

    std::string Text() const;
};

// What GetData gives for one index: the caller's frame untouched, a frame
// of zeros, or the numbered sample of a suit. Equal views have equal texts.
struct FrameView {
    enum Kind { Untouched, Zero, Sample } kind = Untouched;
    int suit = 0;
    std::uint32_t sample = 0;
    std::string Text() const {
        return kind == Untouched ? "untouched"
               : kind == Zero    ? "zeros"
                                 : "suit " + std::to_string(suit) + " sample " + std::to_string(sample);
    }
};

class ChannelModel {
public:
    // Applies one operation. `passes` is how many polling passes the real
    // worker made during it (Pass and Reset only; the driver may make any
    // number, each reading every open suit in order).
    void Apply(const Op& op, int passes);

    // Expected since the last Take.
    std::vector<std::string> TakeCalls() { return std::exchange(calls_, {}); }
    std::vector<std::string> TakeMessages() { return std::exchange(messages_, {}); }

    int NrOfSuits() const { return nrOfSuits_; }
    bool Running() const { return running_; }
    int OpenSuits() const;
    FrameView Frame(int suit) const;

private:
    struct Record {
        bool open = false;
        std::uint32_t handle = 0;
        std::uint32_t sample = 0;  // 0: never read
    };
    struct LibrarySuit {
        int openCount = 0;
        bool openFails = false;
        std::uint32_t samples = 0;
    };

    void Start();
    void Stop();
    void PollPass();
    bool InRange(int suit) const { return suit >= 0 && suit < nrOfSuits_; }
    void Call(const std::string& text) { calls_.push_back(text); }
    void Message(const std::string& text) { messages_.push_back(text); }
    static std::string Handle(std::uint32_t h) { return std::to_string(h); }

    // The channel and its driver.
    bool running_ = false;
    int nrOfSuits_ = 0;
    std::vector<Record> records_;

    // The scripted suit library.
    int initResult_ = 1;
    int configuredCount_ = 3;
    std::set<int> noOpen_;
    int initCount_ = 0;
    int libraryCount_ = 0;
    std::vector<LibrarySuit> librarySuits_;

    std::vector<std::string> calls_;
    std::vector<std::string> messages_;
};

}  // namespace kxtest
