#include "kestrion-host/Skeleton.h"

namespace kxhost {

// Proportions of an adult of about 1.77 m, hips 92 cm above the floor. In
// the T-pose facing +Z, the body's left is +X and the arms lie along X.
const std::array<Joint, kJointCount>& Skeleton() {
    static const std::array<Joint, kJointCount> joints{{
        {"Hips", "hips", -1, {0, 0, 0}, false, {}},
        {"LeftHip", "left_hip", 0, {9, -5, 0}, false, {}},
        {"LeftKnee", "left_knee", 1, {0, -42, 0}, false, {}},
        {"LeftAnkle", "left_ankle", 2, {0, -40, 0}, true, {0, -5, 14}},
        {"RightHip", "right_hip", 0, {-9, -5, 0}, false, {}},
        {"RightKnee", "right_knee", 4, {0, -42, 0}, false, {}},
        {"RightAnkle", "right_ankle", 5, {0, -40, 0}, true, {0, -5, 14}},
        {"Chest", "chest", 0, {0, 25, 0}, false, {}},
        {"LeftCollar", "left_collar", 7, {3, 22, 0}, false, {}},
        {"LeftShoulder", "left_shoulder", 8, {14, 0, 0}, false, {}},
        {"LeftElbow", "left_elbow", 9, {28, 0, 0}, false, {}},
        {"LeftWrist", "left_wrist", 10, {26, 0, 0}, true, {18, 0, 0}},
        {"RightCollar", "right_collar", 7, {-3, 22, 0}, false, {}},
        {"RightShoulder", "right_shoulder", 12, {-14, 0, 0}, false, {}},
        {"RightElbow", "right_elbow", 13, {-28, 0, 0}, false, {}},
        {"RightWrist", "right_wrist", 14, {-26, 0, 0}, true, {-18, 0, 0}},
        {"Neck", "neck", 7, {0, 28, 0}, false, {}},
        {"Head", "head", 16, {0, 12, 0}, true, {0, 20, 0}},
    }};
    return joints;
}

}  // namespace kxhost
