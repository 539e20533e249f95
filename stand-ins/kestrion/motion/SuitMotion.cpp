#include "kestrion/motion/SuitMotion.h"

#include "driver/Skeleton.h"
#include "kestrion/motion/Rotation.h"

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

// A joint angle through one gait cycle of a leg, which starts as its heel
// strikes: degrees at fractions of the cycle.
struct Key {
    double at, degrees;
};

// The smooth closed curve through `keys` (Catmull-Rom), at `u` cycles.
template <std::size_t N>
double Cycle(const std::array<Key, N>& keys, double u) {
    u -= std::floor(u);
    std::size_t i = N - 1;
    while (i > 0 && keys[i].at > u) --i;
    auto key = [&](long k) {  // keys continued periodically either side
        const long n = long(N), wrapped = ((k % n) + n) % n;
        return Key{keys[std::size_t(wrapped)].at + double((k - wrapped) / n), keys[std::size_t(wrapped)].degrees};
    };
    const long at = long(i);
    const Key k0 = key(at - 1), k1 = key(at), k2 = key(at + 1), k3 = key(at + 2);
    const double span = k2.at - k1.at, t = (u - k1.at) / span;
    const double m1 = (k2.degrees - k0.degrees) / (k2.at - k0.at) * span;
    const double m2 = (k3.degrees - k1.degrees) / (k3.at - k1.at) * span;
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * k1.degrees + (t3 - 2 * t2 + t) * m1 + (-2 * t3 + 3 * t2) * k2.degrees +
           (t3 - t2) * m2;
}

// Thigh forward of the vertical, and knee flexion (the shin swung back).
constexpr std::array<Key, 7> kHipFlexion{
    {{0, 22}, {0.15, 18}, {0.3, 3}, {0.5, -14}, {0.6, -8}, {0.75, 16}, {0.87, 25}}};
constexpr std::array<Key, 9> kKneeFlexion{
    {{0, 3}, {0.12, 16}, {0.3, 7}, {0.42, 5}, {0.55, 20}, {0.62, 36}, {0.72, 58}, {0.85, 28}, {0.95, 5}}};
// The foot against the floor, toes down: heel strike, flat from loading to
// heel rise, push-off on the toes, toes lifted through the swing.
constexpr std::array<Key, 9> kFootPitch{
    {{0, -15}, {0.07, -3}, {0.13, 0}, {0.4, 0}, {0.52, 14}, {0.62, 38}, {0.7, 33}, {0.78, 15}, {0.88, -8}}};

struct Leg {
    Vector hip, knee, ankle;
};

// Positive X angles swing a bone backwards: the hip's extends the thigh, the
// knee's bends the shin back, the ankle's points the toes.
// `stride`: how much further the thigh swings than in the curve, so the foot
// on the floor keeps up with the pace.
Leg LegAt(double u, double side, double stride, double crouch) {
    const double hip = stride * Cycle(kHipFlexion, u) + crouch, knee = Cycle(kKneeFlexion, u) + 2 * crouch;
    return Leg{V(-hip, 0, -1.5 * side), V(knee, 0, 0), V(Cycle(kFootPitch, u) + hip - knee, 0, 0)};
}

// How far below the hips the lower of the two feet reaches, heel or toes.
double LowestFoot(const Leg& left, const Leg& right) {
    const auto& body = Skeleton();
    auto point = [&](int j) { return Vec3{body[j].offset[0], body[j].offset[1], body[j].offset[2]}; };
    double lowest = 0;
    for (int side = 0; side < 2; ++side) {
        const Leg& leg = side == 0 ? left : right;
        const int hip = side == 0 ? joint::LeftHip : joint::RightHip;
        const int knee = side == 0 ? joint::LeftKnee : joint::RightKnee;
        const int ankleJoint = side == 0 ? joint::LeftAnkle : joint::RightAnkle;
        const Vec3 toes{body[ankleJoint].endSite[0], body[ankleJoint].endSite[1], body[ankleJoint].endSite[2]};
        const Vec3 heel{0, toes.y, -4};
        const Mat3 thigh = FromSuitAngles(leg.hip), shin = thigh * FromSuitAngles(leg.knee);
        const Vec3 ankle = point(hip) + thigh * point(knee) + shin * point(ankleJoint);
        const Mat3 foot = shin * FromSuitAngles(leg.ankle);
        lowest = std::min({lowest, (ankle + foot * heel).y, (ankle + foot * toes).y});
    }
    return lowest;
}

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
    const double uL = w.stepsPerSecond * seconds + w.phase / (2 * kPi), uR = uL + 0.5;  // gait cycles
    const double cycle = 2 * kPi * uL;

    double lift = 0;
    if (s.jumping) {
        const double inJump = std::fmod(seconds, 5.0);
        if (inJump < 0.5) lift = std::sin(kPi * inJump / 0.5);
    }
    // The curves keep the planted foot in place at a stride of 110 cm.
    const double stride = w.speed / w.stepsPerSecond / 110.0;
    const Leg left = LegAt(uL, 1, stride, 25.0 * lift), right = LegAt(uR, -1, stride, 25.0 * lift);

    float x, z, heading;
    RawPlacement(suit, seconds, &x, &z, &heading);
    // Standing on the lower foot; a hop tucks the legs up under the hips.
    double height = s.ignoreFloor ? 93.0 : -LowestFoot(LegAt(uL, 1, stride, 0), LegAt(uR, -1, stride, 0)) + 35.0 * lift;
    if (s.unevenTerrain) height += 6.0 * std::sin(x / 120.0) + 4.0 * std::sin(z / 90.0);
    f->position = V(x - s.nullX, height, z - s.nullZ);

    // Each arm swings forward as the leg on its own side swings back.
    auto armForward = [](double u) { return 2.0 - 15.0 * std::cos(2 * kPi * u); };
    auto elbow = [](double u) { return 12.0 + 7.0 * (1 - std::cos(2 * kPi * u)); };
    const double armL = armForward(uL), armR = armForward(uR);

    // The chest turns and leans against the pelvis; the head undoes it and
    // stays level, looking about.
    const Vector chest = V(3.0, 5.0 * std::cos(cycle), -1.5 * std::sin(cycle));
    const Vector neck = V(-1.0, 0, 0);
    const double look = 10.0 * std::sin(0.3 * seconds + suit);

    using namespace joint;
    Vector* r = f->rotations;
    r[Hips] = V(0, std::remainder(heading - s.northDegrees, 360.0), 0);  // the heading
    r[LeftHip] = left.hip;
    r[LeftKnee] = left.knee;
    r[LeftAnkle] = left.ankle;
    r[RightHip] = right.hip;
    r[RightKnee] = right.knee;
    r[RightAnkle] = right.ankle;
    r[Chest] = chest;
    r[LeftCollar] = V(0, -0.15 * armL, 0);  // collars follow the arms a little
    r[LeftShoulder] = V(0, -armL, -80.0);   // arms hang 10 degrees out from the sides
    r[LeftElbow] = V(0, -elbow(uL), 0);
    r[LeftWrist] = V(0, 0, -5.0);
    r[RightCollar] = V(0, 0.15 * armR, 0);
    r[RightShoulder] = V(0, armR, 80.0);
    r[RightElbow] = V(0, elbow(uR), 0);
    r[RightWrist] = V(0, 0, 5.0);
    r[Neck] = neck;
    r[Head] = V(-chest.x - neck.x + std::sin(2 * cycle), look - chest.y, -chest.z);
}

}  // namespace kestrion
