#include "app/terminal/FrameTable.h"

#include "driver/Joint.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace kxhost {
namespace {

std::string Format(const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

}  // namespace

FrameTable::FrameTable(Screen& screen, std::vector<int> suits) : screen_(screen), suits_(std::move(suits)) {}

void FrameTable::Update(double seconds, const std::vector<Frame>& frames, const std::string& status) {
    seconds_ = seconds;
    frames_ = frames;
    status_ = status;
    shown_ = false;
    if (seconds < nextDraw_) return;
    nextDraw_ = seconds + (screen_.Live() ? 0.1 : 1.0);
    Draw();
}

void FrameTable::Finish() {
    if (screen_.Live() && !shown_) Draw();
    screen_.KeepBlock();
}

void FrameTable::Draw() {
    std::vector<std::string> lines;
    if (screen_.Live()) {
        lines.push_back(status_);
        lines.push_back("suit    x cm    y cm    z cm  heading  l.knee  r.knee  head yaw");
        for (std::size_t i = 0; i < frames_.size(); ++i) {
            const Frame& f = frames_[i];
            lines.push_back(Format("%4d %7.1f %7.1f %7.1f %8.1f %7.1f %7.1f %9.1f", suits_[i], f.position.x,
                                   f.position.y, f.position.z, f.rotations[joint::Hips].y, f.rotations[joint::LeftKnee].x,
                                   f.rotations[joint::RightKnee].x, f.rotations[joint::Head].y));
        }
    } else {
        for (std::size_t i = 0; i < frames_.size(); ++i) {
            const Frame& f = frames_[i];
            lines.push_back(Format("%.2f s  suit %d  position %.1f %.1f %.1f cm  heading %.1f  knees %.1f %.1f  "
                                   "head yaw %.1f deg",
                                   seconds_, suits_[i], f.position.x, f.position.y, f.position.z,
                                   f.rotations[joint::Hips].y, f.rotations[joint::LeftKnee].x, f.rotations[joint::RightKnee].x,
                                   f.rotations[joint::Head].y));
        }
    }
    screen_.Show(lines);
    shown_ = true;
}

}  // namespace kxhost
