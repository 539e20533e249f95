#include "driver/Skeleton.h"

// Proportions of an adult of about 1.77 m, hips 92 cm above the floor. In
// the T-pose facing +Z, the body's left is +X and the arms lie along X.
const std::array<SkeletonJoint, kJointCount>& Skeleton() {
    using namespace joint;
    static const std::array<SkeletonJoint, kJointCount> joints = [] {
        std::array<SkeletonJoint, kJointCount> j{};
        j[Hips] = {"Hips", "hips", -1, {0, 0, 0}, false, {}};
        j[LeftHip] = {"LeftHip", "left_hip", Hips, {9, -5, 0}, false, {}};
        j[LeftKnee] = {"LeftKnee", "left_knee", LeftHip, {0, -42, 0}, false, {}};
        j[LeftAnkle] = {"LeftAnkle", "left_ankle", LeftKnee, {0, -40, 0}, true, {0, -5, 14}};
        j[RightHip] = {"RightHip", "right_hip", Hips, {-9, -5, 0}, false, {}};
        j[RightKnee] = {"RightKnee", "right_knee", RightHip, {0, -42, 0}, false, {}};
        j[RightAnkle] = {"RightAnkle", "right_ankle", RightKnee, {0, -40, 0}, true, {0, -5, 14}};
        j[Chest] = {"Chest", "chest", Hips, {0, 25, 0}, false, {}};
        j[LeftCollar] = {"LeftCollar", "left_collar", Chest, {3, 22, 0}, false, {}};
        j[LeftShoulder] = {"LeftShoulder", "left_shoulder", LeftCollar, {14, 0, 0}, false, {}};
        j[LeftElbow] = {"LeftElbow", "left_elbow", LeftShoulder, {28, 0, 0}, false, {}};
        j[LeftWrist] = {"LeftWrist", "left_wrist", LeftElbow, {26, 0, 0}, true, {18, 0, 0}};
        j[RightCollar] = {"RightCollar", "right_collar", Chest, {-3, 22, 0}, false, {}};
        j[RightShoulder] = {"RightShoulder", "right_shoulder", RightCollar, {-14, 0, 0}, false, {}};
        j[RightElbow] = {"RightElbow", "right_elbow", RightShoulder, {-28, 0, 0}, false, {}};
        j[RightWrist] = {"RightWrist", "right_wrist", RightElbow, {-26, 0, 0}, true, {-18, 0, 0}};
        j[Neck] = {"Neck", "neck", Chest, {0, 28, 0}, false, {}};
        j[Head] = {"Head", "head", Neck, {0, 12, 0}, true, {0, 20, 0}};
        return j;
    }();
    return joints;
}

std::string CsvColumn(std::size_t i) {
    static const char* const kFirst[] = {"frame", "time_s", "suit", "x_cm", "y_cm", "z_cm"};
    static const char* const kAxes[] = {"_x_deg", "_y_deg", "_z_deg"};
    if (i < 6) return kFirst[i];
    return std::string(Skeleton()[(i - 6) / 3].columnName) + kAxes[(i - 6) % 3];
}
