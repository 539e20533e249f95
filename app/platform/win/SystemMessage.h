// The system's text for an error code, as one line without its full stop.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace kx {

std::string SystemMessage(DWORD code);

}  // namespace kx
