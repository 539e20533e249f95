// Three single-precision components; also the layout of every three-float
// entry of a suit frame.
#pragma once

#include <type_traits>

struct Vector {
    // Leaves the components unset, like a plain float.
    Vector() = default;
    Vector(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    float x;
    float y;
    float z;
};

static_assert(sizeof(Vector) == 12, "Vector is three packed floats");
static_assert(std::is_trivial<Vector>::value, "Vector is a plain value");
static_assert(!std::is_polymorphic<Vector>::value, "Vector has no virtual table");
