#include "kestrion/replay/Quoted.h"

#include <cstdio>

namespace kestrion {

std::string Quoted(std::string_view text, std::size_t most) {
    std::string quoted = "'";
    for (std::size_t i = 0; i < text.size() && i < most; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '\'') {
            quoted.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            quoted.append(escaped);
        }
    }
    return quoted + (text.size() > most ? "...'" : "'");
}

}  // namespace kestrion
