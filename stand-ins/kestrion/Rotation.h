// Rotations in double precision, and the suit's angle convention: degrees
// about X, Y and Z composed as Rz * Rx * Ry, column vectors.
#pragma once

#include "geometry/Vector.h"

namespace kestrion {

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

struct Mat3 {
    double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

Vec3 operator+(Vec3 a, Vec3 b);
Vec3 operator-(Vec3 a, Vec3 b);
Vec3 operator*(double s, Vec3 v);
Vec3 operator*(const Mat3& r, Vec3 v);
Mat3 operator*(const Mat3& a, const Mat3& b);
double Dot(Vec3 a, Vec3 b);

// About axis 0 (X), 1 (Y) or 2 (Z).
Mat3 AxisRotation(int axis, double degrees);
// A suit angle triple (x, y, z) as a rotation.
Mat3 FromSuitAngles(const Vector& degrees);

}  // namespace kestrion
