#include "app/recording/FrameResampler.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace kxhost {
namespace {

// Longer than any pause of a driver on a busy machine.
constexpr double kStill = 1.0;
constexpr double kHalfRadian = 3.14159265358979323846 / 360;

struct Quaternion {
    double w, x, y, z;
};

// The suit's angles about X, Y and Z in degrees, composed Rz·Rx·Ry: the
// product qz·qx·qy, written out.
Quaternion FromAngles(const Vector& d) {
    const double cx = std::cos(d.x * kHalfRadian), sx = std::sin(d.x * kHalfRadian);
    const double cy = std::cos(d.y * kHalfRadian), sy = std::sin(d.y * kHalfRadian);
    const double cz = std::cos(d.z * kHalfRadian), sz = std::sin(d.z * kHalfRadian);
    return {cz * cx * cy - sz * sx * sy, cz * sx * cy - sz * cx * sy, cz * cx * sy + sz * sx * cy,
            cz * sx * sy + sz * cx * cy};
}

Quaternion Slerp(Quaternion a, Quaternion b, double t) {
    double dot = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
    if (dot < 0) b = {-b.w, -b.x, -b.y, -b.z}, dot = -dot;
    double ka = 1 - t, kb = t;
    if (dot < 0.9995) {
        const double angle = std::acos(dot), s = std::sin(angle);
        ka = std::sin((1 - t) * angle) / s;
        kb = std::sin(t * angle) / s;
    }
    Quaternion q{ka * a.w + kb * b.w, ka * a.x + kb * b.x, ka * a.y + kb * b.y, ka * a.z + kb * b.z};
    const double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    return {q.w / n, q.x / n, q.y / n, q.z / n};
}

// `degrees` plus whole turns, as near `near` as can be.
double Near(double degrees, double near) { return degrees + 360 * std::round((near - degrees) / 360); }

// The angles of `q`: of the two triples that give every rotation, the one
// nearest `near`, each angle within half a turn of it.
Vector ToAngles(const Quaternion& q, const double near[3]) {
    const double r21 = 2 * (q.y * q.z + q.w * q.x), r20 = 2 * (q.x * q.z - q.w * q.y);
    const double r22 = 1 - 2 * (q.x * q.x + q.y * q.y), r01 = 2 * (q.x * q.y - q.w * q.z);
    const double r11 = 1 - 2 * (q.x * q.x + q.z * q.z), r10 = 2 * (q.x * q.y + q.w * q.z);
    const double r00 = 1 - 2 * (q.y * q.y + q.z * q.z);
    const double x = std::asin(std::fmax(-1.0, std::fmin(1.0, r21))) / kHalfRadian / 2;
    double y = 0, z = std::atan2(r10, r00) / kHalfRadian / 2;  // x at +-90: only y + z or y - z is defined
    if (std::hypot(r20, r22) > 1e-9) {
        y = std::atan2(-r20, r22) / kHalfRadian / 2;
        z = std::atan2(-r01, r11) / kHalfRadian / 2;
    }
    const double triples[2][3] = {{x, y, z}, {180 - x, y + 180, z + 180}};
    double shifted[2][3], away[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        for (int k = 0; k < 3; ++k) {
            shifted[i][k] = Near(triples[i][k], near[k]);
            away[i] += std::fabs(shifted[i][k] - near[k]);
        }
    }
    const double* best = shifted[away[1] < away[0] ? 1 : 0];
    // Rounding leaves an angle of zero a hair off, which prints as -0.000.
    auto clean = [](double a) { return float(std::fabs(a) < 1e-6 ? 0.0 : a); };
    return Vector(clean(best[0]), clean(best[1]), clean(best[2]));
}

// The motion `fraction` of the way from `a` to `b`: positions linear,
// rotations by slerp, as angles near those of `a` and `b`.
Frame Blend(const Frame& a, const Frame& b, double fraction) {
    if (fraction <= 0) return a;
    Frame f = a;
    auto lerp = [fraction](float p, float q) { return float(p + fraction * (double(q) - p)); };
    f.position = Vector(lerp(a.position.x, b.position.x), lerp(a.position.y, b.position.y),
                        lerp(a.position.z, b.position.z));
    for (int j = 0; j < kJointCount; ++j) {
        const Vector &p = a.rotations[j], &q = b.rotations[j];
        const Vector linear(lerp(p.x, float(Near(q.x, p.x))), lerp(p.y, float(Near(q.y, p.y))),
                            lerp(p.z, float(Near(q.z, p.z))));
        // With one angle moving alone, the joint turns about one axis
        // between two fixed turns, and slerp turns it at an even pace: the
        // angles blended are its angles, to the bit where they stay.
        if ((p.x == q.x) + (p.y == q.y) + (p.z == q.z) >= 2) {
            f.rotations[j] = linear;
            continue;
        }
        const double near[3] = {linear.x, linear.y, linear.z};
        f.rotations[j] = ToAngles(Slerp(FromAngles(p), FromAngles(q), fraction), near);
    }
    return f;
}

}  // namespace

double FrameResampler::Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void FrameResampler::Add(const std::vector<Frame>& frames, double seconds) {
    if (samples_.empty()) {
        start_ = seconds;
        samples_.resize(frames.size());
    }
    latest_ = seconds;
    for (std::size_t i = 0; i < frames.size() && i < samples_.size(); ++i) {
        auto& suit = samples_[i];
        if (suit.empty() || std::memcmp(&suit.back().frame, &frames[i], sizeof(Frame)) != 0) {
            suit.push_back(Sample{seconds, frames[i]});
        }
    }
}

bool FrameResampler::Next(std::vector<Frame>* frames) {
    if (samples_.empty() || Done()) return false;
    const double at = start_ + double(next_) / rate_;
    const bool still = latest_ - at >= kStill;
    for (const auto& suit : samples_) {
        if (suit.back().seconds < at && !still) return false;  // the sample after it is still to come
    }
    frames->clear();
    for (auto& suit : samples_) {
        while (suit.size() > 1 && suit[1].seconds <= at) suit.pop_front();
        const Sample& a = suit.front();
        frames->push_back(suit.size() > 1 ? Blend(a.frame, suit[1].frame, (at - a.seconds) / (suit[1].seconds - a.seconds))
                                          : a.frame);
    }
    ++next_;
    return true;
}

}  // namespace kxhost
