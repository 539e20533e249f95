// One read of every suit, as the page gets it.
#pragma once

#include "driver/Frame.h"

#include <mutex>
#include <string>
#include <vector>

namespace kxhost {

struct ViewFrame {
    long index = 0;        // frames read since the start
    double seconds = 0;    // index / rate
    long long readNs = 0;  // steady clock just before GetData
    std::vector<int> suits;
    std::vector<Frame> frames;
    std::vector<long> samples;     // new samples seen so far, per suit
    std::vector<double> agesMs;    // since each suit's sample last changed
    std::string recording;         // JSON: null, or the files being written

    // The server-sent event, made once by whichever sender needs it first
    // (ViewJson.cpp).
    const std::string& Event() const;

private:
    mutable std::once_flag formatted_;
    mutable std::string event_;
};

}  // namespace kxhost
