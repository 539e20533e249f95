#include "kestrion/motion/Rotation.h"

#include <cmath>

namespace kestrion {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180;

// In (-180, 180]; floor rather than remainder, which costs a frame's
// conversion several times over.
double Wrapped(double degrees) {
    const double w = degrees - 360 * std::floor(degrees / 360);
    return w > 180 ? w - 360 : w;
}

Vec3 Unit(Vec3 v) { return (1 / Length(v)) * v; }

}  // namespace

Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(double s, Vec3 v) { return {s * v.x, s * v.y, s * v.z}; }

Vec3 operator*(const Mat3& r, Vec3 v) {
    return {r.m[0][0] * v.x + r.m[0][1] * v.y + r.m[0][2] * v.z, r.m[1][0] * v.x + r.m[1][1] * v.y + r.m[1][2] * v.z,
            r.m[2][0] * v.x + r.m[2][1] * v.y + r.m[2][2] * v.z};
}

Mat3 operator*(const Mat3& a, const Mat3& b) {
    Mat3 c;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) c.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
    }
    return c;
}

Mat3 Transposed(const Mat3& r) {
    Mat3 t;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) t.m[i][j] = r.m[j][i];
    }
    return t;
}

double Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Length(Vec3 v) { return std::sqrt(Dot(v, v)); }

Mat3 AxisRotation(int axis, double degrees) {
    const double c = std::cos(degrees * kDegree), s = std::sin(degrees * kDegree);
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    Mat3 r;
    r.m[i][i] = c;
    r.m[j][j] = c;
    r.m[i][j] = -s;
    r.m[j][i] = s;
    return r;
}

Mat3 FromSuitAngles(const Vector& d) { return AxisRotation(2, d.z) * AxisRotation(0, d.x) * AxisRotation(1, d.y); }

Vector ToSuitAngles(const Mat3& r, const Vector& near) {
    // Rz Rx Ry has sin x at (2,1); the rest follows from cos x.
    const double sx = r.m[2][1] < -1 ? -1 : r.m[2][1] > 1 ? 1 : r.m[2][1];
    const double x = std::asin(sx) / kDegree;
    double y, z;
    if (std::sqrt(r.m[2][0] * r.m[2][0] + r.m[2][2] * r.m[2][2]) > 1e-9) {
        y = std::atan2(-r.m[2][0], r.m[2][2]) / kDegree;
        z = std::atan2(-r.m[0][1], r.m[1][1]) / kDegree;
    } else {  // x at +-90: only y + z or y - z is defined
        y = 0;
        z = std::atan2(r.m[1][0], r.m[0][0]) / kDegree;
    }
    const double first[3] = {x, y, z}, second[3] = {Wrapped(180 - x), Wrapped(y + 180), Wrapped(z + 180)};
    const double at[3] = {near.x, near.y, near.z};
    double away[2] = {0, 0};
    for (int k = 0; k < 3; ++k) {
        away[0] += std::fabs(Wrapped(first[k] - at[k]));
        away[1] += std::fabs(Wrapped(second[k] - at[k]));
    }
    const double* best = away[1] < away[0] ? second : first;
    // Rounding leaves a zero angle a hair off, which would print as -0.000.
    auto clean = [](double a) { return float(std::fabs(a) < 1e-9 ? 0.0 : Wrapped(a)); };
    return Vector(clean(best[0]), clean(best[1]), clean(best[2]));
}

Mat3 Between(Vec3 from, Vec3 to) {
    const Vec3 a = Unit(from), b = Unit(to), axis = Cross(a, b);
    const double s = Length(axis), c = Dot(a, b);
    Mat3 r;
    if (s < 1e-12 && c > 0) return r;
    if (s < 1e-12) {  // opposite: half a turn about any axis across `a`
        const Vec3 across = Unit(Cross(a, std::fabs(a.x) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0}));
        const double u[3] = {across.x, across.y, across.z};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) r.m[i][j] = 2 * u[i] * u[j] - (i == j ? 1 : 0);
        }
        return r;
    }
    // Rodrigues' formula about the unit axis.
    const double u[3] = {axis.x / s, axis.y / s, axis.z / s};
    const double k[3][3] = {{0, -u[2], u[1]}, {u[2], 0, -u[0]}, {-u[1], u[0], 0}};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double kk = 0;
            for (int n = 0; n < 3; ++n) kk += k[i][n] * k[n][j];
            r.m[i][j] = (i == j ? 1 : 0) + s * k[i][j] + (1 - c) * kk;
        }
    }
    return r;
}

Mat3 Basis(Vec3 along, Vec3 towards) {
    const Vec3 x = Unit(along), z = Unit(Cross(x, towards)), y = Cross(z, x);
    Mat3 r;
    const Vec3 columns[3] = {x, y, z};
    for (int j = 0; j < 3; ++j) {
        r.m[0][j] = columns[j].x;
        r.m[1][j] = columns[j].y;
        r.m[2][j] = columns[j].z;
    }
    return r;
}

}  // namespace kestrion
