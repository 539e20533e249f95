// A 3x3 single-precision matrix, rows and columns named X, Y and Z.
// Vectors are columns: the matrix times a vector gives, per row, the dot
// product of that row with the vector.
#pragma once

#include "abi/export.h"
#include "geometry/Vector.h"

#include <type_traits>

class KX_PLUGIN_API Matrix {
public:
    // Leaves the elements unset; fill the matrix before reading it.
    Matrix();
    // Row X, then row Y, then row Z, each in column order X, Y, Z.
    Matrix(float xx, float xy, float xz, float yx, float yy, float yz, float zx, float zy, float zz);
    // As above; each argument is rounded to the nearest float.
    Matrix(double xx, double xy, double xz, double yx, double yy, double yz, double zx, double zy,
           double zz);
    // The three vectors become rows X, Y and Z.
    Matrix(Vector rowX, Vector rowY, Vector rowZ);
    Matrix(const Matrix&) = default;

    Vector RowX();
    Vector RowY();
    Vector RowZ();
    Vector ColX();
    Vector ColY();
    Vector ColZ();
    void SetRowX(Vector v);
    void SetRowY(Vector v);
    void SetRowZ(Vector v);
    void SetColX(Vector v);
    void SetColY(Vector v);
    void SetColZ(Vector v);
    Matrix Transpose();

    // Products are summed in double precision and rounded once per element.
    Matrix operator*(Matrix b);
    void operator*=(Matrix b);
    Vector operator*(Vector v);
    Matrix operator*(float s);
    void operator*=(float s);
    Matrix operator+(Matrix b);
    void operator+=(Matrix b);
    Matrix operator-(Matrix b);
    void operator-=(Matrix b);
    // Flips every sign, so a zero element becomes a zero of the other sign.
    Matrix operator-();
    Matrix& operator=(const Matrix& b);

    // Row-major: (X,X) (X,Y) (X,Z) (Y,X) (Y,Y) (Y,Z) (Z,X) (Z,Y) (Z,Z).
    float m[9];
};

static_assert(sizeof(Matrix) == 36, "Matrix is nine packed floats");
static_assert(!std::is_polymorphic<Matrix>::value, "Matrix has no virtual table");
