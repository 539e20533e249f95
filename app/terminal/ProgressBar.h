// The progress line of a recording: "[#######.............]  1.8 / 5.0 s".
#pragma once

#include <string>

namespace kxhost {

class ProgressBar {
public:
    ProgressBar(double totalSeconds, int width) : total_(totalSeconds), width_(width) {}
    std::string Text(double seconds) const;

private:
    double total_;
    int width_;
};

}  // namespace kxhost
