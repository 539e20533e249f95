#include "app/terminal/ProgressBar.h"

#include <algorithm>
#include <cstdio>

namespace kxhost {

std::string ProgressBar::Text(double seconds) const {
    const double done = total_ > 0 ? std::clamp(seconds / total_, 0.0, 1.0) : 1.0;
    const int filled = static_cast<int>(done * width_ + 0.5);
    std::string bar = "[" + std::string(filled, '#') + std::string(width_ - filled, '.') + "]";
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, " %5.1f / %.1f s", std::min(seconds, total_), total_);
    return bar + numbers;
}

}  // namespace kxhost
