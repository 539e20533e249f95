#pragma once

#include <cstddef>

namespace kxhost {

// The page's own files, built into the program (ViewPage.cpp is generated
// from app/view/page/ by Embed.cmake).
struct ViewPageFile {
    const char* path;
    const char* type;
    const unsigned char* data;
    std::size_t size;
};
extern const ViewPageFile kViewPage[];
extern const std::size_t kViewPageCount;

}  // namespace kxhost
