// A word or a name from a file or the environment, fit for a message: it
// may hold terminal controls, a NUL or megabytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrion {

// `text` in single quotes, each byte outside printable ASCII (and the quote
// itself) as \xNN, cut after `most` bytes with "...".
std::string Quoted(std::string_view text, std::size_t most = 40);

}  // namespace kestrion
