#include "support/Kinematics.h"

#include "kestrion-host/Skeleton.h"

#include <cmath>

namespace kxtest {

Vec3 Unit(Vec3 v) { return (1 / kestrion::Length(v)) * v; }

double DegreesBetween(Vec3 a, Vec3 b) {
    return std::atan2(kestrion::Length(kestrion::Cross(a, b)), kestrion::Dot(a, b)) * 180 / 3.14159265358979323846;
}

Mat3 Rotation(char axis, double degrees) {
    const double c = std::cos(degrees * 3.14159265358979323846 / 180),
                 s = std::sin(degrees * 3.14159265358979323846 / 180);
    // The two axes the rotation turns, in the order it turns them.
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

Posed Draw(const Frame& f) {
    static const Body body = [] {
        Body b;
        const auto& joints = kxhost::Skeleton();
        for (const kxhost::Joint& j : joints) {
            b.parent.push_back(j.parent);
            b.offset.push_back({j.offset[0], j.offset[1], j.offset[2]});
        }
        for (int j = 0; j < kxhost::kJointCount; ++j) {
            if (!joints[j].leaf) continue;
            b.parent.push_back(j);
            b.offset.push_back({joints[j].endSite[0], joints[j].endSite[1], joints[j].endSite[2]});
        }
        return b;
    }();
    std::vector<Mat3> local;
    for (const Vector& r : f.rotations) {
        const double zxy[3] = {r.z, r.x, r.y};
        local.push_back(Compose("ZXY", zxy));
    }
    return Forward(body, {f.position.x, f.position.y, f.position.z}, local);
}

}  // namespace kxtest
