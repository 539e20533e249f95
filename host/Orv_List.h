// The host's list of library file names that channels depend on.
#pragma once

#include "abi/export.h"

#include <string>
#include <vector>

class KX_HOST_ENGINE_API Orv_List {
public:
    void Add(const char* item);
    int Count() const;
    const std::string& At(int index) const;
    void Clear();

private:
    std::vector<std::string> items_;
};
