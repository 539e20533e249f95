// The exported 3x3 matrix and its vector.
#include "geometry/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

void ExpectVector(Vector v, float x, float y, float z) {
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}

void ExpectSame(Matrix a, Matrix b) {
    EXPECT_EQ(std::memcmp(a.m, b.m, sizeof a.m), 0);
}

// A has rows (1,2,0) (0,1,0) (0,0,1); B has rows (1,0,0) (3,1,0) (0,0,1).
Matrix A() { return Matrix(1.0f, 2.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f); }
Matrix B() { return Matrix(1.0f, 0.0f, 0.0f, 3.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f); }

}  // namespace

TEST(Matrix, ProductsTakeThisOnTheLeft) {
    Matrix ab = A() * B();
    ExpectVector(ab.RowX(), 7, 2, 0);
    ExpectVector(ab.RowY(), 3, 1, 0);
    ExpectVector(ab.RowZ(), 0, 0, 1);
    Matrix ba = B() * A();
    ExpectVector(ba.RowX(), 1, 2, 0);
    ExpectVector(ba.RowY(), 3, 7, 0);

    Matrix a = A();
    a *= B();
    ExpectSame(a, ab);
}

TEST(Matrix, CompoundProductWithItselfGivesTheSquare) {
    Matrix a(1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f);
    const Matrix square = a * a;
    a *= a;
    ExpectSame(a, square);
    ExpectVector(a.RowX(), 30, 36, 42);
    ExpectVector(a.RowZ(), 102, 126, 150);
}

TEST(Matrix, TimesVectorTakesTheVectorAsAColumn) {
    Matrix a = A();
    ExpectVector(a * Vector(1, 1, 1), 3, 1, 1);
    Matrix m(1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f);
    Vector picked = m * Vector(1, 0, 0);
    Vector col = m.ColX();
    ExpectVector(picked, col.x, col.y, col.z);
}

TEST(Matrix, ProductSumsInDoubleAndRoundsOnce) {
    // 1 + 2^-30 - 1 is lost in float sums but kept in double.
    const float big = 1.0f, tiny = std::ldexp(1.0f, -30);
    Matrix m(big, tiny, -big, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    Vector v = m * Vector(1, 1, 1);
    EXPECT_EQ(v.x, tiny);
    Matrix p = m * Matrix(1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(p.m[0], tiny);
}

TEST(Matrix, RowsColumnsAndTranspose) {
    Vector a(1, 2, 3), b(4, 5, 6), c(7, 8, 9);
    Matrix m(a, b, c);
    ExpectVector(m.RowX(), 1, 2, 3);
    ExpectVector(m.RowY(), 4, 5, 6);
    ExpectVector(m.RowZ(), 7, 8, 9);
    ExpectVector(m.ColX(), 1, 4, 7);
    ExpectVector(m.ColY(), 2, 5, 8);
    ExpectVector(m.ColZ(), 3, 6, 9);

    const Matrix before = m;
    Matrix t = m.Transpose();
    ExpectSame(m, before);
    ExpectVector(t.RowX(), 1, 4, 7);
    ExpectVector(t.RowZ(), 3, 6, 9);
}

TEST(Matrix, SettersChangeExactlyTheirRowOrColumn) {
    Matrix m(1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f);
    m.SetRowY(Vector(-1, -2, -3));
    const float afterRow[9] = {1, 2, 3, -1, -2, -3, 7, 8, 9};
    EXPECT_EQ(std::memcmp(m.m, afterRow, sizeof afterRow), 0);
    m.SetColY(Vector(10, 20, 30));
    const float afterCol[9] = {1, 10, 3, -1, 20, -3, 7, 30, 9};
    EXPECT_EQ(std::memcmp(m.m, afterCol, sizeof afterCol), 0);
    m.SetRowX(Vector(0, 0, 0));
    m.SetRowZ(Vector(1, 1, 1));
    m.SetColX(Vector(5, 5, 5));
    m.SetColZ(Vector(6, 6, 6));
    const float all[9] = {5, 0, 6, 5, 20, 6, 5, 1, 6};
    EXPECT_EQ(std::memcmp(m.m, all, sizeof all), 0);
}

TEST(Matrix, ConstructorsFillStorageInRowOrder) {
    Matrix f(1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(f.m[i], float(i + 1));
    Matrix d(0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9);
    EXPECT_EQ(d.m[0], 0.1f);
    EXPECT_EQ(double(d.m[0]), 0.100000001490116119384765625);
    EXPECT_EQ(d.m[8], 0.9f);
}

TEST(Matrix, ElementWiseArithmetic) {
    Matrix a(1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f);
    Matrix b(9.0f, 8.0f, 7.0f, 6.0f, 5.0f, 4.0f, 3.0f, 2.0f, 1.0f);
    Matrix sum = a + b;
    for (float e : sum.m) EXPECT_EQ(e, 10.0f);
    Matrix diff = a - b;
    EXPECT_EQ(diff.m[0], -8.0f);
    EXPECT_EQ(diff.m[8], 8.0f);
    Matrix scaled = a * 2.0f;
    EXPECT_EQ(scaled.m[4], 10.0f);

    Matrix c = a;
    c += b;
    ExpectSame(c, sum);
    c -= b;
    ExpectSame(c, a);
    c *= 0.5f;
    EXPECT_EQ(c.m[1], 1.0f);
}

TEST(Matrix, NegationFlipsSignsIncludingZero) {
    Matrix z(0.0f, 1.0f, -2.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    const Matrix before = z;
    Matrix n = -z;
    ExpectSame(z, before);
    EXPECT_EQ(n.m[1], -1.0f);
    EXPECT_EQ(n.m[2], 2.0f);
    EXPECT_TRUE(std::signbit(n.m[0]));
    EXPECT_TRUE(std::signbit(n.m[8]));
}

TEST(Matrix, AssignmentCopiesAndReturnsTheTarget) {
    Matrix a = A();
    Matrix b = B();
    Matrix& r = (b = a);
    EXPECT_EQ(&r, &b);
    ExpectSame(b, a);
}
