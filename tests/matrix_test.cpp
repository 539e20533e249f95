// The exported 3x3 matrix and its vector.
#include "geometry/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::vector<float> Elements(const Matrix& m) { return std::vector<float>(m.m, m.m + 9); }
std::vector<float> Components(Vector v) { return {v.x, v.y, v.z}; }

// A has rows (1,2,0) (0,1,0) (0,0,1); B has rows (1,0,0) (3,1,0) (0,0,1);
// N holds 1 to 9 in storage order.
Matrix A() { return Matrix(1.0f, 2.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f); }
Matrix B() { return Matrix(1.0f, 0.0f, 0.0f, 3.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f); }
Matrix N() { return Matrix(1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f); }

// One accessor: which row or column it gives of N, or which it sets.
struct Accessor {
    const char* name;
    Vector (Matrix::*get)();
    void (Matrix::*set)(Vector);
    std::vector<float> got;             // of N
    std::vector<float> afterSettingZero;  // N with the accessor's line set to (0, 0, 0)
};

const Accessor kAccessors[] = {
    {"X row", &Matrix::RowX, &Matrix::SetRowX, {1, 2, 3}, {0, 0, 0, 4, 5, 6, 7, 8, 9}},
    {"Y row", &Matrix::RowY, &Matrix::SetRowY, {4, 5, 6}, {1, 2, 3, 0, 0, 0, 7, 8, 9}},
    {"Z row", &Matrix::RowZ, &Matrix::SetRowZ, {7, 8, 9}, {1, 2, 3, 4, 5, 6, 0, 0, 0}},
    {"X column", &Matrix::ColX, &Matrix::SetColX, {1, 4, 7}, {0, 2, 3, 0, 5, 6, 0, 8, 9}},
    {"Y column", &Matrix::ColY, &Matrix::SetColY, {2, 5, 8}, {1, 0, 3, 4, 0, 6, 7, 0, 9}},
    {"Z column", &Matrix::ColZ, &Matrix::SetColZ, {3, 6, 9}, {1, 2, 0, 4, 5, 0, 7, 8, 0}},
};

}  // namespace

TEST(Matrix, RowAndColumnAccessorsReadAndWriteExactlyTheirLine) {
    for (const Accessor& a : kAccessors) {
        Matrix m = N();
        EXPECT_EQ(Components((m.*a.get)()), a.got) << a.name;
        (m.*a.set)(Vector(0, 0, 0));
        EXPECT_EQ(Elements(m), a.afterSettingZero) << a.name;
    }
}

TEST(Matrix, ConstructorsFillStorageInRowOrder) {
    EXPECT_EQ(Elements(Matrix(Vector(1, 2, 3), Vector(4, 5, 6), Vector(7, 8, 9))), Elements(N()));
    Matrix d(0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9);
    EXPECT_EQ(double(d.m[0]), 0.100000001490116119384765625);  // rounded to the nearest float
    EXPECT_EQ(d.m[8], 0.9f);
}

TEST(Matrix, ProductsTakeThisOnTheLeft) {
    Matrix a = A();
    a *= B();
    EXPECT_EQ(Elements(a), (std::vector<float>{7, 2, 0, 3, 1, 0, 0, 0, 1}));
    EXPECT_EQ(Elements(A() * B()), Elements(a));
    EXPECT_EQ(Elements(B() * A()), (std::vector<float>{1, 2, 0, 3, 7, 0, 0, 0, 1}));
    Matrix n = N();
    n *= n;  // the true square, though this matrix is operand and result
    EXPECT_EQ(Elements(n), (std::vector<float>{30, 36, 42, 66, 81, 96, 102, 126, 150}));
    EXPECT_EQ(Components(A() * Vector(1, 1, 1)), (std::vector<float>{3, 1, 1}));
    EXPECT_EQ(Components(N() * Vector(1, 0, 0)), (std::vector<float>{1, 4, 7}));
}

TEST(Matrix, ProductSumsInDoubleAndRoundsOnce) {
    // 1 + 2^-30 - 1 is lost in float sums but kept in double.
    const float tiny = std::ldexp(1.0f, -30);
    Matrix m(1.0f, tiny, -1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ((m * Vector(1, 1, 1)).x, tiny);
    EXPECT_EQ((m * Matrix(1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f)).m[0], tiny);
}

TEST(Matrix, TransposeAndNegationLeaveThisMatrixAsItWas) {
    Matrix m = N();
    EXPECT_EQ(Elements(m.Transpose()), (std::vector<float>{1, 4, 7, 2, 5, 8, 3, 6, 9}));
    Matrix z(0.0f, 1.0f, -2.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    const Matrix n = -z;
    EXPECT_EQ(n.m[1], -1.0f);
    EXPECT_EQ(n.m[2], 2.0f);
    EXPECT_TRUE(std::signbit(n.m[0]));  // a zero becomes a zero of the other sign
    EXPECT_EQ(Elements(m), Elements(N()));
    EXPECT_EQ(z.m[2], -2.0f);
}

TEST(Matrix, ElementWiseArithmeticAndAssignment) {
    Matrix a = N();
    Matrix b(9.0f, 8.0f, 7.0f, 6.0f, 5.0f, 4.0f, 3.0f, 2.0f, 1.0f);
    EXPECT_EQ(Elements(a + b), std::vector<float>(9, 10.0f));
    EXPECT_EQ(Elements(a - b), (std::vector<float>{-8, -6, -4, -2, 0, 2, 4, 6, 8}));
    EXPECT_EQ(Elements(a * 2.0f), (std::vector<float>{2, 4, 6, 8, 10, 12, 14, 16, 18}));
    Matrix c = a;
    c += b;
    c -= a;
    c *= 0.5f;
    EXPECT_EQ(Elements(c), (std::vector<float>{4.5f, 4, 3.5f, 3, 2.5f, 2, 1.5f, 1, 0.5f}));
    Matrix& r = (b = a);
    EXPECT_EQ(&r, &b);
    EXPECT_EQ(Elements(b), Elements(a));
}
