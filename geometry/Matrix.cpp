#include "geometry/Matrix.h"

namespace {

// One element of a product: three products and their sum in double,
// rounded to float once.
float Dot(const float* row, float b0, float b1, float b2) {
    return static_cast<float>(double(row[0]) * b0 + double(row[1]) * b1 + double(row[2]) * b2);
}

}  // namespace

Matrix::Matrix() {}

Matrix::Matrix(float xx, float xy, float xz, float yx, float yy, float yz, float zx, float zy, float zz)
    : m{xx, xy, xz, yx, yy, yz, zx, zy, zz} {}

Matrix::Matrix(double xx, double xy, double xz, double yx, double yy, double yz, double zx, double zy,
               double zz)
    : m{float(xx), float(xy), float(xz), float(yx), float(yy), float(yz), float(zx), float(zy),
        float(zz)} {}

Matrix::Matrix(Vector a, Vector b, Vector c) : m{a.x, a.y, a.z, b.x, b.y, b.z, c.x, c.y, c.z} {}

Vector Matrix::RowX() { return Vector(m[0], m[1], m[2]); }
Vector Matrix::RowY() { return Vector(m[3], m[4], m[5]); }
Vector Matrix::RowZ() { return Vector(m[6], m[7], m[8]); }
Vector Matrix::ColX() { return Vector(m[0], m[3], m[6]); }
Vector Matrix::ColY() { return Vector(m[1], m[4], m[7]); }
Vector Matrix::ColZ() { return Vector(m[2], m[5], m[8]); }

void Matrix::SetRowX(Vector v) { m[0] = v.x, m[1] = v.y, m[2] = v.z; }
void Matrix::SetRowY(Vector v) { m[3] = v.x, m[4] = v.y, m[5] = v.z; }
void Matrix::SetRowZ(Vector v) { m[6] = v.x, m[7] = v.y, m[8] = v.z; }
void Matrix::SetColX(Vector v) { m[0] = v.x, m[3] = v.y, m[6] = v.z; }
void Matrix::SetColY(Vector v) { m[1] = v.x, m[4] = v.y, m[7] = v.z; }
void Matrix::SetColZ(Vector v) { m[2] = v.x, m[5] = v.y, m[8] = v.z; }

Matrix Matrix::Transpose() { return Matrix(ColX(), ColY(), ColZ()); }

Matrix Matrix::operator*(Matrix b) {
    Matrix r;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            r.m[row * 3 + col] = Dot(&m[row * 3], b.m[col], b.m[3 + col], b.m[6 + col]);
        }
    }
    return r;
}

// The product is formed from copies, so a matrix multiplied by itself gets
// its true square.
void Matrix::operator*=(Matrix b) { *this = *this * b; }

Vector Matrix::operator*(Vector v) {
    return Vector(Dot(&m[0], v.x, v.y, v.z), Dot(&m[3], v.x, v.y, v.z), Dot(&m[6], v.x, v.y, v.z));
}

Matrix Matrix::operator*(float s) {
    Matrix r = *this;
    r *= s;
    return r;
}

void Matrix::operator*=(float s) {
    for (float& e : m) e *= s;
}

Matrix Matrix::operator+(Matrix b) {
    Matrix r = *this;
    r += b;
    return r;
}

void Matrix::operator+=(Matrix b) {
    for (int i = 0; i < 9; ++i) m[i] += b.m[i];
}

Matrix Matrix::operator-(Matrix b) {
    Matrix r = *this;
    r -= b;
    return r;
}

void Matrix::operator-=(Matrix b) {
    for (int i = 0; i < 9; ++i) m[i] -= b.m[i];
}

Matrix Matrix::operator-() {
    Matrix r;
    for (int i = 0; i < 9; ++i) r.m[i] = -m[i];
    return r;
}

Matrix& Matrix::operator=(const Matrix& b) {
    for (int i = 0; i < 9; ++i) m[i] = b.m[i];
    return *this;
}
