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
Mat3 Transposed(const Mat3& r);
double Dot(Vec3 a, Vec3 b);
Vec3 Cross(Vec3 a, Vec3 b);
double Length(Vec3 v);

// About axis 0 (X), 1 (Y) or 2 (Z).
Mat3 AxisRotation(int axis, double degrees);
// A suit angle triple (x, y, z) as a rotation.
Mat3 FromSuitAngles(const Vector& degrees);
// The suit angle triple of `r` nearest to `near`: of the two triples that
// give every rotation, the one that moves least from it, each angle in
// (-180, 180].
Vector ToSuitAngles(const Mat3& r, const Vector& near);
// The smallest rotation that turns direction `from` into direction `to`.
Mat3 Between(Vec3 from, Vec3 to);
// The rotation whose X column is `along` and whose Y column lies in the plane
// of `along` and `towards`.
Mat3 Basis(Vec3 along, Vec3 towards);

}  // namespace kestrion
