#include "support/ChannelModel.h"

#include "kestrion/KestrionSim.h"

namespace kxtest {

std::string Op::Text() const {
    static const char* const kNames[] = {"Connect", "Disconnect", "SetNull", "SetNorth", "EnableUnevenTerrain",
                                         "EnableIgnoreFloor", "EnabelJumping", "GetData", "Reset", "<poll>",
                                         "<idle>", "<library: init result>", "<library: suits>", "<library: open fails>"};
    return std::string(kNames[kind]) + "(index " + std::to_string(index) + ", flag " + (flag ? "1" : "0") +
           ", value " + std::to_string(value) + ")";
}

void ChannelModel::Apply(const Op& op, int passes) {
    const std::string flag = op.flag ? "1" : "0";
    auto setting = [&](const char* function, bool withFlag) {
        if (!InRange(op.index)) return;
        const std::string h = Handle(records_[op.index].handle);
        Call(std::string(function) + "(" + h + (withFlag ? ", " + flag : "") + ")");
    };
    switch (op.kind) {
        case Op::Connect:
            if (!running_) Start();
            if (InRange(op.index) && !records_[op.index].open) {
                Record& r = records_[op.index];
                Call("GyroOpen(" + std::to_string(op.index) + ", 0, 0)");
                LibrarySuit& s = librarySuits_[op.index];
                if (initCount_ > 0 && !s.openFails) {
                    ++s.openCount;
                    r.handle = KestrionSim::HandleOf(op.index);
                    r.open = true;
                } else {
                    r.handle = 0;
                }
            }
            break;
        case Op::Disconnect:
            if (InRange(op.index) && records_[op.index].open) {
                Record& r = records_[op.index];
                Call("GyroClose(" + Handle(r.handle) + ")");
                LibrarySuit& s = librarySuits_[op.index];
                if (s.openCount > 0) --s.openCount;
                r.open = false;
            }
            break;
        case Op::SetNull: setting("GyroSetNull", false); break;
        case Op::SetNorth: setting("GyroSetNorth", false); break;
        case Op::EnableUnevenTerrain: setting("GyroEnableUnevenTerrain", true); break;
        case Op::EnableIgnoreFloor: setting("GyroEnableIgnoreFloor", true); break;
        case Op::EnabelJumping: setting("GyroEnableJumping", true); break;
        case Op::GetData:
        case Op::Idle: break;
        case Op::Reset:
            for (int p = 0; p < passes; ++p) PollPass();
            Stop();
            break;
        case Op::Pass:
            for (int p = 0; p < passes; ++p) PollPass();
            break;
        case Op::SetInitResult: initResult_ = op.value; break;
        case Op::SetSuitCount: configuredCount_ = op.value; break;
        case Op::SetOpenFails:
            if (op.flag) {
                noOpen_.insert(op.index);
            } else {
                noOpen_.erase(op.index);
            }
            if (op.index >= 0 && op.index < static_cast<int>(librarySuits_.size())) {
                librarySuits_[op.index].openFails = op.flag;
            }
            break;
    }
}

void ChannelModel::Start() {
    Call("GyroInit()");
    if (initResult_ == 0) {
        Message("Kestrion: Unable to initialize");
        return;
    }
    if (initCount_++ == 0) {
        libraryCount_ = configuredCount_;
        librarySuits_.assign(libraryCount_ > 0 ? libraryCount_ : 0, LibrarySuit());
        for (int suit : noOpen_) {
            if (suit >= 0 && suit < libraryCount_) librarySuits_[suit].openFails = true;
        }
    }
    Message("Searching for suits");
    Call("GyroFindSuits()");
    nrOfSuits_ = libraryCount_;
    if (nrOfSuits_ == 0) {
        Message("Kestrion: No suits found");
        return;
    }
    for (int k = 0; k < nrOfSuits_; ++k) {
        Call("GyroEnumerateSuitInfo(" + std::to_string(k) + ")");
        records_.push_back(Record());
    }
    Message("Found: " + std::to_string(nrOfSuits_) + " suits");
    running_ = true;
    Message("Started Kestrion driver");
}

void ChannelModel::Stop() {
    running_ = false;
    records_.clear();
    nrOfSuits_ = 0;
    Call("GyroFinish()");
    if (initCount_ > 0 && --initCount_ == 0) {
        for (LibrarySuit& s : librarySuits_) s.openCount = 0;
    }
    Message("Stopped Kestrion driver");
}

void ChannelModel::PollPass() {
    for (std::size_t k = 0; k < records_.size(); ++k) {
        Record& r = records_[k];
        if (!r.open) continue;
        Call("GyroRead(" + Handle(r.handle) + ")");
        // The library serves a read only while it still counts the suit open.
        LibrarySuit& s = librarySuits_[k];
        if (s.openCount > 0) r.sample = ++s.samples;
    }
}

int ChannelModel::OpenSuits() const {
    int n = 0;
    for (const Record& r : records_) n += r.open ? 1 : 0;
    return n;
}

FrameView ChannelModel::Frame(int suit) const {
    FrameView view;
    if (!InRange(suit)) return view;
    const Record& r = records_[suit];
    view.kind = r.sample == 0 ? FrameView::Zero : FrameView::Sample;
    view.suit = suit;
    view.sample = r.sample;
    return view;
}

}  // namespace kxtest
