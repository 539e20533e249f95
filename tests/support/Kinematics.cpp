#include "support/Kinematics.h"

#include "kestrion-host/Skeleton.h"

#include <cmath>

namespace kxtest {
namespace {
constexpr double kPi = 3.14159265358979323846;
}

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(double s, Vec3 v) { return {s * v.x, s * v.y, s * v.z}; }
Vec3 operator*(const Mat3& r, Vec3 v) {
    const double in[3] = {v.x, v.y, v.z};
    double out[3];
    for (int i = 0; i < 3; ++i) out[i] = r.m[i][0] * in[0] + r.m[i][1] * in[1] + r.m[i][2] * in[2];
    return {out[0], out[1], out[2]};
}
Mat3 operator*(const Mat3& a, const Mat3& b) {
    Mat3 c;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) c.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
    }
    return c;
}
double Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec3 Unit(Vec3 v) { return (1 / std::sqrt(Dot(v, v))) * v; }
double DegreesBetween(Vec3 a, Vec3 b) {
    return std::atan2(std::sqrt(Dot(Cross(a, b), Cross(a, b))), Dot(a, b)) * 180 / kPi;
}

Mat3 Rotation(char axis, double degrees) {
    const double c = std::cos(degrees * kPi / 180), s = std::sin(degrees * kPi / 180);
    const int i = axis == 'X' ? 1 : axis == 'Y' ? 2 : 0, j = axis == 'X' ? 2 : axis == 'Y' ? 0 : 1;
    Mat3 r;
    r.m[i][i] = c;
    r.m[j][j] = c;
    r.m[i][j] = -s;
    r.m[j][i] = s;
    return r;
}

Mat3 Compose(const std::string& order, const double* degrees) {
    Mat3 r;
    for (std::size_t k = 0; k < order.size(); ++k) r = r * Rotation(order[k], degrees[k]);
    return r;
}

Posed Forward(const Body& body, Vec3 root, const std::vector<Mat3>& local) {
    Posed p;
    for (std::size_t j = 0; j < body.parent.size(); ++j) {
        const int up = body.parent[j];
        const Mat3 r = j < local.size() ? local[j] : Mat3();
        p.at.push_back(up < 0 ? root + body.offset[j] : p.at[up] + p.world[up] * body.offset[j]);
        p.world.push_back(up < 0 ? r : p.world[up] * r);
    }
    return p;
}

const Body& OwnBody() {
    static const Body body = [] {
        Body b;
        auto add = [&b](int parent, const float* o) {
            b.parent.push_back(parent);
            b.offset.push_back({o[0], o[1], o[2]});
        };
        const auto& joints = kxhost::Skeleton();
        for (const kxhost::Joint& j : joints) add(j.parent, j.offset);
        for (int j = 0; j < kxhost::kJointCount; ++j) {
            if (joints[j].leaf) add(j, joints[j].endSite);
        }
        return b;
    }();
    return body;
}

Posed Draw(const Frame& f) {
    std::vector<Mat3> local;
    for (const Vector& r : f.rotations) {
        const double zxy[3] = {r.z, r.x, r.y};
        local.push_back(Compose("ZXY", zxy));
    }
    return Forward(OwnBody(), {f.position.x, f.position.y, f.position.z}, local);
}

}  // namespace kxtest
