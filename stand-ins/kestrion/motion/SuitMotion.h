// The simulated body: a person walking a circle at a steady pace, different
// for every suit and continuous in time.
//
// Units and conventions of every sample:
//  - position: hips, in centimetres; Y is up, the floor is at Y = 0.
//  - rotations: degrees, each joint's Vector holding the angles about X
//    (x), Y (y) and Z (z), composed as Rz * Rx * Ry (Z applied last), relative
//    to a T-pose facing +Z. Hips yaw is the walking direction.
#pragma once

#include "driver/Frame.h"

namespace kestrion {

// What the suit's calibration and modes do to its motion.
struct MotionSettings {
    float nullX = 0, nullZ = 0;  // subtracted from the position (SetNull)
    float northDegrees = 0;      // subtracted from the heading (SetNorth)
    bool jumping = false;        // a hop every five seconds
    bool unevenTerrain = false;  // the ground rises and falls
    bool ignoreFloor = false;    // no foot strikes: the hips glide
};

// Fills the position and the eighteen rotations of suit `suit` at `seconds`.
void ComputePose(int suit, double seconds, const MotionSettings& settings, Frame* frame);

// The raw (uncalibrated) horizontal position and heading, for SetNull and
// SetNorth.
void RawPlacement(int suit, double seconds, float* x, float* z, float* headingDegrees);

}  // namespace kestrion
