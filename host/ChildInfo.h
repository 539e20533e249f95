// Describes a child of a channel when the host asks one channel for another.
#pragma once

struct ChildInfo {
    int index = 0;
    int kind = 0;
};
