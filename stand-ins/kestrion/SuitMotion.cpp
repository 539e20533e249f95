#include "kestrion/SuitMotion.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrion {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Each suit walks its own circle at its own pace.
struct Walker {
    double centreX, centreZ;   // cm
    double radius;             // cm
    double speed;              // cm/s
    double stepsPerSecond;     // gait cycles per second
    double startAngle, phase;  // radians
};

Walker WalkerOf(int suit) {
    const int k = suit < 0 ? -suit : suit;
    Walker w;
    w.centreX = 350.0 * k;
    w.centreZ = 0;
    w.radius = 200.0 + 50.0 * (k % 4);
    w.speed = 110.0 + 8.0 * (k % 3);
    w.stepsPerSecond = 0.9 + 0.07 * (k % 5);
    w.startAngle = 0.7 * k;
    w.phase = 1.3 * k;
    return w;
}

double Degrees(double radians) { return radians * 180.0 / kPi; }

Vector V(double x, double y, double z) { return Vector(float(x), float(y), float(z)); }

}  // namespace

void RawPlacement(int suit, double seconds, float* x, float* z, float* headingDegrees) {
    const Walker w = WalkerOf(suit);
    const double theta = w.startAngle + w.speed / w.radius * seconds;
    *x = float(w.centreX + w.radius * std::sin(theta));
    *z = float(w.centreZ + w.radius * std::cos(theta));
    // Moving along d/dtheta = (cos, -sin): heading measured from +Z towards +X.
    *headingDegrees = float(Degrees(std::atan2(std::cos(theta), -std::sin(theta))));
}

void ComputePose(int suit, double seconds, const MotionSettings& s, Frame* f) {
    const Walker w = WalkerOf(suit);
    const double phi = 2 * kPi * w.stepsPerSecond * seconds + w.phase;  // gait phase
    const double sinL = std::sin(phi), sinR = std::sin(phi + kPi);

    float x, z, heading;
    RawPlacement(suit, seconds, &x, &z, &heading);
    double height = s.ignoreFloor ? 93.0 : 92.0 + 2.5 * std::cos(2 * phi);
    if (s.unevenTerrain) height += 6.0 * std::sin(x / 120.0) + 4.0 * std::sin(z / 90.0);
    double crouch = 0;
    if (s.jumping) {
        const double inJump = std::fmod(seconds, 5.0);
        if (inJump < 0.5) {
            const double lift = std::sin(kPi * inJump / 0.5);
            height += 35.0 * lift;
            crouch = 25.0 * lift;
        }
    }
    f->position = V(x - s.nullX, height, z - s.nullZ);

    double yaw = heading - s.northDegrees;
    yaw = std::remainder(yaw, 360.0);
    auto leg = [&](double swing, double side) {
        const double hip = 25.0 * swing + crouch;
        const double knee = -(5.0 + 30.0 * std::max(0.0, std::sin(std::asin(swing) + 1.2)) + 2 * crouch);
        const double ankle = 8.0 * std::sin(std::asin(swing) - 0.8) + crouch;
        return std::array<Vector, 3>{V(hip, 0, 3.0 * side), V(knee, 0, 0), V(ankle, 0, 0)};
    };
    const auto left = leg(sinL, 1), right = leg(sinR, -1);

    Vector* r = f->rotations;
    r[0] = V(4.0 + 2.0 * std::sin(2 * phi), yaw, 4.0 * sinL);  // hips
    r[1] = left[0];
    r[2] = left[1];
    r[3] = left[2];
    r[4] = right[0];
    r[5] = right[1];
    r[6] = right[2];
    r[7] = V(3.0, -8.0 * sinL, -2.0 * sinL);   // chest turns against the hips
    r[8] = V(0, 3.0 * sinL, 0);                // left collar
    r[9] = V(0, -18.0 * sinL, -72.0);          // left shoulder: arm down, swinging
    r[10] = V(0, 15.0 + 10.0 * std::max(0.0, -sinL), 0);  // left elbow
    r[11] = V(0, 0, -5.0);                     // left wrist
    r[12] = V(0, -3.0 * sinL, 0);              // right collar
    r[13] = V(0, -18.0 * sinR, 72.0);          // right shoulder
    r[14] = V(0, -(15.0 + 10.0 * std::max(0.0, -sinR)), 0);  // right elbow
    r[15] = V(0, 0, 5.0);                      // right wrist
    r[16] = V(-2.0, 0, 0);                     // neck
    r[17] = V(3.0 * std::sin(2 * phi), 10.0 * std::sin(0.3 * seconds + suit), 0);  // head looks around
}

}  // namespace kestrion
