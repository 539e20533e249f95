// The suit library stand-in's state, and what every part of it uses.
#include "kestrion/Library.h"

#include <cstddef>

namespace kestrion {

Library& Lib() {
    static auto* library = new Library;  // outlives static destruction and any late reader
    return *library;
}

std::atomic<bool> fastReads{false};
Frame fastFrame;

long long SinceEpochNs(const Library& l) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - l.epoch).count();
}

std::uint32_t Checksum(const Frame& f) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&f);
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < offsetof(Frame, tailWords); ++i) h = (h ^ bytes[i]) * 16777619u;
    return h;
}

}  // namespace kestrion
